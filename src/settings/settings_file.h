// Where the service finds its settings: the executable's own path, and the settings file
// beside it. Nothing is kept between calls: each reads what the file says then. The log
// reads its threshold once, when it is made.
#pragma once

#include <cstdint>
#include <string>

namespace settings {

// The running executable's full path, however long; empty when it cannot be obtained.
std::wstring get_module_path();

// The running executable's directory, without a trailing separator.
std::wstring get_module_directory();

// The settings file: quillmark_snaptel.ini beside the executable.
std::wstring settings_file_path();

// The whole text of `key` in `section` of the settings file, or `default_value`, however
// long: never cut to a buffer's size.
std::wstring get_setting_text(const wchar_t* section, const wchar_t* key,
                              const wchar_t* default_value);

// The integer value of `key` in `section`, or `default_value`, as a signed number: -1 is
// a value someone may write.
std::int32_t get_setting_number(const wchar_t* section, const wchar_t* key,
                                std::int32_t default_value);

}  // namespace settings
