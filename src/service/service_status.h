// The service's state as reported to the Service Control Manager. ServiceMain reports
// start-up and the final stop; the control handler, on the dispatcher's thread, reports
// a stop as pending. One lock orders the two: the handler reads the state, and signals
// the stop event, under the same lock as ServiceMain reports stopped and closes that
// event, so a worker that ends by itself during a stop never sees a stop-pending report
// follow the stopped one, nor the handler signal a closed handle.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "platform/unique_handle.h"

namespace service {

// Guards the two below, and the signalling and closing of the stop event.
extern platform::srw_lock status_lock;
extern platform::service_status service_status;
// Set once by ServiceMain when it registers the control handler, before any report.
extern platform::handle service_status_handle;

// Reports a state with the check point given (0 start pending and running, 1 stopped at
// start, 3 stopped, 4 stop pending) and exit codes (a service-specific one goes with
// ERROR_SERVICE_SPECIFIC_ERROR); the other fields keep their values. Once stopped has
// been reported, later reports are dropped: the manager may already have started the
// service anew. False, with the last error of SetServiceStatus, when the report failed.
// `held` shows that status_lock is held.
bool report_status(const platform::exclusive_lock& held, std::uint32_t state,
                   std::uint32_t controls_accepted, std::uint32_t win32_exit_code,
                   std::uint32_t check_point, std::uint32_t service_specific_exit_code = 0);

// The state reported last. Only tests call it: the service reads service_status under
// status_lock.
std::uint32_t current_state();

// Back to the state of a new process. Only tests call it.
void forget_service_status();

}  // namespace service
