// What an error line reports, as the event ID it carries in the Application event log.
#pragma once

#include <cstdint>

namespace logging {

// The event source the service reports under, and registers at install.
inline constexpr const wchar_t* event_source = L"quillmark_snaptel";

// Administrators filter and alert on these numbers: each keeps its value for good, and a
// new kind takes a new one. The executable's message table (events.mc) has a message for
// each, so that Event Viewer shows the event's text.
enum class event_kind : std::uint32_t {
    other_error = 1,
    agent_not_running = 2,
    plugins_not_running = 3,
    launch_failed = 4,
    cleanup_left_entries = 5,
    service_manager_failed = 6,
    log_unusable = 7,
};

}  // namespace logging
