#pragma once

#include "service/check/check_line.h"

namespace service::check {

// The service's registration, as install makes it: this executable, quoted, started
// automatically under LocalSystem as a process of its own, with its description, its
// failure actions and their flag, and its event source.
report check_registration();

}  // namespace service::check
