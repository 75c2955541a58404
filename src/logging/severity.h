#pragma once

#include <cstdint>

namespace logging {

// A line of severity s is written when LogLevel <= s. No line has the value 2.
enum class severity : std::int32_t { debug = 0, info = 1, error = 3 };

constexpr const wchar_t* severity_tag(severity level) {
    switch (level) {
        case severity::debug:
            return L":<D>: ";
        case severity::info:
            return L":<I>: ";
        case severity::error:
            return L":<ERROR>: ";
    }
    return L"";
}

}  // namespace logging
