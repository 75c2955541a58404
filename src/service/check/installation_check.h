// The check command: the whole installation judged in one run, changing nothing. It
// writes no log line either: its report goes to standard output, and the log's file is
// never opened, so that a check run beside the running service leaves its log whole.
#pragma once

#include "service/check/check_line.h"

namespace service::check {

// Every check, family by family: settings, files, registration, state, temporary directory.
report check_installation();

// 1 when a line of `lines` is a problem, 0 otherwise.
int exit_code(const report& lines);

// Prints the report to standard output, a line per check; its exit code.
int run_check();

}  // namespace service::check
