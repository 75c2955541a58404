// The Application event log and the keys of HKEY_LOCAL_MACHINE (event_log.cpp). They go
// together because an event source is registered under a registry key.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "sim/machine.h"

namespace sim {

// A key of HKEY_LOCAL_MACHINE: its path as first spelled and its values by name.
struct registry_entry {
    std::wstring spelled;
    std::map<std::wstring, registry_value> values;
};

struct event_log_state {
    std::vector<reported_event> events;
    // By lower-case path, without a trailing separator.
    std::map<std::wstring, registry_entry> registry;

    void clear() { *this = {}; }
    // The registry key `subkey` and each key above it, made where missing as
    // RegCreateKeyExW makes them; the key's path as keys are compared.
    std::wstring make_registry_key(const std::wstring& subkey);
};

}  // namespace sim
