// Threads, events and slim reader/writer locks.
#include <windows.h>

#include <memory>
#include <new>

#include "platform/handles.h"
#include "platform/threads_and_events.h"

namespace platform {

namespace {

// CreateThread wants a DWORD WINAPI (LPVOID) procedure, which thread_procedure is not
// on every compiler (DWORD is unsigned long, and the calling convention may differ), so
// the new thread enters through this and calls the caller's procedure from there. The
// thread owns the heap copy of the pair from the moment it runs.
struct thread_start {
    thread_procedure procedure;
    void* parameter;
};

DWORD WINAPI run_thread(LPVOID start_block) {
    const std::unique_ptr<thread_start> start(static_cast<thread_start*>(start_block));
    return start->procedure(start->parameter);
}

static_assert(sizeof(SRWLOCK) == sizeof(srw_lock));
static_assert(alignof(SRWLOCK) == alignof(srw_lock));

// The lock's state lives in the caller's object; the system only ever sees its address.
PSRWLOCK system_lock(srw_lock& lock) {
    return reinterpret_cast<PSRWLOCK>(&lock);
}

}  // namespace

handle create_thread(thread_procedure procedure, void* parameter) {
    std::unique_ptr<thread_start> start(new (std::nothrow) thread_start{procedure, parameter});
    if (!start) {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    const HANDLE thread = ::CreateThread(nullptr, 0, run_thread, start.get(), 0, nullptr);
    if (thread == nullptr) {
        // The thread never ran, so the block is still ours; freeing it must not hide
        // why the creation failed.
        const DWORD error = ::GetLastError();
        start.reset();
        ::SetLastError(error);
        return nullptr;
    }
    start.release();
    return thread;
}

bool get_exit_code_thread(handle thread, std::uint32_t* exit_code) {
    DWORD code = 0;
    if (::GetExitCodeThread(thread, &code) == 0) {
        return false;
    }
    *exit_code = code;
    return true;
}

handle create_event(bool manual_reset, bool initial_state) {
    return ::CreateEventW(nullptr, manual_reset ? TRUE : FALSE, initial_state ? TRUE : FALSE,
                          nullptr);
}

bool set_event(handle event) {
    return ::SetEvent(event) != 0;
}

void acquire_srw_lock_exclusive(srw_lock& lock) {
    ::AcquireSRWLockExclusive(system_lock(lock));
}

void release_srw_lock_exclusive(srw_lock& lock) {
    ::ReleaseSRWLockExclusive(system_lock(lock));
}

}  // namespace platform
