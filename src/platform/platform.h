// The Windows operations the service uses, declared once with portable types.
//
// Each function has the shape and the results of the Win32 call it stands for
// (named in its comment): a failure is reported by the same result value and
// leaves the calling thread's last-error code set, as the real call does. Two
// backends define them: `win32/` passes straight to the API, and the tests'
// simulated machine (tests/sim) stands in for Windows in native builds. Every
// function may be called from any thread.
//
// Product code blocks only through the waits declared here (sleep, the waits on
// objects, the lock), so that the simulated machine sees every thread that waits.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace platform {

// An operating-system handle (HANDLE), opaque above this layer.
using handle = void*;
using error_code = std::uint32_t;

// INVALID_HANDLE_VALUE.
handle invalid_handle_value();

// Windows error codes the system meets.
inline constexpr error_code error_success = 0;
inline constexpr error_code error_file_not_found = 2;
inline constexpr error_code error_path_not_found = 3;
inline constexpr error_code error_access_denied = 5;
inline constexpr error_code error_invalid_handle = 6;
inline constexpr error_code error_no_more_files = 18;
inline constexpr error_code error_sharing_violation = 32;
inline constexpr error_code error_invalid_parameter = 87;
inline constexpr error_code error_insufficient_buffer = 122;
inline constexpr error_code error_dir_not_empty = 145;
inline constexpr error_code error_app_init_failure = 575;
inline constexpr error_code error_service_specific_error = 1066;

inline constexpr std::uint32_t infinite = 0xFFFFFFFF;

inline constexpr std::uint32_t still_active = 259;
inline constexpr std::uint32_t wait_object_0 = 0;
inline constexpr std::uint32_t wait_timeout = 258;
inline constexpr std::uint32_t wait_failed = 0xFFFFFFFF;
inline constexpr std::uint32_t process_all_access = 0x1FFFFF;

inline constexpr std::uint32_t file_attribute_readonly = 0x1;
inline constexpr std::uint32_t file_attribute_directory = 0x10;
inline constexpr std::uint32_t file_attribute_reparse_point = 0x400;
inline constexpr std::uint32_t invalid_file_attributes = 0xFFFFFFFF;

// The platform's path limit (MAX_PATH), terminator included.
inline constexpr std::uint32_t max_path = 260;

// --- Errors and diagnostics -------------------------------------------------

// GetLastError / SetLastError: the calling thread's last-error code.
error_code get_last_error();
void set_last_error(error_code code);

// FormatMessageW with FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
// FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ARGUMENT_ARRAY, language 0, then LocalFree:
// the system's text for `code`, unchanged (inserts and the closing line break kept);
// empty when the platform has no text for it.
std::wstring format_message(error_code code);

// OutputDebugStringW: sends `text` to the debugger output channel.
void output_debug_string(const wchar_t* text);

// --- Module and settings -----------------------------------------------------

// GetModuleFileNameW(GetModuleHandleW(nullptr), buffer, size): the running executable's
// full path. Returns the number of characters stored; 0 on failure. A path that does
// not fit comes back cut to `size` characters without a terminator, the result is
// `size` and the last error is 122.
std::uint32_t get_module_file_name(wchar_t* buffer, std::uint32_t size);

// GetPrivateProfileStringW: the text of `key` in `section` of the settings file `file`,
// or `default_value`, cut to size - 1 characters and terminated. Returns the number of
// characters stored, terminator excluded.
std::uint32_t get_private_profile_string(const wchar_t* section, const wchar_t* key,
                                         const wchar_t* default_value, wchar_t* buffer,
                                         std::uint32_t size, const wchar_t* file);

// GetPrivateProfileIntW: the integer value of `key`, or `default_value`.
std::uint32_t get_private_profile_int(const wchar_t* section, const wchar_t* key,
                                      std::int32_t default_value, const wchar_t* file);

// SHGetFolderPathW(nullptr, folder, nullptr, flags, path): `path` holds max_path
// characters. Returns an HRESULT, negative on failure.
inline constexpr int csidl_program_files = 38;
inline constexpr std::uint32_t shgfp_type_current = 0;
std::int32_t get_folder_path(int folder, std::uint32_t flags, wchar_t* path);

// --- Version resource ----------------------------------------------------------
// Only the Windows tests read it, from the built executable: the simulated machine has
// no executables and does not define these.

// The part of VS_FIXEDFILEINFO that holds the versions: the first two of the four
// numbers in the high and low words of *_ms, the last two in those of *_ls.
struct fixed_file_version {
    std::uint32_t file_version_ms = 0;
    std::uint32_t file_version_ls = 0;
    std::uint32_t product_version_ms = 0;
    std::uint32_t product_version_ls = 0;
};

