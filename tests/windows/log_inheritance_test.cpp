// The service's log is not handed down to the host agent. The agent is launched with
// handle inheritance (it must get the service's inheritable handles), and a log handle
// it inherited would stay open for the agent's whole life: the service could then never
// replace its log, and a stopped service would leave the file locked. Under Wine the
// stand-in agent shows that as a sharing violation when the file is deleted.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "file_calls.h"
#include "logging/diagnostic_log.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/processes.h"
#include "platform/settings.h"
#include "platform/unique_handle.h"
#include "process/find_processes.h"
#include "settings/settings_file.h"
#include "standin_process.h"
#include "supervision/agent_command_line.h"
#include "supervision/agent_group.h"
#include "supervision/agent_launch.h"

namespace {

namespace fs = std::filesystem;

// The LogFile setting of this program: the settings beside it are written for the whole
// run by the log environment of process_cleanup_test.cpp, which logs everything to a file
// of the run's own.
fs::path configured_log_file() {
    wchar_t name[platform::max_path] = {};
    platform::get_private_profile_string(L"SERVICE", L"LogFile", L"", name, platform::max_path,
                                         settings::settings_file_path().c_str());
    return fs::path(name);
}

std::size_t running_count(const std::wstring& name) {
    std::size_t count = 0;
    for (const std::uint32_t id : standin::process_ids()) {
        const platform::unique_handle process(
            platform::open_process(platform::process_all_access, false, id));
        if (process && standin::image_is(process.get(), name)) {
            ++count;
        }
    }
    return count;
}

bool agent_group_runs() {
    return running_count(L"snapteld.exe") == 1 &&
           running_count(L"snap-plugin-collector-qmsystem.exe") == 1 &&
           running_count(L"snap-plugin-publisher-quillmark.exe") == 1;
}

// Ends whatever the launch started, also when a check fails on the way: the agent holds
// this program's standard handles, and CTest would wait for it otherwise.
struct agent_group_stopper {
    supervision::agent_group& group;
    bool stopped = false;
    ~agent_group_stopper() {
        if (!stopped) {
            supervision::stop_agent(group);
        }
    }
};

TEST(LogInheritance, AgentLaunchedWithInheritanceDoesNotHoldTheLog) {
    // The one log of the test, which alone holds the file until it ends.
    std::optional<logging::diagnostic_log> process_log;
    process_log.emplace();
    process::process_list found;
    ASSERT_TRUE(process::find_processes(L"snap", found));
    ASSERT_TRUE(found.empty()) << "an agent or plugin process runs before the test";

    supervision::agent_group group;
    logging::log_debug(L"LogInheritance", L"log created before the launch");
    const fs::path log = configured_log_file();
    ASSERT_TRUE(log.is_absolute()) << log.string();
    ASSERT_TRUE(fs::exists(log));

    const fs::path record = standin::standin_directory() / "snapteld-launches.txt";
    std::error_code ignored;
    fs::remove(record, ignored);

    std::vector<wchar_t> command_line =
        supervision::agent_command_line((standin::standin_directory() / "snapteld.exe").wstring(),
                                        L"C:\\Quillmark Config\\snap config.yaml");
    agent_group_stopper stopper{group};
    ASSERT_TRUE(supervision::start_agent(group, command_line.data()));
    // The handles a child inherits are fixed when it is created; waiting for the plugins
    // only makes sure the whole group is there to be ended.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!agent_group_runs() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(agent_group_runs());

    process_log.reset();
    EXPECT_TRUE(platform::delete_file(log.c_str()))
        << "error " << platform::get_last_error() << " deleting " << log.string();

    stopper.stopped = true;
    EXPECT_TRUE(supervision::stop_agent(group));
    EXPECT_EQ(running_count(L"snapteld.exe"), 0u);
    EXPECT_EQ(running_count(L"snap-plugin-collector-qmsystem.exe"), 0u);
    EXPECT_EQ(running_count(L"snap-plugin-publisher-quillmark.exe"), 0u);
    fs::remove(record, ignored);
}

}  // namespace
