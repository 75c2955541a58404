#pragma once

#include "service/check/check_line.h"

namespace service::check {

// The settings file beside the executable, and what the service makes of LogLevel, LogFile
// and ConfigFile: the log's file judged as the log would judge it, without opening it for
// writing.
report check_settings();

}  // namespace service::check
