#include "supervision/agent_launch.h"

#include <algorithm>

#include "cleanup/cleanup.h"
#include "logging/caught_exception.h"
#include "logging/diagnostic_log.h"
#include "logging/log_windows_error.h"
#include "platform/unique_handle.h"
#include "supervision/health_checks.h"

namespace supervision {
namespace {

// Terminated processes get a moment to end and release their files before the clean-up
// looks for them by name.
constexpr std::uint32_t wait_before_cleanup_ms = 1000;

// Keeps only the agents that still run: the handles of ended ones would otherwise pile
// up for as long as the service runs, one per restart.
void forget_ended_agents(process::process_list& agents) {
    agents.erase(std::remove_if(agents.begin(), agents.end(),
                                [](const std::shared_ptr<process::process_child>& agent) {
                                    return !agent->is_running();
                                }),
                 agents.end());
}

}  // namespace

bool start_agent(agent_group& group, wchar_t* command_line) {
    constexpr const wchar_t* tag = L"start_agent";
    logging::log_debug(tag, L"enter");
    try {
        // Held until the new agent is recorded, so that a stop cannot miss it.
        const platform::exclusive_lock held(group.agent_lock);
        if (group.stop_requested) {
            logging::log_debug(tag, L"service is stopping. host agent is not launched.");
            return false;
        }
        logging::log_debug(tag, L"creating process for host agent ...");
        platform::startup_info startup;
        startup.flags = platform::startf_useshowwindow;
        startup.show_window = platform::sw_hide;
        platform::unique_process_information created;
        if (!platform::create_process(command_line, true, 0, startup, created.receive())) {
            logging::log_last_error<logging::severity::error, logging::event_kind::launch_failed>(
                tag, L"CreateProcess returned an error. Unable to create process for host agent.");
            return false;
        }
        logging::log_debug(tag, L"host agent process created succesfully.");
        group.started_agents.push_back(
            std::make_shared<process::process_child>(created.take_process()));
    } catch (...) {
        logging::log_caught_exception(tag);
        return false;
    }
    logging::log_debug(tag, L"exit");
    return true;
}

bool stop_agent(agent_group& group, cleanup::pace& pacing) {
    constexpr const wchar_t* tag = L"stop_agent";
    logging::log_debug(tag, L"enter");
    try {
        logging::log_debug(tag, L"stopping host agent ...");
        // A launch waits until the group is down, so nothing new starts meanwhile.
        const platform::exclusive_lock held(group.agent_lock);
        pacing.step();
        process::terminate_all(group.started_agents);
        logging::log_debug(tag, L"wait before cleanup for",
                           static_cast<std::int32_t>(wait_before_cleanup_ms), L"ms.");
        platform::sleep(wait_before_cleanup_ms);
        pacing.step();
        cleanup::clean_up(pacing);
        forget_ended_agents(group.started_agents);
        if (!is_host_agent_running()) {
            logging::log_debug(tag, L"host agent has stopped.");
        }
    } catch (...) {
        logging::log_caught_exception(tag);
        return false;
    }
    logging::log_debug(tag, L"exit");
    return true;
}

bool stop_agent(agent_group& group) {
    cleanup::pace unhurried;
    return stop_agent(group, unhurried);
}

}  // namespace supervision
