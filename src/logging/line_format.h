// The parts of a log line the runtimes do not agree on, formatted by hand so that every
// build writes the same bytes.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace logging {

// Appends "[YYYY-MM-DD HH:MM:SS]" of `when` in local time ("[]" when it cannot be
// converted) to `out`. Formatted by hand: the C runtimes do not agree on "%F %T" (msvcrt
// writes nothing for it).
void put_line_prefix(std::wstring& out, std::time_t when);

// A handle as "%p" writes a pointer: 16 upper-case hexadecimal digits. The runtimes
// differ in the letter case they use, so it is formatted by hand too.
std::wstring handle_text(const void* value);

// The narrow text of a caught exception, each byte as the wide character of the same value.
std::wstring widen_bytes(std::string_view text);

}  // namespace logging
