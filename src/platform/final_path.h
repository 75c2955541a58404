// Where an open entry really is, whatever links the name it was opened by went through.
#pragma once

#include <string>
#include <string_view>

#include "platform/file_handles.h"
#include "platform/files.h"
#include "platform/handles.h"

namespace platform {

// The full final path of the open entry (\\?\C:\... or \\?\UNC\server\share\...), however
// long; empty with the last error set when it cannot be told.
inline std::wstring final_path(handle entry) {
    std::wstring path(max_path, L'\0');
    for (;;) {
        const std::uint32_t length = get_final_path_name_by_handle(
            entry, path.data(), static_cast<std::uint32_t>(path.size()));
        if (length == 0) {
            return {};
        }
        // Too small, the call gives the size it needs, terminator included.
        const bool fits = length < path.size();
        path.resize(length);
        if (fits) {
            return path;
        }
    }
}

// A path without its \\?\ prefix, in the form a name is written in: \\?\C:\x as C:\x,
// \\?\UNC\server\share as \\server\share.
inline std::wstring plain_path(std::wstring_view path) {
    constexpr std::wstring_view prefix = L"\\\\?\\";
    constexpr std::wstring_view unc = L"UNC\\";
    if (!path.starts_with(prefix)) {
        return std::wstring(path);
    }
    path.remove_prefix(prefix.size());
    if (path.starts_with(unc)) {
        path.remove_prefix(unc.size());
        return L"\\\\" + std::wstring(path);
    }
    return std::wstring(path);
}

}  // namespace platform
