// The state of the simulated machine and the helpers its platform functions share.
// Only sim/*.cpp include this; tests go through machine.h.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/machine.h"

namespace sim {

// Windows codes the machine reports beyond those platform.h names.
inline constexpr platform::error_code error_directory = 267;
inline constexpr platform::error_code error_mr_mid_not_found = 317;

inline constexpr std::time_t initial_time = 1767323045;
inline constexpr std::uint32_t first_process_id = 100;
inline constexpr std::uintptr_t first_handle_value = 0x100;

struct process_record {
    std::uint32_t id = 0;
    std::wstring image_path;
    process_options options;
    bool ended = false;
    std::uint32_t exit_code = 0;
    int terminations = 0;
    // A termination whose effect is still to come (exit_delay_ms).
    std::optional<std::uint64_t> ends_at_ms;
    std::uint32_t pending_exit_code = 0;
    // Keys (see file_tree_key) of the files it keeps open.
    std::vector<std::wstring> held_files;
};

enum class entry_kind { file, directory, link };

struct file_entry {
    entry_kind kind = entry_kind::file;
    // The full path as it was first spelled, with backslashes.
    std::wstring spelled;
    std::uint32_t attributes = 0;
    // For a link: its target, as given.
    std::wstring target;
};

// Where a path leads once the links along it are followed.
struct location {
    std::wstring key;
    std::wstring spelled;
};

struct listing {
    std::wstring directory_key;
    std::vector<platform::find_data> entries;
    std::size_t next = 0;
};

enum class handle_kind { process, listing };

struct handle_record {
    handle_kind kind = handle_kind::process;
    // Shared so that a handle keeps its process's record after the table forgets it.
    std::shared_ptr<process_record> process;
    listing found;
};

struct pending_fault {
    operation op{};
    platform::error_code error = 0;
    std::wstring subject_key;
    int remaining = 0;
};

inline constexpr std::size_t operation_count =
    static_cast<std::size_t>(operation::make_writable) + 1;

struct machine::impl {
    // Recursive because machine members and platform functions call one another.
    mutable std::recursive_mutex lock;

    std::wstring module_path;
    std::map<std::wstring, std::wstring> settings_files;
    int settings_reads = 0;
    std::map<platform::error_code, std::wstring> error_texts;
    std::vector<std::wstring> debug_output;

    std::vector<pending_fault> faults;
    std::array<int, operation_count> calls{};

    // The wall clock is derived rather than stored so that many short sleeps add up to
    // whole seconds exactly as one long sleep would.
    std::time_t wall_base = initial_time;
    std::uint64_t wall_base_ms = 0;
    std::uint64_t elapsed_ms = 0;
    std::int32_t utc_offset = 0;
    std::vector<std::uint32_t> sleeps;

    std::vector<std::shared_ptr<process_record>> processes;
    std::uint32_t next_process_id = first_process_id;

    std::map<std::uintptr_t, handle_record> handles;
    std::uintptr_t next_handle = first_handle_value;

    std::map<std::wstring, file_entry> files;

    impl();
    void clear();

    // Counts a call of `op`, then takes one use of a pending fault on `subject`.
    std::optional<platform::error_code> enter(operation op, const std::wstring& subject = {});

    std::time_t wall_clock() const;
    // Moves the monotonic clock on, ending the processes whose delayed termination is due.
    void advance(std::uint64_t milliseconds);

    process_record* find_process(std::uint32_t id);
    void end(process_record& process, std::uint32_t exit_code);

    platform::handle add_handle(handle_record record);
    handle_record* find_handle(platform::handle value, handle_kind kind);

    location locate(const std::wstring& path, bool follow_last, bool create_parents = false,
                    int depth = 0);
    const file_entry* entry(const std::wstring& key) const;
    bool is_directory(const std::wstring& key, int depth = 0);
    // Error 2 when the parent directory exists, 3 when it does not.
    platform::error_code missing_error(const std::wstring& key);
    std::vector<const file_entry*> children(const std::wstring& key) const;
};

// --- Paths --------------------------------------------------------------------

// A path with / turned into \, repeated separators merged and no trailing separator.
std::wstring clean_path(const std::wstring& path);
// The form paths are compared in: clean and in lower case.
std::wstring file_tree_key(const std::wstring& path);
bool is_root(const std::wstring& key);
std::wstring parent_of(const std::wstring& path);
std::wstring last_component(const std::wstring& path);
std::wstring to_lower(const std::wstring& text);

// Sets the calling thread's last-error code and hands back `result`, so that a failing
// call reads as one statement.
template <typename T>
T failure(T result, platform::error_code error) {
    platform::set_last_error(error);
    return result;
}

std::map<platform::error_code, std::wstring> default_error_texts();

}  // namespace sim
