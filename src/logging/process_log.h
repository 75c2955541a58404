// The process-wide diagnostic log, and the shorthand every operation writes through.
#pragma once

#include <memory>

#include "logging/file_log_policy.h"
#include "logging/logger.h"

namespace logging {

using file_logger = logger<file_log_policy>;

// The process's logger, created at the first call from the LogFile setting. When the
// file cannot be opened the open_stream_error reaches the caller and the next call tries
// again. The first call must finish before a second thread calls.
std::shared_ptr<file_logger> get_logger();

// Forgets the logger (closing its file) and the settings, as a new process starts without
// them. Only tests call it: the service creates its log once per process.
void reset_process_log();

template <typename... Pieces>
void log_debug(const Pieces&... pieces) {
    get_logger()->write_entry<severity::debug>(pieces...);
}

template <typename... Pieces>
void log_info(const Pieces&... pieces) {
    get_logger()->write_entry<severity::info>(pieces...);
}

template <typename... Pieces>
void log_error(const Pieces&... pieces) {
    get_logger()->write_entry<severity::error>(pieces...);
}

}  // namespace logging
