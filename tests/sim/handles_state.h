// The handle table that every kind of object is reached through (handles.cpp).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "platform/handles.h"
#include "sim/files_state.h"
#include "sim/processes_state.h"
#include "sim/scheduler_state.h"

namespace sim {

inline constexpr std::uintptr_t first_handle_value = 0x100;

enum class handle_kind {
    process,
    primary_thread,
    thread,
    event,
    file,
    listing,
    service_manager,
    service,
    service_status,
    event_source,
    registry_key
};

struct handle_record {
    handle_kind kind = handle_kind::process;
    // Shared so that a handle keeps its object after the machine forgets it.
    std::shared_ptr<process_record> process;
    std::shared_ptr<thread_record> thread;
    std::shared_ptr<event_record> event;
    open_file file;
    listing found;
    // Process, manager and service handles: the rights asked for (a handle process
    // creation hands back has them all), and the service's key.
    std::uint32_t access = 0;
    std::wstring service_key;
    // Event sources and registry keys: the source's name, the key's lower-case path.
    std::wstring name;
};

struct handles_state {
    // Handles opened and not yet closed, by value.
    std::map<std::uintptr_t, handle_record> open;
    // Waits, signals and closes of a handle that was not open.
    int stale_uses = 0;
    std::uintptr_t next_value = first_handle_value;

    void clear() { *this = {}; }
    platform::handle add(handle_record record);
    handle_record* find(platform::handle value, handle_kind kind);
    handle_record* find(platform::handle value);
};

}  // namespace sim
