#include "process/kill_processes.h"

#include <cstdint>

#include "logging/diagnostic_log.h"
#include "platform/clock.h"
#include "process/find_processes.h"
#include "settings/agent_facts.h"

namespace process {
namespace {

constexpr const wchar_t* tag = L"kill_processes";
constexpr std::int32_t attempts_per_stage = 3;
// Gives terminated processes a moment to be gone before the next search looks.
constexpr std::uint32_t pause_after_attempt_ms = 100;

struct stage {
    const wchar_t* searched_name;
    const wchar_t* opening;
    const wchar_t* nothing_found;
    bool is_plugins;
};

void log_found(const stage& kind, const process_list& found) {
    if (kind.is_plugins) {
        logging::log_debug(tag, L"found running plugins", L"count",
                           static_cast<std::uint64_t>(found.size()));
    } else {
        logging::log_debug(tag, L"host agent is running");
    }
}

// Only a search that finds nothing ends a stage early: termination results are not
// trusted, the next search decides.
void run_stage(const stage& kind, process_list& found) {
    for (std::int32_t attempts_left = attempts_per_stage; attempts_left > 0;) {
        --attempts_left;
        logging::log_debug(tag, kind.opening, L"retry", attempts_left);
        if (!find_processes(kind.searched_name, found)) {
            logging::log_debug(tag, L"find_processes failed");
            return;
        }
        if (found.empty()) {
            logging::log_debug(tag, kind.nothing_found);
            return;
        }
        log_found(kind, found);
        terminate_all(found);
        platform::sleep(pause_after_attempt_ms);
    }
}

}  // namespace

void kill_processes() {
    process_list found;
    run_stage({settings::agent_file_name, L"terminating host agent ...",
               L"host agent is not running", false},
              found);
    run_stage({settings::plugin_marker, L"terminating plugins ...", L"no plugin is running", true},
              found);
}

}  // namespace process
