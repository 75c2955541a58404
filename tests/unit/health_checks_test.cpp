#include "supervision/health_checks.h"

#include <gtest/gtest.h>

#include "support/sim_test.h"

namespace {

using test::lines;
using test::operator+;
using test::lines_starting;

lines search(const std::vector<std::wstring>& images) {
    lines found{":<D>:  find_processes enter"};
    for (const auto& image : images) {
        found.push_back(":<D>:  find_processes adding process " + test::narrow(image));
    }
    return found + lines{":<D>:  find_processes processes found " + std::to_string(images.size()),
                         ":<D>:  find_processes exit"};
}

const std::string agent_enter = ":<D>:  is_host_agent_running enter";
const std::string agent_exit = ":<D>:  is_host_agent_running exit";
const std::string more_than_one =
    ":<ERROR>:  is_host_agent_running more than 1 host agent process is running";

class health_checks : public test::sim_test {
  protected:
    void SetUp() override {
        test::sim_test::SetUp();
        use_log_level(0);
    }

    // An agent that has ended but is still listed, as one whose exit the system has not
    // finished yet.
    std::uint32_t ended_agent(std::uint32_t exit_code) {
        sim::process_options lingering;
        lingering.listed_after_exit = true;
        const auto id = machine().start_process(test::agent_image, lingering);
        machine().end_process(id, exit_code);
        return id;
    }
};

TEST_F(health_checks, no_host_agent_is_not_running_without_an_error_line) {
    EXPECT_FALSE(supervision::is_host_agent_running());
    EXPECT_EQ(log_entries(), lines{agent_enter} + search({}) + lines{agent_exit});
}

TEST_F(health_checks, two_host_agents_are_reported_and_the_first_decides) {
    machine().start_process(test::agent_image);
    machine().start_process(test::agent_image);
    EXPECT_TRUE(supervision::is_host_agent_running());
    EXPECT_EQ(log_entries(), (lines{agent_enter} + search({test::agent_image, test::agent_image}) +
                              lines{more_than_one, agent_exit}));
    EXPECT_EQ(machine().open_handles(), 0u);
}

TEST_F(health_checks, a_first_host_agent_that_has_ended_makes_the_check_fail) {
    ended_agent(1);
    machine().start_process(test::agent_image);
    EXPECT_FALSE(supervision::is_host_agent_running());
    EXPECT_EQ(lines_starting(log_entries(), ":<ERROR>:"), lines{more_than_one});
}

TEST_F(health_checks, an_exit_code_of_259_counts_as_running) {
    ended_agent(platform::still_active);
    EXPECT_TRUE(supervision::is_host_agent_running());
}

TEST_F(health_checks, a_failed_exit_code_query_is_logged_and_counts_as_not_running) {
    machine().start_process(test::agent_image);
    machine().fail(sim::operation::get_exit_code_process, platform::error_access_denied);
    EXPECT_FALSE(supervision::is_host_agent_running());
    EXPECT_EQ(log_entries(),
              (lines{agent_enter} + search({test::agent_image}) +
               lines{":<D>:  is_host_agent_running GetExitCodeProcess returned an error. Unable "
                     "to detect if host agent is still running",
                     ":<ERROR>:  is_host_agent_running Access is denied.", agent_exit}));
    EXPECT_EQ(machine().debug_output(),
              (std::vector<std::wstring>{L"is_host_agent_running", L"Access is denied."}));
}

// A search that cannot enumerate the processes makes the check fail even though what it
// looks for runs, so that the group is restarted rather than trusted.
struct failed_search_case {
    const char* name;
    bool (*check)();
    lines expected;
};

class failed_search : public health_checks,
                      public ::testing::WithParamInterface<failed_search_case> {};

TEST_P(failed_search, counts_as_not_running) {
    machine().start_process(test::agent_image);
    machine().start_process(test::collector_image);
    machine().start_process(test::publisher_image);
    machine().fail(sim::operation::enum_processes, platform::error_access_denied);
    EXPECT_FALSE(GetParam().check());
    EXPECT_EQ(log_entries(), GetParam().expected);
    EXPECT_EQ(machine().open_handles(), 0u);
}

const lines enumeration_failed{
    ":<D>:  find_processes enter",
    ":<ERROR>:  find_processes EnumProcesses returned an error. Unable to enumerate processes.",
    ":<ERROR>:  find_processes Access is denied."};

INSTANTIATE_TEST_SUITE_P(
    checks, failed_search,
    ::testing::Values(
        failed_search_case{"host_agent", supervision::is_host_agent_running,
                           lines{agent_enter} + enumeration_failed + lines{agent_exit}},
        failed_search_case{
            "system_plugins", supervision::are_system_plugins_running,
            lines{":<D>:  are_system_plugins_running enter", ":<D>:  is_process_running enter"} +
                enumeration_failed +
                lines{":<D>:  is_process_running exit", ":<D>:  are_system_plugins_running exit"}}),
    [](const auto& info) { return std::string(info.param.name); });

struct plugins_case {
    bool collector, publisher, result;
    lines expected;
};

class system_plugins : public health_checks, public ::testing::WithParamInterface<plugins_case> {};

const std::string plugins_enter = ":<D>:  are_system_plugins_running enter";
const std::string plugins_exit = ":<D>:  are_system_plugins_running exit";
const std::string process_enter = ":<D>:  is_process_running enter";
const std::string process_exit = ":<D>:  is_process_running exit";

TEST_P(system_plugins, are_looked_for_in_order_until_one_is_missing) {
    const plugins_case c = GetParam();
    if (c.collector) machine().start_process(test::collector_image);
    if (c.publisher) machine().start_process(test::publisher_image);
    EXPECT_EQ(supervision::are_system_plugins_running(), c.result);
    EXPECT_EQ(log_entries(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    cases, system_plugins,
    ::testing::Values(
        // A process found ends is_process_running without its exit line.
        plugins_case{true, true, true,
                     lines{plugins_enter, process_enter} + search({test::collector_image}) +
                         lines{process_enter} + search({test::publisher_image}) +
                         lines{plugins_exit}},
        plugins_case{
            false, true, false,
            lines{plugins_enter, process_enter} + search({}) + lines{process_exit, plugins_exit}},
        plugins_case{true, false, false,
                     lines{plugins_enter, process_enter} + search({test::collector_image}) +
                         lines{process_enter} + search({}) + lines{process_exit, plugins_exit}}));

TEST_F(health_checks, a_plugin_found_but_ended_is_not_running) {
    sim::process_options lingering;
    lingering.listed_after_exit = true;
    machine().end_process(machine().start_process(test::collector_image, lingering), 0);
    EXPECT_FALSE(supervision::is_process_running(L"snap-plugin-collector-qmsystem.exe"));
    EXPECT_EQ(lines_starting(log_entries(), process_exit), lines{});
}

}  // namespace
