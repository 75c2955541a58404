#include "service/check/temp_directory_check.h"

#include <optional>

#include "cleanup/lies_where_named.h"
#include "platform/file_handles.h"
#include "platform/final_path.h"
#include "platform/unique_handle.h"
#include "settings/agent_facts.h"

namespace service::check {
namespace {

constexpr const wchar_t* family = L"temp";

// The entries the directory lists, "." and ".." aside; none when it cannot be listed.
std::optional<std::size_t> entry_count(const std::wstring& native) {
    platform::find_data entry;
    const platform::unique_find_handle listing(
        platform::find_first_file((native + L"\\*").c_str(), entry));
    if (!listing) {
        return std::nullopt;
    }
    std::size_t count = 0;
    do {
        if (entry.name != L"." && entry.name != L"..") {
            ++count;
        }
    } while (platform::find_next_file(listing.get(), entry));
    return count;
}

}  // namespace

report check_temp_directory() {
    const std::wstring path = settings::agent_temp_directory;
    const std::wstring native = cleanup::long_form(path);
    const platform::unique_file_handle directory =
        cleanup::open_entry(native, platform::file_read_attributes);
    if (!directory) {
        const platform::error_code error = platform::get_last_error();
        if (is_missing(error)) {
            return {{mark::ok, family, path + L" does not exist: there is nothing to empty."}};
        }
        return {{mark::warning, family, path + L" cannot be opened: " + error_text(error)}};
    }
    std::wstring found;
    if (!cleanup::lies_where_named(directory.get(), native, found)) {
        return {{mark::problem, family,
                 path + L" does not lie where it is named: it leads to " +
                     platform::plain_path(found) +
                     L", and the clean-up deletes nothing under it. Remove the link above it, "
                     L"create real folders, and find out who planted it."}};
    }
    std::uint32_t attributes = 0;
    if (!platform::get_file_attributes_by_handle(directory.get(), attributes)) {
        return {{mark::warning, family,
                 path + L" cannot be looked at: " + error_text(platform::get_last_error())}};
    }
    if ((attributes & platform::file_attribute_reparse_point) != 0) {
        return {{mark::problem, family,
                 path + L" is a link, and the clean-up deletes nothing under it. Remove the link "
                        L"and create a real directory."}};
    }
    if ((attributes & platform::file_attribute_directory) == 0) {
        return {{mark::problem, family,
                 path + L" is a file, not a directory. Remove it; the agent makes the "
                        L"directory."}};
    }
    const std::optional<std::size_t> count = entry_count(native);
    if (!count) {
        return {{mark::warning, family,
                 path + L" cannot be listed: " + error_text(platform::get_last_error())}};
    }
    return {{mark::ok, family,
             path + L" lies where it is named and holds " + std::to_wstring(*count) +
                 (*count == 1 ? L" entry." : L" entries.")}};
}

}  // namespace service::check
