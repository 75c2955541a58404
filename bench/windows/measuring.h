// What the benchmarks read about their own process, and the stop control they time. Only
// the programs of bench/windows use these, so they stand outside the service's seam; they
// call Windows directly (measuring.cpp), as the seam's Windows backend does.
#pragma once

#include <cstdint>

#include "platform/handles.h"
#include "platform/services.h"

namespace platform {

// DeleteFileW and RemoveDirectoryW: the bare walk the clean-up's speed is measured against.
bool delete_file(const wchar_t* path);
bool remove_directory(const wchar_t* path);

// SERVICE_STOP: the right to send a service the stop control.
inline constexpr std::uint32_t service_stop = 0x20;

// ControlService: sends `control` and fills `status` with the service's last reported
// status. Under Wine and on Windows the call returns once the service's control handler
// has returned.
bool control_service(handle service, std::uint32_t control, service_status& status);

// GetProcessHandleCount(GetCurrentProcess()): the handles this process holds open. Where
// the system answers 0 (Wine), the handle values GetHandleInformation accepts are counted.
bool get_own_handle_count(std::uint32_t* count);

// GetProcessMemoryInfo(GetCurrentProcess()) with PROCESS_MEMORY_COUNTERS_EX: PrivateUsage,
// the bytes of memory committed to this process alone; PagefileUsage where the system
// leaves PrivateUsage 0 (Wine).
bool get_own_private_bytes(std::uint64_t* bytes);

// GetProcessHeaps and HeapWalk: the bytes of the blocks in use on every heap of this
// process, whatever pages the heaps keep besides. The caller runs alone meanwhile.
bool get_own_heap_bytes_in_use(std::uint64_t* bytes);

}  // namespace platform
