#pragma once

#include <string>

#include "logging/process_log.h"
#include "platform/platform.h"

namespace logging {

// Reports a failed Windows call: the tag and the system's text for `code` go to the
// debugger output channel whatever LogLevel is, and into an error line.
void log_windows_error(const std::wstring& tag, platform::error_code code);

// Reports the Windows call that has just failed: a line of `Level` with `tag` and
// `pieces` (which name the call and the task it failed), then the system's text for the
// thread's last error as log_windows_error writes it. The error is read first, before
// anything written can change it, and handed back.
template <severity Level = severity::error, typename... Pieces>
platform::error_code log_last_error(const std::wstring& tag, const Pieces&... pieces) {
    const platform::error_code error = platform::get_last_error();
    get_logger()->write_entry<Level>(tag, pieces...);
    log_windows_error(tag, error);
    return error;
}

}  // namespace logging
