// Text that reaches the log from outside the service: names anyone can give a file or a
// program. A line break in it would start a forged line of the log.
#pragma once

#include <string>

namespace logging {

// `text` with every carriage return and line feed written as "?".
inline std::wstring from_outside(std::wstring text) {
    for (wchar_t& c : text) {
        if (c == L'\r' || c == L'\n') {
            c = L'?';
        }
    }
    return text;
}

}  // namespace logging
