// The running executable's path and the settings file beside it.
#include <windows.h>

#include "platform/settings.h"

namespace platform {

std::uint32_t get_module_file_name(wchar_t* buffer, std::uint32_t size) {
    return ::GetModuleFileNameW(::GetModuleHandleW(nullptr), buffer, size);
}

std::uint32_t get_private_profile_string(const wchar_t* section, const wchar_t* key,
                                         const wchar_t* default_value, wchar_t* buffer,
                                         std::uint32_t size, const wchar_t* file) {
    return ::GetPrivateProfileStringW(section, key, default_value, buffer, size, file);
}

std::uint32_t get_private_profile_int(const wchar_t* section, const wchar_t* key,
                                      std::int32_t default_value, const wchar_t* file) {
    return ::GetPrivateProfileIntW(section, key, default_value, file);
}

}  // namespace platform
