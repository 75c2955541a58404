#pragma once

#include <string>

#include "platform/platform.h"

namespace logging {

// Reports a failed Windows call: the tag and the system's text for `code` go to the
// debugger output channel whatever LogLevel is, and into an error line.
void log_windows_error(const std::wstring& tag, platform::error_code code);

}  // namespace logging
