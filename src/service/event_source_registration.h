// The service's event source in the registry: without it Event Viewer cannot find the
// text of the service's events in the executable's message table.
#pragma once

#include <string>

namespace service {

// Where the Application log's sources are registered, and the service's own.
inline constexpr const wchar_t* event_source_key =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\quillmark_snaptel";

// Creates or updates the source's key: its messages in `executable`, error, warning and
// information events. A failure is an error line under `tag`; false then.
bool register_event_source(const std::wstring& executable, const wchar_t* tag);

// Removes the source's key; one already gone is no failure. A failure is an error line
// under `tag`; false then.
bool remove_event_source(const wchar_t* tag);

}  // namespace service
