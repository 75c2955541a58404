// What the settings calls need from the INI reader beyond its two public functions.
// Free of the rest of the machine, like the reader itself.
#pragma once

#include <string>

namespace sim {

// True when `key` of `section` has a value (a line with "="), so that a read that falls
// back to the default can be told apart from one that found the default's text.
bool profile_has_value(const std::wstring& text, const wchar_t* section, const wchar_t* key);

}  // namespace sim
