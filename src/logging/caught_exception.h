#pragma once

#include <string>

namespace logging {

// Reports the exception being handled, as every operation that catches reports it: a
// standard exception as "Caught standard exception: " with its text, anything else as
// "Caught unexpected exception", both at error level under `tag`. Call it only from a
// catch block.
void log_caught_exception(const std::wstring& tag);

}  // namespace logging
