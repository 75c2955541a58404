// The simulated machine that stands in for Windows in native builds: the settings
// files, the executable's path, the system error texts, the debugger output channel,
// a process table, a file tree, threads, events and locks, a wall clock and a
// monotonic clock in virtual time, with fault injection. Tests set it up and inspect it
// through `sim::machine::instance()`; the functions of the platform seam act on the
// same instance.
//
// Threads run as Go's testing/synctest runs goroutines in a bubble: one simulated
// thread at a time, control passing only when the running thread waits (a sleep, a wait
// on an object that is not signalled, a lock another thread holds, its own end). Virtual
// time moves only when no simulated thread can run, straight to the earliest deadline.
// When several threads can run, a choice seeded by set_seed picks the next, so a seed
// replays a run exactly and different seeds explore different interleavings. Releasing a
// lock or setting an event that another thread waits for is such a moment too: on
// Windows the woken thread may run before its waker goes on. The test's own thread takes
// part: reset() makes the calling thread the simulated "test" thread.
//
// Every member may be called from any thread: one lock guards the whole machine.
// The last-error code is kept per thread, as on Windows.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/event_log.h"
#include "platform/file_handles.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/processes.h"
#include "platform/services.h"
#include "platform/settings.h"
#include "platform/threads_and_events.h"

