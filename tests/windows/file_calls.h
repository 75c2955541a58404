// Windows file calls the tests use to set up and check what the service meets, beside the
// service's own seam, which reaches entries only through handles.
#pragma once

#include <cstdint>

namespace platform {

inline constexpr std::uint32_t invalid_file_attributes = 0xFFFFFFFF;

// GetFileAttributesW: invalid_file_attributes on failure.
std::uint32_t get_file_attributes(const wchar_t* path);

// DeleteFileW.
bool delete_file(const wchar_t* path);

// RemoveDirectoryW.
bool remove_directory(const wchar_t* path);

// The C runtime's _wchmod(path, _S_IWRITE): clears the read-only attribute.
// 0 on success, -1 on failure.
int make_writable(const wchar_t* path);

}  // namespace platform
