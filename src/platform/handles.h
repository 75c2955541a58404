// The seam to Windows: every Windows operation the service uses, declared with portable
// types, one header per concept (errors, text, clock, threads and events, processes,
// services, settings, files, file handles, the event log); this one holds the handle
// every call passes.
//
// Each function has the shape and the results of the Win32 call it stands for (named in
// its comment): a failure is reported by the same result value and leaves the calling
// thread's last-error code set, as the real call does. Two backends define them: `win32/`
// passes straight to the API, and the tests' simulated machine (tests/sim) stands in for
// Windows in native builds. Every function may be called from any thread. Product code
// blocks only through the seam's waits, so that the simulated machine sees every thread
// that waits.
#pragma once

#include <cstdint>

namespace platform {

// An operating-system handle (HANDLE), opaque above this layer.
using handle = void*;

// INVALID_HANDLE_VALUE.
handle invalid_handle_value();

// CloseHandle.
bool close_handle(handle object);

// DELETE: the right to delete an entry or a service.
inline constexpr std::uint32_t delete_access = 0x10000;

}  // namespace platform
