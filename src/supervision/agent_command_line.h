#pragma once

#include <string>
#include <vector>

namespace supervision {

// The host agent's command line, "<executable> --config <configuration file>", such that
// the agent reads back exactly two arguments after its own name, each whole whatever it
// holds. A path with a blank is enclosed in double quotes: unquoted, process creation
// would try C:\Program.exe first for an agent under C:\Program Files, and the agent would
// get its configuration path in pieces; a quote in the configuration path is escaped, so
// that it can neither be lost nor end the argument. A path without blanks or quotes is
// written as it is. Returned as a terminated, writable buffer of the line's own length, as
// process creation wants it.
std::vector<wchar_t> agent_command_line(const std::wstring& executable,
                                        const std::wstring& configuration_file);

}  // namespace supervision
