// What the benchmarks read about this process, and the stop control they time.
#include <windows.h>
// psapi.h needs the types of windows.h, so it must come after it.
#include <psapi.h>

#include <cstdint>
#include <vector>

#include "measuring.h"
#include "platform/win32/service_status_conversion.h"

namespace platform {

bool delete_file(const wchar_t* path) {
    return ::DeleteFileW(path) != 0;
}

bool remove_directory(const wchar_t* path) {
    return ::RemoveDirectoryW(path) != 0;
}

bool control_service(handle service, std::uint32_t control, service_status& status) {
    SERVICE_STATUS system_status{};
    const BOOL sent = ::ControlService(static_cast<SC_HANDLE>(service), control, &system_status);
    status = win32::to_portable(system_status);
    return sent != 0;
}

bool get_own_handle_count(std::uint32_t* count) {
    DWORD handles = 0;
    if (::GetProcessHandleCount(::GetCurrentProcess(), &handles) == 0) {
        return false;
    }
    if (handles == 0) {
        // Wine 8 answers 0 whatever the process holds. Handle values are small multiples
        // of four, and GetHandleInformation accepts exactly the open ones.
        constexpr std::uintptr_t highest_value = 1u << 20;
        for (std::uintptr_t value = 4; value < highest_value; value += 4) {
            DWORD flags = 0;
            if (::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) != 0) {
                ++handles;
            }
        }
        ::SetLastError(ERROR_SUCCESS);
    }
    *count = handles;
    return true;
}

bool get_own_private_bytes(std::uint64_t* bytes) {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    // The extended block is accepted through the basic type's pointer; its size says which.
    if (::GetProcessMemoryInfo(::GetCurrentProcess(),
                               reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                               sizeof counters) == 0) {
        return false;
    }
    // Windows gives PagefileUsage the same value; Wine 8 fills only that one (with the
    // process's resident anonymous memory) and leaves PrivateUsage 0.
    *bytes = counters.PrivateUsage != 0 ? counters.PrivateUsage : counters.PagefileUsage;
    return true;
}

bool get_own_heap_bytes_in_use(std::uint64_t* bytes) {
    std::vector<HANDLE> heaps(64);
    for (;;) {
        const DWORD count = ::GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data());
        if (count == 0) {
            return false;
        }
        if (count <= heaps.size()) {
            heaps.resize(count);
            break;
        }
        heaps.resize(count);
    }
    std::uint64_t in_use = 0;
    for (const HANDLE heap : heaps) {
        PROCESS_HEAP_ENTRY entry{};
        while (::HeapWalk(heap, &entry) != 0) {
            if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0) {
                in_use += entry.cbData;
            }
        }
        if (::GetLastError() != ERROR_NO_MORE_ITEMS) {
            return false;
        }
    }
    *bytes = in_use;
    return true;
}

}  // namespace platform
