#include "settings/log_settings.h"

#include <cstdint>
#include <cwctype>

#include "settings/agent_facts.h"
#include "settings/settings_file.h"

namespace settings {
namespace {

bool is_separator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

bool has_drive(const std::wstring& path, std::size_t at = 0) {
    return path.size() >= at + 2 && path[at + 1] == L':' &&
           ((path[at] >= L'A' && path[at] <= L'Z') || (path[at] >= L'a' && path[at] <= L'z'));
}

bool is_full(const std::wstring& name) {
    return (name.size() >= 2 && is_separator(name[0]) && is_separator(name[1])) ||
           (has_drive(name) && name.size() >= 3 && is_separator(name[2]));
}

// The drive (C:) or share (\\server\share) `directory` lies on, with the prefix it is
// written with (\\?\C:); empty when it names neither.
std::wstring root_of(const std::wstring& directory) {
    if (has_drive(directory)) {
        return directory.substr(0, 2);
    }
    if (directory.size() < 2 || !is_separator(directory[0]) || !is_separator(directory[1])) {
        return {};
    }
    std::size_t at = 2;
    if (directory.size() >= 4 && (directory[2] == L'?' || directory[2] == L'.') &&
        is_separator(directory[3])) {
        at = 4;
        if (has_drive(directory, at)) {
            return directory.substr(0, at + 2);
        }
        if (directory.compare(at, 4, L"UNC\\") == 0 || directory.compare(at, 4, L"UNC/") == 0) {
            at += 4;
        }
    }
    const std::size_t server_end = directory.find_first_of(L"\\/", at);
    if (server_end == std::wstring::npos) {
        return directory;
    }
    const std::size_t share_end = directory.find_first_of(L"\\/", server_end + 1);
    return share_end == std::wstring::npos ? directory : directory.substr(0, share_end);
}

// Whether `text` is a whole number up to `largest`: decimal digits after an optional "+".
bool is_whole_number(const std::wstring& text, std::uint64_t largest, std::uint64_t& value) {
    const std::size_t at = !text.empty() && text[0] == L'+' ? 1 : 0;
    if (at == text.size()) {
        return false;
    }
    value = 0;
    for (std::size_t i = at; i < text.size(); ++i) {
        if (text[i] < L'0' || text[i] > L'9') {
            return false;
        }
        value = value * 10 + static_cast<std::uint64_t>(text[i] - L'0');
        if (value > largest) {
            return false;
        }
    }
    return true;
}

// The text of a setting; read as text: the number the profile call makes of a text hides
// what was written (it reads "abc" as 0).
template <typename Value>
std::wstring setting_text(const setting_key<Value>& key) {
    return get_setting_text(key.section, key.key, L"");
}

}  // namespace

std::wstring beside_executable(const std::wstring& name, const std::wstring& directory) {
    if (name.empty() || directory.empty() || is_full(name)) {
        return name;
    }
    if (has_drive(name)) {
        const std::wstring rest = name.substr(2);
        if (has_drive(directory) && std::towupper(static_cast<wint_t>(name[0])) ==
                                        std::towupper(static_cast<wint_t>(directory[0]))) {
            return directory + L"\\" + rest;
        }
        return name.substr(0, 2) + L"\\" + rest;
    }
    if (is_separator(name[0])) {
        const std::wstring root = root_of(directory);
        return root.empty() ? name : root + name;
    }
    return directory + L"\\" + name;
}

log_level_setting read_log_level() {
    constexpr std::uint64_t highest_level = 3;
    const std::wstring text = setting_text(log_level_key);
    std::uint64_t level = 0;
    if (text.empty() || is_whole_number(text, highest_level, level)) {
        return {text.empty() ? log_level_key.default_value : static_cast<std::int32_t>(level), {}};
    }
    return {log_level_key.default_value, text};
}

max_log_size_setting read_max_log_size() {
    const std::wstring text = setting_text(max_log_size_key);
    std::uint64_t megabytes = 0;
    if (text.empty() || is_whole_number(text, UINT32_MAX, megabytes)) {
        return {
            text.empty() ? max_log_size_key.default_value : static_cast<std::uint32_t>(megabytes),
            {}};
    }
    return {max_log_size_key.default_value, text};
}

std::wstring read_log_file() {
    return beside_executable(get_setting_text(log_file_key), get_module_directory());
}

}  // namespace settings
