#include "service/check/state_check.h"

#include <optional>

#include "platform/unique_handle.h"
#include "process/find_processes.h"
#include "service/service_name.h"
#include "service/state_name.h"
#include "settings/agent_facts.h"

namespace service::check {
namespace {

constexpr const wchar_t* family = L"state";
constexpr const wchar_t* start_again = L" Then start it with \"sc start quillmark_snaptel\".";

// The service's status; none when it is not registered or cannot be asked (the
// registration's lines say which).
std::optional<platform::service_status> service_status() {
    const platform::service_handle_guard manager(
        platform::open_sc_manager(platform::sc_manager_connect));
    if (!manager) {
        return std::nullopt;
    }
    const platform::service_handle_guard service(
        platform::open_service(manager.get(), service_name, platform::service_query_status));
    platform::service_status status;
    if (!service || !platform::query_service_status(service.get(), status)) {
        return std::nullopt;
    }
    return status;
}

// What a stopped service's exit code says, as the README's table of exit codes says it.
check_line stopped_line(const platform::service_status& status) {
    const std::uint32_t code = status.win32_exit_code;
    const std::wstring found =
        L"the service is STOPPED; its last exit code " + std::to_wstring(code);
    switch (code) {
        case platform::no_error:
            return {mark::ok, family, found + L": stopped on request."};
        case platform::error_service_never_started:
            return {mark::ok, family, found + L": it has not run since it was registered."};
        case platform::error_app_init_failure:
            return {mark::problem, family,
                    found +
                        L": the agent could not be launched, ConfigFile is not set, or the "
                        L"service ran out of memory. The log says which: put that right." +
                        start_again};
        case platform::error_service_specific_error:
            return {mark::problem, family,
                    found + L" (" + std::to_wstring(status.service_specific_exit_code) +
                        L"): the Program Files folder could not be named. Check the machine's "
                        L"profile and shell folders." +
                        start_again};
        default:
            return {mark::problem, family,
                    found + L": it could not start its worker thread or stop event (" +
                        error_text(code) + L"). Free memory or handles on the machine." +
                        start_again};
    }
}

check_line process_line(const wchar_t* name, bool service_runs) {
    std::size_t count = 0;
    if (!process::count_processes(name, count)) {
        return {mark::warning, family,
                L"the processes cannot be listed: " + error_text(platform::get_last_error())};
    }
    const std::wstring file = name;
    if (service_runs && count == 0) {
        return {mark::warning, family,
                file +
                    L" does not run now: the service restarts the group at its next health "
                    L"check, within a minute. If it recurs, read the log."};
    }
    if (!service_runs && count != 0) {
        return {mark::warning, family,
                file +
                    L" runs while the service does not: started by hand or by another "
                    L"installation. The service's next start ends it."};
    }
    if (count > 1) {
        return {mark::warning, family,
                std::to_wstring(count) + L" processes of " + file +
                    L" run: only the first found decides the health check. End the extra "
                    L"one, or uninstall the other installation."};
    }
    return {mark::ok, family, file + (count == 0 ? L" does not run." : L" runs.")};
}

}  // namespace

report check_state() {
    report lines;
    const std::optional<platform::service_status> status = service_status();
    if (status) {
        if (status->current_state == platform::service_stopped) {
            lines.push_back(stopped_line(*status));
        } else {
            lines.push_back(
                {mark::ok, family, L"the service is " + state_name(status->current_state) + L"."});
        }
    }
    const bool service_runs = status && status->current_state == platform::service_running;
    lines.push_back(process_line(settings::agent_file_name, service_runs));
    for (const wchar_t* plugin : settings::system_plugin_names) {
        lines.push_back(process_line(plugin, service_runs));
    }
    return lines;
}

}  // namespace service::check
