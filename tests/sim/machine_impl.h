// The state of the simulated machine and the helpers its platform functions share.
// Only sim/*.cpp include this; tests go through machine.h.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/services.h"
#include "platform/threads_and_events.h"
#include "sim/machine.h"

namespace sim {

// Windows codes the machine reports beyond those the seam names.
inline constexpr platform::error_code error_directory = 267;
inline constexpr platform::error_code error_mr_mid_not_found = 317;

// The access rights of a process handle that the process calls check, as Windows does.
inline constexpr std::uint32_t process_terminate = 0x1;
inline constexpr std::uint32_t process_query_information = 0x400;
inline constexpr std::uint32_t process_query_limited_information = 0x1000;
inline constexpr std::uint32_t synchronize = 0x100000;

inline constexpr std::time_t initial_time = 1767323045;
inline constexpr std::uint32_t first_process_id = 100;
inline constexpr std::uint32_t unused_process_id = 8;
inline constexpr std::uint32_t first_thread_id = 1000;
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
};

// Every write lands at the end of the file, so a handle keeps no position of its own.
struct open_file {
    std::wstring key;
    std::uint32_t share_mode = 0;
};

// A simulated thread: a real thread that runs only while the scheduler has chosen it.
struct thread_record {
    enum class state { created, running, blocked, ended };

    std::uint32_t id = 0;
    std::string name;
    state now = state::created;
    platform::thread_procedure procedure = nullptr;
    void* parameter = nullptr;
    std::uint32_t exit_code = platform::still_active;

    // While blocked: what lets it go on (empty: only its deadline), when it goes on at
    // the latest, and what to call it in a report.
    std::function<bool()> ready;
    std::optional<std::uint64_t> deadline_ms;
    std::string waits_on;

    // Notified when the scheduler chooses this thread.
    std::condition_variable turn;
};

struct event_record {
    bool manual_reset = false;
    bool signalled = false;
};

struct lock_record {
    // The identifier of the thread holding it; 0 when free.
    std::uint32_t owner = 0;
};

enum class handle_kind {
    process,
    primary_thread,
    thread,
    event,
    file,
    listing,
    service_manager,
    service,
    service_status,
    event_source,
    registry_key
};

struct handle_record {
    handle_kind kind = handle_kind::process;
    // Shared so that a handle keeps its object after the machine forgets it.
    std::shared_ptr<process_record> process;
    std::shared_ptr<thread_record> thread;
    std::shared_ptr<event_record> event;
    open_file file;
    listing found;
    // Process, manager and service handles: the rights asked for (a handle process
    // creation hands back has them all), and the service's key.
    std::uint32_t access = 0;
    std::wstring service_key;
    // Event sources and registry keys: the source's name, the key's lower-case path.
    std::wstring name;
};

// A key of HKEY_LOCAL_MACHINE: its path as first spelled and its values by name.
struct registry_entry {
    std::wstring spelled;
    std::map<std::wstring, registry_value> values;
};

// The process's side of the Service Control Manager: the service it was started as and
// what the dispatcher has to deliver.
struct dispatcher_state {
    std::wstring service_name;
    platform::service_main_function main = nullptr;
    platform::service_handler_function handler = nullptr;
    std::multimap<std::uint64_t, std::uint32_t> controls;
    std::vector<status_report> reports;
    bool stopped_reported = false;
    wchar_t* arguments[2] = {nullptr, nullptr};
};

struct pending_fault {
    operation op{};
    platform::error_code error = 0;
    std::wstring subject_key;
    int remaining = 0;
    // Matching calls still to go through before the fault takes effect.
    int passing = 0;
};

inline constexpr std::size_t operation_count =
    static_cast<std::size_t>(operation::set_service_status) + 1;

struct machine::impl {
    mutable std::mutex lock;
    using guard = std::unique_lock<std::mutex>;

    std::wstring module_path;
    std::wstring current_directory;
    std::map<std::wstring, std::wstring> settings_files;
    int settings_reads = 0;
    std::map<platform::error_code, std::wstring> error_texts;
    std::vector<std::wstring> debug_output;

    std::vector<pending_fault> faults;
    std::vector<operation> throwing;
    std::array<int, operation_count> calls{};

    // The wall clock is derived rather than stored so that many short sleeps add up to
    // whole seconds exactly as one long sleep would.
    std::time_t wall_base = initial_time;
    std::uint64_t wall_base_ms = 0;
    std::uint64_t elapsed_ms = 0;
    std::int32_t utc_offset = 0;
    std::vector<std::uint32_t> sleeps;

    // The processes K32EnumProcesses lists, in start order: those running and those
    // ended but still listed. Every process ever started stays findable by identifier.
    std::vector<std::shared_ptr<process_record>> processes;
    std::map<std::uint32_t, std::shared_ptr<process_record>> every_process;
    std::uint32_t next_process_id = first_process_id;
    std::uint32_t current_process_id = unused_process_id;
    std::map<std::wstring, program> programs;
    std::vector<launch> launches;

    std::map<std::uintptr_t, handle_record> handles;
    int stale_handle_uses = 0;
    std::uintptr_t next_handle = first_handle_value;

    std::map<std::wstring, file_entry> files;
    // What the volume can still take, in bytes; none: as much as is written.
    std::optional<std::size_t> free_space;
    std::vector<pending_swap> swaps;
    int swaps_done = 0;

    std::map<std::wstring, service_entry> services;
    dispatcher_state dispatcher;

    std::vector<reported_event> events;
    // By lower-case path, without a trailing separator.
    std::map<std::wstring, registry_entry> registry;

