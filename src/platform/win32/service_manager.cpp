// The Service Control Manager: registering and removing the service, its status, and
// serving the manager's requests while it runs.
#include <windows.h>

#include <atomic>
#include <vector>

#include "platform/services.h"
#include "platform/win32/service_status_conversion.h"

namespace platform {

namespace {

// The manager's handles are distinct pointer types in the Windows headers; above this
// layer every handle is the one opaque type.
SC_HANDLE manager_handle(handle object) {
    return static_cast<SC_HANDLE>(object);
}

// The dispatcher calls ServiceMain as a WINAPI function with DWORD arguments and no
// parameter of the caller's, which the portable function type is not, so Windows is given
// the entry below and it calls the function stored here. A process runs one service (its
// table has one entry), so one slot is enough; the atomic because ServiceMain runs on a
// thread of the dispatcher's.
std::atomic<service_main_function> stored_main{nullptr};

void WINAPI service_main_entry(DWORD argument_count, LPWSTR* arguments) {
    if (const service_main_function run = stored_main.load(); run != nullptr) {
        run(argument_count, arguments);
    }
}

// The control handler gets its target back as the context it was registered with.
DWORD WINAPI service_handler_entry(DWORD control, DWORD /*event_type*/, LPVOID /*event_data*/,
                                   LPVOID context) {
    const auto* target = static_cast<const service_control_target*>(context);
    return target->handler(control, target->context);
}

}  // namespace

handle open_sc_manager(std::uint32_t access) {
    return ::OpenSCManagerW(nullptr, nullptr, access);
}

handle create_service(handle manager, const wchar_t* name, const wchar_t* display_name,
                      std::uint32_t access, std::uint32_t service_type, std::uint32_t start_type,
                      std::uint32_t error_control, const wchar_t* binary_path) {
    return ::CreateServiceW(manager_handle(manager), name, display_name, access, service_type,
                            start_type, error_control, binary_path, nullptr, nullptr, nullptr,
                            nullptr, nullptr);
}

handle open_service(handle manager, const wchar_t* name, std::uint32_t access) {
    return ::OpenServiceW(manager_handle(manager), name, access);
}

bool query_service_status(handle service, service_status& status) {
    SERVICE_STATUS system_status{};
    if (::QueryServiceStatus(manager_handle(service), &system_status) == 0) {
        return false;
    }
    status = win32::to_portable(system_status);
    return true;
}

bool delete_service(handle service) {
    return ::DeleteService(manager_handle(service)) != 0;
}

namespace {

// The QueryServiceConfig calls fail with ERROR_INSUFFICIENT_BUFFER and say how many bytes
// they need; DWORD-aligned, as the structures they fill are.
template <typename Query>
bool query_into(std::vector<DWORD>& buffer, const Query& query) {
    DWORD needed = 0;
    buffer.assign(64, 0);
    for (;;) {
        const auto bytes = static_cast<DWORD>(buffer.size() * sizeof(DWORD));
        if (query(reinterpret_cast<BYTE*>(buffer.data()), bytes, &needed)) {
            return true;
        }
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed <= bytes) {
            return false;
        }
        buffer.assign(needed / sizeof(DWORD) + 1, 0);
    }
}

bool query_config2(handle service, DWORD level, std::vector<DWORD>& buffer) {
    return query_into(buffer, [&](BYTE* bytes, DWORD size, DWORD* needed) {
        return ::QueryServiceConfig2W(manager_handle(service), level, bytes, size, needed) != 0;
    });
}

std::wstring text_of(const wchar_t* text) {
    return text != nullptr ? std::wstring(text) : std::wstring();
}

}  // namespace

bool query_service_config(handle service, service_config& config) {
    std::vector<DWORD> buffer;
    if (!query_into(buffer, [&](BYTE* bytes, DWORD size, DWORD* needed) {
            return ::QueryServiceConfigW(manager_handle(service),
                                         reinterpret_cast<QUERY_SERVICE_CONFIGW*>(bytes), size,
                                         needed) != 0;
        })) {
        return false;
    }
    const auto& found = *reinterpret_cast<const QUERY_SERVICE_CONFIGW*>(buffer.data());
    config.service_type = found.dwServiceType;
    config.start_type = found.dwStartType;
    config.binary_path = text_of(found.lpBinaryPathName);
    config.account = text_of(found.lpServiceStartName);
    return true;
}

