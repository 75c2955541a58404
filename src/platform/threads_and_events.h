// Threads, events, waits on objects and the lock.
// Part of the seam to Windows; platform/handles.h says how its calls behave.
#pragma once

#include <cstdint>

#include "platform/handles.h"

namespace platform {

inline constexpr std::uint32_t infinite = 0xFFFFFFFF;
inline constexpr std::uint32_t still_active = 259;
inline constexpr std::uint32_t wait_object_0 = 0;
inline constexpr std::uint32_t wait_timeout = 258;
inline constexpr std::uint32_t wait_failed = 0xFFFFFFFF;

// WaitForSingleObject on a process, a thread or an event: wait_object_0 when
// signalled, wait_timeout after the time-out (`infinite` waits for ever), wait_failed
// on failure. A wait on an auto-reset event resets it.
std::uint32_t wait_for_single_object(handle object, std::uint32_t milliseconds);

// The procedure a new thread runs; its result is the thread's exit code.
using thread_procedure = std::uint32_t (*)(void* parameter);

// CreateThread(nullptr, 0, procedure, parameter, 0, nullptr): a thread that starts
// at once; nullptr on failure.
handle create_thread(thread_procedure procedure, void* parameter);

// GetExitCodeThread: still_active while the thread runs.
bool get_exit_code_thread(handle thread, std::uint32_t* exit_code);

// CreateEventW(nullptr, manual_reset, initial_state, nullptr): an unnamed event;
// nullptr on failure.
handle create_event(bool manual_reset, bool initial_state);

// SetEvent.
bool set_event(handle event);

// SRWLOCK: a lock a thread may hold while it waits; not re-entrant. A zero-initialised
// object (SRWLOCK_INIT) is ready for use and needs no clean-up.
struct srw_lock {
    void* state = nullptr;
};

// AcquireSRWLockExclusive and ReleaseSRWLockExclusive.
void acquire_srw_lock_exclusive(srw_lock& lock);
void release_srw_lock_exclusive(srw_lock& lock);

}  // namespace platform
