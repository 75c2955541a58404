#pragma once

#include <string>

#include "logging/diagnostic_log.h"
#include "platform/errors.h"

namespace logging {

// Writes a failed Windows call's system text: the tag and the system's text for `code`
// (system_text, without its closing line break) go to the debugger output channel whatever
// LogLevel is, and into an error line. Hands the text back.
std::wstring log_windows_error(const std::wstring& tag, platform::error_code code);

// Reports the Windows call that has just failed: a line of `Level` with `tag` and
// `pieces` (which name the call and the task it failed), then the system's text for the
// thread's last error as log_windows_error writes it, and one error event of `Kind` that
// holds both, so that an alert carries the whole report. The error is read first, before
// anything written can change it, and handed back.
template <severity Level = severity::error, event_kind Kind = event_kind::other_error,
          typename... Pieces>
platform::error_code log_last_error(const std::wstring& tag, const Pieces&... pieces) {
    const platform::error_code error = platform::get_last_error();
    get_logger()->write_entry<Level>(tag, pieces...);
    const std::wstring text = log_windows_error(tag, error);
    report_error(Kind, tag, pieces..., text);
    return error;
}

}  // namespace logging
