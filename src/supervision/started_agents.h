// Every host agent this process launched, and the lock that orders launches against
// stops. A stop request and the worker's restart can overlap; the lock keeps one thread
// from appending to the list while another walks it, and the stop mark it guards keeps
// the worker from launching an agent once the service has begun to stop.
#pragma once

#include <atomic>

#include "platform/platform.h"
#include "process/process_child.h"

namespace supervision {

// Held across each launch and each stop of the host agent.
extern platform::srw_lock agent_lock;

// The host agents launched, in launch order. Guarded by agent_lock.
extern process::process_list started_agents;

// Set once the service has begun to stop, never cleared. Set without the lock, so that a
// stop request takes effect at once, also while a restart holds the lock; read by a launch
// under the lock, so that a launch either sees it or is recorded before the stop that
// follows it walks the list.
extern std::atomic<bool> stop_requested;

// Marks the service as stopping: from now on no host agent is launched. Never waits.
void request_stop();

// True once request_stop has been called.
bool is_stop_requested();

// Forgets the launched agents and the stop mark, as a new process starts without them.
// Only tests call it.
void forget_started_agents();

}  // namespace supervision
