#include "service/check/installation_check.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "service/check/files_check.h"
#include "service/check/registration_check.h"
#include "service/check/settings_check.h"
#include "service/check/state_check.h"
#include "service/check/temp_directory_check.h"

namespace service::check {
namespace {

// The console's bytes: U+0000 to U+00FF as the byte of the same value, anything above as
// "?", as the log writes its lines.
std::string console_bytes(const std::wstring& text) {
    std::string bytes;
    bytes.reserve(text.size() + 1);
    for (const wchar_t c : text) {
        bytes.push_back(static_cast<unsigned>(c) <= 0xFF ? static_cast<char>(c) : '?');
    }
    return bytes;
}

}  // namespace

report check_installation() {
    report lines;
    for (report (*family)() :
         {check_settings, check_files, check_registration, check_state, check_temp_directory}) {
        for (auto& line : family()) {
            lines.push_back(std::move(line));
        }
    }
    return lines;
}

int exit_code(const report& lines) {
    return std::any_of(lines.begin(), lines.end(),
                       [](const check_line& line) { return line.judged == mark::problem; })
               ? 1
               : 0;
}

int run_check() {
    const report lines = check_installation();
    for (const auto& line : lines) {
        std::fputs((console_bytes(printed(line)) + "\n").c_str(), stdout);
    }
    std::fflush(stdout);
    return exit_code(lines);
}

}  // namespace service::check
