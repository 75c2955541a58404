// Starting another program.
#include <windows.h>

#include "platform/processes.h"

namespace platform {

bool create_process(wchar_t* command_line, bool inherit_handles, std::uint32_t creation_flags,
                    const startup_info& startup, process_information& created) {
    STARTUPINFOW startup_block{};
    startup_block.cb = sizeof(startup_block);
    startup_block.dwFlags = startup.flags;
    startup_block.wShowWindow = startup.show_window;
    PROCESS_INFORMATION result{};
    // No application name: the program is the command line's first token, so that the
    // child's argv[0] is the path as the command line spells it.
    if (::CreateProcessW(nullptr, command_line, nullptr, nullptr, inherit_handles ? TRUE : FALSE,
                         creation_flags, nullptr, nullptr, &startup_block, &result) == 0) {
        return false;
    }
    created.process = result.hProcess;
    created.thread = result.hThread;
    created.process_id = result.dwProcessId;
    created.thread_id = result.dwThreadId;
    return true;
}

}  // namespace platform
