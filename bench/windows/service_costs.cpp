// Measures what the service costs on Windows (run under Wine by bench/measure.sh, which
// installs this program beside the stand-ins of the agent and its plugins and writes the
// settings file it reads). Each mode prints "name=value" lines for the script to read.
//
//   service_costs idle                        waits for ever: the floor of a Wine process
//                                             doing nothing, and an unrelated process
//   service_costs poll                        the worker thread's 60 ms poll and nothing
//                                             else, for ever: the floor of its pace
//   service_costs stop <service>              sends the stop control and times it until
//                                             the manager reports the service stopped
//   service_costs health <processes> <rounds> one health cycle against one bare search
//                                             and one bare process enumeration, with
//                                             <processes> idle copies of this program
//                                             running beside the agent group
//   service_costs restarts <count>            handles, private memory and heap bytes in use
//                                             of this process after 1, 10, ... and <count>
//                                             restarts of the agent group
//   service_costs log <iterations>            one debug line at the settings' LogLevel,
//                                             and the loop or the bare write beside it
//   service_costs cleanup <files> <rounds>    the service's emptying of its temporary
//                                             directory holding <files> files, against a
//                                             bare DeleteFileW walk over the same tree
//
// Windows is reached only through the project's platform layer.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "cleanup/cleanup.h"
#include "cleanup/delete_tree.h"
#include "logging/diagnostic_log.h"
#include "measuring.h"
#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/file_handles.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/processes.h"
#include "platform/services.h"
#include "platform/threads_and_events.h"
#include "platform/unique_handle.h"
#include "process/find_processes.h"
#include "settings/log_settings.h"
#include "settings/settings_file.h"
#include "supervision/agent_command_line.h"
#include "supervision/agent_launch.h"
#include "supervision/health_checks.h"

