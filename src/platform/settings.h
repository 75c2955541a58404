// The running executable's path, its settings file, and the system's folders.
// Part of the seam to Windows; platform/handles.h says how its calls behave.
#pragma once

#include <cstdint>

namespace platform {

// GetModuleFileNameW(GetModuleHandleW(nullptr), buffer, size): the running executable's
// full path. Returns the number of characters stored; 0 on failure. A path that does
// not fit comes back cut to `size` characters without a terminator, the result is
// `size` and the last error is 122.
std::uint32_t get_module_file_name(wchar_t* buffer, std::uint32_t size);

// GetPrivateProfileStringW: the text of `key` in `section` of the settings file `file`,
// or `default_value`, cut to size - 1 characters and terminated. Returns the number of
// characters stored, terminator excluded.
std::uint32_t get_private_profile_string(const wchar_t* section, const wchar_t* key,
                                         const wchar_t* default_value, wchar_t* buffer,
                                         std::uint32_t size, const wchar_t* file);

// GetPrivateProfileIntW: the integer value of `key`, or `default_value`.
std::uint32_t get_private_profile_int(const wchar_t* section, const wchar_t* key,
                                      std::int32_t default_value, const wchar_t* file);

// SHGetFolderPathW(nullptr, folder, nullptr, flags, path): `path` holds max_path
// characters. Returns an HRESULT, negative on failure.
inline constexpr int csidl_program_files = 38;
inline constexpr std::uint32_t shgfp_type_current = 0;
std::int32_t get_folder_path(int folder, std::uint32_t flags, wchar_t* path);

}  // namespace platform
