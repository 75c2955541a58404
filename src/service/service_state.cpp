#include "service/service_state.h"

namespace service {

bool report_status(service_state& state, const platform::exclusive_lock& /*held*/,
                   std::uint32_t current_state, std::uint32_t controls_accepted,
                   std::uint32_t win32_exit_code, std::uint32_t check_point,
                   std::uint32_t service_specific_exit_code) {
    platform::service_status& status = state.status;
    if (status.current_state == platform::service_stopped) {
        return true;
    }
    status.current_state = current_state;
    status.controls_accepted = controls_accepted;
    status.win32_exit_code = win32_exit_code;
    status.service_specific_exit_code = service_specific_exit_code;
    status.check_point = check_point;
    const bool pending = current_state == platform::service_start_pending ||
                         current_state == platform::service_stop_pending;
    status.wait_hint = pending ? pending_wait_hint_ms : 0;
    return platform::set_service_status(state.status_handle, status);
}

bool report_progress(service_state& state, const platform::exclusive_lock& held) {
    const platform::service_status& status = state.status;
    if (status.current_state != platform::service_start_pending &&
        status.current_state != platform::service_stop_pending) {
        return true;
    }
    return report_status(state, held, status.current_state, status.controls_accepted,
                         status.win32_exit_code, status.check_point + 1);
}

}  // namespace service
