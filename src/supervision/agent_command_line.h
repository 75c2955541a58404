#pragma once

#include <string>
#include <vector>

namespace supervision {

// The host agent's command line, "<executable> --config <configuration file>". A path
// with a blank is enclosed in double quotes: unquoted, process creation would try
// C:\Program.exe first for an agent under C:\Program Files, and the agent would get its
// configuration path in pieces. Returned as a terminated, writable buffer of the line's
// own length, as process creation wants it.
std::vector<wchar_t> agent_command_line(const std::wstring& executable,
                                        const std::wstring& configuration_file);

}  // namespace supervision
