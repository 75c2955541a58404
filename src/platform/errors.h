// Error codes, the system's texts for them, and the debugger output channel.
// Part of the seam to Windows; platform/handles.h says how its calls behave.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

using error_code = std::uint32_t;

// Windows error codes the system meets.
inline constexpr error_code error_success = 0;
inline constexpr error_code error_file_not_found = 2;
inline constexpr error_code error_path_not_found = 3;
inline constexpr error_code error_access_denied = 5;
inline constexpr error_code error_invalid_handle = 6;
inline constexpr error_code error_no_more_files = 18;
inline constexpr error_code error_sharing_violation = 32;
inline constexpr error_code error_invalid_parameter = 87;
inline constexpr error_code error_insufficient_buffer = 122;
inline constexpr error_code error_dir_not_empty = 145;
inline constexpr error_code error_app_init_failure = 575;
inline constexpr error_code error_service_specific_error = 1066;

// GetLastError / SetLastError: the calling thread's last-error code.
error_code get_last_error();
void set_last_error(error_code code);

// FormatMessageW with FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
// FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ARGUMENT_ARRAY, language 0, then LocalFree:
// the system's text for `code`, unchanged (inserts and the closing line break kept);
// empty when the platform has no text for it.
std::wstring format_message(error_code code);

// OutputDebugStringW: sends `text` to the debugger output channel.
void output_debug_string(const wchar_t* text);

}  // namespace platform
