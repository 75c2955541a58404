#pragma once

#include <cstdint>

namespace supervision {

// The worker thread's procedure: launches the host agent, checks about once a minute
// that it and both system plugins run and restarts the group when not, until the group's
// stop event is signalled. `parameter` is the agent_group it shares with the thread that
// stops the service. Its exit code: 0 when stopped on request; 575
// (ERROR_APP_INIT_FAILURE) when no configuration file is set, a launch fails or an
// exception was caught; the failing result of the program files folder query otherwise.
std::uint32_t ServiceWorkerThread(void* parameter);

}  // namespace supervision
