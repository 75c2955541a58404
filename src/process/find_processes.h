#pragma once

#include <string>

#include "process/process_child.h"

namespace process {

// Empties `processes`, then fills it with every process whose image path (in device
// form) contains `name`, letters compared without regard to case as the file system
// compares names, in enumeration order, however many processes run. The calling process
// is never among them. False only when the process identifiers could not be enumerated.
bool find_processes(const std::wstring& name, process_list& processes);

// How many of the processes find_processes would find for `name` have not ended, without a line in
// the log (a look that must leave every file as it was, the log's included) and without keeping any
// open. A process whose image cannot be read is passed over. False only when the process
// identifiers could not be enumerated.
bool count_processes(const std::wstring& name, std::size_t& count);

}  // namespace process
