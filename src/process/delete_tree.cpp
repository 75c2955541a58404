#include "process/delete_tree.h"

#include "logging/log_windows_error.h"
#include "logging/process_log.h"
#include "platform/unique_handle.h"

namespace process {
namespace {

constexpr const wchar_t* tag = L"delete_tree";

bool has(std::uint32_t attributes, std::uint32_t bit) {
    return (attributes & bit) != 0;
}

bool is_link(const std::wstring& path) {
    const std::uint32_t attributes = platform::get_file_attributes(path.c_str());
    return attributes != platform::invalid_file_attributes &&
           has(attributes, platform::file_attribute_reparse_point);
}

// A junction or symbolic link: removing it removes the link, not what it points to.
bool remove_link(const std::wstring& path, std::uint32_t attributes) {
    logging::log_debug(tag, L"removing link", path);
    const bool removed = has(attributes, platform::file_attribute_directory)
                             ? platform::remove_directory(path.c_str())
                             : platform::delete_file(path.c_str());
    if (!removed) {
        logging::log_last_error<logging::severity::debug>(tag, L"Unable to remove link", path);
        return false;
    }
    logging::log_debug(tag, L"link", path, L"removed");
    return true;
}

bool delete_file(const std::wstring& path, std::uint32_t attributes) {
    if (has(attributes, platform::file_attribute_readonly)) {
        // A failure here shows as the deletion's failure below.
        platform::make_writable(path.c_str());
    }
    logging::log_debug(tag, L"deleting file", path);
    if (!platform::delete_file(path.c_str())) {
        logging::log_last_error<logging::severity::debug>(
            tag, L"DeleteFile returned an error. Unable to delete directory", path);
        return false;
    }
    logging::log_debug(tag, L"file", path, L"deleted");
    return true;
}

}  // namespace

bool delete_tree(const std::wstring& path, std::int32_t level, bool delete_root) {
    logging::log_debug(tag, L"enter");
    logging::log_debug(tag, L"directory", path, L"level", level);

    if (is_link(path)) {
        logging::log_error(tag, L"directory is a link. Nothing under it is deleted", path);
        return false;
    }

    platform::find_data entry;
    platform::unique_find_handle listing(platform::find_first_file((path + L"\\*").c_str(), entry));
    if (!listing) {
        logging::log_debug(tag, L"directory is empty.");
        return false;
    }

    do {
        if (entry.name == L"." || entry.name == L"..") {
            continue;
        }
        const std::wstring child = path + L"/" + entry.name;
        if (has(entry.attributes, platform::file_attribute_reparse_point)) {
            if (!remove_link(child, entry.attributes)) {
                return false;
            }
        } else if (has(entry.attributes, platform::file_attribute_directory)) {
            if (!delete_tree(child, level + 1, delete_root)) {
                logging::log_debug(
                    tag,
                    L"recursive call to delete_tree returned an error. Unable to delete directory",
                    child);
                return false;
            }
        } else if (!delete_file(child, entry.attributes)) {
            return false;
        }
    } while (platform::find_next_file(listing.get(), entry));

    const platform::error_code error = platform::get_last_error();
    if (error != platform::error_no_more_files) {
        logging::log_debug(tag, L"FindNextFile returned an error.",
                           platform::format_message(error));
        return false;
    }
    if (level == 0 && !delete_root) {
        return true;
    }

    // The directory is removed with no listing of it left open.
    listing.reset();
    if (!platform::remove_directory(path.c_str())) {
        logging::log_last_error<logging::severity::debug>(
            tag, L"RemoveDirectory returned an error. Unable to delete empty directory", path);
        return false;
    }
    logging::log_debug(tag, L"directory", path, L"deleted");
    return true;
}

}  // namespace process
