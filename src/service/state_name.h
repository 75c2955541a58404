#pragma once

#include <cstdint>
#include <string>

#include "platform/services.h"

namespace service {

// A state as "sc query" shows it, so that a line reads as what the administrator sees.
inline std::wstring state_name(std::uint32_t state) {
    switch (state) {
        case platform::service_stopped:
            return L"STOPPED";
        case platform::service_start_pending:
            return L"START_PENDING";
        case platform::service_stop_pending:
            return L"STOP_PENDING";
        case platform::service_running:
            return L"RUNNING";
        case platform::service_continue_pending:
            return L"CONTINUE_PENDING";
        case platform::service_pause_pending:
            return L"PAUSE_PENDING";
        case platform::service_paused:
            return L"PAUSED";
        default:
            return L"in state " + std::to_wstring(state);
    }
}

}  // namespace service
