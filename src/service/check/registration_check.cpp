#include "service/check/registration_check.h"

#include <algorithm>

#include "platform/event_log.h"
#include "platform/text.h"
#include "platform/unique_handle.h"
#include "service/event_source_registration.h"
#include "service/registration_facts.h"
#include "service/service_name.h"
#include "settings/settings_file.h"

namespace service::check {
namespace {

constexpr const wchar_t* family = L"registration";
// Run again, install makes the registration whole.
constexpr const wchar_t* reinstall =
    L" Run \"quillmark_snaptel.exe uninstall\", then \"quillmark_snaptel.exe install\" from "
    L"this folder, from an elevated prompt.";

bool same_text(const std::wstring& one, const std::wstring& other) {
    return platform::compare_string_ignore_case(one.c_str(), other.c_str()) == 0;
}

report config_lines(const platform::service_config& config) {
    report lines;
    const std::wstring expected = L"\"" + settings::get_module_path() + L"\"";
    if (same_text(config.binary_path, expected)) {
        lines.push_back({mark::ok, family, L"its image path is " + expected + L"."});
    } else {
        lines.push_back(
            {mark::problem, family,
             L"its image path is " + config.binary_path + L", not " + expected + L"." + reinstall});
    }
    if (config.start_type == platform::service_auto_start) {
        lines.push_back({mark::ok, family, L"it starts automatically."});
    } else {
        lines.push_back({mark::problem, family,
                         L"its start type is " + std::to_wstring(config.start_type) +
                             L", not automatic (2). Run \"sc config quillmark_snaptel start= "
                             L"auto\"."});
    }
    if (same_text(config.account, L"LocalSystem")) {
        lines.push_back({mark::ok, family, L"it runs under LocalSystem."});
    } else {
        lines.push_back({mark::problem, family,
                         L"it runs under " + config.account +
                             L", not LocalSystem: it may not end the agent or empty its "
                             L"directory. Run \"sc config quillmark_snaptel obj= LocalSystem\"."});
    }
    if (config.service_type == platform::service_win32_own_process) {
        lines.push_back({mark::ok, family, L"it runs as a process of its own."});
    } else {
        lines.push_back({mark::problem, family,
                         L"its service type is " + std::to_wstring(config.service_type) +
                             L", not a process of its own (16)." + reinstall});
    }
    return lines;
}

check_line description_line(platform::handle service) {
    std::wstring description;
    if (!platform::query_service_description(service, description)) {
        return {mark::warning, family,
                L"its description cannot be read: " + error_text(platform::get_last_error())};
    }
    if (description != service_description) {
        return {mark::problem, family,
                L"its description is not the one install sets." + std::wstring(reinstall)};
    }
    return {mark::ok, family, L"its description is in place."};
}

bool are_install_actions(const std::vector<platform::sc_action>& actions) {
    return std::equal(std::begin(failure_actions), std::end(failure_actions), actions.begin(),
                      actions.end(), [](const auto& one, const auto& other) {
                          return one.type == other.type && one.delay_ms == other.delay_ms;
                      });
}

// Wine keeps no failure actions: the query fails there, and the service is not brought
// back after a failure, which the administrator should know but cannot change.
report failure_action_lines(platform::handle service) {
    report lines;
    std::uint32_t reset_period_s = 0;
    std::vector<platform::sc_action> actions;
    if (!platform::query_service_failure_actions(service, reset_period_s, actions)) {
        lines.push_back({mark::warning, family,
                         L"its failure actions cannot be read (the platform may keep none, as "
                         L"Wine does): " +
                             error_text(platform::get_last_error()) +
                             L" Without them the manager does not restart the service after a "
                             L"failure."});
    } else if (reset_period_s != failure_count_reset_s || !are_install_actions(actions)) {
        lines.push_back({mark::problem, family,
                         L"its failure actions are not a restart 60 s after each failure. Run "
                         L"\"sc failure quillmark_snaptel reset= 86400 actions= "
                         L"restart/60000/restart/60000/restart/60000\"."});
    } else {
        lines.push_back(
            {mark::ok, family, L"its failure actions restart it 60 s after each failure."});
    }
    bool on_non_crash_failures = false;
    if (!platform::query_service_failure_actions_flag(service, on_non_crash_failures)) {
        lines.push_back({mark::warning, family,
                         L"its failure actions flag cannot be read (the platform may keep none, "
                         L"as Wine does): " +
                             error_text(platform::get_last_error())});
    } else if (!on_non_crash_failures) {
        lines.push_back({mark::problem, family,
                         L"its failure actions follow only a crash, not a stop with an error "
                         L"code. Run \"sc failureflag quillmark_snaptel 1\"."});
    } else {
        lines.push_back(
            {mark::ok, family, L"its failure actions apply to a stop with an error code too."});
    }
    return lines;
}

check_line event_source_line() {
    const std::wstring key_name = std::wstring(L"HKLM\\") + event_source_key;
    const platform::unique_registry_key key(platform::open_machine_registry_key(event_source_key));
    if (!key) {
        const platform::error_code error = platform::get_last_error();
        return {mark::problem, family,
                L"the event source " + key_name +
                    (is_missing(error) ? std::wstring(L" is missing") : L": " + error_text(error)) +
                    L": Event Viewer shows the service's events without their text." + reinstall};
    }
    platform::registry_reading file;
    platform::registry_reading types;
    const std::wstring module = settings::get_module_path();
    if (platform::query_registry_value(key.get(), L"EventMessageFile", file) &&
        same_text(file.text, module) &&
        platform::query_registry_value(key.get(), L"TypesSupported", types) &&
        types.type == platform::reg_dword && types.number == 7) {
        return {mark::ok, family, L"the event source names " + module + L"."};
    }
    return {mark::problem, family,
            L"the event source " + key_name + L" does not name " + module +
                L" with TypesSupported 7: Event Viewer may show the service's events without "
                L"their text." +
                reinstall};
}

}  // namespace

report check_registration() {
    const platform::service_handle_guard manager(
        platform::open_sc_manager(platform::sc_manager_connect));
    if (!manager) {
        return {{mark::problem, family,
                 L"the service manager cannot be asked: " + error_text(platform::get_last_error()) +
                     L" Run the check from an elevated prompt."}};
    }
    const platform::service_handle_guard service(
        platform::open_service(manager.get(), service_name, platform::service_query_config));
    if (!service) {
        const platform::error_code error = platform::get_last_error();
        if (error == platform::error_service_does_not_exist) {
            return {{mark::problem, family,
                     L"the service quillmark_snaptel is not registered. Run "
                     L"\"quillmark_snaptel.exe install\" from an elevated prompt."}};
        }
        return {{mark::problem, family,
                 L"the service quillmark_snaptel cannot be asked: " + error_text(error) +
                     L" Run the check from an elevated prompt."}};
    }
    platform::service_config config;
    report lines;
    if (platform::query_service_config(service.get(), config)) {
        lines = config_lines(config);
    } else {
        lines.push_back(
            {mark::problem, family,
             L"its configuration cannot be read: " + error_text(platform::get_last_error())});
    }
    lines.push_back(description_line(service.get()));
    for (auto& line : failure_action_lines(service.get())) {
        lines.push_back(std::move(line));
    }
    lines.push_back(event_source_line());
    return lines;
}

}  // namespace service::check
