// What install registers beside the service itself: named once, so that the installation
// check judges a registration by what install would have made.
#pragma once

#include <cstdint>
#include <iterator>

#include "platform/services.h"

namespace service {

// What the Services console shows for the service.
inline constexpr const wchar_t* service_description =
    L"Keeps the Snap telemetry host agent (snapteld.exe) and its system plugins running: "
    L"launches them, checks every minute that they run and restarts them when they do not.";

// The manager brings the service back a minute after each failure, for as long as it
// keeps failing; a day without a failure starts the count again.
inline constexpr std::uint32_t restart_delay_ms = 60000;
inline constexpr std::uint32_t failure_count_reset_s = 24 * 60 * 60;
inline constexpr platform::sc_action restart{platform::sc_action_restart, restart_delay_ms};
// First, second and every later failure, as the Services console lists them.
inline constexpr platform::sc_action failure_actions[] = {restart, restart, restart};
inline constexpr auto failure_action_count = static_cast<std::uint32_t>(std::size(failure_actions));

}  // namespace service
