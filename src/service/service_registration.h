// Registering the executable with the Service Control Manager and removing it: two of
// the three uses the entry point chooses from its command word. Each returns a Windows
// error code, 0 only when the service was registered or removed; the process ends with it.
#pragma once

#include <cstdint>

namespace service {

// Registers the executable as the automatically started service.
std::uint32_t install_service();

// Removes the registration of the stopped service. A service that is not stopped is left
// as it is, and ERROR_SERVICE_ALREADY_RUNNING returned.
std::uint32_t uninstall_service();

}  // namespace service
