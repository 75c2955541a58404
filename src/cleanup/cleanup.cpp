#include "cleanup/cleanup.h"

#include "cleanup/delete_tree.h"
#include "logging/caught_exception.h"
#include "logging/diagnostic_log.h"
#include "platform/clock.h"
#include "process/kill_processes.h"

namespace cleanup {
namespace {

// Terminated processes release their files a moment after they end.
constexpr std::uint32_t wait_before_deleting_ms = 1000;

}  // namespace

void cleanup_temp_directory() {
    logging::log_debug(L"cleanup_temp_directory", L"enter");
    delete_tree(temp_directory, 0, false);
    logging::log_debug(L"cleanup_temp_directory", L"exit");
}

void clean_up() {
    logging::log_debug(L"cleanup", L"enter");
    try {
        process::kill_processes();
        logging::log_debug(L"cleanup", L"wait before deleting temp directory for",
                           static_cast<std::int32_t>(wait_before_deleting_ms), L"ms");
        platform::sleep(wait_before_deleting_ms);
        cleanup_temp_directory();
    } catch (...) {
        logging::log_caught_exception(L"cleanup");
    }
    logging::log_debug(L"cleanup", L"exit");
}

}  // namespace cleanup
