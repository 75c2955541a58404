#pragma once

namespace process {

// Ends every running host agent, then every Snap plugin process, whoever started them,
// with up to three attempts per kind. What could not be ended is only logged.
void kill_processes();

}  // namespace process
