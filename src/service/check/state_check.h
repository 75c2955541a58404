#pragma once

#include "service/check/check_line.h"

namespace service::check {

// The service's state and the meaning of its last exit code, and whether the host agent
// and both system plugins run now, judged by whether the service runs.
report check_state();

}  // namespace service::check
