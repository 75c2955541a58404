#include "logging/caught_exception.h"

#include <exception>

#include "logging/diagnostic_log.h"

namespace logging {

void log_caught_exception(const std::wstring& tag) {
    try {
        throw;
    } catch (const std::exception& error) {
        log_error(tag, L"Caught standard exception: ", error.what());
    } catch (...) {
        log_error(tag, L"Caught unexpected exception");
    }
}

}  // namespace logging
