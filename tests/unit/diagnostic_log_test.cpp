#include <gtest/gtest.h>

#include <ostream>
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

// A LogLevel that is no level is refused for the default, in the log's first line.
struct level_case {
    const wchar_t* log_level;  // none: no LogLevel key
    bool debug, info;
    bool refused = false;
};

void PrintTo(const level_case& c, std::ostream* out) {
    *out << (c.log_level != nullptr ? test::narrow(c.log_level) : "absent");
}

class log_threshold : public test::sim_test, public ::testing::WithParamInterface<level_case> {};

TEST_P(log_threshold, a_line_is_written_when_the_level_does_not_exceed_its_severity) {
    const level_case c = GetParam();
    const std::wstring level =
        c.log_level != nullptr ? L"LogLevel=" + std::wstring(c.log_level) + L"\r\n" : L"";
    use_settings(L"[SERVICE]\r\n" + level + L"LogFile=" + log_file + L"\r\n");
    logging::log_debug(L"t", L"debug");
    logging::log_info(L"t", L"info");
    logging::log_error(L"t", L"error");

    std::vector<std::string> expected;
    std::vector<std::string> events;
    if (c.refused) {
        const std::string refusal = "get_logger LogLevel \"" + test::narrow(c.log_level) +
                                    "\" is not a level from 0 to 3; 3 is used.";
        expected.push_back(start_time + ":<ERROR>:  " + refusal);
        events.push_back("1 " + refusal);
    }
    if (c.debug) expected.push_back(start_time + ":<D>:  t debug");
    if (c.info) expected.push_back(start_time + ":<I>:  t info");
    expected.push_back(start_time + ":<ERROR>:  t error");
    events.push_back("1 t error");
    EXPECT_EQ(log_lines(), expected);
    EXPECT_EQ(event_entries(), events);
}

INSTANTIATE_TEST_SUITE_P(
    levels, log_threshold,
    ::testing::Values(level_case{nullptr, false, false}, level_case{L"0", true, true},
                      level_case{L"1", false, true}, level_case{L"2", false, false},
                      level_case{L"3", false, false}, level_case{L"+1", false, true},
                      level_case{L"00", true, true}, level_case{L"abc", false, false, true},
                      level_case{L"-1", false, false, true}, level_case{L"99", false, false, true},
                      level_case{L"4", false, false, true}, level_case{L"2x", false, false, true},
                      level_case{L"0x1", false, false, true}));

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

// The working directory (C:\work here, C:\Windows\system32 for a service) is never where
// the log goes.
struct placement_case {
    const wchar_t* log_file;  // none: no LogFile key
    const wchar_t* made;
};

class log_placement : public test::sim_test,
                      public ::testing::WithParamInterface<placement_case> {};

TEST_P(log_placement, a_relative_log_file_lies_in_the_executables_folder) {
    const placement_case c = GetParam();
    machine().create_directory(L"C:\\work");
    machine().create_directory(L"C:\\svc\\bin\\logs");
    machine().set_current_directory(L"C:\\work");
    use_settings(c.log_file != nullptr ? L"[SERVICE]\r\nLogFile=" + std::wstring(c.log_file) : L"");
    logging::log_error(L"t", L"failed");
    EXPECT_EQ(machine().file_content(c.made), start_time + ":<ERROR>:  t failed\n");
    EXPECT_EQ(machine().tree(L"C:\\work"), std::vector<std::wstring>{});
}

INSTANTIATE_TEST_SUITE_P(
    names, log_placement,
    ::testing::Values(placement_case{nullptr, L"C:\\svc\\bin\\quillmark_snaptel.log"},
                      placement_case{L"relative.log", L"C:\\svc\\bin\\relative.log"},
                      placement_case{L"logs\\x.log", L"C:\\svc\\bin\\logs\\x.log"},
                      placement_case{L"C:x.log", L"C:\\svc\\bin\\x.log"},
                      placement_case{L"\\logs\\x.log", L"C:\\logs\\x.log"},
                      placement_case{L"C:\\logs\\x.log", L"C:\\logs\\x.log"}));

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

// The system's text ends with a line break (and at times blanks): the line, the event and
// the debugger output leave them out, so that no empty line follows.
struct system_text_case {
    const wchar_t* text;
    const wchar_t* shown;
};

class system_text : public test::sim_test,
                    public ::testing::WithParamInterface<system_text_case> {};

TEST_P(system_text, ends_without_its_line_break_in_the_line_the_event_and_the_debugger) {
    use_log_level(3);
    constexpr platform::error_code code = 1234;
    machine().set_error_text(code, GetParam().text);
    platform::set_last_error(code);
    logging::log_last_error(L"start_agent", L"CreateProcess returned an error.");
    const std::string shown = test::narrow(GetParam().shown);
    EXPECT_EQ(log_bytes(), start_time +
                               ":<ERROR>:  start_agent CreateProcess returned an error.\n" +
                               start_time + ":<ERROR>:  start_agent " + shown + "\n");
    EXPECT_EQ(event_entries(),
              test::lines{"1 start_agent CreateProcess returned an error. " + shown});
    EXPECT_EQ(machine().debug_output(),
              (std::vector<std::wstring>{L"start_agent", GetParam().shown}));
}

INSTANTIATE_TEST_SUITE_P(
    texts, system_text,
    ::testing::Values(system_text_case{L"The system cannot find the file specified.\r\n",
                                       L"The system cannot find the file specified."},
                      system_text_case{L"Access is denied. \t\r\n", L"Access is denied."},
                      system_text_case{L"Line one.\r\nLine two.\r\n", L"Line one.\r\nLine two."},
                      system_text_case{L"No line break.", L"No line break."}));

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
