// The wall clock and the monotonic clock, both in virtual time (clock.cpp).
#pragma once

#include <cstdint>
#include <ctime>
#include <vector>

namespace sim {

inline constexpr std::time_t initial_time = 1767323045;

struct clock_state {
    // The wall clock is derived rather than stored so that many short sleeps add up to
    // whole seconds exactly as one long sleep would.
    std::time_t wall_base = initial_time;
    std::uint64_t wall_base_ms = 0;
    std::uint64_t elapsed_ms = 0;
    std::int32_t utc_offset = 0;
    std::vector<std::uint32_t> sleeps;

    void clear() { *this = {}; }
    std::time_t wall_clock() const;
};

}  // namespace sim
