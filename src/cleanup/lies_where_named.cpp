#include "cleanup/lies_where_named.h"

#include <algorithm>

#include "platform/final_path.h"
#include "platform/text.h"

namespace cleanup {

std::wstring long_form(const std::wstring& path) {
    std::wstring native = L"\\\\?\\" + path;
    std::replace(native.begin(), native.end(), L'/', L'\\');
    return native;
}

platform::unique_file_handle open_entry(const std::wstring& native, std::uint32_t access) {
    constexpr std::uint32_t open_flags =
        platform::file_flag_open_reparse_point | platform::file_flag_backup_semantics;
    constexpr std::uint32_t share_all_but_delete =
        platform::file_share_read | platform::file_share_write;
    return platform::unique_file_handle(
        platform::open_existing_file(native.c_str(), access, share_all_but_delete, open_flags));
}

bool lies_where_named(platform::handle directory, const std::wstring& native, std::wstring& found) {
    found = platform::final_path(directory);
    return platform::compare_string_ignore_case(found.c_str(), native.c_str()) == 0;
}

}  // namespace cleanup
