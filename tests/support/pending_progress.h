// Whether a service kept the manager informed while a start or a stop was pending: the
// manager holds a service that stays pending past its wait hint, or repeats a check point,
// to be hung.
#pragma once

#include <string>
#include <vector>

#include "sim/machine.h"

namespace test {

// The first fault among the status reports, in their order, as a text naming the two
// reports; empty when there is none. A fault is a report that comes later after a start
// or stop pending one than the wait hint of that one, or a report of the same pending
// state whose check point is not above that one's.
std::string pending_progress_fault(const std::vector<sim::status_report>& reports);

}  // namespace test
