// What the worker thread shares with the thread that stops the service: the host agents
// it launched, the lock that orders launches against stops, the mark that the service has
// begun to stop, and the event that asks the worker to end. A stop request and the
// worker's restart can overlap; the lock keeps one thread from appending to the list
// while another walks it, and the stop mark keeps the worker from launching an agent once
// the service has begun to stop.
#pragma once

#include <atomic>

#include "platform/unique_handle.h"
#include "process/process_child.h"

namespace supervision {

struct agent_group {
    // Held across each launch and each stop of the host agent.
    platform::srw_lock agent_lock;

    // The host agents launched, in launch order. Guarded by agent_lock.
    process::process_list started_agents;

    // Set once the service has begun to stop, never cleared. Set without the lock, so that
    // a stop request takes effect at once, also while a restart holds the lock; read by a
    // launch under the lock, so that a launch either sees it or is recorded before the stop
    // that follows it walks the list.
    std::atomic<bool> stop_requested{false};

    // The manual-reset event that asks the worker thread to end. The service creates it
    // before it starts the worker, signals it on a stop or shutdown request once the agent
    // has been stopped, and closes it after the worker has ended, each under its status
    // lock; the worker only polls it.
    platform::unique_handle stop_event;

    // Marks the service as stopping: from now on no host agent is launched. Never waits.
    void request_stop() { stop_requested = true; }
    bool is_stop_requested() const { return stop_requested; }
};

}  // namespace supervision
