// Files and directories reached through handles rather than by name: each is checked and
// changed through the handle it was opened by, so that nothing can be swapped in between.
// Part of the seam to Windows; platform/handles.h says how its calls behave.
#pragma once

#include <cstdint>
#include <string>

#include "platform/handles.h"

namespace platform {

inline constexpr std::uint32_t generic_read = 0x80000000;
inline constexpr std::uint32_t file_read_attributes = 0x80;
inline constexpr std::uint32_t file_write_attributes = 0x100;
inline constexpr std::uint32_t file_share_delete = 0x4;
inline constexpr std::uint32_t file_flag_backup_semantics = 0x02000000;
inline constexpr std::uint32_t file_flag_open_reparse_point = 0x00200000;

// CreateFileW(name, access, share_mode, nullptr, OPEN_EXISTING, flags, nullptr): an
// existing file or, with file_flag_backup_semantics, directory. With
// file_flag_open_reparse_point a link is opened itself, not what it points to.
// invalid_handle_value() on failure.
handle open_existing_file(const wchar_t* name, std::uint32_t access, std::uint32_t share_mode,
                          std::uint32_t flags);

// GetFileInformationByHandleEx(file, FileBasicInfo, ...): the attributes of the open
// entry. Needs file_read_attributes.
bool get_file_attributes_by_handle(handle file, std::uint32_t& attributes);

// GetFileInformationByHandleEx(file, FileStandardInfo, ...): how many names (hard links)
// the open file has.
bool get_file_link_count(handle file, std::uint32_t& links);

// GetFinalPathNameByHandleW(file, buffer, size, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS):
// where the open entry really is, as \\?\C:\... Returns the length stored, terminator
// excluded; when `size` is too small, the size needed with the terminator; 0 on failure.
std::uint32_t get_final_path_name_by_handle(handle file, wchar_t* buffer, std::uint32_t size);

// GetFileInformationByHandleEx(file, FileNameInfo, ...): the path of the open entry on
// its volume (\\ProgramData\\...), where links led. False on failure.
bool get_file_name_by_handle(handle file, std::wstring& name);

// SetFileInformationByHandle(file, FileBasicInfo, ...) with every time left as it is:
// gives the entry `attributes`. Needs file_write_attributes.
bool set_file_attributes_by_handle(handle file, std::uint32_t attributes);

// SetFileInformationByHandle(file, FileEndOfFileInfo, {size}): the open file cut (or
// extended) to `size` bytes. Needs write access.
bool set_file_size(handle file, std::uint64_t size);

// GetFileSizeEx(file, size): how many bytes the open file holds. Needs
// file_read_attributes.
bool get_file_size(handle file, std::uint64_t& size);

// SetFileInformationByHandle(file, FileRenameInfo, {ReplaceIfExists = TRUE, new_name}):
// the open entry gets `new_name` (a full path on its volume), replacing an entry there
// without following it: a link at `new_name` is replaced itself. Needs delete access;
// fails with 5 when `new_name` is a directory or is open.
bool rename_by_handle(handle file, const std::wstring& new_name);

// SetFileInformationByHandle(file, FileDispositionInfo, {TRUE}): the entry goes when its
// last handle closes. Needs delete access; fails for a read-only file (5) and for a
// directory that is not empty (145).
bool set_delete_disposition(handle file);

// WriteFile(file, data, size, written, overlapped) with the overlapped offset
// 0xFFFFFFFF:0xFFFFFFFF: at the current end of the file, wherever other handles have
// left it (emptied it, written more). `written` gets the bytes written, also when the
// call fails part way (a full disk: error 112 after what fitted).
bool write_file(handle file, const void* data, std::uint32_t size, std::uint32_t* written);

}  // namespace platform