namespace {

using clock_type = std::chrono::steady_clock;

// DETACHED_PROCESS: the idle copies share no console, so none of them keeps the
// script's output file open for longer than this program runs.
constexpr std::uint32_t detached_process = 0x00000008;

// As much room as the service's own search gives the process table.
constexpr std::size_t identifier_capacity = 2048;

double microseconds_since(clock_type::time_point start) {
    return std::chrono::duration<double, std::micro>(clock_type::now() - start).count();
}

double median(std::vector<double> values) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

void print(const char* name, double value) {
    std::printf("%s=%.3f\n", name, value);
}

void print(const char* name, unsigned long long value) {
    std::printf("%s=%llu\n", name, value);
}

// --- idle ------------------------------------------------------------------------------

int idle() {
    for (;;) {
        platform::sleep(platform::infinite);
    }
}

// --- poll ------------------------------------------------------------------------------

// What the worker thread does between health cycles, call for call: look at the stop
// event, sleep its 60 ms, read the monotonic clock. The event is never set.
int poll() {
    const platform::unique_handle never_set(platform::create_event(true, false));
    for (;;) {
        platform::wait_for_single_object(never_set.get(), 0);
        platform::sleep(60);
        platform::tick_count();
    }
}

// --- stop ------------------------------------------------------------------------------

// Polled every millisecond rather than without pause: a loop of manager calls would take
// a core from the service it times, on a machine that may have only two.
constexpr std::uint32_t poll_pause_ms = 1;
constexpr double stop_limit_us = 60e6;

int stop(const std::wstring& name) {
    const platform::service_handle_guard manager(
        platform::open_sc_manager(platform::sc_manager_connect));
    if (!manager) {
        std::fprintf(stderr, "OpenSCManager failed: %u\n", platform::get_last_error());
        return 1;
    }
    const platform::service_handle_guard service(platform::open_service(
        manager.get(), name.c_str(), platform::service_stop | platform::service_query_status));
    if (!service) {
        std::fprintf(stderr, "OpenService failed: %u\n", platform::get_last_error());
        return 1;
    }
    platform::service_status status;
    const clock_type::time_point start = clock_type::now();
    if (!platform::control_service(service.get(), platform::service_control_stop, status)) {
        std::fprintf(stderr, "ControlService failed: %u\n", platform::get_last_error());
        return 1;
    }
    const double control_returned_us = microseconds_since(start);
    const std::uint32_t state_at_return = status.current_state;
    double stopped_us = 0;
    for (;;) {
        if (!platform::query_service_status(service.get(), status)) {
            std::fprintf(stderr, "QueryServiceStatus failed: %u\n", platform::get_last_error());
            return 1;
        }
        stopped_us = microseconds_since(start);
        if (status.current_state == platform::service_stopped) {
            break;
        }
        if (stopped_us > stop_limit_us) {
            std::fprintf(stderr, "the service did not stop within 60 s\n");
            return 1;
        }
        platform::sleep(poll_pause_ms);
    }
    print("state_when_control_returned", static_cast<unsigned long long>(state_at_return));
    print("control_returned_ms", control_returned_us / 1000);
    print("stopped_ms", stopped_us / 1000);
    return 0;
}

// --- the agent group ---------------------------------------------------------------------

// The launches and stops measured share one group, as a run of the service does.
supervision::agent_group& measured_group() {
    static supervision::agent_group group;
    return group;
}

// The stand-in agent acts as the host agent (and starts the plugins) when it is given a
// configuration file; it never reads it.
bool launch_agent_group() {
    std::vector<wchar_t> command_line =
        supervision::agent_command_line(settings::get_module_directory() + L"\\snapteld.exe",
                                        settings::get_module_directory() + L"\\snap config.yaml");
    return supervision::start_agent(measured_group(), command_line.data());
}

bool group_is_healthy() {
    return supervision::is_host_agent_running() && supervision::are_system_plugins_running();
}

bool wait_until_healthy() {
    const clock_type::time_point start = clock_type::now();
    while (!group_is_healthy()) {
        if (microseconds_since(start) > 20e6) {
            return false;
        }
        platform::sleep(20);
    }
    return true;
}

// --- health ------------------------------------------------------------------------------

std::size_t process_count() {
    std::vector<std::uint32_t> ids(identifier_capacity);
    std::uint32_t filled = 0;
    if (!platform::enum_processes(
            ids.data(), static_cast<std::uint32_t>(ids.size() * sizeof(std::uint32_t)), &filled)) {
        return 0;
    }
    return filled / sizeof(std::uint32_t);
}

// The least one search must do: list the processes, then open each one, read its image
// path and close it again; nothing matched, logged or kept. The access asked is the
// service's, so that the two differ only in what they do with each process.
void bare_search(std::vector<std::uint32_t>& ids, std::vector<wchar_t>& image) {
    std::uint32_t filled = 0;
    if (!platform::enum_processes(
            ids.data(), static_cast<std::uint32_t>(ids.size() * sizeof(std::uint32_t)), &filled)) {
        return;
    }
    const std::size_t count = filled / sizeof(std::uint32_t);
    for (std::size_t i = 0; i < count; ++i) {
        const platform::handle process =
            platform::open_process(platform::process_all_access, false, ids[i]);
        if (process == nullptr) {
            continue;
        }
        platform::get_process_image_file_name(process, image.data(),
                                              static_cast<std::uint32_t>(image.size()));
        platform::close_handle(process);
    }
}

int health(std::size_t unrelated, std::size_t rounds) {
    const std::wstring self = settings::get_module_path();
    std::vector<platform::unique_handle> idle_copies;
    const clock_type::time_point starting = clock_type::now();
    // A start that fails is tried again after a pause: one run of this program under a
    // loaded Wine once stopped short of the number asked for.
    unsigned long long failures = 0;
    platform::error_code last_failure = 0;
    for (std::size_t i = 0; i < unrelated && failures < 20;) {
        const std::wstring line = L"\"" + self + L"\" idle";
        std::vector<wchar_t> command_line(line.begin(), line.end());
        command_line.push_back(L'\0');
        platform::unique_process_information created;
        if (!platform::create_process(command_line.data(), false, detached_process,
                                      platform::startup_info{}, created.receive())) {
            last_failure = platform::get_last_error();
            ++failures;
            platform::sleep(500);
            continue;
        }
        idle_copies.push_back(created.take_process());
        ++i;
    }
    print("idle_processes_started", static_cast<unsigned long long>(idle_copies.size()));
    print("idle_process_start_failures", failures);
    print("idle_process_last_start_error", static_cast<unsigned long long>(last_failure));
    print("idle_processes_start_s", microseconds_since(starting) / 1e6);

    int result = 0;
    if (!launch_agent_group() || !wait_until_healthy()) {
        std::fprintf(stderr, "the agent group did not come up\n");
        result = 1;
    } else if (process_count() >= identifier_capacity) {
        // The bare search and the enumeration are given one buffer for the whole list.
        std::fprintf(stderr, "more processes run than %zu identifiers hold\n", identifier_capacity);
        result = 1;
    } else {
        print("processes_enumerated", static_cast<unsigned long long>(process_count()));
        std::vector<double> enumeration_us;
        std::vector<double> bare_search_us;
        std::vector<double> search_us;
        std::vector<double> cycle_us;
        std::vector<std::uint32_t> ids(identifier_capacity);
        std::vector<wchar_t> image(platform::max_path);
        process::process_list found;
        bool healthy = true;
        for (std::size_t round = 0; round < rounds; ++round) {
            std::uint32_t filled = 0;
            clock_type::time_point start = clock_type::now();
            platform::enum_processes(ids.data(),
                                     static_cast<std::uint32_t>(ids.size() * sizeof(std::uint32_t)),
                                     &filled);
            enumeration_us.push_back(microseconds_since(start));

            start = clock_type::now();
            bare_search(ids, image);
            bare_search_us.push_back(microseconds_since(start));

            start = clock_type::now();
            process::find_processes(L"snapteld.exe", found);
            search_us.push_back(microseconds_since(start));
            found.clear();

            start = clock_type::now();
            const bool agent = supervision::is_host_agent_running();
            const bool plugins = supervision::are_system_plugins_running();
            cycle_us.push_back(microseconds_since(start));
            healthy = healthy && agent && plugins;
        }
        print("rounds", static_cast<unsigned long long>(rounds));
        print("every_cycle_saw_the_group_running", static_cast<unsigned long long>(healthy));
        print("enumeration_median_us", median(enumeration_us));
        print("bare_search_median_us", median(bare_search_us));
        print("one_search_median_us", median(search_us));
        print("health_cycle_median_us", median(cycle_us));
    }

    for (const platform::unique_handle& copy : idle_copies) {
        platform::terminate_process(copy.get(), 0);
    }
    for (const platform::unique_handle& copy : idle_copies) {
        platform::wait_for_single_object(copy.get(), 5000);
    }
    supervision::stop_agent(measured_group());
    return result;
}

// --- restarts ----------------------------------------------------------------------------

bool print_own_costs(std::size_t restarts) {
    std::uint32_t handles = 0;
    std::uint64_t private_bytes = 0;
    std::uint64_t heap_bytes = 0;
    if (!platform::get_own_handle_count(&handles) ||
        !platform::get_own_private_bytes(&private_bytes) ||
        !platform::get_own_heap_bytes_in_use(&heap_bytes)) {
        std::fprintf(stderr, "cannot read this process's handles and memory: %u\n",
                     platform::get_last_error());
        return false;
    }
    std::printf("handles_after_%zu=%u\n", restarts, handles);
    std::printf("private_bytes_after_%zu=%llu\n", restarts,
                static_cast<unsigned long long>(private_bytes));
    std::printf("heap_bytes_after_%zu=%llu\n", restarts,
                static_cast<unsigned long long>(heap_bytes));
    std::fflush(stdout);
    return true;
}

int restarts(std::size_t count) {
    // The runtime gives standard output its buffer at the first line written: written
    // now, it is not counted as memory the restarts took.
    print("restarts", static_cast<unsigned long long>(count));
    std::fflush(stdout);
    if (!launch_agent_group() || !wait_until_healthy()) {
        std::fprintf(stderr, "the agent group did not come up\n");
        supervision::stop_agent(measured_group());
        return 1;
    }
    // Under Wine the first OutputDebugStringW of a process opens two handles it keeps for
    // good (the debug channel's mutex and buffer), and the first system text loads the
    // message table. An error line of any restart (a process still starting whose image
    // cannot be read yet) may be the first to do both: done once here, before any reading,
    // they are not taken for something restarts keep.
    platform::output_debug_string(platform::format_message(platform::error_invalid_handle).c_str());
    int result = 0;
    for (std::size_t restart = 1; restart <= count; ++restart) {
        // A restart as the worker thread makes one after a failed health cycle.
        supervision::stop_agent(measured_group());
        if (!launch_agent_group() || !wait_until_healthy()) {
            std::fprintf(stderr, "the agent group did not come up after restart %zu\n", restart);
            result = 1;
            break;
        }
        if (restart == 1 || restart % 10 == 0 || restart == count) {
            if (!print_own_costs(restart)) {
                result = 1;
                break;
            }
        }
    }
    supervision::stop_agent(measured_group());
    return result;
}

// --- log ---------------------------------------------------------------------------------

// The line the service writes most often: one per process found by a search.
const std::wstring image = L"\\Device\\HarddiskVolume1\\Program Files\\Quillmark\\snapteld.exe";
constexpr std::size_t log_batches = 15;

template <typename Body>
double ns_per_iteration(std::size_t iterations, Body& body) {
    const clock_type::time_point start = clock_type::now();
    for (std::size_t i = 0; i < iterations; ++i) {
        body(i);
    }
    return microseconds_since(start) * 1000 / static_cast<double>(iterations);
}

// The median time of one iteration of each body, their batches taken in turn, so that
// whatever else the machine does weighs on both alike.
template <typename Line, typename Floor>
std::pair<double, double> interleaved_medians_ns(std::size_t iterations, Line line, Floor floor) {
    std::vector<double> line_ns;
    std::vector<double> floor_ns;
    for (std::size_t batch = 0; batch < log_batches; ++batch) {
        line_ns.push_back(ns_per_iteration(iterations, line));
        floor_ns.push_back(ns_per_iteration(iterations, floor));
    }
    return {median(line_ns), median(floor_ns)};
}

// Times one debug line at the settings' LogLevel, and beside it the floor: the loop alone
// for a suppressed line, and for a written one the same bytes handed to a file opened as
// the log is, without anything the logger adds.
int log_line(std::size_t iterations) {
    const std::int32_t level = settings::read_log_level().threshold;
    // Opens the log, so that no batch pays for it.
    logging::log_debug(L"find_processes", L"adding process", image);
    const auto line = [](std::size_t) {
        logging::log_debug(L"find_processes", L"adding process", image);
    };

    std::pair<double, double> medians;
    if (level > 0) {
        volatile std::size_t last = 0;
        medians = interleaved_medians_ns(iterations, line, [&last](std::size_t i) { last = i; });
    } else {
        const std::wstring name = settings::get_module_directory() + L"\\bare-writes.log";
        const platform::unique_file_handle file(
            platform::create_file(name.c_str(), platform::generic_write,
                                  platform::file_share_read | platform::file_share_write,
                                  platform::create_always, platform::file_attribute_normal));
        if (!file) {
            std::fprintf(stderr, "cannot create the file of the bare writes\n");
            return 1;
        }
        std::string bytes = "[2026-01-01 00:00:00]:<D>:  find_processes adding process ";
        for (const wchar_t c : image) {
            bytes.push_back(static_cast<char>(c));
        }
        bytes.push_back('\n');
        medians = interleaved_medians_ns(iterations, line, [&file, &bytes](std::size_t) {
            std::uint32_t written = 0;
            platform::write_file(file.get(), bytes.data(), static_cast<std::uint32_t>(bytes.size()),
                                 &written);
        });
    }
    const auto [line_ns, floor_ns] = medians;
    print("log_level", static_cast<unsigned long long>(level));
    print("iterations_per_batch", static_cast<unsigned long long>(iterations));
    print("batches", static_cast<unsigned long long>(log_batches));
    print("line_median_ns", line_ns);
    print(level > 0 ? "empty_loop_median_ns" : "bare_write_median_ns", floor_ns);
    return 0;
}

// --- cleanup -----------------------------------------------------------------------------

// 500 files a subdirectory, so 20 subdirectories for 10,000: each walk lists long
// directories and also descends into several, as both kinds of step have their cost.
constexpr std::size_t files_per_directory = 500;

struct tree_layout {
    std::size_t directories = 0;
    std::size_t files = 0;
};

tree_layout layout_for(std::size_t files) {
    return {std::max<std::size_t>(1, (files + files_per_directory - 1) / files_per_directory),
            files};
}

std::wstring directory_name(std::size_t index) {
    return L"d" + std::to_wstring(index);
}

// The \\?\ form with backslashes, as the service names the entries it deletes: the two
// walks then hand the system the same names, and differ only in what they do with each.
std::wstring long_form(std::wstring path) {
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return L"\\\\?\\" + path;
}

// The files go to the subdirectories in turn, a few bytes each, each made with one
// CreateFileW of the platform layer, the cheapest way at hand: the tree is built before
// every walk, and that time is not what is measured.
bool build_tree(const tree_layout& layout) {
    const std::filesystem::path root(cleanup::temp_directory);
    std::error_code failure;
    for (std::size_t d = 0; d < layout.directories; ++d) {
        std::filesystem::create_directories(root / directory_name(d), failure);
        if (failure) {
            std::fprintf(stderr, "cannot create the directories to empty: %s\n",
                         failure.message().c_str());
            return false;
        }
    }
    const std::string content = "a line of a log\n";
    for (std::size_t f = 0; f < layout.files; ++f) {
        const std::filesystem::path name =
            root / directory_name(f % layout.directories) / (L"f" + std::to_wstring(f) + L".log");
        const platform::unique_file_handle file(
            platform::create_file(name.c_str(), platform::generic_write, platform::file_share_read,
                                  platform::create_always, platform::file_attribute_normal));
        std::uint32_t written = 0;
        if (!file || !platform::write_file(file.get(), content.data(),
                                           static_cast<std::uint32_t>(content.size()), &written)) {
            std::fprintf(stderr, "cannot create the files to delete: %u\n",
                         platform::get_last_error());
            return false;
        }
    }
    return true;
}

bool is_dot_entry(const platform::find_data& entry) {
    return entry.name == L"." || entry.name == L"..";
}

// The least a walk that empties the tree must do: list each directory, delete each file by
// name, remove each subdirectory once emptied and its listing closed. Nothing is opened,
// asked or checked. As the service's walk, it keeps the directory it was given.
bool bare_walk(const std::wstring& directory, bool remove_itself) {
    bool emptied = true;
    {
        platform::find_data entry;
        const platform::unique_find_handle listing(
            platform::find_first_file((directory + L"\\*").c_str(), entry));
        if (!listing) {
            return false;
        }
        do {
            if (is_dot_entry(entry)) {
                continue;
            }
            const std::wstring child = directory + L"\\" + entry.name;
            const bool gone = (entry.attributes & platform::file_attribute_directory) != 0
                                  ? bare_walk(child, true)
                                  : platform::delete_file(child.c_str());
            emptied = emptied && gone;
        } while (platform::find_next_file(listing.get(), entry));
    }
    return emptied && (!remove_itself || platform::remove_directory(directory.c_str()));
}

// Whether the directory is still there, holding nothing.
bool is_empty_directory(const std::wstring& directory) {
    platform::find_data entry;
    const platform::unique_find_handle listing(
        platform::find_first_file((directory + L"\\*").c_str(), entry));
    if (!listing) {
        return false;
    }
    do {
        if (!is_dot_entry(entry)) {
            return false;
        }
    } while (platform::find_next_file(listing.get(), entry));
    return true;
}

// Builds the tree, times one walk over it, and checks that the walk left the directory
// empty. A negative time when anything failed.
template <typename Walk>
double timed_walk(const tree_layout& layout, const char* which, Walk walk) {
    if (!build_tree(layout)) {
        return -1;
    }
    const clock_type::time_point start = clock_type::now();
    const bool reported = walk();
    const double walk_us = microseconds_since(start);
    if (!reported || !is_empty_directory(long_form(cleanup::temp_directory))) {
        std::fprintf(stderr, "the %s walk %s\n", which,
                     reported ? "left the directory not empty" : "reported a failure");
        return -1;
    }
    return walk_us;
}

// Empties the service's temporary directory of `files` files with the service's own walk
// and with the bare walk, one after the other in each round.
int cleanup_speed(std::size_t files, std::size_t rounds) {
    const std::wstring root = long_form(cleanup::temp_directory);
    const tree_layout layout = layout_for(files);
    // What an earlier run or the stand-in agent left (a read-only file, for one) would be
    // counted in the first walk, and the bare walk cannot delete it.
    std::error_code failure;
    std::filesystem::create_directories(cleanup::temp_directory, failure);
    if (failure || !cleanup::delete_tree(cleanup::temp_directory, 0, false) ||
        !is_empty_directory(root)) {
        std::fprintf(stderr, "the temporary directory cannot be emptied before the walks\n");
        return 1;
    }
    std::vector<double> service_us;
    std::vector<double> bare_us;
    for (std::size_t round = 0; round < rounds; ++round) {
        service_us.push_back(timed_walk(layout, "service's", [] {
            return cleanup::delete_tree(cleanup::temp_directory, 0, false);
        }));
        bare_us.push_back(timed_walk(layout, "bare", [&root] { return bare_walk(root, false); }));
        if (service_us.back() < 0 || bare_us.back() < 0) {
            return 1;
        }
    }
    const double entries = static_cast<double>(layout.files + layout.directories);
    const double service_median_us = median(service_us);
    const double bare_median_us = median(bare_us);
    print("cleanup_log_level",
          static_cast<unsigned long long>(settings::read_log_level().threshold));
    print("cleanup_files", static_cast<unsigned long long>(layout.files));
    print("cleanup_directories", static_cast<unsigned long long>(layout.directories));
    print("cleanup_rounds", static_cast<unsigned long long>(rounds));
    print("service_walk_median_ms", service_median_us / 1000);
    print("service_walk_longest_ms",
          *std::max_element(service_us.begin(), service_us.end()) / 1000);
    print("bare_walk_median_ms", bare_median_us / 1000);
    print("service_walk_per_entry_us", service_median_us / entries);
    print("bare_walk_per_entry_us", bare_median_us / entries);
    print("service_to_bare_walk_ratio", service_median_us / bare_median_us);
    return 0;
}

int usage() {
    std::fprintf(
        stderr,
        "usage: service_costs idle | poll | stop <service> | health <processes> <rounds> | "
        "restarts <count> | log <iterations> | cleanup <files> <rounds>\n");
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        return usage();
    }
    const std::wstring mode = argv[1];
    int result = 2;
    if (mode == L"idle" && argc == 2) {
        result = idle();
    } else if (mode == L"poll" && argc == 2) {
        result = poll();
    } else if (mode == L"stop" && argc == 3) {
        result = stop(argv[2]);
    } else if (mode == L"health" && argc == 4) {
        result = health(static_cast<std::size_t>(std::wcstoull(argv[2], nullptr, 10)),
                        static_cast<std::size_t>(std::wcstoull(argv[3], nullptr, 10)));
    } else if (mode == L"restarts" && argc == 3) {
        result = restarts(static_cast<std::size_t>(std::wcstoull(argv[2], nullptr, 10)));
    } else if (mode == L"log" && argc == 3) {
        result = log_line(static_cast<std::size_t>(std::wcstoull(argv[2], nullptr, 10)));
    } else if (mode == L"cleanup" && argc == 4) {
        const auto files = static_cast<std::size_t>(std::wcstoull(argv[2], nullptr, 10));
        const auto rounds = static_cast<std::size_t>(std::wcstoull(argv[3], nullptr, 10));
        if (files == 0 || rounds == 0) {
            return usage();
        }
        result = cleanup_speed(files, rounds);
    } else {
        return usage();
    }
    std::fflush(stdout);
    return result;
}
