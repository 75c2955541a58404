#include "process/process_child.h"

#include "logging/diagnostic_log.h"
#include "logging/system_text.h"

namespace process {
namespace {

// The system's text for a failure, to the debugger and as a debug line of its own.
void log_system_text(platform::error_code error) {
    const std::wstring text = logging::system_text(error);
    platform::output_debug_string(text.c_str());
    logging::log_debug(text);
}

void log_exit_code_failure(const wchar_t* tag, platform::handle process,
                           platform::error_code error) {
    logging::log_debug(tag, L"GetExitCodeProcess has failed for handle", process);
    log_system_text(error);
}

}  // namespace

bool process_child::is_running() const {
    std::uint32_t exit_code = 0;
    if (!platform::get_exit_code_process(handle(), &exit_code)) {
        log_exit_code_failure(L"process_child::is_running", handle(), platform::get_last_error());
        return false;
    }
    return exit_code == platform::still_active;
}

bool process_child::terminate() const {
    if (!is_running()) {
        return true;
    }
    if (!platform::terminate_process(handle(), 0)) {
        log_system_text(platform::get_last_error());
        return false;
    }
    // Termination may still be under way; this only looks.
    if (platform::wait_for_single_object(handle(), 0) != platform::wait_object_0) {
        return false;
    }
    std::uint32_t exit_code = 0;
    if (!platform::get_exit_code_process(handle(), &exit_code)) {
        log_exit_code_failure(L"process_child::terminate", handle(), platform::get_last_error());
        return true;
    }
    logging::log_debug(L"process_child::terminate", L"process has exited with code", exit_code);
    return true;
}

void terminate_all(const process_list& processes) {
    for (const auto& process : processes) {
        if (process->is_running()) {
            process->terminate();
        }
    }
}

}  // namespace process
