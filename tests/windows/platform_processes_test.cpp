// The stand-in for the agent as the Windows tests rely on it: one that ends by itself
// reports its own code, so that a stand-in left by a failed test does not run for ever.
#include <gtest/gtest.h>

#include <cstdint>

#include "platform/processes.h"
#include "platform/threads_and_events.h"
#include "standin_process.h"

namespace {

using standin::started_standin;

TEST(Win32Processes, StandinEndsByItselfWithCode7) {
    const started_standin standin(L"snap-plugin-collector-qmsystem.exe", "--exit-after 300");
    ASSERT_TRUE(standin);

    ASSERT_EQ(platform::wait_for_single_object(standin.get(), 10000), platform::wait_object_0);
    std::uint32_t exit_code = 0;
    ASSERT_TRUE(platform::get_exit_code_process(standin.get(), &exit_code));
    EXPECT_EQ(exit_code, 7u);
}

}  // namespace
