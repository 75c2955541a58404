#include "logging/process_log.h"
#include "service/service_operations.h"

namespace service {

std::uint32_t run_service() {
    logging::log_debug(L"run_service", L"enter");
    return 0;
}

}  // namespace service
