// Finding, inspecting and ending other processes.
#include <windows.h>
// psapi.h needs the types of windows.h, so it must come after it.
#include <psapi.h>

#include <vector>

#include "platform/handles.h"
#include "platform/processes.h"

namespace platform {

// DWORD is unsigned long and std::uint32_t is unsigned int: same size, different types,
// so the results go through DWORD locals rather than a pointer cast that would break
// the aliasing rules.

bool enum_processes(std::uint32_t* ids, std::uint32_t bytes, std::uint32_t* bytes_returned) {
    std::vector<DWORD> found(bytes / sizeof(DWORD));
    DWORD filled = 0;
    const BOOL listed =
        ::K32EnumProcesses(found.data(), static_cast<DWORD>(found.size() * sizeof(DWORD)), &filled);
    if (listed != 0) {
        const std::size_t count = filled / sizeof(DWORD);
        for (std::size_t i = 0; i < count && i < found.size(); ++i) {
            ids[i] = found[i];
        }
        *bytes_returned = filled;
    }
    return listed != 0;
}

handle open_process(std::uint32_t access, bool inherit_handle, std::uint32_t id) {
    return ::OpenProcess(access, inherit_handle ? TRUE : FALSE, id);
}

std::uint32_t get_process_image_file_name(handle process, wchar_t* buffer, std::uint32_t size) {
    return ::K32GetProcessImageFileNameW(process, buffer, size);
}

std::uint32_t get_current_process_id() {
    return ::GetCurrentProcessId();
}

bool get_exit_code_process(handle process, std::uint32_t* exit_code) {
    DWORD code = 0;
    if (::GetExitCodeProcess(process, &code) == 0) {
        return false;
    }
    *exit_code = code;
    return true;
}

bool terminate_process(handle process, std::uint32_t exit_code) {
    return ::TerminateProcess(process, exit_code) != 0;
}

}  // namespace platform
