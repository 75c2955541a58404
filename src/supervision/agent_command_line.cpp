#include "supervision/agent_command_line.h"

namespace supervision {
namespace {

// The program's own name is read up to the closing quote, backslashes and all; a Windows
// path cannot hold a quote, so quoting it whole is enough.
std::wstring program_argument(const std::wstring& path) {
    if (!path.empty() && path.find_first_of(L" \t") == std::wstring::npos) {
        return path;
    }
    return L"\"" + path + L"\"";
}

// Any other argument as CommandLineToArgvW and the C runtime read it back: inside quotes,
// a quote is escaped by a backslash, and the backslashes before an escaped quote or before
// the closing quote are doubled; backslashes anywhere else are taken as they are.
std::wstring argument(const std::wstring& text) {
    if (!text.empty() && text.find_first_of(L" \t\"") == std::wstring::npos) {
        return text;
    }
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : text) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') {
            quoted.append(backslashes * 2 + 1, L'\\');
        } else {
            quoted.append(backslashes, L'\\');
        }
        backslashes = 0;
        quoted.push_back(c);
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

}  // namespace

std::vector<wchar_t> agent_command_line(const std::wstring& executable,
                                        const std::wstring& configuration_file) {
    const std::wstring line =
        program_argument(executable) + L" --config " + argument(configuration_file);
    std::vector<wchar_t> buffer(line.begin(), line.end());
    buffer.push_back(L'\0');
    return buffer;
}

}  // namespace supervision
