// The failures a test injects, and the count of every call (faults.cpp).
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "sim/machine.h"

namespace sim {

struct pending_fault {
    operation op{};
    platform::error_code error = 0;
    std::wstring subject_key;
    int remaining = 0;
    // Matching calls still to go through before the fault takes effect.
    int passing = 0;
};

inline constexpr std::size_t operation_count =
    static_cast<std::size_t>(operation::set_service_status) + 1;

struct faults_state {
    std::vector<pending_fault> pending;
    std::vector<operation> throwing;
    std::array<int, operation_count> calls{};

    void clear() { *this = {}; }
};

}  // namespace sim
