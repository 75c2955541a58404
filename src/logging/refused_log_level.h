// A LogLevel the log cannot take, reported as the new log's first line and as an event.
#pragma once

#include "logging/file_log_policy.h"
#include "logging/logger.h"
#include "settings/log_settings.h"

namespace logging {

// Writes straight into the new logger, never through the process's log, which is still
// being made; the event source must already be registered. Nothing when it was taken.
void report_refused_log_level(logger<file_log_policy>& log,
                              const settings::log_level_setting& level);

}  // namespace logging
