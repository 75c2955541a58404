// Stands in for the agent and its plugins in the Windows tests: a console program that
// runs until it is terminated, as they do.
//
//   --hold <path>       keeps <path> open for the whole run. The C runtime opens files
//                       without delete sharing, so deleting the file fails with a
//                       sharing violation meanwhile, as it does for a live agent's log.
//   --hold-alone <path> keeps <path> open for reading, created if missing, sharing
//                       nothing with anyone: no other program can open it meanwhile,
//                       as when a log viewer or a backup tool locks the service's log.
//   --exit-after <ms>   ends by itself after <ms> milliseconds, with exit code 7.
//   --config <path>     acts as the host agent started by the service:
//                       - appends a line to snapteld-launches.txt beside its own
//                         executable: its process id, then each argument, all separated
//                         by tabs, so that a test sees whether a path with blanks
//                         arrived as one argument;
//                       - leaves agent-<pid>-readonly.txt (read-only) and
//                         agent-<pid>-open.txt (held open without delete sharing) in the
//                         agent's temporary directory, as the real agent leaves state
//                         there that a restart must clear;
//                       - starts the two system plugins found beside it.
//
// Other arguments (the real programs' options) are accepted and ignored. An option given
// twice takes its last value.
//
// Windows is reached through the project's platform layer; process identifiers and
// read-only marks come from the C runtime and the standard library.
#include <process.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/processes.h"
#include "platform/settings.h"
#include "platform/unique_handle.h"

namespace {

namespace fs = std::filesystem;

constexpr int exit_code_when_done = 7;

// GENERIC_READ, which the service never asks for: the file is held, not read.
constexpr std::uint32_t generic_read = 0x80000000;

// The real agent's temporary directory, spelt out rather than taken from the service's
// code: the stand-in plays a program the service does not control.
constexpr const wchar_t* agent_temp_directory = L"C:/ProgramData/Quillmark/Snap/temp";

constexpr const wchar_t* plugin_names[] = {
    L"snap-plugin-collector-qmsystem.exe",
    L"snap-plugin-publisher-quillmark.exe",
};

// DETACHED_PROCESS: a plugin without a console. Under Wine a child that shares its
// parent's console keeps the parent's standard handles open as long as it runs, and a
// test runner waiting on a pipe would wait for the plugin too.
constexpr std::uint32_t detached_process = 0x00000008;

struct file_closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using unique_file = std::unique_ptr<std::FILE, file_closer>;

fs::path own_directory() {
    std::vector<wchar_t> buffer(32768);
    const std::uint32_t length =
        platform::get_module_file_name(buffer.data(), static_cast<std::uint32_t>(buffer.size()));
    if (length == 0 || length == buffer.size()) {
        return {};
    }
    return fs::path(std::wstring(buffer.data(), length)).parent_path();
}

void record_launch(const fs::path& directory, int process_id, int argc, char** argv) {
    std::string line = std::to_string(process_id);
    for (int i = 0; i < argc; ++i) {
        line += '\t';
        line += argv[i];
    }
    line += '\n';
    const fs::path record = directory / "snapteld-launches.txt";
    const unique_file out(_wfopen(record.c_str(), L"ab"));
    if (!out || std::fwrite(line.data(), 1, line.size(), out.get()) != line.size()) {
        std::fprintf(stderr, "standin: cannot record the launch in %s\n", record.string().c_str());
    }
}

// Returns the file held open; the caller keeps it for the rest of the run.
unique_file leave_temporary_files(int process_id) {
    const fs::path directory(agent_temp_directory);
    std::error_code error;
    fs::create_directories(directory, error);
    if (error) {
        std::fprintf(stderr, "standin: cannot create %s\n", directory.string().c_str());
        return nullptr;
    }
    const std::wstring stem = L"agent-" + std::to_wstring(process_id);

    const fs::path read_only = directory / (stem + L"-readonly.txt");
    if (const unique_file out(_wfopen(read_only.c_str(), L"wb")); out) {
        std::fputs("state of an agent run\n", out.get());
    }
    fs::permissions(read_only,
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove, error);
    if (error) {
        std::fprintf(stderr, "standin: cannot make %s read-only\n", read_only.string().c_str());
    }

    const fs::path open = directory / (stem + L"-open.txt");
    unique_file held(_wfopen(open.c_str(), L"ab"));
    if (!held) {
        std::fprintf(stderr, "standin: cannot open %s\n", open.string().c_str());
        return nullptr;
    }
    std::fputs("held by a running agent\n", held.get());
    std::fflush(held.get());
    return held;
}

void start_plugins(const fs::path& directory) {
    for (const wchar_t* name : plugin_names) {
        const fs::path program = directory / name;
        // Quoted, as the directory may hold blanks.
        const std::wstring line = L"\"" + program.wstring() + L"\"";
        std::vector<wchar_t> command_line(line.begin(), line.end());
        command_line.push_back(L'\0');
        platform::unique_process_information started;
        if (!platform::create_process(command_line.data(), false, detached_process,
                                      platform::startup_info{}, started.receive())) {
            std::fprintf(stderr, "standin: cannot start %s: error %u\n", program.string().c_str(),
                         static_cast<unsigned>(platform::get_last_error()));
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    unique_file held;
    platform::unique_file_handle held_alone;
    std::optional<std::chrono::milliseconds> lifetime;
    bool host_agent = false;

    for (int i = 1; i < argc; ++i) {
        const bool has_value = i + 1 < argc;
        if (std::strcmp(argv[i], "--hold") == 0 && has_value) {
            const char* path = argv[++i];
            held.reset(std::fopen(path, "ab"));
            if (!held) {
                std::fprintf(stderr, "standin: cannot open %s\n", path);
                return 1;
            }
        } else if (std::strcmp(argv[i], "--hold-alone") == 0 && has_value) {
            const fs::path path(argv[++i]);
            held_alone.reset(platform::create_file(path.c_str(), generic_read, 0,
                                                   platform::open_always,
                                                   platform::file_attribute_normal));
            if (!held_alone) {
                std::fprintf(stderr, "standin: cannot hold %s: error %u\n", path.string().c_str(),
                             static_cast<unsigned>(platform::get_last_error()));
                return 1;
            }
        } else if (std::strcmp(argv[i], "--exit-after") == 0 && has_value) {
            lifetime = std::chrono::milliseconds(std::strtoll(argv[++i], nullptr, 10));
        } else if (std::strcmp(argv[i], "--config") == 0 && has_value) {
            ++i;
            host_agent = true;
        }
    }

    unique_file agent_state;
    if (host_agent) {
        const int process_id = _getpid();
        const fs::path directory = own_directory();
        record_launch(directory, process_id, argc, argv);
        agent_state = leave_temporary_files(process_id);
        start_plugins(directory);
    }

    const auto started = std::chrono::steady_clock::now();
    for (;;) {
        if (lifetime && std::chrono::steady_clock::now() - started >= *lifetime) {
            return exit_code_when_done;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}
