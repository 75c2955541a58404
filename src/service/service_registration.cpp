#include "logging/caught_exception.h"
#include "logging/log_windows_error.h"
#include "logging/process_log.h"
#include "logging/service_configuration.h"
#include "platform/unique_handle.h"
#include "service/service_name.h"
#include "service/service_operations.h"

namespace service {

std::uint32_t install_service() {
    constexpr const wchar_t* tag = L"install_service";
    logging::log_debug(tag, L"enter");
    try {
        logging::log_info(tag, L"installing service ...");
        const platform::service_handle_guard manager(
            platform::open_sc_manager(platform::sc_manager_create_service));
        if (!manager) {
            return logging::log_last_error(tag, L"OpenSCManager returned an error.");
        }
        const std::wstring executable = logging::get_module_path();
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
            return logging::log_last_error(tag, L"CreateService returned an error.");
        }
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
        platform::service_handle_guard manager(
            platform::open_sc_manager(platform::sc_manager_connect));
        if (!manager) {
            return logging::log_last_error(tag, L"OpenSCManager returned an error.");
        }
        {
            const platform::service_handle_guard service(
                platform::open_service(manager.get(), service_name,
                                       platform::delete_access | platform::service_query_status));
            platform::service_status status;
            // A service that runs, or is on its way to or from running, is left alone.
            if (service && platform::query_service_status(service.get(), status) &&
                status.current_state == platform::service_stopped) {
                if (!platform::delete_service(service.get())) {
                    return logging::log_last_error(tag, L"DeleteService returned an error.");
                }
                logging::log_debug(tag, L"service registry entries deleted succesfully.");
                logging::log_debug(tag, L"exit");
                return 0;
            }
        }
        manager.reset();
        logging::log_info(tag, L"service uninstalled succesfully.");
        logging::log_debug(tag, L"exit");
        return 0;
    } catch (...) {
        logging::log_caught_exception(tag);
        return platform::error_app_init_failure;
    }
}

}  // namespace service
