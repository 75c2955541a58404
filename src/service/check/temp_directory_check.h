#pragma once

#include "service/check/check_line.h"

namespace service::check {

// The host agent's temporary directory, judged as the clean-up judges it before it
// deletes anything under it (no link at it or above it), and how many entries it holds.
report check_temp_directory();

}  // namespace service::check
