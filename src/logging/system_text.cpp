#include "logging/system_text.h"

namespace logging {

std::wstring system_text(platform::error_code code) {
    std::wstring text = platform::format_message(code);
    const std::size_t end = text.find_last_not_of(L"\r\n \t");
    text.erase(end == std::wstring::npos ? 0 : end + 1);
    return text;
}

}  // namespace logging
