// Where the service finds its settings: the executable's own path, and the settings file
// beside it. Nothing is kept between calls: each reads what the file says then. The log
// reads its threshold once, when it is made.
#pragma once

#include <cstdint>
#include <string>

#include "settings/agent_facts.h"

namespace settings {

// The running executable's full path, however long; empty when it cannot be obtained.
std::wstring get_module_path();

// The running executable's directory, without a trailing separator.
std::wstring get_module_directory();

// The settings file: quillmark_snaptel.ini beside the executable.
std::wstring settings_file_path();

// True when the settings file is there but cannot be opened for reading (another program
// holds it without sharing, access is denied), with the thread's last error telling why.
// The profile calls then give every default without a word, as for a missing file, which
// is no error.
bool settings_file_is_unreadable();

// The host agent's executable: its file name beside the executable.
std::wstring agent_file_path();

// The whole text of `key` in `section` of the settings file, or `default_value`, however
// long: never cut to a buffer's size.
std::wstring get_setting_text(const wchar_t* section, const wchar_t* key,
                              const wchar_t* default_value);
std::wstring get_setting_text(const setting_key<const wchar_t*>& setting);

}  // namespace settings
