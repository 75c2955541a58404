// The worker thread on the real system, for one full health cycle: it launches the
// stand-in agent (which starts the stand-in plugins), notices a plugin ended from
// outside at its next check, restarts the whole group, and ends when the service stops
// it. Run by worker_thread_test.sh, which installs this program with the stand-ins and
// the settings in a folder whose path has a blank, and plants C:\Program.exe to catch an
// unquoted launch.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "logging/diagnostic_log.h"
#include "platform/files.h"
#include "platform/processes.h"
#include "platform/settings.h"
#include "platform/threads_and_events.h"
#include "platform/unique_handle.h"
#include "settings/settings_file.h"
#include "standin_process.h"
#include "supervision/agent_group.h"
#include "supervision/agent_launch.h"
#include "supervision/worker_thread.h"

namespace {

namespace fs = std::filesystem;
using clock_type = std::chrono::steady_clock;

constexpr const wchar_t* agent = L"snapteld.exe";
constexpr const wchar_t* collector = L"snap-plugin-collector-qmsystem.exe";
constexpr const wchar_t* publisher = L"snap-plugin-publisher-quillmark.exe";
constexpr const wchar_t* decoy = L"Program.exe";

// The configuration file the installed settings name; it need not exist.
const std::string configuration_file = R"(C:\Quillmark Config\snap config.yaml)";

const fs::path temp_directory = L"C:/ProgramData/Quillmark/Snap/temp";

fs::path install_directory() {
    return fs::path(settings::get_module_directory());
}

// --- Processes ---------------------------------------------------------------------

// The identifiers of the processes running under each watched name.
using process_map = std::map<std::wstring, std::vector<std::uint32_t>>;

// Looks at the running processes; a look that sees the decoy run is remembered for good.
class process_watch {
  public:
    process_map look() {
        process_map running;
        for (const std::uint32_t id : standin::process_ids()) {
            const platform::unique_handle process(
                platform::open_process(platform::process_all_access, false, id));
            if (!process) {
                continue;
            }
            for (const wchar_t* name : {agent, collector, publisher}) {
                if (standin::image_is(process.get(), name)) {
                    running[name].push_back(id);
                }
            }
            if (standin::image_is(process.get(), decoy)) {
                decoy_seen_ = true;
            }
        }
        return running;
    }

    bool decoy_seen() const { return decoy_seen_; }

  private:
    bool decoy_seen_ = false;
};

std::uint32_t only(const process_map& running, const wchar_t* name) {
    const auto found = running.find(name);
    return found != running.end() && found->second.size() == 1 ? found->second.front() : 0;
}

bool group_runs(const process_map& running) {
    return only(running, agent) != 0 && only(running, collector) != 0 &&
           only(running, publisher) != 0;
}

bool nothing_runs(const process_map& running) {
    return running.empty();
}

std::string describe(const process_map& running) {
    std::ostringstream text;
    for (const auto& [name, ids] : running) {
        text << fs::path(name).string() << ":";
        for (const std::uint32_t id : ids) {
            text << " " << id;
        }
        text << "\n";
    }
    return text.str();
}

// --- Files ---------------------------------------------------------------------------

std::string read_text(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, separator);) {
        parts.push_back(part);
    }
    return parts;
}

// The arguments a launch of the agent recorded (argv[0] first), by process identifier.
std::map<std::uint32_t, std::vector<std::string>> launches() {
    std::map<std::uint32_t, std::vector<std::string>> recorded;
    for (const std::string& line :
         split(read_text(install_directory() / "snapteld-launches.txt"), '\n')) {
        std::vector<std::string> fields = split(line, '\t');
        if (fields.empty()) {
            continue;
        }
        const auto id =
            static_cast<std::uint32_t>(std::strtoul(fields.front().c_str(), nullptr, 10));
        fields.erase(fields.begin());
        recorded[id] = fields;
    }
    return recorded;
}

