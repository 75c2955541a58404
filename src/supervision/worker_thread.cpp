#include "supervision/worker_thread.h"

#include <string>
#include <vector>

#include "logging/caught_exception.h"
#include "logging/diagnostic_log.h"
#include "logging/log_windows_error.h"
#include "logging/outside_text.h"
#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/settings.h"
#include "platform/threads_and_events.h"
#include "settings/settings_file.h"
#include "supervision/agent_command_line.h"
#include "supervision/agent_launch.h"
#include "supervision/health_checks.h"

namespace supervision {
namespace {

constexpr const wchar_t* tag = L"ServiceWorkerThread";

// Short enough that a stop request is seen at once, long enough to cost nothing.
constexpr std::uint32_t poll_pause_ms = 60;
std::uint32_t supervise(agent_group& group) {
    wchar_t program_files[platform::max_path] = {};
    const std::int32_t result = platform::get_folder_path(
        platform::csidl_program_files, platform::shgfp_type_current, program_files);
    if (result < 0) {
        logging::log_last_error(
            tag, L"SHGetFolderPath returned an error. Unable to get program files directory.");
        return static_cast<std::uint32_t>(result);
    }

    const std::wstring executable = settings::agent_file_path();
    // A settings file that is there but cannot be read would give the defaults as a
    // missing one does, and the missing ConfigFile would be blamed on the file's text.
    if (settings::settings_file_is_unreadable()) {
        logging::log_last_error(tag, L"CreateFile returned an error. Unable to read settings file",
                                logging::from_outside(settings::settings_file_path()));
        return platform::error_app_init_failure;
    }
    // Read whole: a cut path would name another file.
    const std::wstring configuration = settings::get_setting_text(settings::config_file_key);
    if (configuration.empty()) {
        logging::log_error(tag,
                           L"no config file was specified. Check config.yaml configuration file.");
        return platform::error_app_init_failure;
    }
    logging::log_debug(tag, L"host agent config file: ", logging::from_outside(configuration));
    logging::log_debug(tag, L"host agent executable: ", logging::from_outside(executable));
    std::vector<wchar_t> command_line = agent_command_line(executable, configuration);
    logging::log_debug(tag, L"launch command line: ", logging::from_outside(command_line.data()));

    std::uint64_t last_check_ms = platform::tick_count();
    bool agent_launched = false;
    // Once the service has begun to stop, no agent is launched and none is watched: the
    // stop event follows as soon as the stop sequence has ended the group.
    bool stopping = false;
    for (;;) {
        if (platform::wait_for_single_object(group.stop_event.get(), 0) ==
            platform::wait_object_0) {
            logging::log_debug(tag, L"exit");
            return 0;
        }
        if (!agent_launched && !stopping) {
            logging::log_debug(tag, L"running host agent ...");
            if (start_agent(group, command_line.data())) {
                logging::log_debug(tag, L"host agent is running.");
                agent_launched = true;
            } else if (group.is_stop_requested()) {
                stopping = true;
            } else {
                logging::log_error<logging::event_kind::launch_failed>(
                    tag, L"unable to launch host agent.");
                return platform::error_app_init_failure;
            }
        }
        platform::sleep(poll_pause_ms);

        if (stopping || !check_is_due(last_check_ms)) {
            continue;
        }
        last_check_ms = platform::tick_count();
        // A log that could not be opened at the start (held by a reader, say) is tried
        // again until it opens.
        logging::current_log().retry_file();
        if (health_cycle_fails()) {
            // A stop that comes meanwhile deletes what is left itself: the restart's
            // deletion gives way to it at once.
            cleanup::pace until_stop({}, cleanup::pace::no_deadline, &group.stop_requested);
            stop_agent(group, until_stop);
            logging::log_debug(tag, L"restarting host agent.");
            agent_launched = false;
        }
    }
}

}  // namespace

std::uint32_t ServiceWorkerThread(void* parameter) {
    logging::log_debug(tag, L"enter");
    try {
        return supervise(*static_cast<agent_group*>(parameter));
    } catch (...) {
        logging::log_caught_exception(tag);
    }
    return platform::error_app_init_failure;
}

}  // namespace supervision
