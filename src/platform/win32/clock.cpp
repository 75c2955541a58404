// Wall clock, local calendar time and sleeping.
#include <windows.h>

#include <ctime>

#include "platform/platform.h"

namespace platform {

std::time_t current_time() {
    return std::time(nullptr);
}

bool to_local_time(std::time_t when, std::tm& local) {
    // The runtime's reentrant form, argument order as MSVC and mingw-w64 declare it:
    // plain localtime shares one buffer between threads.
    return ::localtime_s(&local, &when) == 0;
}

void sleep(std::uint32_t milliseconds) {
    ::Sleep(milliseconds);
}

}  // namespace platform
