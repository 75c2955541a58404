// Registering the executable with the Service Control Manager and removing it: two of
// the three uses the entry point chooses from its command word. Each returns a Windows
// error code, 0 for success.
#pragma once

#include <cstdint>

namespace service {

// Registers the executable as the automatically started service.
std::uint32_t install_service();

// Removes the registration of the stopped service.
std::uint32_t uninstall_service();

}  // namespace service
