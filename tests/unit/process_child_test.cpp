#include "process/process_child.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "logging/line_format.h"
#include "support/sim_test.h"

namespace {

using process::process_child;
using sim::operation;

class child_process : public test::sim_test {
  protected:
    void SetUp() override {
        test::sim_test::SetUp();
        use_log_level(0);
    }

    std::shared_ptr<process_child> open(std::uint32_t id) {
        platform::unique_handle handle(
            platform::open_process(platform::process_all_access, false, id));
        EXPECT_TRUE(handle);
        return std::make_shared<process_child>(std::move(handle));
    }

    static std::string handle_of(const std::shared_ptr<process_child>& child) {
        return test::narrow(logging::handle_text(child->handle()));
    }
};

TEST_F(child_process, running_until_the_process_ends_and_259_counts_as_running) {
    const auto id = machine().start_process(test::agent_image);
    const auto ended_with_259 = machine().start_process(test::agent_image);
    const auto child = open(id);
    const auto looks_running = open(ended_with_259);
    EXPECT_TRUE(child->is_running());
    machine().end_process(id, 1);
    machine().end_process(ended_with_259, 259);
    EXPECT_FALSE(child->is_running());
    EXPECT_TRUE(looks_running->is_running());
    EXPECT_TRUE(log_entries().empty());
}

// How terminate ends, by what the system does with each call it makes. "{handle}" in a
// line stands for the process handle.
struct termination_case {
    const char* name;
    std::function<void(sim::machine&, std::uint32_t id)> arrange;
    std::uint32_t exit_delay_ms;
    bool result;
    std::vector<std::string> lines;
    int terminations;
    // The exit code once the termination has had its moment; none when it still runs.
    std::optional<std::uint32_t> exit_code;
};

class termination : public child_process, public ::testing::WithParamInterface<termination_case> {};

TEST_P(termination, reports_only_an_end_it_has_seen) {
    const auto& c = GetParam();
    sim::process_options options;
    options.exit_delay_ms = c.exit_delay_ms;
    const auto id = machine().start_process(test::agent_image, options);
    const auto child = open(id);
    c.arrange(machine(), id);

    EXPECT_EQ(child->terminate(), c.result);
    std::vector<std::string> expected;
    for (std::string line : c.lines) {
        if (const auto at = line.find("{handle}"); at != std::string::npos) {
            line.replace(at, 8, handle_of(child));
        }
        expected.push_back(line);
    }
    EXPECT_EQ(log_entries(), expected);
    EXPECT_EQ(machine().terminations(id), c.terminations);
    platform::sleep(sim::default_exit_delay_ms);
    EXPECT_EQ(machine().exit_code(id), c.exit_code);
    EXPECT_EQ(machine().open_handles(), 1u);
}

const std::string refused = ":<D>:  Access is denied.";

INSTANTIATE_TEST_SUITE_P(
    cases, termination,
    ::testing::Values(
        // As on Windows, the process ends a moment after the call: nothing is seen yet.
        termination_case{"still_ending",
                         [](sim::machine&, std::uint32_t) {},
                         sim::default_exit_delay_ms,
                         false,
                         {},
                         1,
                         0u},
        termination_case{"ended_within_the_call",
                         [](sim::machine&, std::uint32_t) {},
                         0,
                         true,
                         {":<D>:  process_child::terminate process has exited with code 0"},
                         1,
                         0u},
        termination_case{"already_ended",
                         [](sim::machine& m, std::uint32_t id) { m.end_process(id, 3); },
                         0,
                         true,
                         {},
                         0,
                         3u},
        // 259 reads as running: the system refuses to end a process that has exited.
        termination_case{"ended_with_259",
                         [](sim::machine& m, std::uint32_t id) { m.end_process(id, 259); },
                         0,
                         false,
                         {refused},
                         1,
                         259u},
        termination_case{"refused",
                         [](sim::machine& m, std::uint32_t) {
                             m.fail(operation::terminate_process, platform::error_access_denied);
                         },
                         0,
                         false,
                         {refused},
                         1,
                         std::nullopt},
        termination_case{"state_unreadable",
                         [](sim::machine& m, std::uint32_t) {
                             m.fail(operation::get_exit_code_process,
                                    platform::error_invalid_handle);
                         },
                         0,
                         true,
                         {":<D>:  process_child::is_running GetExitCodeProcess has failed for "
                          "handle {handle}",
                          ":<D>:  The handle is invalid."},
                         0,
                         std::nullopt},
        termination_case{"wait_failed",
                         [](sim::machine& m, std::uint32_t) {
                             m.fail(operation::wait_for_single_object,
                                    platform::error_invalid_handle);
                         },
                         sim::default_exit_delay_ms,
                         false,
                         {},
                         1,
                         0u},
        termination_case{"exit_code_unreadable_after_the_end",
                         [](sim::machine& m, std::uint32_t) {
                             m.fail_after(1, operation::get_exit_code_process,
                                          platform::error_access_denied);
                         },
                         0,
                         true,
                         {":<D>:  process_child::terminate GetExitCodeProcess has failed for "
                          "handle {handle}",
                          refused},
                         1,
                         0u}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(child_process, a_refused_termination_sends_the_system_text_to_the_debugger) {
    const auto child = open(machine().start_process(test::agent_image));
    machine().fail(operation::terminate_process, platform::error_access_denied);
    EXPECT_FALSE(child->terminate());
    EXPECT_EQ(machine().debug_output(), std::vector<std::wstring>{L"Access is denied."});
}

TEST_F(child_process, a_failed_exit_code_query_counts_as_ended_and_is_logged_with_the_handle) {
    const auto child = open(machine().start_process(test::agent_image));
    machine().fail(operation::get_exit_code_process, platform::error_invalid_handle);
    EXPECT_FALSE(child->is_running());
    EXPECT_EQ(log_entries(),
              (std::vector<std::string>{
                  ":<D>:  process_child::is_running GetExitCodeProcess has failed for handle " +
                      handle_of(child),
                  ":<D>:  The handle is invalid."}));
    EXPECT_EQ(machine().debug_output(), std::vector<std::wstring>{L"The handle is invalid."});
}

TEST_F(child_process, the_handle_is_closed_once_when_the_last_reference_goes) {
    const auto id = machine().start_process(test::agent_image);
    auto child = open(id);
    process::process_list first{child, child};
    process::process_list second = first;
    child.reset();
    first.clear();
    EXPECT_EQ(machine().open_handles(), 1u);
    second.clear();
    EXPECT_EQ(machine().open_handles(), 0u);
    EXPECT_EQ(machine().calls(operation::close_handle), 1);
}

TEST_F(child_process, terminate_all_ends_the_running_entries_and_skips_the_rest_silently) {
    process::terminate_all({});
    EXPECT_TRUE(log_entries().empty());

    const auto ended = machine().start_process(test::agent_image);
    const auto running = machine().start_process(test::agent_image);
    const process::process_list list{open(ended), open(running)};
    machine().end_process(ended, 1);
    process::terminate_all(list);

    EXPECT_EQ(machine().terminations(ended), 0);
    EXPECT_EQ(machine().terminations(running), 1);
    EXPECT_TRUE(log_entries().empty());
    platform::sleep(sim::default_exit_delay_ms);
    EXPECT_EQ(machine().exit_code(running), 0u);
}

}  // namespace
