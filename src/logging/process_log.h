// The process-wide diagnostic log, and the shorthand every operation writes through.
#pragma once

#include <memory>

#include "logging/event_log.h"
#include "logging/file_log_policy.h"
#include "logging/logger.h"

namespace logging {

using file_logger = logger<file_log_policy>;

// The process's logger, created at the first call from the LogFile setting. When the
// file cannot be opened the open_stream_error reaches the caller and the next call tries
// again. The first call must finish before a second thread calls.
std::shared_ptr<file_logger> get_logger();

// The process's event log, its source registered at the first call; get_logger's first
// call makes it, before the file is opened. The same rule holds for the first call.
const event_log& get_event_log();

// Forgets the logger (closing its file), the event log and the settings, as a new process
// starts without them. Only tests call it: the service creates its log once per process.
void reset_process_log();

// The error event of `kind` for an error line of `pieces`, whatever LogLevel is: the
// threshold is the file's. An event that cannot be made is lost without a word.
template <typename... Pieces>
void report_error(event_kind kind, const Pieces&... pieces) noexcept {
    try {
        get_event_log().report(kind, event_text(pieces...));
    } catch (...) {
    }
}

template <typename... Pieces>
void log_debug(const Pieces&... pieces) {
    get_logger()->write_entry<severity::debug>(pieces...);
}

template <typename... Pieces>
void log_info(const Pieces&... pieces) {
    get_logger()->write_entry<severity::info>(pieces...);
}

// An error line, and its event of `Kind`.
template <event_kind Kind = event_kind::other_error, typename... Pieces>
void log_error(const Pieces&... pieces) {
    get_logger()->write_entry<severity::error>(pieces...);
    report_error(Kind, pieces...);
}

}  // namespace logging