namespace sim {

// The platform operations a test can make fail.
enum class operation {
    get_module_file_name,
    get_private_profile_string,
    get_private_profile_int,
    format_message,
    output_debug_string,
    to_local_time,
    close_handle,
    wait_for_single_object,
    enum_processes,
    open_process,
    get_process_image_file_name,
    get_exit_code_process,
    terminate_process,
    find_first_file,
    find_next_file,
    find_close,
    open_existing_file,
    get_file_attributes_by_handle,
    get_file_link_count,
    get_final_path_name_by_handle,
    get_file_name_by_handle,
    set_file_attributes_by_handle,
    set_delete_disposition,
    create_file,
    write_file,
    create_process,
    create_thread,
    get_exit_code_thread,
    create_event,
    set_event,
    get_folder_path,
    open_sc_manager,
    create_service,
    open_service,
    query_service_status,
    delete_service,
    change_service_description,
    change_service_failure_actions,
    change_service_failure_actions_flag,
    close_service_handle,
    start_service_ctrl_dispatcher,
    register_service_ctrl_handler,
    set_file_size,
    get_file_size,
    rename_by_handle,
    get_full_path_name,
    get_long_path_name,
    register_event_source,
    report_event,
    create_registry_key,
    set_registry_value,
    delete_registry_key,
    query_service_config,
    query_service_description,
    query_service_failure_actions,
    query_service_failure_actions_flag,
    open_registry_key,
    query_registry_value,
    get_folder_writers,
    set_service_status,
};

// How long a terminated process goes on running by default, in virtual milliseconds.
inline constexpr std::uint32_t default_exit_delay_ms = 5;

// How a simulated process behaves beyond running until it is terminated.
struct process_options {
    // OpenProcess fails with error 5 (access denied).
    bool cannot_open = false;
    // K32GetProcessImageFileNameW fails with error 5.
    bool image_unreadable = false;
    // TerminateProcess succeeds but the process goes on running.
    bool survives_termination = false;
    // TerminateProcess takes effect this many virtual milliseconds later: until then
    // the process runs and a wait on it times out. Windows ends a process after the call
    // has returned, so by default the end comes a moment later; 0 ends it within the call.
    std::uint32_t exit_delay_ms = default_exit_delay_ms;
    // Once ended, the process is still listed by K32EnumProcesses (and can still be
    // opened), as a process whose exit the system has not yet finished is.
    bool listed_after_exit = false;
};

// What a program installed on the machine does when process creation launches it.
struct program {
    process_options options;
    // Programs (Windows paths of installed programs) the process starts as soon as it
    // is launched, as the host agent starts its plugins.
    std::vector<std::wstring> starts;
};

// A service registered with the simulated Service Control Manager.
struct service_entry {
    std::wstring name;
    std::wstring display_name;
    std::uint32_t service_type = 0;
    std::uint32_t start_type = 0;
    std::uint32_t error_control = 0;
    std::wstring binary_path;
    // The account it runs under; CreateServiceW without one gives the local system account.
    std::wstring account = L"LocalSystem";
    std::uint32_t state = platform::service_stopped;
    // What QueryServiceStatus shows of its last stop; a new service has never started.
    std::uint32_t win32_exit_code = platform::error_service_never_started;
    std::uint32_t service_specific_exit_code = 0;
    // Deleted while it ran: it goes when it stops.
    bool marked_for_deletion = false;
    // What ChangeServiceConfig2W stored.
    std::wstring description;
    std::uint32_t failure_reset_period_s = 0;
    std::vector<platform::sc_action> failure_actions;
    bool failure_actions_on_non_crash_failures = false;
};

// One SetServiceStatus call of the service, as it was made.
struct status_report {
    platform::service_status status;
    std::uint64_t at_ms = 0;
};

// How long the Service Control Manager waits for a service, in virtual milliseconds:
// Wine's limit for both a start and a control, the strictest the service must pass
// (Windows waits 30 s).
inline constexpr std::uint64_t default_service_limit_ms = 10000;

// A control the manager sent, and what its sender got back.
struct control_result {
    std::uint64_t sent_ms = 0;
    std::uint32_t control = 0;
    // What the handler returned; 1053 (ERROR_SERVICE_REQUEST_TIMEOUT) when it had not
    // returned within the control limit; 1061 (ERROR_SERVICE_CANNOT_ACCEPT_CTRL) or 1052
    // (ERROR_INVALID_SERVICE_CONTROL) when the manager refused it without calling the
    // handler.
    std::uint32_t result = 0;
    bool operator==(const control_result&) const = default;
};

// One successful process creation, as the creating call asked for it.
struct launch {
    std::uint32_t process_id = 0;
    std::wstring command_line;
    bool inherit_handles = false;
    std::uint32_t creation_flags = 0;
    std::uint32_t startup_flags = 0;
    std::uint16_t show_window = 0;
    // The monotonic clock at the moment of creation.
    std::uint64_t at_ms = 0;
};

// One event reported by ReportEventW, as it was reported.
struct reported_event {
    std::wstring source;
    std::uint16_t type = 0;
    std::uint32_t id = 0;
    std::wstring text;
};

// A registry value: a text (REG_SZ, REG_EXPAND_SZ) or a number (REG_DWORD).
struct registry_value {
    std::uint32_t type = 0;
    std::wstring text;
    std::uint32_t number = 0;
    bool operator==(const registry_value&) const = default;
};

class machine {
  public:
    // The one machine of the test process.
    static machine& instance();

    // Back to a new machine: no files, no processes, no faults, no debugger output,
    // the default module path, error texts and clock, seed 0; every handle and thread
    // forgotten. The calling thread becomes the simulated "test" thread, the one running.
    void reset();

    // --- Module, settings, errors ---------------------------------------------

    // The path GetModuleFileNameW reports. Default: C:\Program
    // Files\Quillmark\quillmark_snaptel.exe
    void set_module_path(std::wstring path);

    // A settings file read by the private-profile calls, as its decoded text.
    void set_settings_file(const std::wstring& path, std::wstring text);
    void remove_settings_file(const std::wstring& path);
    // How many times a settings file has been read (by either call).
    int settings_reads() const;

    // The system's text for an error code. The machine starts with Windows' texts for
    // the codes the service meets (each ending in "\r\n"); an empty text means the
    // platform has none, as for a code it does not know.
    void set_error_text(platform::error_code code, std::wstring text);

    // Everything sent by OutputDebugStringW, one element per call, in order.
    std::vector<std::wstring> debug_output() const;

