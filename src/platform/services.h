// The Service Control Manager: registering a service, and serving as one.
// Part of the seam to Windows; platform/handles.h says how its calls behave.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/handles.h"

namespace platform {

// SERVICE_STATUS.
struct service_status {
    std::uint32_t service_type = 0;
    std::uint32_t current_state = 0;
    std::uint32_t controls_accepted = 0;
    std::uint32_t win32_exit_code = 0;
    std::uint32_t service_specific_exit_code = 0;
    std::uint32_t check_point = 0;
    std::uint32_t wait_hint = 0;
};

inline constexpr std::uint32_t service_win32_own_process = 0x10;
inline constexpr std::uint32_t service_auto_start = 2;
inline constexpr std::uint32_t service_error_ignore = 0;
inline constexpr std::uint32_t service_stopped = 1;
inline constexpr std::uint32_t service_start_pending = 2;
inline constexpr std::uint32_t service_stop_pending = 3;
inline constexpr std::uint32_t service_running = 4;
inline constexpr std::uint32_t service_continue_pending = 5;
inline constexpr std::uint32_t service_pause_pending = 6;
inline constexpr std::uint32_t service_paused = 7;
inline constexpr std::uint32_t service_accept_stop = 1;
inline constexpr std::uint32_t service_accept_shutdown = 4;
inline constexpr std::uint32_t service_control_stop = 1;
inline constexpr std::uint32_t service_control_pause = 2;
inline constexpr std::uint32_t service_control_continue = 3;
inline constexpr std::uint32_t service_control_interrogate = 4;
inline constexpr std::uint32_t service_control_shutdown = 5;
inline constexpr std::uint32_t sc_manager_connect = 0x1;
inline constexpr std::uint32_t sc_manager_create_service = 0x2;
inline constexpr std::uint32_t service_all_access = 0xF01FF;
inline constexpr std::uint32_t service_start = 0x10;
inline constexpr std::uint32_t service_query_status = 0x4;
inline constexpr std::uint32_t service_query_config = 0x1;
inline constexpr std::uint32_t service_demand_start = 3;
// ERROR_SERVICE_DOES_NOT_EXIST, and ERROR_SERVICE_NEVER_STARTED: the exit code the
// manager shows for a service that has not run since it was registered.
inline constexpr std::uint32_t error_service_does_not_exist = 1060;
inline constexpr std::uint32_t error_service_never_started = 1077;

// OpenSCManagerW(nullptr, nullptr, access): the local manager's default database;
// nullptr on failure.
handle open_sc_manager(std::uint32_t access);

// CreateServiceW(manager, name, display_name, access, service_type, start_type,
// error_control, binary_path, nullptr, nullptr, nullptr, nullptr, nullptr): no load
// order group, tag, dependencies, account (the local system account) or password;
// nullptr on failure.
handle create_service(handle manager, const wchar_t* name, const wchar_t* display_name,
                      std::uint32_t access, std::uint32_t service_type, std::uint32_t start_type,
                      std::uint32_t error_control, const wchar_t* binary_path);

// OpenServiceW: nullptr on failure.
handle open_service(handle manager, const wchar_t* name, std::uint32_t access);

// QueryServiceStatus.
bool query_service_status(handle service, service_status& status);

// DeleteService.
bool delete_service(handle service);

// The part of QUERY_SERVICE_CONFIGW the installation is judged by.
struct service_config {
    std::uint32_t service_type = 0;
    std::uint32_t start_type = 0;
    std::wstring binary_path;
    // lpServiceStartName: the account, "LocalSystem" for the local system account.
    std::wstring account;
};

// QueryServiceConfigW, with a buffer as large as the call asks for. Needs
// service_query_config.
bool query_service_config(handle service, service_config& config);

// QueryServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, ...): empty when none is set.
// Needs service_query_config.
bool query_service_description(handle service, std::wstring& description);

// ChangeServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, {description}): the text the
// Services console shows.
bool change_service_description(handle service, const wchar_t* description);

// SC_ACTION: what the manager does at a failure of the service, after `delay_ms`.
inline constexpr std::uint32_t sc_action_restart = 1;
struct sc_action {
    std::uint32_t type = 0;
    std::uint32_t delay_ms = 0;
};

// ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, {reset_period_s, no reboot
// message, no command, count, actions}): the n-th failure in a row runs the n-th action,
// every later one the last; the count goes back to 0 after `reset_period_s` seconds
// without a failure. A restart action needs a handle with service_start.
bool change_service_failure_actions(handle service, std::uint32_t reset_period_s,
                                    const sc_action* actions, std::uint32_t count);

// QueryServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, ...): the reset period and
// the actions, none when none are set. A platform that keeps no failure actions fails
// (Wine: 124, ERROR_INVALID_LEVEL). Needs service_query_config.
bool query_service_failure_actions(handle service, std::uint32_t& reset_period_s,
                                   std::vector<sc_action>& actions);

// QueryServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, ...). Needs
// service_query_config.
bool query_service_failure_actions_flag(handle service, bool& on_non_crash_failures);

// ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, {on_non_crash}): with
// true the failure actions also run when the service reports itself stopped with a
// non-zero exit code, not only when its process ends without reporting.
bool change_service_failure_actions_flag(handle service, bool on_non_crash_failures);

// CloseServiceHandle, for manager and service handles.
bool close_service_handle(handle manager_or_service);

// The service main function, as the dispatcher calls it.
using service_main_function = void (*)(std::uint32_t argument_count, wchar_t** arguments);

// The control handler, called with the context it was registered with; returns NO_ERROR,
// or ERROR_CALL_NOT_IMPLEMENTED for a control it does not handle.
using service_handler_function = std::uint32_t (*)(std::uint32_t control, void* context);
struct service_control_target {
    service_handler_function handler = nullptr;
    void* context = nullptr;
};
inline constexpr std::uint32_t no_error = 0;
inline constexpr std::uint32_t error_call_not_implemented = 120;
// ERROR_SERVICE_ALREADY_RUNNING: "An instance of the service is already running."
inline constexpr std::uint32_t error_service_already_running = 1056;

// StartServiceCtrlDispatcherW with a table of one service, `name` run by `main`: the
// calling thread serves the Service Control Manager until the service has stopped,
// runs `main` on a thread of its own and calls the service's control handler itself.
// False when the process could not connect (it was not started as a service).
bool start_service_ctrl_dispatcher(const wchar_t* name, service_main_function main);

// RegisterServiceCtrlHandlerExW: the status handle, or nullptr on failure. The dispatcher
// calls target.handler with target.context for each control; `target` must outlive the
// service's run.
handle register_service_ctrl_handler_ex(const wchar_t* name, const service_control_target& target);

// SetServiceStatus.
bool set_service_status(handle status_handle, const service_status& status);

}  // namespace platform
