// Files by name: listing directories, creating and writing files, naming paths.
// Part of the seam to Windows; platform/handles.h says how its calls behave.
#pragma once

#include <cstdint>
#include <string>

#include "platform/handles.h"

namespace platform {

inline constexpr std::uint32_t file_attribute_readonly = 0x1;
inline constexpr std::uint32_t file_attribute_directory = 0x10;
inline constexpr std::uint32_t file_attribute_reparse_point = 0x400;

// The platform's path limit (MAX_PATH), terminator included.
inline constexpr std::uint32_t max_path = 260;

// The part of WIN32_FIND_DATAW the system reads.
struct find_data {
    std::uint32_t attributes = 0;
    std::wstring name;
};

// FindFirstFileW: opens a listing by pattern and gives its first entry;
// invalid_handle_value() on failure.
handle find_first_file(const wchar_t* pattern, find_data& data);

// FindNextFileW: the next entry; false with error 18 at the end of the listing.
bool find_next_file(handle listing, find_data& data);

// FindClose.
bool find_close(handle listing);

inline constexpr std::uint32_t generic_write = 0x40000000;
inline constexpr std::uint32_t file_share_read = 0x1;
inline constexpr std::uint32_t file_share_write = 0x2;
inline constexpr std::uint32_t create_always = 2;
inline constexpr std::uint32_t open_always = 4;
inline constexpr std::uint32_t file_attribute_normal = 0x80;

// CreateFileW(name, access, share_mode, nullptr, disposition, flags_and_attributes,
// nullptr): without security attributes the handle is never inherited by a child
// process. invalid_handle_value() on failure. A relative name is taken from the current
// directory.
handle create_file(const wchar_t* name, std::uint32_t access, std::uint32_t share_mode,
                   std::uint32_t disposition, std::uint32_t flags_and_attributes);

// GetFullPathNameW: `name` as a full path, a relative name taken from the current
// directory, separators made backslashes. False on failure.
bool get_full_path_name(const wchar_t* name, std::wstring& full);

// GetLongPathNameW: the path of an existing entry with each short (8.3) component in its
// long form. False on failure.
bool get_long_path_name(const wchar_t* path, std::wstring& long_path);

}  // namespace platform
