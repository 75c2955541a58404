#pragma once

#include <string>

#include "process/process_child.h"

namespace process {

// Empties `processes`, then fills it with every process whose image path (in device
// form) contains `name`, compared case-sensitively, in enumeration order. False only
// when the process identifiers could not be enumerated.
bool find_processes(const std::wstring& name, process_list& processes);

}  // namespace process