// GetFileVersionInfoSizeW and GetFileVersionInfoW on the file `path`, then
// VerQueryValueW(L"\\"): its fixed versions. False when the file cannot be read or has
// no version resource.
bool get_file_version(const wchar_t* path, fixed_file_version& version);

// The same, then VerQueryValueW(L"\\StringFileInfo\\<language><code page>\\<name>") for
// the first language and code page that \VarFileInfo\Translation lists: the text of
// `name` (ProductName, FileVersion, ...). False when the file or the text is missing.
bool get_file_version_text(const wchar_t* path, const wchar_t* name, std::wstring& text);

// LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE), then FormatMessageW with
// FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY: the message `id` of the
// file's message table with `insert` as its %1, as Event Viewer shows an event. False
// when the file or the message is missing.
bool format_module_message(const wchar_t* path, std::uint32_t id, const wchar_t* insert,
                           std::wstring& text);

// --- Text --------------------------------------------------------------------

// lstrcmpiW: 0 when the two texts are equal apart from letter case.
int compare_string_ignore_case(const wchar_t* first, const wchar_t* second);

// CompareStringOrdinal(first, first_length, second, second_length, ignore_case): the two
// texts of the given lengths compared unit by unit, with ignore_case by the system's
// upper-case table, as the file system compares names. cstr_less_than, cstr_equal or
// cstr_greater_than; 0 on failure.
inline constexpr int cstr_less_than = 1;
inline constexpr int cstr_equal = 2;
inline constexpr int cstr_greater_than = 3;
int compare_string_ordinal(const wchar_t* first, int first_length, const wchar_t* second,
                           int second_length, bool ignore_case);

// --- Clock -------------------------------------------------------------------

// time(nullptr): the wall clock in whole seconds.
std::time_t current_time();

// GetTickCount64: milliseconds since the system started. Never set back or forward, unlike
// the wall clock.
std::uint64_t tick_count();

// localtime: `when` as local calendar time. False when it cannot be converted.
bool to_local_time(std::time_t when, std::tm& local);

// Sleep: the calling thread waits `milliseconds`.
void sleep(std::uint32_t milliseconds);

// --- Handles, threads, events and locks ---------------------------------------

// CloseHandle.
bool close_handle(handle object);

// WaitForSingleObject on a process, a thread or an event: wait_object_0 when
// signalled, wait_timeout after the time-out (`infinite` waits for ever), wait_failed
// on failure. A wait on an auto-reset event resets it.
std::uint32_t wait_for_single_object(handle object, std::uint32_t milliseconds);

// The procedure a new thread runs; its result is the thread's exit code.
using thread_procedure = std::uint32_t (*)(void* parameter);

// CreateThread(nullptr, 0, procedure, parameter, 0, nullptr): a thread that starts
// at once; nullptr on failure.
handle create_thread(thread_procedure procedure, void* parameter);

// GetExitCodeThread: still_active while the thread runs.
bool get_exit_code_thread(handle thread, std::uint32_t* exit_code);

// CreateEventW(nullptr, manual_reset, initial_state, nullptr): an unnamed event;
// nullptr on failure.
handle create_event(bool manual_reset, bool initial_state);

// SetEvent.
bool set_event(handle event);

// SRWLOCK: a lock a thread may hold while it waits; not re-entrant. A zero-initialised
// object (SRWLOCK_INIT) is ready for use and needs no clean-up.
struct srw_lock {
    void* state = nullptr;
};

// AcquireSRWLockExclusive and ReleaseSRWLockExclusive.
void acquire_srw_lock_exclusive(srw_lock& lock);
void release_srw_lock_exclusive(srw_lock& lock);

// --- Processes -----------------------------------------------------------------

// The part of STARTUPINFOW the system sets; every other field is zero.
inline constexpr std::uint32_t startf_useshowwindow = 0x1;
inline constexpr std::uint16_t sw_hide = 0;
struct startup_info {
    std::uint32_t flags = 0;
    std::uint16_t show_window = 0;
};

// PROCESS_INFORMATION.
struct process_information {
    handle process = nullptr;
    handle thread = nullptr;
    std::uint32_t process_id = 0;
    std::uint32_t thread_id = 0;
};

// CreateProcessW(nullptr, command_line, nullptr, nullptr, inherit_handles,
// creation_flags, nullptr, nullptr, startup, created): the program is the first token
// of `command_line`, a writable terminated buffer that the call may change; the
// environment and the current directory are the caller's. On success `created` holds
// the new process's and primary thread's handles, which the caller must close.
bool create_process(wchar_t* command_line, bool inherit_handles, std::uint32_t creation_flags,
                    const startup_info& startup, process_information& created);

