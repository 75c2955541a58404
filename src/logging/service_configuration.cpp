#include "logging/service_configuration.h"

#include <optional>
#include <vector>

#include "platform/files.h"
#include "platform/settings.h"

namespace logging {
namespace {

// Windows paths never exceed this many characters; a buffer this large always fits.
constexpr std::uint32_t longest_path = 32768;

std::shared_ptr<service_configuration>& process_configuration() {
    static std::shared_ptr<service_configuration> configuration;
    return configuration;
}

// Empty until the setting has been read. Every value, -1 included, is a level someone
// may set, so none of them can stand for "not read yet".
std::optional<std::int32_t> cached_log_level;

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

std::shared_ptr<service_configuration> get_service_configuration() {
    auto& configuration = process_configuration();
    if (!configuration) {
        configuration = std::make_shared<service_configuration>(get_module_directory() +
                                                                L"\\quillmark_snaptel.ini");
    }
    return configuration;
}

// GetPrivateProfileStringW cuts a value that does not fit and reports size - 1 for it, as
// it does for a value that just fits; the buffer grows until the value fits with room to
// spare. A cut file name would name another file. Past the longest path a value names
// nothing that can be opened, so it is taken as it is there.
std::wstring get_setting_text(const wchar_t* section, const wchar_t* key,
                              const wchar_t* default_value) {
    const std::wstring& settings = get_service_configuration()->settings_file;
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

std::int32_t get_log_level(const std::wstring& settings_file) {
    if (!cached_log_level) {
        cached_log_level = static_cast<std::int32_t>(
            platform::get_private_profile_int(L"SERVICE", L"LogLevel", 3, settings_file.c_str()));
    }
    return *cached_log_level;
}

void forget_service_configuration() {
    process_configuration().reset();
    cached_log_level.reset();
}

}  // namespace logging
