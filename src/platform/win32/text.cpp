// Text comparison with the system's own case rules.
#include <windows.h>

#include "platform/text.h"

namespace platform {

int compare_string_ignore_case(const wchar_t* first, const wchar_t* second) {
    return ::lstrcmpiW(first, second);
}

int compare_string_ordinal(const wchar_t* first, int first_length, const wchar_t* second,
                           int second_length, bool ignore_case) {
    return ::CompareStringOrdinal(first, first_length, second, second_length,
                                  ignore_case ? TRUE : FALSE);
}

}  // namespace platform