    // The scheduler: every simulated thread of this run, the one that may run, the
    // events a test scheduled, the locks by address and the seeded choice.
    std::vector<std::shared_ptr<thread_record>> threads;
    thread_record* running = nullptr;
    std::uint32_t next_thread_id = first_thread_id;
    std::multimap<std::uint64_t, std::function<void()>> timers;
    std::map<const void*, lock_record> locks;
    std::mt19937_64 choice;
    // Set while a scheduled event runs: it must not wait.
    bool in_event = false;

    impl();
    void clear();

    // Counts a call of `op`, then takes one use of a pending fault on `subject`.
    std::optional<platform::error_code> enter(operation op, const std::wstring& subject = {});

    std::time_t wall_clock() const;
    // Moves the monotonic clock on, ending the processes whose delayed termination is due.
    void advance_to(std::uint64_t ms);

    // The calling thread, which must be the running simulated thread, waits until
    // `ready` holds or the monotonic clock reaches `deadline_ms`, whichever comes
    // first, while the other threads run. Returns with `lock` held again; the caller
    // checks again what it waited for.
    void block(guard& held, std::function<bool()> ready, std::optional<std::uint64_t> deadline_ms,
               std::string waits_on);
    // Chooses the next thread to run and lets it go; the caller has stopped running.
    void hand_over(guard& held);
    // Called by the running thread after it has released what others wait for: when a
    // waiting thread can now go on, the seeded choice picks between it and the caller,
    // as a woken thread on Windows may run before its waker goes on.
    void let_woken_threads_compete(guard& held);
    thread_record& self();
    // Makes the calling thread the running simulated "test" thread.
    void register_test_thread();
    // A new simulated thread, ready to run when the scheduler picks it.
    std::shared_ptr<thread_record> start_thread(std::string name,
                                                platform::thread_procedure procedure,
                                                void* parameter);
    std::string describe_threads() const;

    process_record* find_process(std::uint32_t id);
    std::shared_ptr<process_record> add_process(std::wstring image_path, process_options options);
    void end(process_record& process, std::uint32_t exit_code);
    // Starts a process of an installed program and whatever it starts in turn.
    std::shared_ptr<process_record> launch_program(const std::wstring& key);

    platform::handle add_handle(handle_record record);
    handle_record* find_handle(platform::handle value, handle_kind kind);
    handle_record* find_handle(platform::handle value);

    location locate(const std::wstring& path, bool follow_last, bool create_parents = false,
                    int depth = 0);
    // A file name as the file calls take it: relative names from the current directory.
    std::wstring absolute(const std::wstring& path) const;
    const file_entry* entry(const std::wstring& key) const;
    bool is_directory(const std::wstring& key, int depth = 0);
    // Error 2 when the parent directory exists, 3 when it does not.
    platform::error_code missing_error(const std::wstring& key);
    std::vector<const file_entry*> children(const std::wstring& key) const;
    // True when something keeps the file open without delete sharing: a process, or a
    // file handle opened without FILE_SHARE_DELETE.
    bool held_by_a_process(const std::wstring& key) const;
    // True when a file handle on `key` does not share writing.
    bool write_not_shared(const std::wstring& key) const;
    // True when a handle is open on `key` or on anything under it: such a directory
    // cannot be renamed or replaced.
    bool open_at_or_under(const std::wstring& key) const;
    // Closing a file handle: a delete-pending entry goes with its last handle.
    void release_file(const std::wstring& key);
    // The next listed entry of an open listing; false at its end.
    bool next_listed(listing& found, platform::find_data& data);
    void run_swaps(operation op, const std::wstring& subject_key);
};

// --- Paths --------------------------------------------------------------------

// A path with / turned into \, repeated separators merged and no trailing separator.
std::wstring clean_path(const std::wstring& path);
// A path as the Win32 file calls take it: the \\?\ form literally, any other form with
// trailing dots and blanks of each name dropped, the length limit applied and device
// names (nul, con.txt) refused. Empty with `error` set when the call fails on it.
std::optional<std::wstring> win32_path(const std::wstring& path, platform::error_code& error);
// What every call on one path does first: count the call, apply an injected fault,
// refuse an empty path, take the path as Win32 does and find where it leads (its last
// part not followed). Empty when the call has already failed, with the last error set.
std::optional<location> enter_path(machine::impl& m, operation op, const wchar_t* path,
                                   platform::error_code blank_error);
// The form paths are compared in: clean and in lower case.
std::wstring file_tree_key(const std::wstring& path);
bool is_root(const std::wstring& key);
std::wstring parent_of(const std::wstring& path);
std::wstring last_component(const std::wstring& path);
std::wstring to_lower(const std::wstring& text);
// A path as K32GetProcessImageFileNameW gives it: C:\x as \Device\HarddiskVolume1\x.
std::wstring device_path(const std::wstring& spelled);

// The registry key `subkey` of HKEY_LOCAL_MACHINE and each key above it, made where
// missing; the key's path as keys are compared.
std::wstring make_registry_key(machine::impl& m, const std::wstring& subkey);

// Sets the calling thread's last-error code and hands back `result`, so that a failing
// call reads as one statement.
template <typename T>
T failure(T result, platform::error_code error) {
    platform::set_last_error(error);
    return result;
}

std::map<platform::error_code, std::wstring> default_error_texts();

// Ends the test process with a report: the simulated machine has reached a state no
// test can go on from (every thread waits for ever, or a thread it does not know waits).
[[noreturn]] void fatal(const std::string& why);

}  // namespace sim