    // --- Faults ---------------------------------------------------------------

    // The next `times` calls of `op` fail with `error`, as the real call fails (its
    // failure result, the last-error code set). With a `subject`, only calls on that
    // subject count: a path (compared as the file tree compares paths), or for the
    // process calls the decimal identifier of the process.
    void fail(operation op, platform::error_code error, std::wstring subject = {}, int times = 1);
    // As fail, once `passing` more calls of `op` (on `subject`) have gone through: for a
    // call that fails only where an operation calls it a second time.
    void fail_after(int passing, operation op, platform::error_code error,
                    std::wstring subject = {}, int times = 1);
    // The next call of `op` throws std::bad_alloc, as a call that cannot allocate does.
    void fail_with_exception(operation op);

    // How many times `op` has been called since the last reset.
    int calls(operation op) const;

    // --- Clock ----------------------------------------------------------------

    // The wall clock, in whole seconds, as time() reports it. Starts at
    // 2026-01-02 03:04:05 UTC (1767323045). Sleep advances it.
    std::time_t now() const;
    // Set the wall clock back or forward, without a sleep.
    void set_time(std::time_t when);
    // Local time is UTC plus this offset (default 0).
    void set_utc_offset(std::int32_t seconds);
    // Virtual milliseconds passed by Sleep since the last reset: the monotonic clock, which
    // GetTickCount64 reads.
    std::uint64_t elapsed_ms() const;
    // Every Sleep's argument, in order of the calls, from every thread.
    std::vector<std::uint32_t> sleeps() const;

    // --- Threads --------------------------------------------------------------

    // Seeds the choice among threads that can run at the same moment.
    void set_seed(std::uint64_t seed);
    // The test thread waits until the monotonic clock reads `ms`, while the other
    // threads run; returns at once when that moment has passed.
    void run_until(std::uint64_t ms);
    // `event` runs when the monotonic clock reaches `ms`, before any thread runs at that
    // moment, on whichever thread moves time there. It may use the machine and the
    // platform calls that do not wait, but must not wait itself.
    void at(std::uint64_t ms, std::function<void()> event);
    // Names a thread made by create_thread, for reports ("worker" rather than "thread
    // 1004").
    void name_thread(platform::handle thread, std::string name);
    // Each simulated thread, other than the test thread, that has not ended, with what
    // it waits on: "worker waits on event 0x104 for ever".
    std::vector<std::string> unfinished_threads() const;

    // --- Processes ------------------------------------------------------------

    // Starts a process with the given image path in device form
    // (\Device\HarddiskVolume1\...). Identifiers are multiples of 4 from 100 on, and
    // K32EnumProcesses lists processes in the order they were started.
    std::uint32_t start_process(std::wstring image_path, process_options options = {});
    // Ends a process with an exit code, as if it exited by itself.
    void end_process(std::uint32_t id, std::uint32_t exit_code);
    // True while the process has not ended.
    bool is_running(std::uint32_t id) const;
    // The exit code of an ended process; none while it runs or when there is no such process.
    std::optional<std::uint32_t> exit_code(std::uint32_t id) const;
    // The process GetCurrentProcessId names: one the test started stands for this one.
    // Default: an identifier no simulated process has.
    void set_current_process(std::uint32_t id);
    // How many times TerminateProcess has been called on this process.
    int terminations(std::uint32_t id) const;
    // The process keeps the file open until it ends, reading and writing it and sharing
    // only `share_mode`: an open that asks for what it does not share fails with 32, as
    // DeleteFileW does (deletion is never shared), and the profile calls give their
    // defaults for a file whose reading is not shared.
    void hold_file(std::uint32_t id, const std::wstring& path,
                   std::uint32_t share_mode = platform::file_share_read |
                                              platform::file_share_write);

