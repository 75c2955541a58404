// How the clean-up reaches the temporary directory and makes sure it is where its name
// says before it deletes anything under it: shared with the installation check, so that
// both judge the directory alike.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file_handles.h"
#include "platform/unique_handle.h"

namespace cleanup {

// The \\?\ form with backslashes reaches names the plain form turns into something else
// (nul, con.txt, a name ending in a dot or a blank) and paths beyond the path limit.
std::wstring long_form(const std::wstring& path);

// The entry at `native` opened itself, never what a link points to, sharing all but
// deletion so that it cannot be renamed or replaced while it is held; an empty handle with
// the last error set.
platform::unique_file_handle open_entry(const std::wstring& native, std::uint32_t access);

// Whether the open directory lies exactly where its name `native` says, with no link
// above it: its final path, which names the volume, is the path it was opened by. `found`
// gets its final path; empty, with the last error set, when it cannot be told.
bool lies_where_named(platform::handle directory, const std::wstring& native, std::wstring& found);

}  // namespace cleanup
