// A call to the Service Control Manager that failed, reported under its own event ID:
// the manager refusing the service is what an administrator alerts on.
#pragma once

#include <string>

#include "logging/log_windows_error.h"

namespace service {

template <typename... Pieces>
platform::error_code log_manager_error(const std::wstring& tag, const Pieces&... pieces) {
    return logging::log_last_error<logging::severity::error,
                                   logging::event_kind::service_manager_failed>(tag, pieces...);
}

}  // namespace service