// K32EnumProcesses: fills `ids` (of `bytes` bytes) with process identifiers and
// `bytes_returned` with the number of bytes filled in. A buffer too small for every
// process is filled and the call succeeds: `bytes_returned` equal to `bytes` is the only
// sign that more processes run.
bool enum_processes(std::uint32_t* ids, std::uint32_t bytes, std::uint32_t* bytes_returned);

// OpenProcess: a handle to process `id`, or nullptr.
handle open_process(std::uint32_t access, bool inherit_handle, std::uint32_t id);

// K32GetProcessImageFileNameW: the image path in device form
// (\Device\HarddiskVolume1\...). Returns the number of characters stored; 0 on failure,
// also when the path does not fit `size` characters with its terminator.
std::uint32_t get_process_image_file_name(handle process, wchar_t* buffer, std::uint32_t size);

// GetCurrentProcessId: the identifier of the calling process.
std::uint32_t get_current_process_id();

// GetExitCodeProcess: still_active while the process runs.
bool get_exit_code_process(handle process, std::uint32_t* exit_code);

// TerminateProcess.
bool terminate_process(handle process, std::uint32_t exit_code);

// --- Service Control Manager ---------------------------------------------------

// SERVICE_STATUS.
struct service_status {
    std::uint32_t service_type = 0;
    std::uint32_t current_state = 0;
    std::uint32_t controls_accepted = 0;
    std::uint32_t win32_exit_code = 0;
    std::uint32_t service_specific_exit_code = 0;
    std::uint32_t check_point = 0;
    std::uint32_t wait_hint = 0;
};

inline constexpr std::uint32_t service_win32_own_process = 0x10;
inline constexpr std::uint32_t service_auto_start = 2;
inline constexpr std::uint32_t service_error_ignore = 0;
inline constexpr std::uint32_t service_stopped = 1;
inline constexpr std::uint32_t service_start_pending = 2;
inline constexpr std::uint32_t service_stop_pending = 3;
inline constexpr std::uint32_t service_running = 4;
inline constexpr std::uint32_t service_accept_stop = 1;
inline constexpr std::uint32_t service_accept_shutdown = 4;
inline constexpr std::uint32_t service_control_stop = 1;
inline constexpr std::uint32_t service_control_pause = 2;
inline constexpr std::uint32_t service_control_continue = 3;
inline constexpr std::uint32_t service_control_interrogate = 4;
inline constexpr std::uint32_t service_control_shutdown = 5;
inline constexpr std::uint32_t sc_manager_connect = 0x1;
inline constexpr std::uint32_t sc_manager_create_service = 0x2;
inline constexpr std::uint32_t service_all_access = 0xF01FF;
inline constexpr std::uint32_t service_start = 0x10;
inline constexpr std::uint32_t service_query_status = 0x4;
inline constexpr std::uint32_t delete_access = 0x10000;

// OpenSCManagerW(nullptr, nullptr, access): the local manager's default database;
// nullptr on failure.
handle open_sc_manager(std::uint32_t access);

// CreateServiceW(manager, name, display_name, access, service_type, start_type,
// error_control, binary_path, nullptr, nullptr, nullptr, nullptr, nullptr): no load
// order group, tag, dependencies, account (the local system account) or password;
// nullptr on failure.
handle create_service(handle manager, const wchar_t* name, const wchar_t* display_name,
                      std::uint32_t access, std::uint32_t service_type, std::uint32_t start_type,
                      std::uint32_t error_control, const wchar_t* binary_path);

// OpenServiceW: nullptr on failure.
handle open_service(handle manager, const wchar_t* name, std::uint32_t access);

// QueryServiceStatus.
bool query_service_status(handle service, service_status& status);

// DeleteService.
bool delete_service(handle service);

// ChangeServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, {description}): the text the
// Services console shows.
bool change_service_description(handle service, const wchar_t* description);

// SC_ACTION: what the manager does at a failure of the service, after `delay_ms`.
inline constexpr std::uint32_t sc_action_restart = 1;
struct sc_action {
    std::uint32_t type = 0;
    std::uint32_t delay_ms = 0;
};

// ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, {reset_period_s, no reboot
// message, no command, count, actions}): the n-th failure in a row runs the n-th action,
// every later one the last; the count goes back to 0 after `reset_period_s` seconds
// without a failure. A restart action needs a handle with service_start.
bool change_service_failure_actions(handle service, std::uint32_t reset_period_s,
                                    const sc_action* actions, std::uint32_t count);

// ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, {on_non_crash}): with
// true the failure actions also run when the service reports itself stopped with a
// non-zero exit code, not only when its process ends without reporting.
bool change_service_failure_actions_flag(handle service, bool on_non_crash_failures);

// CloseServiceHandle, for manager and service handles.
bool close_service_handle(handle manager_or_service);

// The service main function and the control handler, as the dispatcher calls them.
using service_main_function = void (*)(std::uint32_t argument_count, wchar_t** arguments);
using service_handler_function = void (*)(std::uint32_t control);

// StartServiceCtrlDispatcherW with a table of one service, `name` run by `main`: the
// calling thread serves the Service Control Manager until the service has stopped,
// runs `main` on a thread of its own and calls the service's control handler itself.
// False when the process could not connect (it was not started as a service).
bool start_service_ctrl_dispatcher(const wchar_t* name, service_main_function main);

// RegisterServiceCtrlHandlerW: the status handle, or nullptr on failure.
handle register_service_ctrl_handler(const wchar_t* name, service_handler_function handler);

// SetServiceStatus.
bool set_service_status(handle status_handle, const service_status& status);

// --- Files -------------------------------------------------------------------

// The part of WIN32_FIND_DATAW the system reads.
struct find_data {
    std::uint32_t attributes = 0;
    std::wstring name;
};

// FindFirstFileW: opens a listing by pattern and gives its first entry;
// invalid_handle_value() on failure.
handle find_first_file(const wchar_t* pattern, find_data& data);

// FindNextFileW: the next entry; false with error 18 at the end of the listing.
bool find_next_file(handle listing, find_data& data);

// FindClose.
bool find_close(handle listing);

// GetFileAttributesW: invalid_file_attributes on failure.
std::uint32_t get_file_attributes(const wchar_t* path);

// DeleteFileW.
bool delete_file(const wchar_t* path);

// RemoveDirectoryW.
bool remove_directory(const wchar_t* path);

// The C runtime's _wchmod(path, _S_IWRITE): clears the read-only attribute.
// 0 on success, -1 on failure.
int make_writable(const wchar_t* path);

inline constexpr std::uint32_t generic_write = 0x40000000;
inline constexpr std::uint32_t file_share_read = 0x1;
inline constexpr std::uint32_t file_share_write = 0x2;
inline constexpr std::uint32_t create_always = 2;
inline constexpr std::uint32_t open_always = 4;
inline constexpr std::uint32_t file_attribute_normal = 0x80;

// CreateFileW(name, access, share_mode, nullptr, disposition, flags_and_attributes,
// nullptr): without security attributes the handle is never inherited by a child
// process. invalid_handle_value() on failure. A relative name is taken from the current
// directory.
handle create_file(const wchar_t* name, std::uint32_t access, std::uint32_t share_mode,
                   std::uint32_t disposition, std::uint32_t flags_and_attributes);

// GetFullPathNameW: `name` as a full path, a relative name taken from the current
// directory, separators made backslashes. False on failure.
bool get_full_path_name(const wchar_t* name, std::wstring& full);

// GetLongPathNameW: the path of an existing entry with each short (8.3) component in its
// long form. False on failure.
bool get_long_path_name(const wchar_t* path, std::wstring& long_path);

// --- Entries reached through handles -------------------------------------------

inline constexpr std::uint32_t file_read_attributes = 0x80;
inline constexpr std::uint32_t file_write_attributes = 0x100;
inline constexpr std::uint32_t file_share_delete = 0x4;
inline constexpr std::uint32_t file_flag_backup_semantics = 0x02000000;
inline constexpr std::uint32_t file_flag_open_reparse_point = 0x00200000;

// CreateFileW(name, access, share_mode, nullptr, OPEN_EXISTING, flags, nullptr): an
// existing file or, with file_flag_backup_semantics, directory. With
// file_flag_open_reparse_point a link is opened itself, not what it points to.
// invalid_handle_value() on failure.
handle open_existing_file(const wchar_t* name, std::uint32_t access, std::uint32_t share_mode,
                          std::uint32_t flags);

// GetFileInformationByHandleEx(file, FileBasicInfo, ...): the attributes of the open
// entry. Needs file_read_attributes.
bool get_file_attributes_by_handle(handle file, std::uint32_t& attributes);

// GetFileInformationByHandleEx(file, FileStandardInfo, ...): how many names (hard links)
// the open file has.
bool get_file_link_count(handle file, std::uint32_t& links);