std::set<std::string> temp_files() {
    std::set<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(temp_directory, error)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

std::set<std::string> files_of_agent(std::uint32_t id) {
    const std::string stem = "agent-" + std::to_string(id);
    return {stem + "-open.txt", stem + "-readonly.txt"};
}

std::string describe_temp_files() {
    std::string text;
    for (const std::string& name : temp_files()) {
        text += "  " + name + "\n";
    }
    return text;
}

bool has_all(const std::set<std::string>& names, const std::set<std::string>& wanted) {
    return std::includes(names.begin(), names.end(), wanted.begin(), wanted.end());
}

bool has_none(const std::set<std::string>& names, const std::set<std::string>& unwanted) {
    return std::none_of(unwanted.begin(), unwanted.end(),
                        [&](const std::string& name) { return names.count(name) != 0; });
}

fs::path log_file() {
    wchar_t name[platform::max_path] = {};
    platform::get_private_profile_string(L"SERVICE", L"LogFile", L"", name, platform::max_path,
                                         settings::settings_file_path().c_str());
    return fs::path(name);
}

bool log_has(const std::string& text) {
    return read_text(log_file()).find(text) != std::string::npos;
}

// The first log line that holds `text`; empty when none does.
std::string log_line_with(const std::string& text) {
    for (const std::string& line : split(read_text(log_file()), '\n')) {
        if (line.find(text) != std::string::npos) {
            return line;
        }
    }
    return {};
}

// Polls `condition` every 100 ms until it holds or `limit` has passed.
template <typename Condition>
bool within(std::chrono::seconds limit, Condition condition) {
    const auto deadline = clock_type::now() + limit;
    for (;;) {
        if (condition()) {
            return true;
        }
        if (clock_type::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

// Stops the worker as the service's stop sequence does, on every way out of the test,
// and gives its exit code.
class worker {
  public:
    explicit worker(supervision::agent_group& group)
        : group_(group),
          thread_(platform::create_thread(supervision::ServiceWorkerThread, &group)) {}
    worker(const worker&) = delete;
    worker& operator=(const worker&) = delete;
    ~worker() { stop(); }

    explicit operator bool() const { return static_cast<bool>(thread_); }

    // still_active when the worker has not ended within the time.
    std::uint32_t stop() {
        if (!thread_) {
            return exit_code_;
        }
        group_.request_stop();
        supervision::stop_agent(group_);
        platform::set_event(group_.stop_event.get());
        exit_code_ = platform::still_active;
        if (platform::wait_for_single_object(thread_.get(), 30000) == platform::wait_object_0) {
            platform::get_exit_code_thread(thread_.get(), &exit_code_);
        }
        thread_.reset();
        return exit_code_;
    }

  private:
    supervision::agent_group& group_;
    platform::unique_handle thread_;
    std::uint32_t exit_code_ = platform::still_active;
};

TEST(WorkerThread, RestartsTheGroupWhenAPluginEndsAndStopsOnRequest) {
    if (std::getenv("QM_WORKER_SCENARIO") == nullptr) {
        GTEST_SKIP() << "run by worker_thread_test.sh, which installs this program";
    }
    // The log is set up on this thread, before any other thread exists, as the service's
    // entry point does.
    logging::current_log().set_up(logging::log_start::appending);
    logging::log_debug(L"WorkerThread", L"scenario enter");
    process_watch watch;
    ASSERT_TRUE(nothing_runs(watch.look())) << describe(watch.look());

    supervision::agent_group group;
    group.stop_event.reset(platform::create_event(true, false));
    ASSERT_TRUE(group.stop_event);
    worker running_worker(group);
    ASSERT_TRUE(running_worker);

    // The first launch.
    process_map first;
    ASSERT_TRUE(within(std::chrono::seconds(30), [&] {
        first = watch.look();
        return group_runs(first);
    })) << describe(first);
    const std::uint32_t first_agent = only(first, agent);

    const auto recorded = launches();
    ASSERT_EQ(recorded.count(first_agent), 1u)
        << read_text(install_directory() / "snapteld-launches.txt");
    const std::vector<std::string> expected_arguments = {
        (install_directory() / "snapteld.exe").string(), "--config", configuration_file};
    EXPECT_EQ(recorded.at(first_agent), expected_arguments);
    const std::string quoted_line = "\"" + (install_directory() / "snapteld.exe").string() +
                                    "\" --config \"" + configuration_file + "\"";
    const std::string launch_line = log_line_with("launch command line: ");
    EXPECT_NE(launch_line.find("launch command line: "), std::string::npos)
        << "the log has no launch command line";
    EXPECT_NE(launch_line.find(quoted_line), std::string::npos)
        << "the launch line \"" << launch_line << "\" lacks " << quoted_line;
    EXPECT_TRUE(within(std::chrono::seconds(10),
                       [&] { return has_all(temp_files(), files_of_agent(first_agent)); }));

    // A plugin ends behind the service's back.
    {
        const platform::unique_handle plugin(
            platform::open_process(platform::process_all_access, false, only(first, collector)));
        ASSERT_TRUE(plugin);
        ASSERT_TRUE(platform::terminate_process(plugin.get(), 1));
        ASSERT_EQ(platform::wait_for_single_object(plugin.get(), 5000), platform::wait_object_0);
    }

    // The next check, about a minute after the launch, restarts the group.
    std::set<std::uint32_t> first_ids;
    for (const auto& [name, ids] : first) {
        first_ids.insert(ids.begin(), ids.end());
    }
    process_map second;
    const bool restarted = within(std::chrono::seconds(75), [&] {
        second = watch.look();
        if (!group_runs(second)) {
            return false;
        }
        for (const auto& [name, ids] : second) {
            if (first_ids.count(ids.front()) != 0) {
                return false;
            }
        }
        return true;
    });
    ASSERT_TRUE(restarted) << "before:\n" << describe(first) << "now:\n" << describe(second);
    const std::uint32_t second_agent = only(second, agent);
    EXPECT_EQ(launches().count(second_agent), 1u);
    EXPECT_TRUE(within(std::chrono::seconds(10),
                       [&] {
                           const std::set<std::string> names = temp_files();
                           return has_all(names, files_of_agent(second_agent)) &&
                                  has_none(names, files_of_agent(first_agent));
                       }))
        << "the temporary directory holds:\n"
        << describe_temp_files();
    EXPECT_TRUE(log_has("Detected that not all system plugins are running."));
    EXPECT_TRUE(log_has("restarting host agent."));

    // The service's stop sequence.
    EXPECT_EQ(running_worker.stop(), 0u);
    EXPECT_TRUE(nothing_runs(watch.look())) << describe(watch.look());
    EXPECT_FALSE(watch.decoy_seen()) << "C:\\Program.exe ran";
    EXPECT_FALSE(fs::exists(L"C:/snapteld-launches.txt")) << "C:\\Program.exe was launched";
}

}  // namespace
