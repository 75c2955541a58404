// The system's error texts and the debugger output channel (errors.cpp).
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/errors.h"

namespace sim {

std::map<platform::error_code, std::wstring> default_error_texts();

struct errors_state {
    std::map<platform::error_code, std::wstring> texts = default_error_texts();
    std::vector<std::wstring> debug_output;

    void clear() { *this = {}; }
};

}  // namespace sim
