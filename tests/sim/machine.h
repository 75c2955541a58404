// The simulated machine behind the `sim` backend of the platform layer: the settings
// files, the executable's path, the system error texts, the debugger output channel,
// a wall clock and Sleep in virtual time, a process table and a file tree, with fault
// injection. Tests set it up and inspect it through `sim::machine::instance()`; the
// platform functions of platform.h act on the same instance.
//
// Every member may be called from any thread: one lock guards the whole machine.
// The last-error code is kept per thread, as on Windows.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace sim {

// The platform operations a test can make fail.
enum class operation {
    get_module_file_name,
    get_private_profile_string,
    get_private_profile_int,
    format_message,
    close_handle,
    wait_for_single_object,
    enum_processes,
    open_process,
    get_process_image_file_name,
    get_exit_code_process,
    terminate_process,
    find_first_file,
    find_next_file,
    get_file_attributes,
    delete_file,
    remove_directory,
    make_writable,
};

// How a simulated process behaves beyond running until it is terminated.
struct process_options {
    // OpenProcess fails with error 5 (access denied).
    bool cannot_open = false;
    // K32GetProcessImageFileNameW fails with error 5.
    bool image_unreadable = false;
    // TerminateProcess succeeds but the process goes on running.
    bool survives_termination = false;
    // TerminateProcess takes effect this many virtual milliseconds later: until then
    // the process runs and a wait on it times out.
    std::uint32_t exit_delay_ms = 0;
    // Once ended, the process is still listed by K32EnumProcesses (and can still be
    // opened), as a process whose exit the system has not yet finished is.
    bool listed_after_exit = false;
};

class machine {
  public:
    // The one machine of the test process.
    static machine& instance();

    // Back to a new machine: no files, no processes, no faults, no debugger output,
    // the default module path, error texts and clock; every handle forgotten.
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
    // Virtual milliseconds passed by Sleep since the last reset (the monotonic clock).
    std::uint64_t elapsed_ms() const;
    // Every Sleep's argument, in order of the calls.
    std::vector<std::uint32_t> sleeps() const;

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
    // How many times TerminateProcess has been called on this process.
    int terminations(std::uint32_t id) const;
    // The process keeps the file open without delete sharing until it ends:
    // DeleteFileW on it fails with 32.
    void hold_file(std::uint32_t id, const std::wstring& path);

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
    bool exists(const std::wstring& path) const;
    // The attributes of an entry; none when it does not exist.
    std::optional<std::uint32_t> attributes(const std::wstring& path) const;
    // The full paths of every entry under `path` (not following links), sorted.
    std::vector<std::wstring> tree(const std::wstring& path) const;

    // --- Handles --------------------------------------------------------------

    // Handles (processes, listings) opened and not yet closed.
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
