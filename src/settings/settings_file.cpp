#include "settings/settings_file.h"

#include <vector>

#include "platform/errors.h"
#include "platform/file_handles.h"
#include "platform/files.h"
#include "platform/settings.h"
#include "platform/unique_handle.h"

namespace settings {
namespace {

// Windows paths never exceed this many characters; a buffer this large always fits.
constexpr std::uint32_t longest_path = 32768;

}  // namespace

// GetModuleFileNameW cuts a path that does not fit and leaves it unterminated, so the
// buffer grows until the path fits with room to spare.
std::wstring get_module_path() {
    std::vector<wchar_t> buffer(platform::max_path);
    for (;;) {
        const auto size = static_cast<std::uint32_t>(buffer.size());
        const std::uint32_t length = platform::get_module_file_name(buffer.data(), size);
        if (length < size || size > longest_path) {
            return std::wstring(buffer.data(), length < size ? length : size);
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::wstring get_module_directory() {
    std::wstring path = get_module_path();
    const auto separator = path.find_last_of(L"/\\");
    if (separator != std::wstring::npos) {
        path.resize(separator);
    }
    return path;
}

std::wstring settings_file_path() {
    return get_module_directory() + L"\\quillmark_snaptel.ini";
}

// Opened as the profile calls open it, for reading, and sharing everything, so that the
// check itself never keeps an editor from saving the file.
bool settings_file_is_unreadable() {
    const platform::unique_file_handle file(platform::open_existing_file(
        settings_file_path().c_str(), platform::generic_read,
        platform::file_share_read | platform::file_share_write | platform::file_share_delete, 0));
    if (file) {
        return false;
    }
    const platform::error_code error = platform::get_last_error();
    return error != platform::error_file_not_found && error != platform::error_path_not_found;
}

std::wstring agent_file_path() {
    return get_module_directory() + L"\\" + agent_file_name;
}

// GetPrivateProfileStringW cuts a value that does not fit and reports size - 1 for it, as
// it does for a value that just fits; the buffer grows until the value fits with room to
// spare. A cut file name would name another file. Past the longest path a value names
// nothing that can be opened, so it is taken as it is there.
std::wstring get_setting_text(const wchar_t* section, const wchar_t* key,
                              const wchar_t* default_value) {
    const std::wstring settings = settings_file_path();
    std::vector<wchar_t> value(platform::max_path);
    for (;;) {
        const auto size = static_cast<std::uint32_t>(value.size());
        const std::uint32_t length = platform::get_private_profile_string(
            section, key, default_value, value.data(), size, settings.c_str());
        if (length + 1 < size || size > longest_path) {
            return std::wstring(value.data(), length);
        }
        value.resize(value.size() * 2);
    }
}

std::wstring get_setting_text(const setting_key<const wchar_t*>& setting) {
    return get_setting_text(setting.section, setting.key, setting.default_value);
}

}  // namespace settings
