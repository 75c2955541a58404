// The log's settings as the log takes them: its file, found beside the executable
// whatever the working directory, its threshold, held to the levels there are, and its bound.
#pragma once

#include <cstdint>
#include <string>

namespace settings {

// LogLevel: a level from 0 to 3, written in decimal digits with an optional "+" ("02"
// and "+2" are 2). Anything else is refused and the default 3 applies: GetPrivateProfileInt
// would read "abc" as 0 and write every line, and "-1" or "4" are no levels at all.
struct log_level_setting {
    std::int32_t threshold = 3;
    // The text found when it was refused; empty when the level was taken or absent.
    std::wstring refused;
};
log_level_setting read_log_level();

// MaxLogSizeMB: how large the service's log may grow before it begins a new one, in
// megabytes, written as LogLevel is; 0 for no bound. Anything else, or more than a 32-bit
// number holds, is refused and the default 50 applies.
struct max_log_size_setting {
    std::uint32_t megabytes = 50;
    std::wstring refused;
};
max_log_size_setting read_max_log_size();

// LogFile, with a relative name taken as if the executable's folder were the working
// directory (see beside_executable).
std::wstring read_log_file();

// `name` taken from `directory` rather than from the working directory, which the service
// never chooses (C:\Windows\system32 for a service). A full name (C:\x, \\server\share\x,
// \\?\C:\x) is kept as it is. A name relative to a folder lies in `directory`; one relative
// to the root (\logs\x.log) lies on `directory`'s drive or share; one relative to a drive
// (D:x.log) lies in `directory` when it is that drive, at that drive's root otherwise, as
// it would for a process whose working directory is `directory`. An empty name, or an
// empty `directory`, is kept as it is.
std::wstring beside_executable(const std::wstring& name, const std::wstring& directory);

}  // namespace settings
