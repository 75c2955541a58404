// Ending and waiting for another process with the Windows backend, on the stand-in for
// the agent.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "file_calls.h"
#include "platform/errors.h"
#include "platform/processes.h"
#include "platform/threads_and_events.h"
#include "platform/unique_handle.h"
#include "standin_process.h"

namespace {

namespace fs = std::filesystem;
using standin::started_standin;

TEST(Win32Processes, TerminatedStandinEndsWithTheGivenCode) {
    const started_standin standin(L"snapteld.exe", "");
    ASSERT_TRUE(standin);

    std::uint32_t exit_code = 0;
    ASSERT_TRUE(platform::get_exit_code_process(standin.get(), &exit_code));
    EXPECT_EQ(exit_code, platform::still_active);
    EXPECT_EQ(platform::wait_for_single_object(standin.get(), 0), platform::wait_timeout);

    ASSERT_TRUE(platform::terminate_process(standin.get(), 1));
    // Termination completes asynchronously on Windows: wait before reading the code.
    ASSERT_EQ(platform::wait_for_single_object(standin.get(), 5000), platform::wait_object_0);
    ASSERT_TRUE(platform::get_exit_code_process(standin.get(), &exit_code));
    EXPECT_EQ(exit_code, 1u);
}

TEST(Win32Processes, StandinEndsByItselfWithCode7) {
    const started_standin standin(L"snap-plugin-collector-qmsystem.exe", "--exit-after 300");
    ASSERT_TRUE(standin);

    ASSERT_EQ(platform::wait_for_single_object(standin.get(), 10000), platform::wait_object_0);
    std::uint32_t exit_code = 0;
    ASSERT_TRUE(platform::get_exit_code_process(standin.get(), &exit_code));
    EXPECT_EQ(exit_code, 7u);
}

TEST(Win32Processes, FileHeldByStandinCannotBeDeleted) {
    const fs::path held = fs::temp_directory_path() / "quillmark-held-by-standin.log";
    std::error_code ignored;
    fs::remove(held, ignored);
    {
        const started_standin standin(L"snap-plugin-publisher-quillmark.exe",
                                      "--hold \"" + held.string() + "\"");
        ASSERT_TRUE(standin);
        // The stand-in opens the file after it starts.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!fs::exists(held) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ASSERT_TRUE(fs::exists(held));
        EXPECT_FALSE(platform::delete_file(held.c_str()));
        EXPECT_EQ(platform::get_last_error(), platform::error_sharing_violation);

        ASSERT_TRUE(platform::terminate_process(standin.get(), 1));
        ASSERT_EQ(platform::wait_for_single_object(standin.get(), 5000), platform::wait_object_0);
    }
    EXPECT_TRUE(platform::delete_file(held.c_str()));
}

// DETACHED_PROCESS: a child without a console holds none of this program's standard
// handles, which under Wine would keep CTest's output pipe open.
constexpr std::uint32_t detached_process = 0x00000008;

std::vector<wchar_t> writable_line(const std::wstring& line) {
    std::vector<wchar_t> buffer(line.begin(), line.end());
    buffer.push_back(L'\0');
    return buffer;
}

TEST(Win32ProcessCreation, StartedStandinIsFoundByItsImageName) {
    const fs::path program = standin::standin_directory() / "snapteld.exe";
    // The stand-in ends by itself should the test fail before it ends it.
    std::vector<wchar_t> command_line =
        writable_line(L"\"" + program.wstring() + L"\" --exit-after 60000");
    const platform::startup_info hidden{platform::startf_useshowwindow, platform::sw_hide};
    platform::unique_process_information created;
    ASSERT_TRUE(platform::create_process(command_line.data(), false, detached_process, hidden,
                                         created.receive()))
        << "error " << platform::get_last_error();
    const platform::unique_handle process = created.take_process();
    ASSERT_TRUE(process);
    EXPECT_NE(created.get().thread, nullptr);
    EXPECT_NE(created.get().process_id, 0u);

    // Checks only from here on: the stand-in is ended below whatever they find.
    const std::vector<std::uint32_t> running = standin::process_ids();
    EXPECT_NE(std::find(running.begin(), running.end(), created.get().process_id), running.end());
    const platform::unique_handle opened(
        platform::open_process(platform::process_all_access, false, created.get().process_id));
    EXPECT_TRUE(opened && standin::image_is(opened.get(), L"snapteld.exe"));
    EXPECT_TRUE(standin::image_is(process.get(), L"snapteld.exe"));

    EXPECT_TRUE(platform::terminate_process(process.get(), 1));
    EXPECT_EQ(platform::wait_for_single_object(process.get(), 5000), platform::wait_object_0);
}

}  // namespace
