// The clocks the log's time stamps and the health cycle's interval are read from, and the
// executable's path the settings file is found beside, and the folder the agent is
// installed under.
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "contract/contract_test.h"
#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/settings.h"

namespace contract {
namespace {

using clock_contract = contract_test;
using module_contract = contract_test;
using folders_contract = contract_test;

TEST_F(clock_contract, local_time_of_a_known_instant) {
    // 2026-07-15 12:00:00 UTC: the same calendar day in every time zone.
    std::tm local{};
    ASSERT_TRUE(platform::to_local_time(1784116800, local));
    EXPECT_EQ(local.tm_year, 126);
    EXPECT_EQ(local.tm_mon, 6);
    EXPECT_EQ(local.tm_mday, 15);
}

TEST_F(clock_contract, a_sleep_moves_the_monotonic_clock_and_never_the_wall_clock_back) {
    const std::time_t before = platform::current_time();
    EXPECT_GT(before, 1767225600);  // after 2026-01-01
    const std::uint64_t started = platform::tick_count();
    platform::sleep(100);
    // The system's tick advances in steps of up to 16 ms.
    EXPECT_GE(platform::tick_count() - started, 80u);
    EXPECT_GE(platform::current_time(), before);
}

TEST_F(module_contract, a_path_too_long_is_cut_without_terminator) {
    std::vector<wchar_t> buffer(9, L'#');
    const std::uint32_t length = platform::get_module_file_name(buffer.data(), 8);
    EXPECT_EQ(length, 8u);
    EXPECT_EQ(platform::get_last_error(), platform::error_insufficient_buffer);
    EXPECT_EQ(buffer[8], L'#');
}

TEST_F(folders_contract, program_files_folder) {
    std::vector<wchar_t> path(platform::max_path, L'#');
    EXPECT_EQ(platform::get_folder_path(platform::csidl_program_files, platform::shgfp_type_current,
                                        path.data()),
              0);
    EXPECT_EQ(std::wstring(path.data()), L"C:\\Program Files");
}

}  // namespace
}  // namespace contract
