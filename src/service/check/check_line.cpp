#include "service/check/check_line.h"

#include "logging/own_file.h"
#include "platform/errors.h"

namespace service::check {

std::wstring printed(const check_line& line) {
    const wchar_t* const marks[] = {L"ok       ", L"warning  ", L"problem  "};
    return marks[static_cast<int>(line.judged)] + line.family + L": " + line.text;
}

bool is_missing(platform::error_code error) {
    return error == platform::error_file_not_found || error == platform::error_path_not_found;
}

std::wstring error_text(platform::error_code error) {
    std::wstring text = logging::reason_text(error);
    if (!text.ends_with(L'.')) {
        text += L'.';
    }
    return text;
}

}  // namespace service::check
