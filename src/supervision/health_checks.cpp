#include "supervision/health_checks.h"

#include "logging/diagnostic_log.h"
#include "logging/event_bound.h"
#include "logging/log_windows_error.h"
#include "platform/clock.h"
#include "process/find_processes.h"
#include "settings/agent_facts.h"

namespace supervision {

bool is_host_agent_running() {
    constexpr const wchar_t* tag = L"is_host_agent_running";
    logging::log_debug(tag, L"enter");
    process::process_list found;
    bool running = false;
    if (process::find_processes(settings::agent_file_name, found) && !found.empty()) {
        if (found.size() >= 2) {
            logging::log_error(tag, L"more than 1 host agent process is running");
        }
        // The handle is asked directly, so a failure is reported in this check's own words.
        const std::shared_ptr<process::process_child> first = found.front();
        std::uint32_t exit_code = 0;
        if (platform::get_exit_code_process(first->handle(), &exit_code)) {
            running = exit_code == platform::still_active;
        } else {
            logging::log_last_error<logging::severity::debug>(
                tag,
                L"GetExitCodeProcess returned an error. Unable to detect if host agent is still "
                L"running");
        }
    }
    logging::log_debug(tag, L"exit");
    return running;
}

bool is_process_running(const std::wstring& name) {
    constexpr const wchar_t* tag = L"is_process_running";
    logging::log_debug(tag, L"enter");
    process::process_list found;
    if (process::find_processes(name, found) && !found.empty()) {
        const std::shared_ptr<process::process_child> first = found.front();
        return first->is_running();
    }
    logging::log_debug(tag, L"exit");
    return false;
}

bool are_system_plugins_running() {
    constexpr const wchar_t* tag = L"are_system_plugins_running";
    logging::log_debug(tag, L"enter");
    bool running = true;
    for (const wchar_t* name : settings::system_plugin_names) {
        if (!is_process_running(name)) {
            running = false;
            break;
        }
    }
    logging::log_debug(tag, L"exit");
    return running;
}

namespace {

// The checks run once more than this many whole seconds have passed since the last began.
// Measured on the monotonic clock: a wall clock set back an hour would otherwise hold
// every check off for that hour.
constexpr std::uint64_t check_interval_s = 60;

}  // namespace

bool check_is_due(std::uint64_t last_check_ms) {
    return (platform::tick_count() - last_check_ms) / 1000 > check_interval_s;
}

bool health_cycle_fails() {
    // The cycle's lines are the worker thread's, which runs it.
    constexpr const wchar_t* tag = L"ServiceWorkerThread";
    const logging::event_bound bound(tag);
    const bool agent_running = is_host_agent_running();
    if (agent_running) {
        logging::log_debug(tag, L"host agent is running.");
    } else {
        logging::log_error<logging::event_kind::agent_not_running>(
            tag, L"Detected that host agent is not running.");
    }
    if (!are_system_plugins_running()) {
        logging::log_error<logging::event_kind::plugins_not_running>(
            tag, L"Detected that not all system plugins are running.");
        return true;
    }
    logging::log_debug(tag, L"all system plugins are running.");
    return !agent_running;
}

}  // namespace supervision
