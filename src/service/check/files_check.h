#pragma once

#include "service/check/check_line.h"

namespace service::check {

// The host agent beside the executable, and who may write to the executable's folder and
// the log's: the service runs as the local system account, so anyone else who can put a
// file there can run it as that account.
report check_files();

}  // namespace service::check
