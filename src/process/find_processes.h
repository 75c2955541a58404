#pragma once

#include <string>

#include "process/process_child.h"

namespace process {

// Empties `processes`, then fills it with every process whose image path (in device
// form) contains `name`, letters compared without regard to case as the file system
// compares names, in enumeration order, however many processes run. The calling process
// is never among them. False only when the process identifiers could not be enumerated.
bool find_processes(const std::wstring& name, process_list& processes);

}  // namespace process
