// The state of the simulated machine and the helpers its platform functions share.
// Only sim/*.cpp include this; tests go through machine.h.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/errors.h"
#include "platform/threads_and_events.h"
#include "sim/clock_state.h"
#include "sim/errors_state.h"
#include "sim/event_log_state.h"
#include "sim/faults_state.h"
#include "sim/files_state.h"
#include "sim/handles_state.h"
#include "sim/machine.h"
#include "sim/processes_state.h"
#include "sim/scheduler_state.h"
#include "sim/service_manager_state.h"
#include "sim/settings_state.h"

namespace sim {

// Windows codes the machine reports beyond those the seam names.
inline constexpr platform::error_code error_mr_mid_not_found = 317;

// The machine's state, one part per subsystem, each in a header named after the sources
// that act on it; what needs more than one part is done here.
struct machine::impl {
    // One lock for the whole machine rather than one per part: a call often touches
    // several parts at once (closing a file handle may delete the file), and the scheduler
    // passes control between threads under it.
    mutable std::mutex lock;
    using guard = std::unique_lock<std::mutex>;

    settings_state settings;
    errors_state errors;
    faults_state faults;
    clock_state clock;
    processes_state processes;
    handles_state handles;
    files_state fs;
    service_manager_state scm;
    event_log_state event_log;
    scheduler_state scheduler;

    impl();
    void clear();

    // Counts a call of `op`, then takes one use of a pending fault on `subject`.
    std::optional<platform::error_code> enter(operation op, const std::wstring& subject = {});

    // --- Scheduler, with the clock and the processes it moves on --------------

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
    // A new simulated thread, ready to run when the scheduler picks it.
    std::shared_ptr<thread_record> start_thread(std::string name,
                                                platform::thread_procedure procedure,
                                                void* parameter);
    std::string describe_threads() const;

    // --- Processes, with the files their programs are -------------------------

    // Starts a process of an installed program and whatever it starts in turn.
    std::shared_ptr<process_record> launch_program(const std::wstring& key);

    // --- Files, as open handles and processes bear on them --------------------

    // True when something keeps the file open without delete sharing: a process, or a
    // file handle opened without FILE_SHARE_DELETE.
    bool held_by_a_process(const std::wstring& key) const;
    // True when a running process holds the file without sharing `share`.
    bool held_without_sharing(const std::wstring& key, std::uint32_t share) const;
    // True when a process or a file handle holds the file without sharing reading.
    bool read_not_shared(const std::wstring& key) const;
    // True when a file handle on `key` does not share writing.
    bool write_not_shared(const std::wstring& key) const;
    // True when a handle is open on `key` or on anything under it: such a directory
    // cannot be renamed or replaced.
    bool open_at_or_under(const std::wstring& key) const;
    // Closing a file handle: a delete-pending entry goes with its last handle.
    void release_file(const std::wstring& key);
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

// Sets the calling thread's last-error code and hands back `result`, so that a failing
// call reads as one statement.
template <typename T>
T failure(T result, platform::error_code error) {
    platform::set_last_error(error);
    return result;
}

// Ends the test process with a report: the simulated machine has reached a state no
// test can go on from (every thread waits for ever, or a thread it does not know waits).
[[noreturn]] void fatal(const std::string& why);

}  // namespace sim
