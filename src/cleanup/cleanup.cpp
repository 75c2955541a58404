#include "cleanup/cleanup.h"

#include "cleanup/delete_tree.h"
#include "logging/caught_exception.h"
#include "logging/diagnostic_log.h"
#include "logging/event_bound.h"
#include "platform/clock.h"
#include "process/kill_processes.h"

namespace cleanup {
namespace {

constexpr const wchar_t* tag = L"cleanup_temp_directory";

// Terminated processes release their files a moment after they end.
constexpr std::uint32_t wait_before_deleting_ms = 1000;

}  // namespace

void cleanup_temp_directory(pace& pacing) {
    logging::log_debug(tag, L"enter");
    delete_tree(temp_directory, 0, false, pacing);
    if (pacing.ran_out_of_time()) {
        logging::log_info(tag,
                          L"time is up. The rest of the temporary directory is left for the next "
                          L"start.");
    } else if (pacing.stopped_by_mark()) {
        logging::log_debug(tag,
                           L"service is stopping. The rest of the temporary directory is left to "
                           L"the stop's clean-up.");
    }
    logging::log_debug(tag, L"exit");
}

void clean_up(pace& pacing) {
    // Each clean-up counts its events afresh: a start's, a restart's and a stop's.
    const logging::event_bound bound(L"cleanup");
    logging::log_debug(L"cleanup", L"enter");
    try {
        process::kill_processes();
        pacing.step();
        logging::log_debug(L"cleanup", L"wait before deleting temp directory for",
                           static_cast<std::int32_t>(wait_before_deleting_ms), L"ms");
        platform::sleep(wait_before_deleting_ms);
        pacing.step();
        cleanup_temp_directory(pacing);
    } catch (...) {
        logging::log_caught_exception(L"cleanup");
    }
    logging::log_debug(L"cleanup", L"exit");
}

void clean_up() {
    pace unhurried;
    clean_up(unhurried);
}

}  // namespace cleanup
