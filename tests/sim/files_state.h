// The file tree, the volume's free space and the replacements another program makes
// meanwhile: the state of files.cpp, file_handles.cpp, file_contents.cpp and listings.cpp
// (paths.cpp and folders.cpp keep none).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/files.h"
#include "sim/machine.h"

namespace sim {

enum class entry_kind { file, directory, link };

struct file_entry {
    entry_kind kind = entry_kind::file;
    // The full path as it was first spelled, with backslashes.
    std::wstring spelled;
    std::uint32_t attributes = 0;
    // For a link: its target, as given.
    std::wstring target;
    // For a file: what it holds.
    std::string content;
    // Deleted while a handle shared deletion: it goes when its last handle closes, and
    // until then it is listed, keeps its directory from being removed and cannot be
    // opened.
    bool delete_pending = false;
    std::uint32_t links = 1;
};

// Where a path leads once the links along it are followed.
struct location {
    std::wstring key;
    std::wstring spelled;
};

// A listing is read as the directory is at each call, as a file system reads one: an
// entry deleted before it is reached is not listed, one created after the last entry read
// may be.
struct listing {
    // The directory as the pattern named it, and where it leads.
    std::wstring directory_key;
    std::wstring listed_key;
    std::wstring mask;
    // "." and ".." given so far, then the key of the last entry given.
    int dots_given = 0;
    std::wstring last_key;
};

// Another program replaces a directory with a link at the moment the service calls
// `op` on `subject`, as a user may between two calls of the service.
struct pending_swap {
    operation op{};
    std::wstring subject_key;
    std::wstring path;
    std::wstring target;
    bool even_while_open = false;
};

// Every write lands at the end of the file, so a handle keeps no position of its own.
struct open_file {
    std::wstring key;
    std::uint32_t share_mode = 0;
};

struct files_state {
    // By key (see file_tree_key).
    std::map<std::wstring, file_entry> files;
    std::wstring current_directory = L"C:\\Windows\\system32";
    // What the volume can still take, in bytes; none: as much as is written.
    std::optional<std::size_t> free_space;
    // Virtual milliseconds each deletion through a handle takes.
    std::uint32_t deletion_ms = 0;
    std::vector<pending_swap> swaps;
    int swaps_done = 0;
    // Who may write to a folder, by key; a folder not listed: the system and administrators.
    std::map<std::wstring, std::vector<std::wstring>> writers;

    void clear() { *this = {}; }

    location locate(const std::wstring& path, bool follow_last, bool create_parents = false,
                    int depth = 0);
    // A file name as the file calls take it: relative names from the current directory.
    std::wstring absolute(const std::wstring& path) const;
    const file_entry* entry(const std::wstring& key) const;
    bool is_directory(const std::wstring& key, int depth = 0);
    // Error 2 when the parent directory exists, 3 when it does not.
    platform::error_code missing_error(const std::wstring& key);
    std::vector<const file_entry*> children(const std::wstring& key) const;
    // The next listed entry of an open listing; false at its end.
    bool next_listed(listing& found, platform::find_data& data);
};

}  // namespace sim
