#include "service/service_status.h"

namespace service {

platform::srw_lock status_lock;
platform::service_status service_status;
platform::handle service_status_handle = nullptr;

bool report_status(const platform::exclusive_lock& /*held*/, std::uint32_t state,
                   std::uint32_t controls_accepted, std::uint32_t win32_exit_code,
                   std::uint32_t check_point, std::uint32_t service_specific_exit_code) {
    if (service_status.current_state == platform::service_stopped) {
        return true;
    }
    service_status.current_state = state;
    service_status.controls_accepted = controls_accepted;
    service_status.win32_exit_code = win32_exit_code;
    service_status.service_specific_exit_code = service_specific_exit_code;
    service_status.check_point = check_point;
    return platform::set_service_status(service_status_handle, service_status);
}

std::uint32_t current_state() {
    const platform::exclusive_lock held(status_lock);
    return service_status.current_state;
}

void forget_service_status() {
    const platform::exclusive_lock held(status_lock);
    service_status = {};
    service_status_handle = nullptr;
}

}  // namespace service
