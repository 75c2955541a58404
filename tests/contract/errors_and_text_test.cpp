// Error codes, the system's texts for them, names compared as the file system compares
// them, and the handle value that means none: every error line the service writes, and
// every image name it matches, rests on these.
#include <cstdint>
#include <string>

#include "contract/contract_test.h"
#include "platform/errors.h"
#include "platform/text.h"

namespace contract {
namespace {

using errors_contract = contract_test;
using text_contract = contract_test;
using handles_contract = contract_test;

std::uint32_t set_and_read(void* parameter) {
    platform::set_last_error(*static_cast<std::uint32_t*>(parameter));
    return platform::get_last_error();
}

TEST_F(errors_contract, last_error_is_kept_per_thread) {
    platform::set_last_error(1234);
    std::uint32_t other = 5678;
    const joined_thread thread(set_and_read, &other);
    ASSERT_TRUE(thread);
    ASSERT_EQ(platform::wait_for_single_object(thread.get(), ample_ms), platform::wait_object_0);
    std::uint32_t seen = 0;
    ASSERT_TRUE(platform::get_exit_code_thread(thread.get(), &seen));
    EXPECT_EQ(seen, 5678u);
    EXPECT_EQ(platform::get_last_error(), 1234u);
}

TEST_F(errors_contract, known_code_has_text_ending_in_a_line_break) {
    const std::wstring text = platform::format_message(platform::error_file_not_found);
    ASSERT_GT(text.size(), 2u);
    EXPECT_EQ(text.substr(text.size() - 2), L"\r\n");
}

TEST_F(errors_contract, unknown_code_has_no_text) {
    EXPECT_EQ(platform::format_message(0x12345678), L"");
    // ERROR_MR_MID_NOT_FOUND: the system has no message for the code.
    EXPECT_EQ(platform::get_last_error(), 317u);
}

TEST_F(text_contract, comparison_ignores_case) {
    EXPECT_EQ(platform::compare_string_ignore_case(L"SnapTelD.EXE", L"snapteld.exe"), 0);
    EXPECT_NE(platform::compare_string_ignore_case(L"snapteld.exe", L"snapteld.ex"), 0);
    EXPECT_NE(platform::compare_string_ignore_case(L"a", L"b"), 0);
    EXPECT_EQ(platform::compare_string_ordinal(L"SnapTelD", 8, L"snapteld", 8, true),
              platform::cstr_equal);
    EXPECT_NE(platform::compare_string_ordinal(L"SnapTelD", 8, L"snapteld", 8, false),
              platform::cstr_equal);
}

TEST_F(handles_contract, invalid_handle_value_is_all_bits_set) {
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(platform::invalid_handle_value()),
              ~std::uintptr_t{0});
}

}  // namespace
}  // namespace contract
