#include <cwctype>

#include "platform/platform.h"

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

}  // namespace platform
