// Error lines as events in the Application log: whatever LogLevel is, and never at the
// cost of the file log or of the thread's last error.
#include <gtest/gtest.h>

#include <string>

#include "logging/log_windows_error.h"
#include "support/sim_test.h"

namespace {

using logging::event_kind;
using test::lines;
using test::operator+;

class event_log : public test::sim_test {
  protected:
    // A plain error line, then a failed call reported at the debug level, as the clean-up
    // reports one.
    void write_both() {
        logging::log_error<event_kind::agent_not_running>(L"tag", L"text", 42,
                                                          std::string("narrow"));
        platform::set_last_error(platform::error_access_denied);
        logging::log_last_error<logging::severity::debug, event_kind::cleanup_left_entries>(
            L"walk", L"DeleteFile returned an error.", L"C:\\x");
    }

    const lines file_lines{":<ERROR>:  tag text 42 narrow",
                           ":<D>:  walk DeleteFile returned an error. C:\\x",
                           ":<ERROR>:  walk Access is denied."};
};

class events_at_level : public event_log, public ::testing::WithParamInterface<int> {};

TEST_P(events_at_level, are_the_same_whatever_the_file_gets) {
    use_log_level(GetParam());
    write_both();
    EXPECT_EQ(log_entries(), GetParam() == 0 ? file_lines : (lines{file_lines[0], file_lines[2]}));
    EXPECT_EQ(event_entries(),
              (lines{"2 tag text 42 narrow",
                     "5 walk DeleteFile returned an error. C:\\x Access is denied."}));
}

INSTANTIATE_TEST_SUITE_P(levels, events_at_level, ::testing::Values(0, 3));

class failed_event_report : public event_log,
                            public ::testing::WithParamInterface<sim::operation> {};

TEST_P(failed_event_report, changes_nothing_else) {
    use_log_level(0);
    machine().fail(GetParam(), platform::error_access_denied, {}, 10);
    write_both();
    EXPECT_EQ(log_entries(), file_lines);
    EXPECT_TRUE(machine().events().empty());
    // The source is registered at the first report of a new process.
    new_process_log();
    constexpr platform::error_code callers_error = 1234;
    platform::set_last_error(callers_error);
    logging::report_error(event_kind::other_error, L"tag", L"again");
    EXPECT_EQ(platform::get_last_error(), callers_error);
    EXPECT_TRUE(machine().events().empty());
}

INSTANTIATE_TEST_SUITE_P(calls, failed_event_report,
                         ::testing::Values(sim::operation::register_event_source,
                                           sim::operation::report_event));

}  // namespace
