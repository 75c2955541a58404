// The Application event log, and the registry key that names an event source's messages.
// Part of the seam to Windows; platform/handles.h says how its calls behave.
#pragma once

#include <cstdint>
#include <string>

#include "platform/handles.h"

namespace platform {

inline constexpr std::uint16_t eventlog_error_type = 0x1;

// RegisterEventSourceW(nullptr, source): the handle the events of `source` are reported
// through on this machine; nullptr on failure.
handle register_event_source(const wchar_t* source);

// DeregisterEventSource.
bool deregister_event_source(handle source);

// ReportEventW(source, type, 0, event_id, nullptr, 1, 0, &text, nullptr): one event with no
// category, no user and no data, whose one insertion string is `text`.
bool report_event(handle source, std::uint16_t type, std::uint32_t event_id, const wchar_t* text);

// --- Registry ----------------------------------------------------------------------
// The registry calls return their error rather than set it: these return false (nullptr)
// on failure and leave that error as the thread's last error, as the other calls do.

inline constexpr std::uint32_t reg_sz = 1;
inline constexpr std::uint32_t reg_expand_sz = 2;
inline constexpr std::uint32_t reg_dword = 4;

// RegCreateKeyExW(HKEY_LOCAL_MACHINE, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE,
// KEY_SET_VALUE, nullptr, &key, nullptr): the key, created with any missing key above it,
// or opened when it exists; nullptr on failure.
handle create_machine_registry_key(const wchar_t* subkey);

// RegSetValueExW(key, name, 0, type, ...) of a text (REG_SZ or REG_EXPAND_SZ), stored with
// its terminator.
bool set_registry_text(handle key, const wchar_t* name, std::uint32_t type, const wchar_t* text);

// RegSetValueExW(key, name, 0, REG_DWORD, ...).
bool set_registry_number(handle key, const wchar_t* name, std::uint32_t number);

// RegDeleteKeyW(HKEY_LOCAL_MACHINE, subkey): a key without subkeys, with its values.
bool delete_machine_registry_key(const wchar_t* subkey);

// RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey, 0, KEY_QUERY_VALUE, &key): an existing key, for
// reading its values; nullptr on failure (2 when there is no such key).
handle open_machine_registry_key(const wchar_t* subkey);

// RegQueryValueExW(key, name, ...), with a buffer as large as the value: its type and, for
// a text (REG_SZ, REG_EXPAND_SZ, not expanded), the text without its terminator, for a
// REG_DWORD the number. False on failure (2 when there is no such value).
struct registry_reading {
    std::uint32_t type = 0;
    std::wstring text;
    std::uint32_t number = 0;
};
bool query_registry_value(handle key, const wchar_t* name, registry_reading& value);

// RegCloseKey.
bool close_registry_key(handle key);

}  // namespace platform
