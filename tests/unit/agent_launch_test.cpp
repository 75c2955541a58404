#include "supervision/agent_launch.h"

#include <gtest/gtest.h>

#include "supervision/agent_command_line.h"
#include "support/supervision_test.h"

namespace {

using lines = std::vector<std::string>;

std::string start(const std::string& text) {
    return ":<D>:  start_agent " + text;
}
std::string stop(const std::string& text) {
    return ":<D>:  stop_agent " + text;
}

class agent_launch : public test::supervision_test {
  protected:
    void SetUp() override {
        test::supervision_test::SetUp();
        use_log_level(0);
    }

    bool launch(const std::wstring& executable = test::agent_path) {
        auto line = supervision::agent_command_line(executable, test::config_path);
        return supervision::start_agent(*group, line.data());
    }
};

TEST_F(agent_launch, a_launched_agent_is_recorded_and_only_its_process_handle_kept) {
    EXPECT_TRUE(launch());
    EXPECT_EQ(log_entries(),
              (lines{start("enter"), start("creating process for host agent ..."),
                     start("host agent process created succesfully."), start("exit")}));
    ASSERT_EQ(group->started_agents.size(), 1u);
    EXPECT_EQ(machine().open_handles(), 1u);
    EXPECT_EQ(agents().size(), 1u);
}

TEST_F(agent_launch, a_program_that_does_not_exist_is_reported_and_nothing_recorded) {
    EXPECT_FALSE(launch(L"C:\\svc\\bin\\missing.exe"));
    EXPECT_EQ(log_entries(),
              (lines{start("enter"), start("creating process for host agent ..."),
                     ":<ERROR>:  start_agent CreateProcess returned an error. Unable to create "
                     "process for host agent.",
                     ":<ERROR>:  start_agent The system cannot find the file specified."}));
    EXPECT_TRUE(group->started_agents.empty());
    EXPECT_EQ(machine().open_handles(), 0u);
}

TEST_F(agent_launch, nothing_is_launched_once_the_service_is_stopping) {
    group->request_stop();
    EXPECT_FALSE(launch());
    EXPECT_EQ(log_entries(),
              (lines{start("enter"), start("service is stopping. host agent is not launched.")}));
    EXPECT_TRUE(machine().launches().empty());
}

TEST_F(agent_launch, stop_terminates_the_agents_still_running_then_cleans_up) {
    ASSERT_TRUE(launch());
    ASSERT_TRUE(launch());
    const auto first = machine().launches()[0].process_id;
    const auto second = machine().launches()[1].process_id;
    machine().end_process(first, 1);
    EXPECT_TRUE(supervision::stop_agent(*group));

    EXPECT_EQ(entries_of("stop_agent"), (lines{stop("enter"), stop("stopping host agent ..."),
                                               stop("wait before cleanup for 1000 ms."),
                                               stop("host agent has stopped."), stop("exit")}));
    EXPECT_EQ(machine().terminations(first), 0);
    EXPECT_EQ(machine().terminations(second), 1);
    EXPECT_TRUE(plugins().empty());
    // 1000 ms before the clean-up, 100 ms after it ends the plugins, its own 1000 ms.
    EXPECT_EQ(machine().sleeps(), (std::vector<std::uint32_t>{1000, 100, 1000}));
    EXPECT_TRUE(group->started_agents.empty());
    EXPECT_EQ(machine().open_handles(), 0u);
}

TEST_F(agent_launch, stop_also_ends_an_agent_the_service_did_not_launch) {
    const auto foreign = machine().start_process(test::agent_image);
    EXPECT_TRUE(supervision::stop_agent(*group));
    EXPECT_FALSE(machine().is_running(foreign));
    EXPECT_EQ(machine().sleeps(), (std::vector<std::uint32_t>{1000, 100, 1000}));
    EXPECT_EQ(entries_of("stop_agent")[3], stop("host agent has stopped."));
}

TEST_F(agent_launch, an_agent_that_survives_the_stop_gets_no_line_of_its_own) {
    sim::process_options stubborn;
    stubborn.survives_termination = true;
    machine().start_process(test::agent_image, stubborn);
    EXPECT_TRUE(supervision::stop_agent(*group));
    EXPECT_EQ(entries_of("stop_agent").back(), stop("exit"));
    EXPECT_EQ(test::lines_starting(entries_of("stop_agent"), stop("host agent has stopped.")),
              lines{});
}

TEST_F(agent_launch, ten_thousand_restarts_keep_the_open_handles_flat) {
    use_log_level(3);
    ASSERT_TRUE(launch());
    supervision::stop_agent(*group);
    const std::size_t after_one = machine().open_handles();
    for (int restart = 1; restart < 10000; ++restart) {
        ASSERT_TRUE(launch());
        supervision::stop_agent(*group);
    }
    EXPECT_EQ(machine().open_handles(), after_one);
    EXPECT_LE(group->started_agents.size(), 1u);
    EXPECT_EQ(machine().launches().size(), 10000u);
}

// A command line split as the C runtime and CommandLineToArgvW split it: the program's
// name up to its closing quote or a blank; then blanks outside quotes part the arguments,
// 2n backslashes before a quote give n and the quote opens or closes, 2n+1 give n and a
// quote of the text, and backslashes before anything else stay as they are.
std::vector<std::wstring> split_as_the_runtime(const std::wstring& line) {
    const bool quoted = !line.empty() && line[0] == L'"';
    const std::size_t name_end = line.find_first_of(quoted ? L"\"" : L" \t", 1);
    std::vector<std::wstring> arguments{line.substr(quoted ? 1 : 0, name_end - (quoted ? 1 : 0))};
    bool in_quotes = false;
    bool in_argument = false;
    for (std::size_t at = std::min(name_end, line.size() - 1) + 1; at < line.size(); ++at) {
        const wchar_t c = line[at];
        if ((c == L' ' || c == L'\t') && !in_quotes) {
            in_argument = false;
            continue;
        }
        if (!in_argument) {
            arguments.emplace_back();
            in_argument = true;
        }
        std::size_t backslashes = 0;
        for (; at < line.size() && line[at] == L'\\'; ++at) ++backslashes;
        const bool quote = at < line.size() && line[at] == L'"';
        arguments.back().append(quote ? backslashes / 2 : backslashes, L'\\');
        if (quote && backslashes % 2 == 1) {
            arguments.back().push_back(L'"');
        } else if (quote) {
            in_quotes = !in_quotes;
        } else if (backslashes > 0) {
            --at;  // what follows the backslashes is read at the next turn
        } else {
            arguments.back().push_back(c);
        }
    }
    return arguments;
}

struct command_line_case {
    std::wstring executable, configuration, line;
};

class command_line : public ::testing::TestWithParam<command_line_case> {};

TEST_P(command_line, gives_the_agent_its_two_arguments_whole) {
    const auto& c = GetParam();
    const auto buffer = supervision::agent_command_line(c.executable, c.configuration);
    ASSERT_FALSE(buffer.empty());
    EXPECT_EQ(buffer.back(), L'\0');
    EXPECT_EQ(std::wstring(buffer.data()), c.line);
    EXPECT_EQ(buffer.size(), c.line.size() + 1);
    EXPECT_EQ(split_as_the_runtime(c.line),
              (std::vector<std::wstring>{c.executable, L"--config", c.configuration}));
}

const std::wstring agent = L"C:\\svc\\snapteld.exe";

INSTANTIATE_TEST_SUITE_P(
    cases, command_line,
    ::testing::Values(
        command_line_case{agent, L"C:\\c\\config.yaml", agent + L" --config C:\\c\\config.yaml"},
        command_line_case{L"C:\\Program Files\\Q\\snapteld.exe", L"C:\\c\\config.yaml",
                          L"\"C:\\Program Files\\Q\\snapteld.exe\" --config C:\\c\\config.yaml"},
        command_line_case{agent, L"C:\\my\tconf\\c.yaml",
                          agent + L" --config \"C:\\my\tconf\\c.yaml\""},
        // Inside quotes a trailing backslash would escape the closing quote.
        command_line_case{agent, L"C:\\conf dir\\", agent + L" --config \"C:\\conf dir\\\\\""},
        command_line_case{agent, L"C:\\conf\\", agent + L" --config C:\\conf\\"},
        // A quote can neither end the argument nor be lost.
        command_line_case{agent, L"C:\\Conf\\a\" --exit-after \"1500",
                          agent + L" --config \"C:\\Conf\\a\\\" --exit-after \\\"1500\""},
        command_line_case{agent, L"C:\\a\\\\\"b", agent + L" --config \"C:\\a\\\\\\\\\\\"b\""}));

}  // namespace
