#include "logging/log_windows_error.h"

#include "logging/process_log.h"

namespace logging {

void log_windows_error(const std::wstring& tag, platform::error_code code) {
    const std::wstring text = platform::format_message(code);
    // Outside the line lock: the debugger channel must not wait for the file.
    platform::output_debug_string(tag.c_str());
    platform::output_debug_string(text.c_str());
    log_error(tag, text);
}

}  // namespace logging
