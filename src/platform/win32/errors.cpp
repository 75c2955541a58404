// Error codes, system error texts and the debugger channel.
#include <windows.h>

#include <memory>

#include "platform/errors.h"

namespace platform {

namespace {

// FormatMessageW allocates the text with LocalAlloc; whoever receives it must give it
// back with LocalFree, on every path out.
struct local_free_deleter {
    void operator()(wchar_t* text) const { ::LocalFree(text); }
};
using local_text = std::unique_ptr<wchar_t, local_free_deleter>;

}  // namespace

error_code get_last_error() {
    return ::GetLastError();
}

void set_last_error(error_code code) {
    ::SetLastError(code);
}

std::wstring format_message(error_code code) {
    constexpr DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                            FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ARGUMENT_ARRAY;
    static_assert(flags == 0x3300);
    wchar_t* allocated = nullptr;
    // With FORMAT_MESSAGE_ALLOCATE_BUFFER the buffer argument receives the address of
    // the allocated text, hence the cast of a pointer-to-pointer.
    const DWORD length =
        ::FormatMessageW(flags, nullptr, code, 0, reinterpret_cast<LPWSTR>(&allocated), 0, nullptr);
    const local_text owner(allocated);
    if (length == 0 || !owner) {
        return {};
    }
    return std::wstring(owner.get(), length);
}

void output_debug_string(const wchar_t* text) {
    ::OutputDebugStringW(text);
}

}  // namespace platform
