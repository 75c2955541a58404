// The service's life under the Service Control Manager: the service main function the
// dispatcher runs on a thread of its own, and the control handler it calls on the
// thread that connected to it (the main thread, inside run_service). The dispatcher
// calls ServiceMain without context and gives the handler the run's state as its context.
#pragma once

#include <cstdint>

#include "service/service_state.h"

namespace service {

// Runs as the service until it has stopped: the third use the entry point chooses from
// its command word. Returns a Windows error code, 0 for success.
std::uint32_t run_service();

// Registers the control handler and reports the service starting at once, clears away
// what an earlier run left while it reports its progress, reports the service running,
// runs the supervision on a worker thread until it ends, and reports the service stopped.
void service_main(service_state& state);

// Stop and shutdown while running: reports the stop pending at once, stops the host agent
// group while it reports its progress (its deletion ends when the stop's time is up), and
// signals the worker to end. Pause and continue are only logged; other codes ignored.
// Returns what the manager is told: NO_ERROR, or ERROR_CALL_NOT_IMPLEMENTED for a control
// the service does not know.
std::uint32_t handle_control(service_state& state, std::uint32_t control);

}  // namespace service
