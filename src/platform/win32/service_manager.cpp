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

// The dispatcher calls ServiceMain and the control handler as WINAPI functions with DWORD
// arguments and no parameter of the caller's, which the portable function types are not,
// so Windows is given the two entries below and they call the functions stored here. A
// process runs one service (its table has one entry and its ServiceMain registers one
// handler), so one slot for each is enough. The handler runs on the dispatcher's thread
// while it was registered on ServiceMain's, hence the atomics.
std::atomic<service_main_function> stored_main{nullptr};
std::atomic<service_handler_function> stored_handler{nullptr};

void WINAPI service_main_entry(DWORD argument_count, LPWSTR* arguments) {
    if (const service_main_function run = stored_main.load(); run != nullptr) {
        run(argument_count, arguments);
    }
}

void WINAPI service_handler_entry(DWORD control) {
    if (const service_handler_function handler = stored_handler.load(); handler != nullptr) {
        handler(control);
    }
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

handle register_service_ctrl_handler(const wchar_t* name, service_handler_function handler) {
    // Stored first: the manager may send a control as soon as the handler is registered.
    stored_handler.store(handler);
    return ::RegisterServiceCtrlHandlerW(name, service_handler_entry);
}

bool set_service_status(handle status_handle, const service_status& status) {
    SERVICE_STATUS system_status = win32::to_system(status);
    return ::SetServiceStatus(static_cast<SERVICE_STATUS_HANDLE>(status_handle), &system_status) !=
           0;
}

}  // namespace platform
