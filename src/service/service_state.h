// What the service's threads share, in one object: ServiceMain's thread, the worker
// thread it starts, and the dispatcher's thread, which runs the control handler. The
// service's run owns it, from before the dispatcher starts until it has returned.
//
// ServiceMain reports start-up and the final stop; the control handler reports a stop as
// pending. One lock orders the two: the handler reads the state, and signals the stop
// event, under the same lock as ServiceMain reports stopped and closes that event, so a
// worker that ends by itself during a stop never sees a stop-pending report follow the
// stopped one, nor the handler signal a closed handle.
#pragma once

#include <cstdint>

#include "platform/handles.h"
#include "platform/services.h"
#include "platform/threads_and_events.h"
#include "platform/unique_handle.h"
#include "supervision/agent_group.h"

namespace service {

struct service_state {
    // Guards `status`, and the signalling and closing of group.stop_event.
    platform::srw_lock status_lock;
    // The status as reported last. Guarded by status_lock.
    platform::service_status status;
    // Set once by ServiceMain when it registers the control handler, before any report.
    platform::handle status_handle = nullptr;
    // The handler and this state as its context, as registered with the dispatcher.
    platform::service_control_target control_target;
    // The worker thread's share: the agents, their lock and the stop mark, and the stop
    // event (guarded as above). Handed to the worker as its parameter.
    supervision::agent_group group;
    // Set by ServiceMain on every way out. The dispatcher returns as soon as the stopped
    // state is reported, while ServiceMain may still be writing its last lines: the run
    // waits for it before the process goes on to its end. Set before the dispatcher starts.
    platform::unique_handle service_main_ended;
};

// Reports a state with the check point given (from 1 upwards while start pending, 0
// running, 1 stopped at start, 3 stopped, from 4 upwards while stop pending) and exit codes
// (a service-specific one goes with ERROR_SERVICE_SPECIFIC_ERROR), and the pending wait hint
// in a pending state, none in any other; the other fields keep their values. Once stopped has
// been reported, later reports are dropped: the manager may already have started the
// service anew. False, with the last error of SetServiceStatus, when the report failed.
// `held` shows that the state's status_lock is held.
bool report_status(service_state& state, const platform::exclusive_lock& held,
                   std::uint32_t current_state, std::uint32_t controls_accepted,
                   std::uint32_t win32_exit_code, std::uint32_t check_point,
                   std::uint32_t service_specific_exit_code = 0);

// What a pending report asks the manager to allow before the next one. The service reports
// its progress at least once a second while it starts or stops, and no step between two
// reports takes more than a few seconds (a restart the stop waits for included).
inline constexpr std::uint32_t pending_wait_hint_ms = 5000;

// While the service starts or stops: the same state again with the next check point, so
// that the manager sees it is still at work. Nothing in any other state.
bool report_progress(service_state& state, const platform::exclusive_lock& held);

}  // namespace service
