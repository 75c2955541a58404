// Owners of operating-system handles: each handle is closed exactly once, on every
// path, through the platform layer, so the same owner serves both backends.
#pragma once

#include <utility>

#include "platform/platform.h"

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

}  // namespace platform
