// The Application event log and the registry values that name an event source's messages.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <vector>

#include "platform/event_log.h"
#include "platform/handles.h"

namespace platform {

handle register_event_source(const wchar_t* source) {
    return ::RegisterEventSourceW(nullptr, source);
}

bool deregister_event_source(handle source) {
    return ::DeregisterEventSource(source) != 0;
}

bool report_event(handle source, std::uint16_t type, std::uint32_t event_id, const wchar_t* text) {
    LPCWSTR strings[] = {text};
    return ::ReportEventW(source, type, 0, event_id, nullptr, 1, 0, strings, nullptr) != 0;
}

namespace {

// The registry calls return their error: it becomes the thread's last error, which is
// where every other failed call leaves it.
bool succeeded(LSTATUS result) {
    if (result != ERROR_SUCCESS) {
        ::SetLastError(static_cast<DWORD>(result));
        return false;
    }
    return true;
}

}  // namespace

handle create_machine_registry_key(const wchar_t* subkey) {
    HKEY key = nullptr;
    if (!succeeded(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, subkey, 0, nullptr,
                                     REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &key,
                                     nullptr))) {
        return nullptr;
    }
    return key;
}

bool set_registry_text(handle key, const wchar_t* name, std::uint32_t type, const wchar_t* text) {
    const auto bytes = static_cast<DWORD>((std::wcslen(text) + 1) * sizeof(wchar_t));
    return succeeded(::RegSetValueExW(static_cast<HKEY>(key), name, 0, type,
                                      reinterpret_cast<const BYTE*>(text), bytes));
}

bool set_registry_number(handle key, const wchar_t* name, std::uint32_t number) {
    const DWORD value = number;
    return succeeded(::RegSetValueExW(static_cast<HKEY>(key), name, 0, REG_DWORD,
                                      reinterpret_cast<const BYTE*>(&value), sizeof value));
}

bool delete_machine_registry_key(const wchar_t* subkey) {
    return succeeded(::RegDeleteKeyW(HKEY_LOCAL_MACHINE, subkey));
}

handle open_machine_registry_key(const wchar_t* subkey) {
    HKEY key = nullptr;
    if (!succeeded(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey, 0, KEY_QUERY_VALUE, &key))) {
        return nullptr;
    }
    return key;
}

bool query_registry_value(handle key, const wchar_t* name, registry_reading& value) {
    DWORD type = 0;
    DWORD size = 0;
    if (!succeeded(
            ::RegQueryValueExW(static_cast<HKEY>(key), name, nullptr, &type, nullptr, &size))) {
        return false;
    }
    // Room for a terminator the stored text may lack; the value may grow meanwhile.
    std::vector<BYTE> bytes;
    LSTATUS result = ERROR_MORE_DATA;
    while (result == ERROR_MORE_DATA) {
        bytes.resize(size + 2 * sizeof(wchar_t));
        size = static_cast<DWORD>(bytes.size());
        result =
            ::RegQueryValueExW(static_cast<HKEY>(key), name, nullptr, &type, bytes.data(), &size);
    }
    if (!succeeded(result)) {
        return false;
    }
    value = registry_reading{};
    value.type = type;
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
        value.text.assign(reinterpret_cast<const wchar_t*>(bytes.data()), size / sizeof(wchar_t));
        value.text.erase(std::find(value.text.begin(), value.text.end(), L'\0'), value.text.end());
    } else if (type == REG_DWORD && size == sizeof(DWORD)) {
        std::memcpy(&value.number, bytes.data(), sizeof(DWORD));
    }
    return true;
}

bool close_registry_key(handle key) {
    return succeeded(::RegCloseKey(static_cast<HKEY>(key)));
}

}  // namespace platform
