// The log under a disk that fills up, a file emptied by another start of the program,
// settings that do not fit a path buffer, and text from outside that holds line breaks.
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "logging/diagnostic_log.h"
#include "logging/log_windows_error.h"
#include "platform/errors.h"
#include "platform/file_handles.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "process/find_processes.h"
#include "service/entry_point.h"
#include "support/sim_test.h"

namespace {

using test::start_time;
using log_resilience = test::sim_test;

// The bytes of a debug line of tag "t".
std::string line(const std::string& text) {
    return start_time + ":<D>:  t " + text + "\n";
}

// --- A write that fails -------------------------------------------------------------

// One line and the free space of the volume just before it (none: no limit).
struct write_step {
    std::optional<std::size_t> free_space;
    const wchar_t* text;
};

struct failed_write_case {
    const char* name;
    std::vector<write_step> steps;
    std::string expected;
};

void PrintTo(const failed_write_case& c, std::ostream* out) {
    *out << c.name;
}

class failed_write : public test::sim_test,
                     public ::testing::WithParamInterface<failed_write_case> {};

TEST_P(failed_write, drops_the_line_whole_and_the_next_one_starts_a_line_of_its_own) {
    use_log_level(0);
    for (const write_step& step : GetParam().steps) {
        machine().set_free_space(step.free_space);
        logging::log_debug(L"t", step.text);
    }
    EXPECT_EQ(log_bytes(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    cases, failed_write,
    ::testing::Values(
        failed_write_case{"nothing_written",
                          {{{}, L"one"}, {0, L"two"}, {{}, L"three"}},
                          line("one") + line("three")},
        failed_write_case{"part_of_a_line_written",
                          {{{}, L"one"}, {10, L"two"}, {{}, L"three"}},
                          line("one") + line("two").substr(0, 10) + "\n" + line("three")},
        failed_write_case{
            "all_but_the_line_feed_written",
            {{{}, L"one"}, {line("two").size() - 1, L"two"}, {{}, L"three"}},
            line("one") + line("two").substr(0, line("two").size() - 1) + "\n" + line("three")},
        // The disk stays full: the cut line is ended once, by the first line that fits.
        failed_write_case{"several_lines_lost_after_a_cut",
                          {{{}, L"one"}, {5, L"two"}, {0, L"three"}, {0, L"four"}, {{}, L"five"}},
                          line("one") + line("two").substr(0, 5) + "\n" + line("five")},
        // Room for the line feed that ends the cut line and no more: the file ends on a
        // whole line again, so the line after starts without another.
        failed_write_case{"room_only_for_the_line_feed_that_ends_a_cut",
                          {{{}, L"one"}, {5, L"two"}, {1, L"three"}, {{}, L"four"}},
                          line("one") + line("two").substr(0, 5) + "\n" + line("four")},
        failed_write_case{"a_second_cut_right_after_the_first",
                          {{{}, L"one"}, {5, L"two"}, {4, L"three"}, {{}, L"four"}},
                          line("one") + line("two").substr(0, 5) + "\n" +
                              line("three").substr(0, 3) + "\n" + line("four")}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(log_resilience, a_write_that_fails_without_writing_loses_only_its_own_line) {
    use_log_level(0);
    logging::log_debug(L"t", L"one");
    machine().fail(sim::operation::write_file, 5);
    logging::log_debug(L"t", L"two");
    logging::log_debug(L"t", L"three");
    EXPECT_EQ(log_bytes(), line("one") + line("three"));
}

TEST_F(log_resilience, a_windows_error_reported_after_a_failed_write_keeps_its_own_code) {
    use_log_level(0);
    logging::log_debug(L"t", L"one");
    machine().set_free_space(0);
    platform::set_last_error(platform::error_file_not_found);
    logging::log_last_error(L"t", L"lost");
    machine().set_free_space(std::nullopt);
    platform::set_last_error(platform::error_access_denied);
    logging::log_last_error(L"t", L"written");
    EXPECT_EQ(log_bytes(), line("one") + start_time + ":<ERROR>:  t written\n" + start_time +
                               ":<ERROR>:  t Access is denied.\n");
    EXPECT_EQ(machine().debug_output(),
              (std::vector<std::wstring>{L"t", L"The system cannot find the file specified.", L"t",
                                         L"Access is denied."}));
}

// --- The file emptied by another start ---------------------------------------------

struct emptied_case {
    const char* name;
    // What the other process writes once it has emptied the file.
    std::string its_bytes;
    std::string expected;
};

void PrintTo(const emptied_case& c, std::ostream* out) {
    *out << c.name;
}

class emptied_log : public test::sim_test, public ::testing::WithParamInterface<emptied_case> {
  protected:
    // Another process of the program (an install or an uninstall) opens the log as the
    // service opened it, which empties it, and may write lines of its own.
    void open_as_another_start(const std::string& bytes) {
        const platform::handle other =
            platform::create_file(log_file, platform::generic_write,
                                  platform::file_share_read | platform::file_share_write,
                                  platform::create_always, platform::file_attribute_normal);
        ASSERT_NE(other, platform::invalid_handle_value());
        std::uint32_t written = 0;
        ASSERT_TRUE(platform::write_file(other, bytes.data(),
                                         static_cast<std::uint32_t>(bytes.size()), &written));
        platform::close_handle(other);
    }
};

TEST_P(emptied_log, lines_go_on_at_its_new_end_without_nul_bytes) {
    use_log_level(0);
    logging::log_debug(L"t", L"one");
    logging::log_debug(L"t", L"two");
    open_as_another_start(GetParam().its_bytes);
    logging::log_debug(L"t", L"three");
    EXPECT_EQ(log_bytes(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    cases, emptied_log,
    ::testing::Values(emptied_case{"emptied", "", line("three")},
                      emptied_case{"emptied_and_written_less", "x\n", "x\n" + line("three")},
                      // Longer than the service's own lines: writing at the service's old offset
                      // would overwrite the middle of it.
                      emptied_case{"emptied_and_written_more", std::string(99, 'x') + "\n",
                                   std::string(99, 'x') + "\n" + line("three")}),
    [](const auto& info) { return std::string(info.param.name); });

// --- A long LogFile -------------------------------------------------------------------

// Names past the path limit are given in the \\?\ form, as they must be to open at all.
const std::wstring long_form_logs = L"\\\\?\\C:\\logs\\";

// A LogFile of `length` characters in C:\logs.
std::wstring log_name_of_length(std::size_t length) {
    return long_form_logs + std::wstring(length - long_form_logs.size() - 4, L'n') + L".log";
}

class long_log_name : public test::sim_test, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(long_log_name, is_used_whole_and_the_file_its_first_259_characters_name_is_untouched) {
    const std::wstring name = log_name_of_length(GetParam());
    const std::wstring cut = name.substr(0, platform::max_path - 1);
    machine().write_file(cut, "another file\n");
    use_settings(L"[SERVICE]\r\nLogLevel=0\r\nLogFile=" + name + L"\r\n");

    logging::log_debug(L"t", L"one");

    EXPECT_EQ(machine().file_content(name), (cut == name ? "another file\n" : "") + line("one"));
    if (cut != name) {
        EXPECT_EQ(machine().file_content(cut), "another file\n");
    }
}

// 259 characters fill the 260-character buffer exactly, which the call reports as it
// reports a cut value.
INSTANTIATE_TEST_SUITE_P(lengths, long_log_name,
                         ::testing::Values(std::size_t{258}, std::size_t{259}, std::size_t{260},
                                           std::size_t{300}, std::size_t{600}));

TEST_F(log_resilience, a_long_log_file_that_cannot_be_opened_ends_the_process_naming_it_whole) {
    // The whole name lies in a directory that does not exist; its first 259 characters
    // name a file that does.
    const std::wstring directory = long_form_logs + std::wstring(200, L'd');
    const std::wstring name = directory + L"\\" + std::wstring(100, L'e') + L"\\x.log";
    const std::wstring cut = name.substr(0, platform::max_path - 1);
    ASSERT_EQ(cut, directory + L"\\" + std::wstring(46, L'e'));
    machine().write_file(cut, "another file\n");
    use_settings(L"[SERVICE]\r\nLogLevel=0\r\nLogFile=" + name + L"\r\n");

    std::wstring program = L"quillmark_snaptel.exe";
    std::wstring command = L"install";
    wchar_t* argv[] = {program.data(), command.data(), nullptr};
    ::testing::internal::CaptureStderr();
    const int code = wmain(2, argv);
    const std::string message = ::testing::internal::GetCapturedStderr();

    EXPECT_EQ(code, 1);
    EXPECT_EQ(message, "quillmark_snaptel: Unable to open an output stream: " + test::narrow(name) +
                           ": The system cannot find the path specified.\n");
    EXPECT_EQ(machine().file_content(cut), "another file\n");
}

// --- LogLevel read once ----------------------------------------------------------------

// The log settings are read once, when the log is made, however many lines follow.
TEST_F(log_resilience, the_log_settings_are_read_once_and_admit_every_line_at_level_0) {
    use_log_level(0);
    std::vector<std::string> expected;
    for (int i = 0; i < 20; ++i) {
        logging::log_debug(L"t", i);
        logging::log_info(L"t", i);
        logging::log_error(L"t", i);
        expected.push_back(start_time + ":<D>:  t " + std::to_string(i));
        expected.push_back(start_time + ":<I>:  t " + std::to_string(i));
        expected.push_back(start_time + ":<ERROR>:  t " + std::to_string(i));
    }
    EXPECT_EQ(log_lines(), expected);
    EXPECT_EQ(machine().calls(sim::operation::get_private_profile_string), 3);
}

TEST_F(log_resilience, the_level_is_read_again_only_in_a_new_process) {
    use_log_level(0);
    logging::log_debug(L"t", L"one");
    new_process_log();
    use_log_level(3);
    logging::log_debug(L"t", L"not written");
    EXPECT_EQ(log_bytes(), line("one"));
    EXPECT_EQ(machine().calls(sim::operation::get_private_profile_string), 6);
}

// --- Text from outside ----------------------------------------------------------------

struct outside_case {
    const char* name;
    std::wstring image;
    std::string logged;
};

void PrintTo(const outside_case& c, std::ostream* out) {
    *out << c.name;
}

class image_path_logged : public test::sim_test,
                          public ::testing::WithParamInterface<outside_case> {};

TEST_P(image_path_logged, shows_each_line_break_as_a_question_mark) {
    use_log_level(0);
    machine().start_process(GetParam().image);
    process::process_list found;
    ASSERT_TRUE(process::find_processes(L"snapteld.exe", found));
    EXPECT_EQ(
        test::lines_starting(log_entries(), ":<D>:  find_processes adding"),
        std::vector<std::string>{":<D>:  find_processes adding process " + GetParam().logged});
}

INSTANTIATE_TEST_SUITE_P(
    cases, image_path_logged,
    ::testing::Values(
        outside_case{"line_feed",
                     L"\\Device\\HarddiskVolume1\\x\n[2026-01-02]:<ERROR>:\\snapteld.exe",
                     "\\Device\\HarddiskVolume1\\x?[2026-01-02]:<ERROR>:\\snapteld.exe"},
        outside_case{"carriage_return_and_line_feed",
                     L"\\Device\\HarddiskVolume1\\a\r\nb\\snapteld.exe",
                     "\\Device\\HarddiskVolume1\\a??b\\snapteld.exe"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
