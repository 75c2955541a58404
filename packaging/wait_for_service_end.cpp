// Run by the Windows Installer package after it has asked the service to stop and before
// it deletes the registration and the files. Wine's installer sends the stop control and
// goes on at once, and on Windows the process still runs for a moment after it reports
// itself stopped: a file the process still holds (the executable, the log) would then
// be left behind, on Wine for good. So this waits, within limits, until the service
// reports STOPPED and no process of the service's executable runs any more.
//
// The exit code is always 0: a service that will not stop must not make the package
// impossible to remove; Windows Installer then deals with the files in use itself.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/processes.h"
#include "platform/services.h"
#include "platform/text.h"
#include "platform/threads_and_events.h"
#include "platform/unique_handle.h"
#include "service/service_name.h"

namespace {

constexpr std::uint32_t poll_milliseconds = 200;
// Longer than the service's own stop takes (it ends the agent and both plugins first).
constexpr std::uint32_t stop_limit_milliseconds = 60000;
constexpr std::uint32_t end_limit_milliseconds = 30000;
// SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION: enough to read the image and wait;
// no more is asked of processes that are not the service's.
constexpr std::uint32_t wait_and_query_access = 0x00100000 | 0x1000;
constexpr const wchar_t* executable_name = L"quillmark_snaptel.exe";
constexpr std::uint32_t longest_path = 32768;

// False when the service is not registered: then no process of it is left to wait for.
bool wait_until_stopped() {
    const platform::service_handle_guard manager(
        platform::open_sc_manager(platform::sc_manager_connect));
    if (!manager) {
        return false;
    }
    const platform::service_handle_guard service(platform::open_service(
        manager.get(), service::service_name, platform::service_query_status));
    if (!service) {
        return false;
    }
    for (std::uint32_t waited = 0; waited < stop_limit_milliseconds; waited += poll_milliseconds) {
        platform::service_status status;
        if (!platform::query_service_status(service.get(), status) ||
            status.current_state == platform::service_stopped) {
            break;
        }
        platform::sleep(poll_milliseconds);
    }
    return true;
}

// Image paths come in device form; only the file name tells the executable apart.
bool is_service_executable(const std::wstring& image) {
    const auto separator = image.find_last_of(L'\\');
    const std::wstring name = separator == std::wstring::npos ? image : image.substr(separator + 1);
    return platform::compare_string_ignore_case(name.c_str(), executable_name) == 0;
}

std::vector<std::uint32_t> process_ids() {
    std::vector<std::uint32_t> ids(1024);
    for (;;) {
        const auto bytes = static_cast<std::uint32_t>(ids.size() * sizeof(std::uint32_t));
        std::uint32_t filled = 0;
        if (!platform::enum_processes(ids.data(), bytes, &filled)) {
            return {};
        }
        // A full buffer is the only sign that the list was cut short.
        if (filled < bytes) {
            ids.resize(filled / sizeof(std::uint32_t));
            return ids;
        }
        ids.resize(ids.size() * 2);
    }
}

void wait_until_ended() {
    std::vector<platform::unique_handle> running;
    std::vector<wchar_t> image(longest_path);
    for (const std::uint32_t id : process_ids()) {
        platform::unique_handle process(platform::open_process(wait_and_query_access, false, id));
        if (!process) {
            continue;
        }
        const std::uint32_t length = platform::get_process_image_file_name(
            process.get(), image.data(), static_cast<std::uint32_t>(image.size()));
        if (length != 0 && is_service_executable(std::wstring(image.data(), length))) {
            running.push_back(std::move(process));
        }
    }
    std::uint32_t left = end_limit_milliseconds;
    for (const auto& process : running) {
        while (left > 0 && platform::wait_for_single_object(process.get(), poll_milliseconds) ==
                               platform::wait_timeout) {
            left = left > poll_milliseconds ? left - poll_milliseconds : 0;
        }
    }
}

}  // namespace

int main() {
    try {
        if (wait_until_stopped()) {
            wait_until_ended();
        }
    } catch (...) {
        // Out of memory: the removal goes on without the wait.
    }
    return 0;
}
