#include "service/service_registration.h"

#include <string>

#include "logging/caught_exception.h"
#include "logging/diagnostic_log.h"
#include "logging/log_windows_error.h"
#include "platform/unique_handle.h"
#include "service/event_source_registration.h"
#include "service/manager_error.h"
#include "service/registration_facts.h"
#include "service/service_name.h"
#include "service/state_name.h"
#include "settings/settings_file.h"

namespace service {
namespace {

// The description and the failure actions of the new service. A failure is logged and
// leaves the registration as it is: the service runs all the same, only not described or
// not brought back by the manager.
void describe_and_set_recovery(platform::handle service, const wchar_t* tag) {
    if (!platform::change_service_description(service, service_description)) {
        log_manager_error(
            tag, L"ChangeServiceConfig2 returned an error. Unable to set service description.");
    }
    if (!platform::change_service_failure_actions(service, failure_count_reset_s, failure_actions,
                                                  failure_action_count)) {
        log_manager_error(
            tag, L"ChangeServiceConfig2 returned an error. Unable to set service failure actions.");
    }
    // Without it the actions follow only a crash, not a stop with an error code: a launch
    // of the agent that fails would leave the service down for good.
    if (!platform::change_service_failure_actions_flag(service, true)) {
        log_manager_error(tag,
                          L"ChangeServiceConfig2 returned an error. Unable to apply failure "
                          L"actions to non-crash failures.");
    }
}

// What the administrator reads, and the event carries, when uninstall leaves the service.
std::wstring not_stopped_text(std::uint32_t state) {
    const std::wstring name = service_name;
    return L"service is " + state_name(state) +
           L", not stopped: nothing was removed. Stop it with \"sc stop " + name +
           L"\", wait until \"sc query " + name + L"\" says STOPPED, then uninstall again.";
}

}  // namespace

std::uint32_t install_service() {
    constexpr const wchar_t* tag = L"install_service";
    logging::log_debug(tag, L"enter");
    try {
        logging::log_info(tag, L"installing service ...");
        const platform::service_handle_guard manager(
            platform::open_sc_manager(platform::sc_manager_create_service));
        if (!manager) {
            return log_manager_error(tag, L"OpenSCManager returned an error.");
        }
        const std::wstring executable = settings::get_module_path();
        if (executable.empty()) {
            return logging::log_last_error(tag, L"GetModuleFileName returned an error.");
        }
        // Quoted: under C:\Program Files an unquoted path would let the manager start
        // C:\Program.exe, as the local system account, in place of the service.
        const std::wstring binary_path = L"\"" + executable + L"\"";
        const platform::service_handle_guard service(platform::create_service(
            manager.get(), service_name, service_name, platform::service_all_access,
            platform::service_win32_own_process, platform::service_auto_start,
            platform::service_error_ignore, binary_path.c_str()));
        if (!service) {
            return log_manager_error(tag, L"CreateService returned an error.");
        }
        describe_and_set_recovery(service.get(), tag);
        register_event_source(executable, tag);
        logging::log_info(tag, L"service installed succesfully.");
        logging::log_debug(tag, L"exit");
        return 0;
    } catch (...) {
        logging::log_caught_exception(tag);
        return platform::error_app_init_failure;
    }
}

std::uint32_t uninstall_service() {
    constexpr const wchar_t* tag = L"uninstall_service";
    logging::log_debug(tag, L"enter");
    try {
        logging::log_info(tag, L"uninstalling service ...");
        const platform::service_handle_guard manager(
            platform::open_sc_manager(platform::sc_manager_connect));
        if (!manager) {
            return log_manager_error(tag, L"OpenSCManager returned an error.");
        }
        const platform::service_handle_guard service(platform::open_service(
            manager.get(), service_name, platform::delete_access | platform::service_query_status));
        if (!service) {
            return log_manager_error(tag, L"OpenService returned an error.");
        }
        platform::service_status status;
        if (!platform::query_service_status(service.get(), status)) {
            return log_manager_error(tag, L"QueryServiceStatus returned an error.");
        }
        // The manager would only mark a service that runs for deletion, and remove it at
        // its next stop, whoever stops it: a removal no one sees happen. Stopping it is the
        // administrator's decision, and the agent group stops with it.
        if (status.current_state != platform::service_stopped) {
            logging::log_error(tag, not_stopped_text(status.current_state));
            return platform::error_service_already_running;
        }
        if (!platform::delete_service(service.get())) {
            return log_manager_error(tag, L"DeleteService returned an error.");
        }
        remove_event_source(tag);
        logging::log_debug(tag, L"service registry entries deleted succesfully.");
        logging::log_info(tag, L"service uninstalled succesfully.");
        logging::log_debug(tag, L"exit");
        return 0;
    } catch (...) {
        logging::log_caught_exception(tag);
        return platform::error_app_init_failure;
    }
}

}  // namespace service
