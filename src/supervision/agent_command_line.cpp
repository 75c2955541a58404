#include "supervision/agent_command_line.h"

namespace supervision {
namespace {

// A path as one argument of a command line. Inside quotes, backslashes before the closing
// quote are doubled so that the C runtime of the agent does not read them as escaping it.
std::wstring argument(const std::wstring& path) {
    if (path.find_first_of(L" \t") == std::wstring::npos) {
        return path;
    }
    std::wstring quoted = L"\"" + path;
    const std::size_t trailing = path.size() - (path.find_last_not_of(L'\\') + 1);
    quoted.append(trailing, L'\\');
    return quoted + L"\"";
}

}  // namespace

std::vector<wchar_t> agent_command_line(const std::wstring& executable,
                                        const std::wstring& configuration_file) {
    const std::wstring line = argument(executable) + L" --config " + argument(configuration_file);
    std::vector<wchar_t> buffer(line.begin(), line.end());
    buffer.push_back(L'\0');
    return buffer;
}

}  // namespace supervision
