#include "process/process_child.h"

#include <gtest/gtest.h>

#include "logging/logger.h"
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

TEST_F(child_process, terminate_ends_the_process_with_code_0) {
    const auto id = machine().start_process(test::agent_image);
    const auto child = open(id);
    EXPECT_TRUE(child->terminate());
    EXPECT_EQ(machine().exit_code(id), 0u);
    EXPECT_EQ(log_entries(), std::vector<std::string>{
                                 ":<D>:  process_child::terminate process has exited with code 0"});
}

TEST_F(child_process, terminate_on_an_ended_process_does_nothing) {
    const auto id = machine().start_process(test::agent_image);
    const auto child = open(id);
    machine().end_process(id, 3);
    EXPECT_TRUE(child->terminate());
    EXPECT_EQ(machine().terminations(id), 0);
    EXPECT_EQ(machine().exit_code(id), 3u);
    EXPECT_TRUE(log_entries().empty());
}

TEST_F(child_process, terminate_on_a_process_that_ended_with_259_logs_the_refusal) {
    const auto id = machine().start_process(test::agent_image);
    const auto child = open(id);
    machine().end_process(id, 259);
    EXPECT_FALSE(child->terminate());
    EXPECT_EQ(log_entries(), std::vector<std::string>{":<D>:  Access is denied.\r\n"});
    EXPECT_EQ(machine().debug_output(), std::vector<std::wstring>{L"Access is denied.\r\n"});
}

TEST_F(child_process, a_termination_still_under_way_is_not_reported_as_done) {
    sim::process_options slow;
    slow.exit_delay_ms = 50;
    const auto id = machine().start_process(test::agent_image, slow);
    const auto child = open(id);
    EXPECT_FALSE(child->terminate());
    EXPECT_TRUE(log_entries().empty());
    platform::sleep(50);
    EXPECT_FALSE(child->is_running());
}

TEST_F(child_process, a_failed_exit_code_query_counts_as_ended_and_is_logged_with_the_handle) {
    const auto id = machine().start_process(test::agent_image);
    const auto child = open(id);
    machine().fail(operation::get_exit_code_process, platform::error_invalid_handle);
    EXPECT_FALSE(child->is_running());
    machine().fail(operation::get_exit_code_process, platform::error_invalid_handle);
    EXPECT_TRUE(child->terminate());
    EXPECT_EQ(machine().terminations(id), 0);

    const std::string failed =
        ":<D>:  process_child::is_running GetExitCodeProcess has failed for handle " +
        handle_of(child);
    EXPECT_EQ(log_entries(),
              (std::vector<std::string>{failed, ":<D>:  The handle is invalid.\r\n", failed,
                                        ":<D>:  The handle is invalid.\r\n"}));
}

TEST_F(child_process, a_failed_query_after_termination_is_logged_under_terminate) {
    const auto id = machine().start_process(test::agent_image);
    const auto child = open(id);
    machine().fail(operation::get_exit_code_process, platform::error_access_denied, {}, 1);
    // The first query (is_running) fails: nothing is terminated.
    EXPECT_TRUE(child->terminate());
    EXPECT_TRUE(machine().is_running(id));
}

TEST_F(child_process, a_refused_termination_is_logged_and_leaves_the_handle_open) {
    const auto id = machine().start_process(test::agent_image);
    const auto child = open(id);
    machine().fail(operation::terminate_process, platform::error_access_denied);
    EXPECT_FALSE(child->terminate());
    EXPECT_TRUE(child->is_running());
    EXPECT_EQ(log_entries(), std::vector<std::string>{":<D>:  Access is denied.\r\n"});
    EXPECT_EQ(machine().open_handles(), 1u);
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
    EXPECT_EQ(machine().exit_code(running), 0u);
    EXPECT_EQ(log_entries(), std::vector<std::string>{
                                 ":<D>:  process_child::terminate process has exited with code 0"});
}

}  // namespace
