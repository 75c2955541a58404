// Owners of operating-system handles, and of a held lock: each handle is closed
// exactly once, on every path, through the platform layer, so the same owner serves
// both backends.
#pragma once

#include <utility>

#include "platform/errors.h"
#include "platform/event_log.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/processes.h"
#include "platform/services.h"
#include "platform/threads_and_events.h"

namespace platform {

// Closes a handle with `Close`; `Invalid` says which value means "no handle".
// Closing keeps the thread's last-error code, because callers read it for their
// error lines after owners on the way out have been destroyed.
template <bool (*Close)(handle), handle (*Invalid)()>
class basic_unique_handle {
  public:
    basic_unique_handle() = default;
    explicit basic_unique_handle(handle owned) : value_(owned) {}
    basic_unique_handle(const basic_unique_handle&) = delete;
    basic_unique_handle& operator=(const basic_unique_handle&) = delete;
    basic_unique_handle(basic_unique_handle&& other) noexcept : value_(other.release()) {}
    basic_unique_handle& operator=(basic_unique_handle&& other) noexcept {
        reset(other.release());
        return *this;
    }
    ~basic_unique_handle() { reset(); }

    handle get() const { return value_; }
    explicit operator bool() const { return value_ != Invalid(); }

    handle release() { return std::exchange(value_, Invalid()); }

    void reset(handle owned = Invalid()) {
        handle old = std::exchange(value_, owned);
        if (old != Invalid()) {
            const error_code last_error = get_last_error();
            Close(old);
            set_last_error(last_error);
        }
    }

  private:
    handle value_ = Invalid();
};

inline handle null_handle() {
    return nullptr;
}

// Process, thread and event handles: null means none.
using unique_handle = basic_unique_handle<close_handle, null_handle>;

// Directory listings: INVALID_HANDLE_VALUE means none.
using unique_find_handle = basic_unique_handle<find_close, invalid_handle_value>;

// Open files: INVALID_HANDLE_VALUE means none.
using unique_file_handle = basic_unique_handle<close_handle, invalid_handle_value>;

// Service Control Manager and service handles: null means none.
using service_handle_guard = basic_unique_handle<close_service_handle, null_handle>;

// Event sources registered for reporting: null means none.
using unique_event_source = basic_unique_handle<deregister_event_source, null_handle>;

// Open registry keys: null means none.
using unique_registry_key = basic_unique_handle<close_registry_key, null_handle>;

// The two handles process creation hands back. The creating call fills them in through
// receive(), so they are owned from the moment they exist.
class unique_process_information {
  public:
    unique_process_information() = default;
    unique_process_information(const unique_process_information&) = delete;
    unique_process_information& operator=(const unique_process_information&) = delete;
    ~unique_process_information() { reset(); }

    // For the creating call: whatever was held before is closed.
    process_information& receive() {
        reset();
        return value_;
    }

    const process_information& get() const { return value_; }

    // Hands the process handle over to an owner of its own.
    unique_handle take_process() { return unique_handle(std::exchange(value_.process, nullptr)); }

    void reset() {
        const unique_handle process(std::exchange(value_.process, nullptr));
        const unique_handle thread(std::exchange(value_.thread, nullptr));
        value_ = process_information{};
    }

  private:
    process_information value_;
};

// Holds an SRW lock exclusively for the life of the object.
class exclusive_lock {
  public:
    explicit exclusive_lock(srw_lock& lock) : lock_(lock) { acquire_srw_lock_exclusive(lock_); }
    exclusive_lock(const exclusive_lock&) = delete;
    exclusive_lock& operator=(const exclusive_lock&) = delete;
    ~exclusive_lock() { release_srw_lock_exclusive(lock_); }

  private:
    srw_lock& lock_;
};

}  // namespace platform