    // An executable file at `path` (a Windows path) that process creation can launch.
    // Launched, its image path is the device form (C: is \Device\HarddiskVolume1).
    void install_program(const std::wstring& path, program behaviour = {});
    // Every process creation asked for by a platform call, in order.
    std::vector<launch> launches() const;
    // The identifiers of the processes that run an image path, in start order.
    std::vector<std::uint32_t> running(const std::wstring& image_path) const;

    // --- Service Control Manager ----------------------------------------------

    // The registered services, by name.
    std::vector<service_entry> services() const;
    // Registers a service as CreateServiceW would.
    void add_service(service_entry service);
    // The state the manager knows a service in, as if it had been started or stopped.
    void set_service_state(const std::wstring& name, std::uint32_t state);
    // This process was started by the manager as the service `name`: the dispatcher
    // connects. Without it the dispatcher fails with 1063, as in a console.
    void start_as_service(const std::wstring& name);
    // The manager sends `control` at the virtual moment `ms`; the dispatcher calls the
    // service's handler with it on its own thread, once a handler is registered, unless
    // the manager refuses it then (see control_results).
    void send_control(std::uint64_t ms, std::uint32_t control);
    // Every SetServiceStatus call, in order, with the status whole.
    std::vector<status_report> status_reports() const;
    // The manager's limits, as a test sets them to be longer or shorter than Wine's: the
    // service's first status report must come within `start_ms` of the dispatcher's
    // connection, and its handler must return within `control_ms` of a control's delivery.
    // At the limit's very moment it is too late already.
    void set_service_limits(std::uint64_t start_ms, std::uint64_t control_ms);
    // What starting the service came to: 0 once it reported within the start limit, 1053
    // (ERROR_SERVICE_REQUEST_TIMEOUT) once the limit passed without a report; none while
    // neither has happened or the dispatcher has not connected.
    std::optional<std::uint32_t> start_result() const;
    // True once the manager has ended the process for a start that came too late, as Wine
    // does: the service is then stopped, and each simulated thread but the test thread
    // has stopped at the wait it was in, for good, without ending. What the process did
    // until then (files deleted, processes launched) stays for the test to see.
    bool process_ended() const;
    // Each control the manager has sent and its sender has had an answer to, in order of
    // delivery; one whose handler has not returned yet is listed, with 1053, once its
    // limit has passed.
    // A control is refused, without reaching the handler, by the state the service last
    // reported (none yet reads as start pending): while start or stop is pending, with
    // 1061, save interrogate, which is always delivered; otherwise when the report does
    // not accept it (stop: accept stop, shutdown: accept shutdown, pause and continue:
    // accept pause and continue), with 1052.
    std::vector<control_result> control_results() const;
    // Runs `main` as this process's main thread (a simulated thread named "main"), as the
    // test's own thread cannot be ended with the process, and waits until it returns (its
    // result) or the manager ends the process (none). The test thread takes no part in
    // the process then: a dispatcher run on the test thread that outlives its process
    // returns false with 1053 instead.
    std::optional<int> run_process(std::function<int()> main);
    // How many times a handle that was not open (closed, or never opened) was waited on,
    // signalled or closed: on Windows such a handle may by then name another object.
    int stale_handle_uses() const;

    // --- Files ----------------------------------------------------------------
    //
    // Paths are compared without regard to case, with / and \ alike and without a
    // trailing separator. Creating an entry creates its missing parent directories.

