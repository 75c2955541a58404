#include "logging/log_windows_error.h"

#include "logging/system_text.h"

namespace logging {

std::wstring log_windows_error(const std::wstring& tag, platform::error_code code) {
    std::wstring text = system_text(code);
    // Outside the line lock: the debugger channel must not wait for the file.
    platform::output_debug_string(tag.c_str());
    platform::output_debug_string(text.c_str());
    get_logger()->write_entry<severity::error>(tag, text);
    return text;
}

}  // namespace logging
