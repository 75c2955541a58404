// The system's text for a failed call, as the log, the events and the debugger output
// carry it.
#pragma once

#include <string>

#include "platform/errors.h"

namespace logging {

// The platform's text for `code` without the line break and blanks that close it: the
// line that holds it ends with the text, and no empty line follows. Empty when the
// platform has no text for `code`.
std::wstring system_text(platform::error_code code);

}  // namespace logging
