// Comparing texts as the system compares names.
// Part of the seam to Windows; platform/handles.h says how its calls behave.
#pragma once

namespace platform {

// lstrcmpiW: 0 when the two texts are equal apart from letter case.
int compare_string_ignore_case(const wchar_t* first, const wchar_t* second);

// CompareStringOrdinal(first, first_length, second, second_length, ignore_case): the two
// texts of the given lengths compared unit by unit, with ignore_case by the system's
// upper-case table, as the file system compares names. cstr_less_than, cstr_equal or
// cstr_greater_than; 0 on failure.
inline constexpr int cstr_less_than = 1;
inline constexpr int cstr_equal = 2;
inline constexpr int cstr_greater_than = 3;
int compare_string_ordinal(const wchar_t* first, int first_length, const wchar_t* second,
                           int second_length, bool ignore_case);

}  // namespace platform
