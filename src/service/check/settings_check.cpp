#include "service/check/settings_check.h"

#include "logging/own_file.h"
#include "platform/file_handles.h"
#include "platform/unique_handle.h"
#include "settings/log_settings.h"
#include "settings/settings_file.h"

namespace service::check {
namespace {

constexpr const wchar_t* family = L"settings";
constexpr std::uint32_t share_all =
    platform::file_share_read | platform::file_share_write | platform::file_share_delete;

check_line settings_file_line() {
    const std::wstring path = settings::settings_file_path();
    const platform::unique_file_handle file(
        platform::open_existing_file(path.c_str(), platform::generic_read, share_all, 0));
    if (file) {
        return {mark::ok, family, path + L" is there and can be read."};
    }
    const platform::error_code error = platform::get_last_error();
    if (is_missing(error)) {
        return {mark::problem, family,
                path +
                    L" does not exist: every setting takes its default. Put "
                    L"quillmark_snaptel.ini beside quillmark_snaptel.exe."};
    }
    return {mark::problem, family,
            path + L" cannot be read: " + error_text(error) +
                L" Close the program that holds it, or give SYSTEM read access to it."};
}

check_line log_level_line() {
    const settings::log_level_setting level = settings::read_log_level();
    if (!level.refused.empty()) {
        return {mark::problem, family,
                L"LogLevel \"" + level.refused +
                    L"\" is not a level from 0 to 3; 3 is used. Set [SERVICE] LogLevel to 0, "
                    L"1, 2 or 3."};
    }
    if (settings::get_setting_text(settings::log_level_key.section, settings::log_level_key.key,
                                   L"")
            .empty()) {
        return {mark::ok, family, L"LogLevel is not set: 3 applies (errors only)."};
    }
    return {mark::ok, family, L"LogLevel is " + std::to_wstring(level.threshold) + L"."};
}

// Why the log could not use `name`, as the log would say it; empty when it could. The
// file is opened for its attributes only, never for writing, and a link at the name is
// looked at itself.
std::wstring why_not_log(const std::wstring& name) {
    if (std::wstring refused = logging::why_not_log_name(name); !refused.empty()) {
        return refused;
    }
    const platform::unique_file_handle file(platform::open_existing_file(
        name.c_str(), platform::file_read_attributes, share_all,
        platform::file_flag_open_reparse_point | platform::file_flag_backup_semantics));
    if (file) {
        return logging::why_not_own_file(file.get(), name);
    }
    const platform::error_code error = platform::get_last_error();
    if (error == platform::error_file_not_found) {
        return {};
    }
    if (error == platform::error_path_not_found) {
        return L"its folder does not exist";
    }
    return error_text(error);
}

check_line log_file_line() {
    const std::wstring name = settings::read_log_file();
    if (const std::wstring refused = why_not_log(name); !refused.empty()) {
        return {mark::problem, family,
                L"LogFile " + name + L" cannot be the log: " + refused +
                    L". Set [SERVICE] LogFile to a file of its own, in a folder that exists."};
    }
    return {mark::ok, family, L"LogFile is " + name + L"."};
}

check_line config_file_line() {
    const std::wstring name = settings::get_setting_text(settings::config_file_key);
    constexpr const wchar_t* remedy = L" Set [AGENT] ConfigFile to the agent's configuration file.";
    if (name.empty()) {
        return {
            mark::problem, family,
            L"ConfigFile is not set, so the service stops at its start." + std::wstring(remedy)};
    }
    const platform::unique_file_handle file(
        platform::open_existing_file(name.c_str(), platform::generic_read, share_all, 0));
    if (file) {
        return {mark::ok, family, L"ConfigFile is " + name + L"."};
    }
    const platform::error_code error = platform::get_last_error();
    if (is_missing(error)) {
        return {mark::problem, family,
                L"ConfigFile names " + name + L", which does not exist." + remedy};
    }
    return {mark::problem, family,
            L"ConfigFile names " + name + L", which cannot be read: " + error_text(error) +
                L" Give SYSTEM read access to it."};
}

}  // namespace

report check_settings() {
    return {settings_file_line(), log_level_line(), log_file_line(), config_file_line()};
}

}  // namespace service::check
