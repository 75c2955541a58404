// SERVICE_STATUS and the seam's service_status, field for field, both ways: written once for
// every call that passes a status.
#pragma once

#include <windows.h>

#include "platform/services.h"

namespace platform::win32 {

inline service_status to_portable(const SERVICE_STATUS& system_status) {
    service_status status;
    status.service_type = system_status.dwServiceType;
    status.current_state = system_status.dwCurrentState;
    status.controls_accepted = system_status.dwControlsAccepted;
    status.win32_exit_code = system_status.dwWin32ExitCode;
    status.service_specific_exit_code = system_status.dwServiceSpecificExitCode;
    status.check_point = system_status.dwCheckPoint;
    status.wait_hint = system_status.dwWaitHint;
    return status;
}

inline SERVICE_STATUS to_system(const service_status& status) {
    SERVICE_STATUS system_status{};
    system_status.dwServiceType = status.service_type;
    system_status.dwCurrentState = status.current_state;
    system_status.dwControlsAccepted = status.controls_accepted;
    system_status.dwWin32ExitCode = status.win32_exit_code;
    system_status.dwServiceSpecificExitCode = status.service_specific_exit_code;
    system_status.dwCheckPoint = status.check_point;
    system_status.dwWaitHint = status.wait_hint;
    return system_status;
}

}  // namespace platform::win32
