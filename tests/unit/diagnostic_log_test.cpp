#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "logging/diagnostic_log.h"
#include "logging/log_windows_error.h"
#include "support/sim_test.h"

namespace {

using test::start_time;
using diagnostic_log = test::sim_test;

TEST_F(diagnostic_log, a_line_has_the_time_the_tag_and_each_piece_after_one_space) {
    use_log_level(0);
    logging::log_debug(L"wmain", L"enter");
    EXPECT_EQ(log_bytes(), start_time + ":<D>:  wmain enter\n");
}

TEST_F(diagnostic_log, every_kind_of_piece_is_written_plainly) {
    use_log_level(0);
    logging::log_debug(L"kill_processes", L"terminating host agent ...", L"retry",
                       std::int32_t{-7});
    logging::log_debug(L"find_processes", L"processes found", std::uint64_t{18446744073709551615u});
    logging::log_debug(L"process_child::terminate", L"process has exited with code",
                       std::uint32_t{4294967295u});
    logging::log_debug(L"process_child::is_running", L"GetExitCodeProcess has failed for handle",
                       reinterpret_cast<platform::handle>(std::uintptr_t{0x1a2b3c}));
    logging::log_debug(L"process_child::is_running", L"handle",
                       static_cast<platform::handle>(nullptr));
    logging::log_error(L"cleanup", L"Caught standard exception: ", "bad \xe9 alloc");
    logging::log_info(L"install_service", L"line\r\nbreak");

    EXPECT_EQ(log_bytes(),
              start_time + ":<D>:  kill_processes terminating host agent ... retry -7\n" +
                  start_time + ":<D>:  find_processes processes found 18446744073709551615\n" +
                  start_time +
                  ":<D>:  process_child::terminate process has exited with code 4294967295\n" +
                  start_time +
                  ":<D>:  process_child::is_running GetExitCodeProcess has failed for handle "
                  "00000000001A2B3C\n" +
                  start_time + ":<D>:  process_child::is_running handle 0000000000000000\n" +
                  start_time + ":<ERROR>:  cleanup Caught standard exception:  bad \xe9 alloc\n" +
                  start_time + ":<I>:  install_service line\r\nbreak\n");
}

TEST_F(diagnostic_log, characters_above_latin1_are_written_as_question_marks_and_logging_goes_on) {
    use_log_level(0);
    logging::log_debug(L"delete_tree", L"deleting file",
                       L"C:/temp/\u041f\u0440\u0438/\u4e2d\u00e9");
    logging::log_debug(L"delete_tree", L"pair", std::wstring(L"a\xD83D\xDE00z"));
    logging::log_debug(L"wmain", L"exit");
    EXPECT_EQ(log_bytes(), start_time +
                               ":<D>:  delete_tree deleting file C:/temp/??"
                               "?/?\xe9\n" +
                               start_time + ":<D>:  delete_tree pair a?z\n" + start_time +
                               ":<D>:  wmain exit\n");
}

struct level_case {
    int log_level;
    bool debug, info, error;
};

class log_threshold : public test::sim_test, public ::testing::WithParamInterface<level_case> {};

TEST_P(log_threshold, a_line_is_written_when_the_level_does_not_exceed_its_severity) {
    const level_case c = GetParam();
    use_log_level(c.log_level);
    logging::log_debug(L"t", L"debug");
    logging::log_info(L"t", L"info");
    logging::log_error(L"t", L"error");

    std::vector<std::string> expected;
    if (c.debug) expected.push_back(start_time + ":<D>:  t debug");
    if (c.info) expected.push_back(start_time + ":<I>:  t info");
    if (c.error) expected.push_back(start_time + ":<ERROR>:  t error");
    EXPECT_EQ(log_lines(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    levels, log_threshold,
    ::testing::Values(level_case{-5, true, true, true}, level_case{0, true, true, true},
                      level_case{1, false, true, true}, level_case{2, false, false, true},
                      level_case{3, false, false, true}, level_case{4, false, false, false},
                      level_case{100, false, false, false}));

TEST_F(diagnostic_log, the_level_is_read_once_and_kept) {
    use_log_level(3);
    logging::log_error(L"t", L"first");
    use_log_level(0);
    logging::log_debug(L"t", L"not written");
    EXPECT_EQ(log_lines(), std::vector<std::string>{start_time + ":<ERROR>:  t first"});
}

TEST_F(diagnostic_log, the_timestamp_is_local_time_when_the_line_is_finished) {
    use_log_level(0);
    machine().set_utc_offset(3600);
    machine().set_time(1798761599);  // 2026-12-31 23:59:59 UTC
    logging::log_debug(L"t", L"x");
    EXPECT_EQ(log_bytes(), "[2027-01-01 00:59:59]:<D>:  t x\n");
}

TEST_F(diagnostic_log, each_start_empties_the_file) {
    use_log_level(0);
    machine().write_file(log_file, "an earlier run\n");
    logging::log_debug(L"wmain", L"enter");
    EXPECT_EQ(log_lines(), std::vector<std::string>{start_time + ":<D>:  wmain enter"});
}

TEST_F(diagnostic_log,
       without_settings_the_default_file_in_the_working_directory_gets_errors_only) {
    machine().create_directory(L"C:\\work");
    machine().set_current_directory(L"C:\\work");
    logging::log_debug(L"wmain", L"enter");
    logging::log_error(L"t", L"failed");
    EXPECT_EQ(machine().file_content(L"C:\\work\\quillmark_snaptel.log"),
              start_time + ":<ERROR>:  t failed\n");
}

TEST_F(diagnostic_log, a_relative_log_file_is_resolved_against_the_working_directory) {
    use_settings(L"[SERVICE]\r\nLogLevel=0\r\nLogFile=relative.log\r\n");
    machine().create_directory(L"C:\\work");
    machine().set_current_directory(L"C:\\work");
    logging::log_debug(L"wmain", L"enter");
    EXPECT_TRUE(machine().exists(L"C:\\work\\relative.log"));
}

TEST_F(diagnostic_log, a_log_file_that_cannot_be_opened_fails_every_attempt_until_it_can) {
    const std::wstring missing = L"C:\\missing\\x.log";
    use_settings(L"[SERVICE]\r\nLogLevel=0\r\nLogFile=" + missing + L"\r\n");
    try {
        logging::log_debug(L"wmain", L"enter");
        FAIL() << "the log was opened";
    } catch (const logging::open_stream_error& error) {
        EXPECT_STREQ(error.what(), "Unable to open an output stream");
        EXPECT_EQ(error.file_name(), missing);
    }
    EXPECT_FALSE(machine().exists(missing));

    // LogFile is read again at the next attempt.
    machine().create_directory(L"C:\\missing");
    logging::log_debug(L"wmain", L"enter");
    EXPECT_TRUE(machine().exists(missing));
}

TEST_F(diagnostic_log, a_windows_error_goes_to_the_debugger_at_every_level_and_into_an_error_line) {
    use_log_level(4);
    logging::log_windows_error(L"start_agent", 2);
    EXPECT_EQ(machine().debug_output(),
              (std::vector<std::wstring>{L"start_agent",
                                         L"The system cannot find the file specified.\r\n"}));
    EXPECT_EQ(log_bytes(), "");
}

TEST_F(diagnostic_log, a_windows_error_line_keeps_the_system_text_with_its_line_break) {
    use_log_level(3);
    logging::log_windows_error(L"start_agent", 2);
    EXPECT_EQ(
        log_bytes(),
        start_time + ":<ERROR>:  start_agent The system cannot find the file specified.\r\n\n");
}

TEST_F(diagnostic_log, an_error_code_without_text_ends_the_line_with_the_tag_and_a_space) {
    use_log_level(3);
    logging::log_windows_error(L"find_processes", 0x12345678);
    EXPECT_EQ(machine().debug_output(), (std::vector<std::wstring>{L"find_processes", L""}));
    EXPECT_EQ(log_bytes(), start_time + ":<ERROR>:  find_processes \n");
}

TEST_F(diagnostic_log, lines_from_two_threads_never_mix) {
    use_log_level(0);
    logging::log_debug(L"wmain", L"enter");  // creates the log before the threads exist
    constexpr int lines_per_thread = 400;
    const std::wstring long_text(200, L'x');
    auto writer = [&](const wchar_t* tag) {
        for (int i = 0; i < lines_per_thread; ++i) {
            logging::log_debug(tag, long_text, i);
        }
    };
    std::thread first(writer, L"first");
    std::thread second(writer, L"second");
    first.join();
    second.join();

    const auto lines = log_lines();
    ASSERT_EQ(lines.size(), 1u + 2 * lines_per_thread);
    std::set<std::string> expected;
    for (int i = 0; i < lines_per_thread; ++i) {
        for (const char* tag : {"first", "second"}) {
            expected.insert(start_time + ":<D>:  " + tag + " " + std::string(200, 'x') + " " +
                            std::to_string(i));
        }
    }
    EXPECT_EQ(std::set<std::string>(lines.begin() + 1, lines.end()), expected);
}

}  // namespace