bool query_service_description(handle service, std::wstring& description) {
    std::vector<DWORD> buffer;
    if (!query_config2(service, SERVICE_CONFIG_DESCRIPTION, buffer)) {
        return false;
    }
    description =
        text_of(reinterpret_cast<const SERVICE_DESCRIPTIONW*>(buffer.data())->lpDescription);
    return true;
}

bool query_service_failure_actions(handle service, std::uint32_t& reset_period_s,
                                   std::vector<sc_action>& actions) {
    std::vector<DWORD> buffer;
    if (!query_config2(service, SERVICE_CONFIG_FAILURE_ACTIONS, buffer)) {
        return false;
    }
    const auto& found = *reinterpret_cast<const SERVICE_FAILURE_ACTIONSW*>(buffer.data());
    reset_period_s = found.dwResetPeriod;
    actions.clear();
    for (DWORD i = 0; i < found.cActions && found.lpsaActions != nullptr; ++i) {
        actions.push_back(
            {static_cast<std::uint32_t>(found.lpsaActions[i].Type), found.lpsaActions[i].Delay});
    }
    return true;
}

bool query_service_failure_actions_flag(handle service, bool& on_non_crash_failures) {
    std::vector<DWORD> buffer;
    if (!query_config2(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, buffer)) {
        return false;
    }
    on_non_crash_failures = reinterpret_cast<const SERVICE_FAILURE_ACTIONS_FLAG*>(buffer.data())
                                ->fFailureActionsOnNonCrashFailures != FALSE;
    return true;
}

bool change_service_description(handle service, const wchar_t* description) {
    // The structure's field is not const in the headers; the call only reads it.
    SERVICE_DESCRIPTIONW text{const_cast<wchar_t*>(description)};
    return ::ChangeServiceConfig2W(manager_handle(service), SERVICE_CONFIG_DESCRIPTION, &text) != 0;
}

bool change_service_failure_actions(handle service, std::uint32_t reset_period_s,
                                    const sc_action* actions, std::uint32_t count) {
    std::vector<SC_ACTION> system_actions(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        system_actions[i].Type = static_cast<SC_ACTION_TYPE>(actions[i].type);
        system_actions[i].Delay = actions[i].delay_ms;
    }
    SERVICE_FAILURE_ACTIONSW failure_actions{};
    failure_actions.dwResetPeriod = reset_period_s;
    failure_actions.cActions = count;
    failure_actions.lpsaActions = system_actions.data();
    return ::ChangeServiceConfig2W(manager_handle(service), SERVICE_CONFIG_FAILURE_ACTIONS,
                                   &failure_actions) != 0;
}

bool change_service_failure_actions_flag(handle service, bool on_non_crash_failures) {
    SERVICE_FAILURE_ACTIONS_FLAG flag{};
    flag.fFailureActionsOnNonCrashFailures = on_non_crash_failures ? TRUE : FALSE;
    return ::ChangeServiceConfig2W(manager_handle(service), SERVICE_CONFIG_FAILURE_ACTIONS_FLAG,
                                   &flag) != 0;
}

bool close_service_handle(handle manager_or_service) {
    return ::CloseServiceHandle(manager_handle(manager_or_service)) != 0;
}

bool start_service_ctrl_dispatcher(const wchar_t* name, service_main_function main) {
    stored_main.store(main);
    // The table's name field is not const in the headers, but the dispatcher only reads
    // it; a null entry ends the table.
    const SERVICE_TABLE_ENTRYW table[] = {
        {const_cast<wchar_t*>(name), service_main_entry},
        {nullptr, nullptr},
    };
    return ::StartServiceCtrlDispatcherW(table) != 0;
}

handle register_service_ctrl_handler_ex(const wchar_t* name, const service_control_target& target) {
    // The manager only reads through the context; the handler gets it back as it was.
    return ::RegisterServiceCtrlHandlerExW(name, service_handler_entry,
                                           const_cast<service_control_target*>(&target));
}

bool set_service_status(handle status_handle, const service_status& status) {
    SERVICE_STATUS system_status = win32::to_system(status);
    return ::SetServiceStatus(static_cast<SERVICE_STATUS_HANDLE>(status_handle), &system_status) !=
           0;
}

}  // namespace platform
