// Wall clock, monotonic clock, local calendar time and sleeping.
#include <windows.h>

#include <cstdint>
#include <ctime>

#include "platform/clock.h"

namespace platform {

std::time_t current_time() {
    // The same whole seconds as time(), which msvcrt under Wine follows on every call
    // with GetTimeZoneInformation for a daylight flag nobody reads here: some 7 µs,
    // asked by the worker thread every 60 ms and by every log line.
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    const std::uint64_t ticks =
        (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    constexpr std::uint64_t ticks_per_second = 10'000'000;
    constexpr std::uint64_t seconds_from_1601_to_1970 = 11'644'473'600;
    return static_cast<std::time_t>(ticks / ticks_per_second - seconds_from_1601_to_1970);
}

std::uint64_t tick_count() {
    return ::GetTickCount64();
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
