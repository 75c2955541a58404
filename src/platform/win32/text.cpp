// Text comparison with the system's own case rules.
#include <windows.h>

#include "platform/platform.h"

namespace platform {

int compare_string_ignore_case(const wchar_t* first, const wchar_t* second) {
    return ::lstrcmpiW(first, second);
}

}  // namespace platform
