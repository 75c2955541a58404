// Whether the processes the service looks after are running, found by image name
// whoever started them. They only look: every handle they obtain is closed before they
// return. Called by the worker thread and, within stop_agent, by the control handler's.
#pragma once

#include <string>

namespace supervision {

// True when a process matches "snapteld.exe" and the first one found has not ended.
bool is_host_agent_running();

// True when a process matches `name` and the first one found runs.
bool is_process_running(const std::wstring& name);

// True when both system plugins run: the collector, then the publisher (not looked for
// when the collector is missing).
bool are_system_plugins_running();

}  // namespace supervision
