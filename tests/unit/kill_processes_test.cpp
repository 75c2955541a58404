#include "process/kill_processes.h"

#include <gtest/gtest.h>

#include "support/sim_test.h"

namespace {

using test::lines_starting;

using lines = std::vector<std::string>;

class killing_processes : public test::sim_test {
  protected:
    void SetUp() override {
        test::sim_test::SetUp();
        use_log_level(0);
    }

    // The lines of one search that finds `images`.
    static lines search(const std::vector<std::wstring>& images) {
        lines found{":<D>:  find_processes enter"};
        for (const auto& image : images) {
            found.push_back(":<D>:  find_processes adding process " + test::narrow(image));
        }
        found.push_back(":<D>:  find_processes processes found " + std::to_string(images.size()));
        found.push_back(":<D>:  find_processes exit");
        return found;
    }

    static void append(lines& to, const lines& more) {
        to.insert(to.end(), more.begin(), more.end());
    }

    static lines nothing_in_stage(const std::string& opening, const std::string& none) {
        lines stage{":<D>:  kill_processes " + opening + " retry 2"};
        append(stage, search({}));
        stage.push_back(":<D>:  kill_processes " + none);
        return stage;
    }
};

TEST_F(killing_processes, with_nothing_running_each_stage_searches_once_without_pausing) {
    process::kill_processes();

    lines expected = nothing_in_stage("terminating host agent ...", "host agent is not running");
    append(expected, nothing_in_stage("terminating plugins ...", "no plugin is running"));
    EXPECT_EQ(log_entries(), expected);
    EXPECT_TRUE(machine().sleeps().empty());
}

TEST_F(killing_processes, a_host_agent_that_ends_at_the_first_attempt) {
    const auto agent = machine().start_process(test::agent_image);
    process::kill_processes();

    lines expected{":<D>:  kill_processes terminating host agent ... retry 2"};
    append(expected, search({test::agent_image}));
    // The agent ends a moment after the termination: only the next search sees it gone.
    append(expected, {":<D>:  kill_processes host agent is running",
                      ":<D>:  kill_processes terminating host agent ... retry 1"});
    append(expected, search({}));
    expected.push_back(":<D>:  kill_processes host agent is not running");
    append(expected, nothing_in_stage("terminating plugins ...", "no plugin is running"));

    EXPECT_EQ(log_entries(), expected);
    EXPECT_EQ(machine().exit_code(agent), 0u);
    EXPECT_EQ(machine().sleeps(), std::vector<std::uint32_t>{100});
    EXPECT_EQ(machine().open_handles(), 0u);
}

TEST_F(killing_processes, a_host_agent_that_never_ends_takes_three_attempts_then_the_plugins_go) {
    sim::process_options stubborn;
    stubborn.survives_termination = true;
    const auto agent = machine().start_process(test::agent_image, stubborn);
    const auto plugin = machine().start_process(test::collector_image);
    process::kill_processes();

    lines expected;
    for (int left : {2, 1, 0}) {
        expected.push_back(":<D>:  kill_processes terminating host agent ... retry " +
                           std::to_string(left));
        append(expected, search({test::agent_image}));
        expected.push_back(":<D>:  kill_processes host agent is running");
    }
    expected.push_back(":<D>:  kill_processes terminating plugins ... retry 2");
    append(expected, search({test::collector_image}));
    append(expected, {":<D>:  kill_processes found running plugins count 1",
                      ":<D>:  kill_processes terminating plugins ... retry 1"});
    append(expected, search({}));
    expected.push_back(":<D>:  kill_processes no plugin is running");

    EXPECT_EQ(log_entries(), expected);
    EXPECT_TRUE(machine().is_running(agent));
    EXPECT_EQ(machine().terminations(agent), 3);
    EXPECT_FALSE(machine().is_running(plugin));
    EXPECT_EQ(machine().sleeps(), (std::vector<std::uint32_t>{100, 100, 100, 100}));
}

TEST_F(killing_processes,
       an_ended_process_still_listed_counts_as_found_but_is_not_terminated_again) {
    sim::process_options lingering;
    lingering.listed_after_exit = true;
    const auto agent = machine().start_process(test::agent_image, lingering);
    machine().end_process(agent, 1);
    process::kill_processes();

    EXPECT_EQ(lines_starting(log_entries(), ":<D>:  kill_processes host agent is running").size(),
              3u);
    EXPECT_EQ(machine().terminations(agent), 0);
    EXPECT_EQ(machine().sleeps().size(), 3u);
}

TEST_F(killing_processes, a_failed_search_ends_its_stage_but_not_the_plugins_stage) {
    const auto plugin = machine().start_process(test::publisher_image);
    machine().fail(sim::operation::enum_processes, platform::error_access_denied);
    process::kill_processes();

    const lines entries = log_entries();
    ASSERT_GE(entries.size(), 6u);
    EXPECT_EQ(lines(entries.begin(), entries.begin() + 5),
              (lines{":<D>:  kill_processes terminating host agent ... retry 2",
                     ":<D>:  find_processes enter",
                     ":<ERROR>:  find_processes EnumProcesses returned an error. Unable to "
                     "enumerate processes.",
                     ":<ERROR>:  find_processes Access is denied.",
                     ":<D>:  kill_processes find_processes failed"}));
    EXPECT_EQ(entries[5], ":<D>:  kill_processes terminating plugins ... retry 2");
    EXPECT_FALSE(machine().is_running(plugin));
}

TEST_F(killing_processes, every_agent_and_snap_plugin_process_in_any_case_is_ended_but_this_one) {
    const auto agent = machine().start_process(L"\\Device\\HarddiskVolume1\\svc\\SnapTelD.exe");
    const auto collector = machine().start_process(test::collector_image);
    const auto foreign =
        machine().start_process(L"\\Device\\HarddiskVolume1\\x\\snap-plugin-other.exe");
    const auto inside =
        machine().start_process(L"\\Device\\HarddiskVolume1\\Snap-Plugins\\tool.exe");
    const auto unrelated = machine().start_process(L"\\Device\\HarddiskVolume1\\x\\snap.exe");
    const auto own = machine().start_process(
        L"\\Device\\HarddiskVolume1\\snap-plugin tools\\quillmark_snaptel.exe");
    machine().set_current_process(own);
    process::kill_processes();

    EXPECT_EQ(lines_starting(log_entries(), ":<D>:  kill_processes found running plugins"),
              lines{":<D>:  kill_processes found running plugins count 3"});
    for (const auto ended : {agent, collector, foreign, inside}) {
        EXPECT_FALSE(machine().is_running(ended));
    }
    EXPECT_TRUE(machine().is_running(unrelated));
    EXPECT_TRUE(machine().is_running(own));
    EXPECT_EQ(machine().terminations(own), 0);
}

}  // namespace