// GetFinalPathNameByHandleW(file, buffer, size, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS):
// where the open entry really is, as \\?\C:\... Returns the length stored, terminator
// excluded; when `size` is too small, the size needed with the terminator; 0 on failure.
std::uint32_t get_final_path_name_by_handle(handle file, wchar_t* buffer, std::uint32_t size);

// GetFileInformationByHandleEx(file, FileNameInfo, ...): the path of the open entry on
// its volume (\\ProgramData\\...), where links led. False on failure.
bool get_file_name_by_handle(handle file, std::wstring& name);

// SetFileInformationByHandle(file, FileBasicInfo, ...) with every time left as it is:
// gives the entry `attributes`. Needs file_write_attributes.
bool set_file_attributes_by_handle(handle file, std::uint32_t attributes);

// SetFileInformationByHandle(file, FileEndOfFileInfo, {size}): the open file cut (or
// extended) to `size` bytes. Needs write access.
bool set_file_size(handle file, std::uint64_t size);

// SetFileInformationByHandle(file, FileDispositionInfo, {TRUE}): the entry goes when its
// last handle closes. Needs delete access; fails for a read-only file (5) and for a
// directory that is not empty (145).
bool set_delete_disposition(handle file);

// WriteFile(file, data, size, written, overlapped) with the overlapped offset
// 0xFFFFFFFF:0xFFFFFFFF: at the current end of the file, wherever other handles have
// left it (emptied it, written more). `written` gets the bytes written, also when the
// call fails part way (a full disk: error 112 after what fitted).
bool write_file(handle file, const void* data, std::uint32_t size, std::uint32_t* written);

// --- Event log -------------------------------------------------------------------

inline constexpr std::uint16_t eventlog_error_type = 0x1;

// RegisterEventSourceW(nullptr, source): the handle the events of `source` are reported
// through on this machine; nullptr on failure.
handle register_event_source(const wchar_t* source);

// DeregisterEventSource.
bool deregister_event_source(handle source);

// ReportEventW(source, type, 0, event_id, nullptr, 1, 0, &text, nullptr): one event with no
// category, no user and no data, whose one insertion string is `text`.
bool report_event(handle source, std::uint16_t type, std::uint32_t event_id, const wchar_t* text);

// --- Registry ----------------------------------------------------------------------
// The registry calls return their error rather than set it: these return false (nullptr)
// on failure and leave that error as the thread's last error, as the other calls do.

inline constexpr std::uint32_t reg_expand_sz = 2;
inline constexpr std::uint32_t reg_dword = 4;

// RegCreateKeyExW(HKEY_LOCAL_MACHINE, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE,
// KEY_SET_VALUE, nullptr, &key, nullptr): the key, created with any missing key above it,
// or opened when it exists; nullptr on failure.
handle create_machine_registry_key(const wchar_t* subkey);

// RegSetValueExW(key, name, 0, type, ...) of a text (REG_SZ or REG_EXPAND_SZ), stored with
// its terminator.
bool set_registry_text(handle key, const wchar_t* name, std::uint32_t type, const wchar_t* text);

// RegSetValueExW(key, name, 0, REG_DWORD, ...).
bool set_registry_number(handle key, const wchar_t* name, std::uint32_t number);

// RegDeleteKeyW(HKEY_LOCAL_MACHINE, subkey): a key without subkeys, with its values.
bool delete_machine_registry_key(const wchar_t* subkey);

// RegCloseKey.
bool close_registry_key(handle key);

// --- Measuring ---------------------------------------------------------------------
// Only the programs of bench/windows use these, and only the Windows backend defines
// them: the simulated machine has no process costs worth measuring.

// SERVICE_STOP: the right to send a service the stop control.
inline constexpr std::uint32_t service_stop = 0x20;

// ControlService: sends `control` and fills `status` with the service's last reported
// status. Under Wine and on Windows the call returns once the service's control handler
// has returned.
bool control_service(handle service, std::uint32_t control, service_status& status);

// GetProcessHandleCount(GetCurrentProcess()): the handles this process holds open. Where
// the system answers 0 (Wine), the handle values GetHandleInformation accepts are counted.
bool get_own_handle_count(std::uint32_t* count);

// GetProcessMemoryInfo(GetCurrentProcess()) with PROCESS_MEMORY_COUNTERS_EX: PrivateUsage,
// the bytes of memory committed to this process alone; PagefileUsage where the system
// leaves PrivateUsage 0 (Wine).
bool get_own_private_bytes(std::uint64_t* bytes);

// GetProcessHeaps and HeapWalk: the bytes of the blocks in use on every heap of this
// process, whatever pages the heaps keep besides. The caller runs alone meanwhile.
bool get_own_heap_bytes_in_use(std::uint64_t* bytes);

}  // namespace platform
