// Kernel object handles: closing and waiting.
#include <windows.h>

#include "platform/handles.h"
#include "platform/threads_and_events.h"

namespace platform {

handle invalid_handle_value() {
    return INVALID_HANDLE_VALUE;
}

bool close_handle(handle object) {
    return ::CloseHandle(object) != 0;
}

std::uint32_t wait_for_single_object(handle object, std::uint32_t milliseconds) {
    return ::WaitForSingleObject(object, milliseconds);
}

}  // namespace platform
