#include "logging/process_log.h"
#include "service/service_operations.h"

namespace service {

std::uint32_t install_service() {
    logging::log_debug(L"install_service", L"enter");
    return 0;
}

std::uint32_t uninstall_service() {
    logging::log_debug(L"uninstall_service", L"enter");
    return 0;
}

}  // namespace service
