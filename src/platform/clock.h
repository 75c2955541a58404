// The wall clock, the monotonic clock, and sleeping.
// Part of the seam to Windows; platform/handles.h says how its calls behave.

#pragma once

#include <cstdint>
#include <ctime>

namespace platform {

// time(nullptr): the wall clock in whole seconds.
std::time_t current_time();

// GetTickCount64: milliseconds since the system started. Never set back or forward, unlike
// the wall clock.
std::uint64_t tick_count();

// localtime: `when` as local calendar time. False when it cannot be converted.
bool to_local_time(std::time_t when, std::tm& local);

// Sleep: the calling thread waits `milliseconds`.
void sleep(std::uint32_t milliseconds);

}  // namespace platform
