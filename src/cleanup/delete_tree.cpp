#include "cleanup/delete_tree.h"

#include <optional>

#include "cleanup/lies_where_named.h"
#include "logging/diagnostic_log.h"
#include "logging/log_windows_error.h"
#include "logging/outside_text.h"
#include "logging/system_text.h"
#include "platform/file_handles.h"
#include "platform/text.h"
#include "platform/unique_handle.h"

namespace cleanup {
namespace {

constexpr const wchar_t* tag = L"delete_tree";
// Every failure of the walk leaves the entry it was about.
constexpr logging::event_kind left = logging::event_kind::cleanup_left_entries;

// Every entry is opened itself, never what a link points to (open_entry), and is then
// checked and deleted through that one handle, so that nothing can be swapped in between.
// Nobody else may delete or rename an entry while it is open: a directory held this way
// while its entries are handled cannot be replaced by a link meanwhile.
constexpr std::uint32_t deleting_access =
    platform::delete_access | platform::file_read_attributes | platform::file_write_attributes;

enum class outcome { deleted, left, failed };

bool has(std::uint32_t attributes, std::uint32_t bit) {
    return (attributes & bit) != 0;
}

bool is_link(std::uint32_t attributes) {
    return has(attributes, platform::file_attribute_directory) &&
           has(attributes, platform::file_attribute_reparse_point);
}

// Where a directory being emptied really is: its path on its volume. The volume is asked
// once, for the first directory, whose full final path is checked; every entry below is
// opened itself, never what a link points to, and so lies on its directory's volume.
struct place {
    std::wstring on_volume;
};

std::wstring parent_of(const std::wstring& path) {
    const auto separator = path.find_last_of(L'\\');
    return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator);
}

bool same_path(const std::wstring& one, const std::wstring& other) {
    return platform::compare_string_ignore_case(one.c_str(), other.c_str()) == 0;
}

// Each entry is asked only for what its checks need: its attributes, its path, and its
// names when it is read-only. The volume's identity costs far more than any of them.
bool query(platform::handle entry, const std::wstring& shown, std::uint32_t& attributes) {
    if (!platform::get_file_attributes_by_handle(entry, attributes)) {
        logging::log_last_error<logging::severity::debug, left>(
            tag, L"GetFileInformationByHandleEx returned an error. Unable to delete", shown);
        return false;
    }
    return true;
}

bool path_on_volume(platform::handle entry, const std::wstring& shown, place& found) {
    if (!platform::get_file_name_by_handle(entry, found.on_volume)) {
        logging::log_last_error<logging::severity::debug, left>(
            tag, L"GetFileInformationByHandleEx returned an error. Unable to delete", shown);
        return false;
    }
    return true;
}

// Whether the open entry lies directly in `parent`; otherwise an error line names the
// entry and where it leads, and the entry is left. Only the directory part is compared:
// some platforms give a name that ends in a dot or a blank without them.
outcome lies_in(platform::handle entry, const place& parent, const std::wstring& shown,
                place& found) {
    if (!path_on_volume(entry, shown, found)) {
        return outcome::failed;
    }
    if (same_path(parent_of(found.on_volume), parent.on_volume)) {
        return outcome::deleted;
    }
    logging::log_error<left>(tag, L"entry leads outside the directory. It is left", shown,
                             logging::from_outside(found.on_volume));
    return outcome::left;
}

// What the handle shows must be what the listing showed: anything else was put there
// since, and is left for the next clean-up.
bool is_as_listed(std::uint32_t listed, std::uint32_t found, const std::wstring& shown) {
    constexpr std::uint32_t kind =
        platform::file_attribute_directory | platform::file_attribute_reparse_point;
    if ((listed & kind) == (found & kind)) {
        return true;
    }
    logging::log_error<left>(tag, L"entry changed while the directory was emptied. It is left",
                             shown);
    return false;
}

// An entry of `parent` listed with `listed` attributes, opened for deletion and checked.
// `failed` reports a failed opening; every other failure or refusal is logged here.
struct checked_entry {
    platform::unique_file_handle handle;
    std::uint32_t attributes = 0;
    place where;
    outcome result = outcome::failed;
};

template <typename Failure>
checked_entry open_checked(const std::wstring& native, std::uint32_t listed, const place& parent,
                           const std::wstring& shown, const Failure& failed) {
    checked_entry entry;
    entry.handle = open_entry(native, deleting_access);
    if (!entry.handle) {
        failed();
        return entry;
    }
    if (!query(entry.handle.get(), shown, entry.attributes)) {
        return entry;
    }
    entry.result = lies_in(entry.handle.get(), parent, shown, entry.where);
    if (entry.result == outcome::deleted && !is_as_listed(listed, entry.attributes, shown)) {
        entry.result = outcome::left;
    }
    return entry;
}

// Removing a junction or directory symbolic link removes the link, not what it points to.
outcome remove_link(const std::wstring& shown, const std::wstring& native, std::uint32_t listed,
                    const place& parent) {
    const auto failed = [&shown] {
        logging::log_last_error<logging::severity::debug, left>(tag, L"Unable to remove link",
                                                                shown);
        return outcome::failed;
    };
    logging::log_debug(tag, L"removing link", shown);
    checked_entry link = open_checked(native, listed, parent, shown, failed);
    if (link.result != outcome::deleted) {
        return link.result;
    }
    if (!platform::set_delete_disposition(link.handle.get())) {
        return failed();
    }
    link.handle.reset();
    logging::log_debug(tag, L"link", shown, L"removed");
    return outcome::deleted;
}

// A file, or a reparse point that is not a directory (a file symbolic link, a
// deduplicated or cloud file): deleting it deletes that entry and never a target.
outcome delete_file(const std::wstring& shown, const std::wstring& native, std::uint32_t listed,
                    const place& parent) {
    const auto failed = [&shown] {
        logging::log_last_error<logging::severity::debug, left>(
            tag, L"DeleteFile returned an error. Unable to delete directory", shown);
        return outcome::failed;
    };
    logging::log_debug(tag, L"deleting file", shown);
    checked_entry file = open_checked(native, listed, parent, shown, failed);
    if (file.result != outcome::deleted) {
        return file.result;
    }
    // The attributes belong to the file, not to the name: a file with other names
    // elsewhere keeps them, and then cannot be deleted if it is read-only. A failure here
    // shows as the deletion's failure below.
    const std::uint32_t attributes = file.attributes;
    std::uint32_t links = 0;
    if (has(attributes, platform::file_attribute_readonly) &&
        platform::get_file_link_count(file.handle.get(), links) && links <= 1) {
        platform::set_file_attributes_by_handle(file.handle.get(),
                                                attributes & ~platform::file_attribute_readonly);
    }
    if (!platform::set_delete_disposition(file.handle.get())) {
        return failed();
    }
    file.handle.reset();
    logging::log_debug(tag, L"file", shown, L"deleted");
    return outcome::deleted;
}

// The emptied directory, opened anew to delete it: whatever may have been put in its
// place meanwhile is checked as any entry is, and a directory that is not empty stays.
bool remove_directory(const std::wstring& shown, const std::wstring& native, const place& parent) {
    const auto failed = [&shown] {
        logging::log_last_error<logging::severity::debug, left>(
            tag, L"RemoveDirectory returned an error. Unable to delete empty directory", shown);
        return false;
    };
    checked_entry directory =
        open_checked(native, platform::file_attribute_directory, parent, shown, failed);
    if (directory.result != outcome::deleted) {
        return false;
    }
    if (!platform::set_delete_disposition(directory.handle.get())) {
        return failed();
    }
    directory.handle.reset();
    logging::log_debug(tag, L"directory", shown, L"deleted");
    return true;
}

// The first directory lies exactly where its name says, with no link above it: its final
// path, which names the volume, is the path it was opened by.
bool root_lies_where_named(platform::handle directory, const std::wstring& shown,
                           const std::wstring& native, place& found) {
    std::wstring final;
    if (!lies_where_named(directory, native, final)) {
        logging::log_error<left>(tag,
                                 L"directory does not lie where it is named. Nothing under it is "
                                 L"deleted",
                                 shown, logging::from_outside(final));
        return false;
    }
    return path_on_volume(directory, shown, found);
}

// Opens the directory to walk, held so that it cannot be renamed or replaced meanwhile,
// and finds where it is: in `parent` below the first level, and at the first exactly
// where its name says (no link above it). Without delete access: a listing opened by
// name does not share deletion on every platform.
std::optional<place> open_directory(const std::wstring& shown, const std::wstring& native,
                                    const place* parent, platform::unique_file_handle& directory) {
    directory = open_entry(native, platform::file_read_attributes);
    if (!directory) {
        const platform::error_code error = platform::get_last_error();
        if (error == platform::error_file_not_found || error == platform::error_path_not_found) {
            logging::log_debug(tag, L"directory is empty.");
        } else {
            logging::log_last_error<logging::severity::debug, left>(
                tag, L"CreateFile returned an error. Unable to open directory", shown);
        }
        return std::nullopt;
    }
    std::uint32_t attributes = 0;
    if (!query(directory.get(), shown, attributes)) {
        return std::nullopt;
    }
    place found;
    const bool placed = parent != nullptr
                            ? lies_in(directory.get(), *parent, shown, found) == outcome::deleted
                            : root_lies_where_named(directory.get(), shown, native, found);
    if (!placed) {
        return std::nullopt;
    }
    if (has(attributes, platform::file_attribute_reparse_point)) {
        logging::log_error<left>(tag, L"directory is a link. Nothing under it is deleted", shown);
        return std::nullopt;
    }
    if (!is_as_listed(platform::file_attribute_directory, attributes, shown)) {
        return std::nullopt;
    }
    return found;
}

bool delete_directory(const std::wstring& path, const std::wstring& native, std::int32_t level,
                      bool delete_root, const place* parent, pace& pacing);

// What became of the entries of one directory.
struct emptied {
    // One could not be deleted, or one of its subdirectories could not be emptied.
    bool failed = false;
    // One leads elsewhere or changed meanwhile, and was left as it is.
    bool left = false;
    // The listing itself broke off: the entries after it were never seen.
    bool cut = false;
};

// One entry of the directory being walked. Whatever it fails, the walk goes on with the
// next: one entry nobody can delete (held open, read-only with a second name) must not
// keep everything after it in place.
void delete_entry(const std::wstring& path, const std::wstring& native, std::int32_t level,
                  bool delete_root, const place& here, const platform::find_data& entry,
                  emptied& result, pace& pacing) {
    const std::wstring child = path + L"/" + entry.name;
    const std::wstring child_native = native + L"\\" + entry.name;
    outcome done = outcome::deleted;
    if (is_link(entry.attributes)) {
        done = remove_link(logging::from_outside(child), child_native, entry.attributes, here);
    } else if (has(entry.attributes, platform::file_attribute_directory)) {
        if (!delete_directory(child, child_native, level + 1, delete_root, &here, pacing)) {
            logging::log_debug(
                tag, L"recursive call to delete_tree returned an error. Unable to delete directory",
                logging::from_outside(child));
            done = outcome::failed;
        }
    } else {
        done = delete_file(logging::from_outside(child), child_native, entry.attributes, here);
    }
    result.failed = result.failed || done == outcome::failed;
    result.left = result.left || done == outcome::left;
}

// Deletes every entry of the open directory. The listing is read as the directory is at
// each step, so an entry deleted before it is reached is simply not listed. Ends early,
// as a listing cut short, when the pace says so.
emptied delete_entries(const std::wstring& path, const std::wstring& native, std::int32_t level,
                       bool delete_root, const place& here, pace& pacing) {
    emptied result;
    platform::find_data entry;
    const platform::unique_find_handle listing(
        platform::find_first_file((native + L"\\*").c_str(), entry));
    if (!listing) {
        logging::log_debug(tag, L"directory is empty.");
        result.cut = true;
        return result;
    }
    do {
        if (pacing.should_end()) {
            result.cut = true;
            return result;
        }
        pacing.tick();
        if (entry.name != L"." && entry.name != L"..") {
            delete_entry(path, native, level, delete_root, here, entry, result, pacing);
        }
    } while (platform::find_next_file(listing.get(), entry));

    const platform::error_code error = platform::get_last_error();
    if (error != platform::error_no_more_files) {
        logging::log_debug(tag, L"FindNextFile returned an error.", logging::system_text(error));
        result.cut = true;
    }
    return result;
}

bool delete_directory(const std::wstring& path, const std::wstring& native, std::int32_t level,
                      bool delete_root, const place* parent, pace& pacing) {
    const std::wstring shown = logging::from_outside(path);
    logging::log_debug(tag, L"enter");
    logging::log_debug(tag, L"directory", shown, L"level", level);

    platform::unique_file_handle directory;
    const std::optional<place> here = open_directory(shown, native, parent, directory);
    if (!here) {
        return false;
    }
    const emptied result = delete_entries(path, native, level, delete_root, *here, pacing);
    // A directory that still holds what could not go reports its failure once everything
    // else in it has gone; removing it could only fail.
    if (result.cut || result.failed || result.left) {
        return false;
    }
    if (level == 0 && !delete_root) {
        return true;
    }
    directory.reset();
    // The first level has no parent to check against: it is checked where it is.
    return remove_directory(shown, native,
                            parent != nullptr ? *parent : place{parent_of(here->on_volume)});
}

}  // namespace

bool delete_tree(const std::wstring& path, std::int32_t level, bool delete_root, pace& pacing) {
    return delete_directory(path, long_form(path), level, delete_root, nullptr, pacing);
}

bool delete_tree(const std::wstring& path, std::int32_t level, bool delete_root) {
    pace unhurried;
    return delete_tree(path, level, delete_root, unhurried);
}

}  // namespace cleanup
