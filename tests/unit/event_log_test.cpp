// Error lines as events in the Application log: whatever LogLevel is, never at the cost
// of the file log or of the thread's last error, and bounded within one piece of work.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "cleanup/cleanup.h"
#include "logging/event_bound.h"
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

// Anyone may plant entries the clean-up cannot delete: each is an error line, but only
// the first 20 of a clean-up are events, and one more says how many went to the file only.
class bounded_cleanup : public event_log, public ::testing::WithParamInterface<int> {};

TEST_P(bounded_cleanup, reports_20_events_of_a_kind_then_how_many_more) {
    use_log_level(3);
    const int planted = GetParam();
    for (int i = 0; i < planted; ++i) {
        const std::wstring name =
            std::wstring(cleanup::temp_directory) + L"/f" + std::to_wstring(i) + L".txt";
        machine().create_file(name, platform::file_attribute_readonly);
        machine().set_link_count(name, 2);
    }
    // A second clean-up counts afresh.
    cleanup::clean_up();
    cleanup::clean_up();

    EXPECT_EQ(
        test::lines_starting(log_entries(), ":<ERROR>:  delete_tree Access is denied.").size(),
        2u * static_cast<unsigned>(planted));
    const lines events = event_entries();
    const lines summary = planted > 20
                              ? lines{"5 cleanup " + std::to_string(planted - 20) +
                                      " more error lines of this kind went to the log file only."}
                              : lines{};
    // Each clean-up: its first 20 error events, then its summary.
    lines shape;
    for (const auto& event : events) {
        shape.push_back(event.starts_with("5 delete_tree ") ? "5 delete_tree" : event);
    }
    const lines each = lines(20, "5 delete_tree") + summary;
    EXPECT_EQ(shape, each + each);
}

INSTANTIATE_TEST_SUITE_P(planted, bounded_cleanup, ::testing::Values(20, 21, 30));

TEST_F(event_log, a_bound_counts_only_its_own_threads_events_while_it_lives) {
    const auto report = [](int times) {
        for (int i = 0; i < times; ++i) {
            logging::report_error(event_kind::other_error, L"t", i);
        }
    };
    report(1);
    {
        const logging::event_bound bound(L"cycle");
        std::thread other(report, 24);
        other.join();
        report(25);
    }
    report(24);
    const lines events = event_entries();
    ASSERT_EQ(events.size(), 1u + 24u + 20u + 1u + 24u);
    EXPECT_EQ(events[45], "1 cycle 5 more error lines of this kind went to the log file only.");
}

}  // namespace
