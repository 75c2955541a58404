#include "service/check/files_check.h"

#include <algorithm>

#include "platform/file_handles.h"
#include "platform/security.h"
#include "platform/text.h"
#include "platform/unique_handle.h"
#include "settings/log_settings.h"
#include "settings/settings_file.h"

namespace service::check {
namespace {

constexpr const wchar_t* family = L"files";

check_line agent_line() {
    const std::wstring path = settings::agent_file_path();
    const platform::unique_file_handle file(platform::open_existing_file(
        path.c_str(), platform::file_read_attributes,
        platform::file_share_read | platform::file_share_write | platform::file_share_delete, 0));
    if (file) {
        return {mark::ok, family, path + L" is beside quillmark_snaptel.exe."};
    }
    const platform::error_code error = platform::get_last_error();
    const std::wstring found = is_missing(error) ? L" does not exist" : L": " + error_text(error);
    return {mark::problem, family,
            path + found +
                L": the service cannot launch the agent and stops with 575. Put "
                L"quillmark_snaptel.exe into the agent's folder, beside snapteld.exe."};
}

// The accounts a folder of the service may let write.
bool is_trusted(const std::wstring& writer) {
    const wchar_t* const trusted[] = {platform::sid_local_system, platform::sid_administrators,
                                      platform::sid_trusted_installer, platform::sid_creator_owner};
    return std::any_of(std::begin(trusted), std::end(trusted), [&](const wchar_t* sid) {
        return platform::compare_string_ignore_case(sid, writer.c_str()) == 0;
    });
}

// A well-known writer's name beside its identifier, as icacls shows it.
std::wstring shown(const std::wstring& writer) {
    const std::pair<const wchar_t*, const wchar_t*> names[] = {
        {L"S-1-1-0", L"Everyone"},
        {L"S-1-5-11", L"Authenticated Users"},
        {L"S-1-5-32-545", L"Users"},
        {L"S-1-5-4", L"INTERACTIVE"},
    };
    for (const auto& [sid, name] : names) {
        if (writer == sid) {
            return writer + L" (" + name + L")";
        }
    }
    return writer;
}

check_line writers_line(const std::wstring& folder, const std::vector<std::wstring>& writers) {
    std::wstring others;
    for (const auto& writer : writers) {
        if (!is_trusted(writer)) {
            others += (others.empty() ? L"" : L", ") + shown(writer);
        }
    }
    if (others.empty()) {
        return {mark::ok, family,
                folder + L" can be written only by administrators and the system."};
    }
    return {mark::warning, family,
            folder + L" can be written by " + others +
                L": anyone who can write there can become LocalSystem. Let only SYSTEM and "
                L"Administrators write there (icacls)."};
}

// A folder that does not exist has no line: the settings' lines say what it lacks.
void add_writers_line(report& lines, const std::wstring& folder) {
    std::vector<std::wstring> writers;
    if (platform::get_folder_writers(folder.c_str(), writers)) {
        lines.push_back(writers_line(folder, writers));
        return;
    }
    const platform::error_code error = platform::get_last_error();
    if (!is_missing(error)) {
        lines.push_back({mark::warning, family,
                         L"who may write to " + folder + L" cannot be told: " + error_text(error)});
    }
}

std::wstring folder_of(const std::wstring& path) {
    const auto separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator);
}

}  // namespace

report check_files() {
    const std::wstring folder = settings::get_module_directory();
    report lines{agent_line()};
    add_writers_line(lines, folder);
    const std::wstring log_folder = folder_of(settings::read_log_file());
    if (!log_folder.empty() &&
        platform::compare_string_ignore_case(log_folder.c_str(), folder.c_str()) != 0) {
        add_writers_line(lines, log_folder);
    }
    return lines;
}

}  // namespace service::check
