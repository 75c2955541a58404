// The log file as the settings make it: the logger is opened on LogFile at LogLevel, and
// a LogLevel it cannot take is reported as the new log's first line.
#pragma once

#include <memory>

#include "logging/file_log_policy.h"
#include "logging/logger.h"

namespace logging {

// Reads LogFile and LogLevel and opens the log's file; throws open_stream_error when the
// file cannot be the log. Writes straight into the new logger, never through the
// process's log, which is still being made; the event source must already be registered.
std::shared_ptr<logger<file_log_policy>> open_configured_log();

}  // namespace logging
