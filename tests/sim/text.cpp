#include <cwchar>
#include <cwctype>

#include "platform/errors.h"
#include "platform/text.h"

namespace platform {

int compare_string_ignore_case(const wchar_t* first, const wchar_t* second) {
    // lstrcmpiW puts a missing string before any other.
    if (first == nullptr || second == nullptr) {
        return first == second ? 0 : (first == nullptr ? -1 : 1);
    }
    for (;; ++first, ++second) {
        const auto a = std::towlower(static_cast<wint_t>(*first));
        const auto b = std::towlower(static_cast<wint_t>(*second));
        if (a != b) return a < b ? -1 : 1;
        if (a == 0) return 0;
    }
}

int compare_string_ordinal(const wchar_t* first, int first_length, const wchar_t* second,
                           int second_length, bool ignore_case) {
    if (first == nullptr || second == nullptr || first_length < -1 || second_length < -1) {
        set_last_error(error_invalid_parameter);
        return 0;
    }
    const auto length = [](const wchar_t* text, int given) {
        return given >= 0 ? static_cast<std::size_t>(given) : std::wcslen(text);
    };
    const std::size_t first_size = length(first, first_length);
    const std::size_t second_size = length(second, second_length);
    // The system's table maps each letter to its capital, beyond ASCII too.
    const auto unit = [ignore_case](wchar_t c) {
        return ignore_case ? std::towupper(static_cast<wint_t>(c)) : static_cast<wint_t>(c);
    };
    for (std::size_t i = 0; i < first_size && i < second_size; ++i) {
        const auto a = unit(first[i]);
        const auto b = unit(second[i]);
        if (a != b) return a < b ? cstr_less_than : cstr_greater_than;
    }
    if (first_size == second_size) return cstr_equal;
    return first_size < second_size ? cstr_less_than : cstr_greater_than;
}

}  // namespace platform
