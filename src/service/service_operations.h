// The three uses of the executable, chosen by the entry point from its command word.
// Each returns a Windows error code, 0 for success.
#pragma once

#include <cstdint>

namespace service {

// Registers the executable as the automatically started service.
std::uint32_t install_service();

// Removes the registration of the stopped service.
std::uint32_t uninstall_service();

// Runs as the service until it has stopped.
std::uint32_t run_service();

}  // namespace service
