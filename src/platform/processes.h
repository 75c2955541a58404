// Creating, finding, inspecting and ending processes.
// Part of the seam to Windows; platform/handles.h says how its calls behave.
#pragma once

#include <cstdint>

#include "platform/handles.h"

namespace platform {

inline constexpr std::uint32_t process_all_access = 0x1FFFFF;

// The part of STARTUPINFOW the system sets; every other field is zero.
inline constexpr std::uint32_t startf_useshowwindow = 0x1;
inline constexpr std::uint16_t sw_hide = 0;
struct startup_info {
    std::uint32_t flags = 0;
    std::uint16_t show_window = 0;
};

// PROCESS_INFORMATION.
struct process_information {
    handle process = nullptr;
    handle thread = nullptr;
    std::uint32_t process_id = 0;
    std::uint32_t thread_id = 0;
};

// CreateProcessW(nullptr, command_line, nullptr, nullptr, inherit_handles,
// creation_flags, nullptr, nullptr, startup, created): the program is the first token
// of `command_line`, a writable terminated buffer that the call may change; the
// environment and the current directory are the caller's. On success `created` holds
// the new process's and primary thread's handles, which the caller must close.
bool create_process(wchar_t* command_line, bool inherit_handles, std::uint32_t creation_flags,
                    const startup_info& startup, process_information& created);

// K32EnumProcesses: fills `ids` (of `bytes` bytes) with process identifiers and
// `bytes_returned` with the number of bytes filled in. A buffer too small for every
// process is filled and the call succeeds: `bytes_returned` equal to `bytes` is the only
// sign that more processes run.
bool enum_processes(std::uint32_t* ids, std::uint32_t bytes, std::uint32_t* bytes_returned);

// OpenProcess: a handle to process `id`, or nullptr.
handle open_process(std::uint32_t access, bool inherit_handle, std::uint32_t id);

// K32GetProcessImageFileNameW: the image path in device form
// (\Device\HarddiskVolume1\...). Returns the number of characters stored; 0 on failure,
// also when the path does not fit `size` characters with its terminator.
std::uint32_t get_process_image_file_name(handle process, wchar_t* buffer, std::uint32_t size);

// GetCurrentProcessId: the identifier of the calling process.
std::uint32_t get_current_process_id();

// GetExitCodeProcess: still_active while the process runs.
bool get_exit_code_process(handle process, std::uint32_t* exit_code);

// TerminateProcess.
bool terminate_process(handle process, std::uint32_t exit_code);

}  // namespace platform
