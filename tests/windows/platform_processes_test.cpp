// Ending and waiting for another process with the Windows backend, on the stand-in for
// the agent.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>

#include "platform/platform.h"
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

}  // namespace