    void create_directory(const std::wstring& path, std::uint32_t attributes = 0);
    void create_file(const std::wstring& path, std::uint32_t attributes = 0);
    // A directory link (junction or directory symbolic link) at `path` to the directory
    // `target`: listed with the directory and reparse-point bits, listing it lists the
    // target, and RemoveDirectoryW removes the link itself, as on Windows.
    void create_directory_link(const std::wstring& path, const std::wstring& target);
    // A file symbolic link at `path` to the file `target`: listed with the reparse-point
    // bit, opening it opens the target unless the link itself is asked for, and
    // DeleteFileW removes the link itself, as on Windows.
    void create_file_link(const std::wstring& path, const std::wstring& target);
    // The number of names (hard links) the file at `path` has; 1 unless set.
    void set_link_count(const std::wstring& path, std::uint32_t links);
    // When `op` is next called on `subject`, another program first replaces the
    // directory `path` with a directory link to `target` (moving the directory away), as
    // a user may between two calls of the service. It cannot while a handle is open on
    // the directory or on anything under it, as a directory cannot then be renamed; with
    // `even_while_open` it can, as under Wine, where a rename does not look at open handles.
    void replace_with_link_when(operation op, const std::wstring& subject, const std::wstring& path,
                                const std::wstring& target, bool even_while_open = false);
    // How many such replacements took place.
    int replacements_done() const;
    // A file holding `bytes`, created with its parents when missing.
    void write_file(const std::wstring& path, const std::string& bytes);
    // The bytes of a file; none when there is no such file.
    std::optional<std::string> file_content(const std::wstring& path) const;
    // The bytes the volume can still take; none (the default): no limit. A write beyond
    // it stores what fits, reports that count and fails with 112 (ERROR_DISK_FULL), as
    // WriteFile on a full disk does. Emptying or shortening a file gives its bytes back.
    void set_free_space(std::optional<std::size_t> bytes);
    // Each deletion through a handle (its disposition set) takes this many virtual
    // milliseconds, as on a disk, so that emptying a large directory takes time. Default 0.
    void set_deletion_time(std::uint32_t ms);
    // The directory relative file names are taken from. Default: C:\Windows\system32.
    void set_current_directory(std::wstring path);
    // Another program deletes the entry at `path` (a link itself) and everything under it.
    void remove(const std::wstring& path);
    bool exists(const std::wstring& path) const;
    // The attributes of an entry; none when it does not exist.
    std::optional<std::uint32_t> attributes(const std::wstring& path) const;
    // The full paths of every entry under `path` (not following links), sorted.
    std::vector<std::wstring> tree(const std::wstring& path) const;
    // Who may write to the folder at `path`, as security identifiers, as the walk of its
    // DACL finds them. Default, for every folder: the local system account and the
    // Administrators group, as under C:\Program Files.
    void set_folder_writers(const std::wstring& path, std::vector<std::wstring> writers);

    // --- Event log and registry ------------------------------------------------

    // Every event reported, in order.
    std::vector<reported_event> events() const;
    // The values of the key `subkey` of HKEY_LOCAL_MACHINE by name, as they were set; none
    // when there is no such key. Key and value names are compared without regard to case.
    std::optional<std::map<std::wstring, registry_value>> registry_key(
        const std::wstring& subkey) const;
    // A key, as another program creates one.
    void create_registry_key(const std::wstring& subkey);
    // Every key, by its path as first spelled, with its values.
    std::map<std::wstring, std::map<std::wstring, registry_value>> registry() const;

    // --- Handles --------------------------------------------------------------

    // Handles (processes, threads, events, listings, manager, service and registry
    // handles) opened and not yet closed. Open files and event sources are left out, as the
    // service keeps its log open for as long as it runs, and so is the status handle,
    // which is never closed.
    std::size_t open_handles() const;

    // The platform functions' side of the machine (sim/*.cpp only).
    struct impl;
    impl& internals() { return *impl_; }

  private:
    machine();
    std::unique_ptr<impl> impl_;
};

// The INI reader that stands in for GetPrivateProfileStringW and GetPrivateProfileIntW,
// over the decoded text of a settings file. Kept apart from the machine so that a
// Windows test can check its answers against the real calls.
std::uint32_t profile_string(const std::wstring& text, const wchar_t* section, const wchar_t* key,
                             const wchar_t* default_value, wchar_t* buffer, std::uint32_t size);
std::uint32_t profile_int(const std::wstring& text, const wchar_t* section, const wchar_t* key,
                          std::int32_t default_value);

}  // namespace sim
