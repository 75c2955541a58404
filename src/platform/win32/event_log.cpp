// The Application event log and the registry values that name an event source's messages.
#include <windows.h>

#include <cwchar>

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

bool close_registry_key(handle key) {
    return succeeded(::RegCloseKey(static_cast<HKEY>(key)));
}

}  // namespace platform
