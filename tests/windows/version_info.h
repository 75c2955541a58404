// What the Windows tests read of a built executable: its version resource and its message
// table. Only these tests use them, so they stand outside the service's seam; they call
// Windows directly (version_info.cpp), as the seam's Windows backend does.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// The part of VS_FIXEDFILEINFO that holds the versions: the first two of the four
// numbers in the high and low words of *_ms, the last two in those of *_ls.
struct fixed_file_version {
    std::uint32_t file_version_ms = 0;
    std::uint32_t file_version_ls = 0;
    std::uint32_t product_version_ms = 0;
    std::uint32_t product_version_ls = 0;
};

// GetFileVersionInfoSizeW and GetFileVersionInfoW on the file `path`, then
// VerQueryValueW(L"\\"): its fixed versions. False when the file cannot be read or has
// no version resource.
bool get_file_version(const wchar_t* path, fixed_file_version& version);

// The same, then VerQueryValueW(L"\\StringFileInfo\\<language><code page>\\<name>") for
// the first language and code page that \VarFileInfo\Translation lists: the text of
// `name` (ProductName, FileVersion, ...). False when the file or the text is missing.
bool get_file_version_text(const wchar_t* path, const wchar_t* name, std::wstring& text);

// LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE), then FormatMessageW with
// FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY: the message `id` of the
// file's message table with `insert` as its %1, as Event Viewer shows an event. False
// when the file or the message is missing.
bool format_module_message(const wchar_t* path, std::uint32_t id, const wchar_t* insert,
                           std::wstring& text);

}  // namespace platform
