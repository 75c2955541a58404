// Whether the processes the service looks after are running, found by image name
// whoever started them, and the health cycle the worker runs about once a minute. They
// only look: every handle they obtain is closed before they return. Called by the worker
// thread and, within stop_agent, by the control handler's.
#pragma once

#include <cstdint>
#include <string>

namespace supervision {

// True when a process matches "snapteld.exe" and the first one found has not ended.
bool is_host_agent_running();

// True when a process matches `name` and the first one found runs.
bool is_process_running(const std::wstring& name);

// True when both system plugins run: the collector, then the publisher (not looked for
// when the collector is missing).
bool are_system_plugins_running();

// Whether the next health cycle is due: more than 60 whole seconds have passed since the
// last began at `last_check_ms`, on the monotonic clock.
bool check_is_due(std::uint64_t last_check_ms);

// One health cycle, logged as the worker thread's: whether the agent and then both
// plugins run, each failure an error line and event (bounded: logging::event_bound). True when the
// host agent group must be restarted.
bool health_cycle_fails();

}  // namespace supervision
