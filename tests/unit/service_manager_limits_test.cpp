// The simulated manager's time limits and refusals, met by a service written here that
// reports as each case tells it to.
#include <gtest/gtest.h>

#include <vector>

#include "platform/services.h"
#include "platform/threads_and_events.h"
#include "support/pending_progress.h"
#include "support/sim_test.h"

namespace {

using platform::service_status;

struct step {
    std::uint32_t after_ms;
    std::uint32_t state, check_point, wait_hint;
};

struct limits_case {
    const char* name = "";
    std::vector<step> start = {};
    std::vector<sim::control_result> sent = {};  // the results expected of them
    std::uint32_t handler_ms = 0;
    std::uint32_t stopping_ms = 0;
    std::uint64_t start_limit_ms = sim::default_service_limit_ms;
    std::uint32_t start_result = 0;
    std::string fault = {};
};

// What the service main function and the handler, which take no context of their own,
// act on.
const limits_case* current = nullptr;
platform::handle status_handle = nullptr;
platform::handle stop_requested = nullptr;
int handler_calls = 0;

void report(std::uint32_t state, std::uint32_t check_point, std::uint32_t wait_hint) {
    service_status status;
    status.service_type = platform::service_win32_own_process;
    status.current_state = state;
    status.controls_accepted =
        state == platform::service_running ? platform::service_accept_stop : 0;
    status.check_point = check_point;
    status.wait_hint = wait_hint;
    platform::set_service_status(status_handle, status);
}

std::uint32_t handler(std::uint32_t control, void*) {
    ++handler_calls;
    if (control == platform::service_control_stop) {
        report(platform::service_stop_pending, 1, 20000);
        platform::sleep(current->handler_ms);
        platform::set_event(stop_requested);
    }
    return platform::no_error;
}

void service_main(std::uint32_t, wchar_t**) {
    static const platform::service_control_target target{handler, nullptr};
    status_handle = platform::register_service_ctrl_handler_ex(L"fake", target);
    for (const step& next : current->start) {
        platform::sleep(next.after_ms);
        report(next.state, next.check_point, next.wait_hint);
    }
    platform::wait_for_single_object(stop_requested, platform::infinite);
    platform::sleep(current->stopping_ms);
    report(platform::service_stopped, 0, 0);
}

constexpr std::uint32_t starting = platform::service_start_pending;
constexpr std::uint32_t stopping = platform::service_stop_pending;
constexpr std::uint32_t running = platform::service_running;
constexpr std::uint32_t stop = platform::service_control_stop;

class service_manager_limits : public test::sim_test,
                               public ::testing::WithParamInterface<limits_case> {};

TEST_P(service_manager_limits, decide_what_the_manager_answers) {
    const limits_case& c = GetParam();
    current = &c;
    handler_calls = 0;
    stop_requested = platform::create_event(true, false);
    machine().set_service_limits(c.start_limit_ms, sim::default_service_limit_ms);
    machine().start_as_service(L"fake");
    for (const auto& control : c.sent) machine().send_control(control.sent_ms, control.control);

    const auto returned = machine().run_process(
        [] { return platform::start_service_ctrl_dispatcher(L"fake", service_main) ? 0 : 1; });
    machine().run_until(machine().elapsed_ms() + 1);

    const bool ended = c.start_result != 0;
    EXPECT_EQ(machine().start_result(), c.start_result);
    EXPECT_EQ(machine().process_ended(), ended);
    EXPECT_EQ(returned, ended ? std::nullopt : std::optional<int>(0));
    EXPECT_EQ(machine().control_results(), c.sent);
    EXPECT_EQ(handler_calls, ended ? 0 : 1);
    EXPECT_EQ(test::pending_progress_fault(machine().status_reports()), c.fault);
    platform::close_handle(stop_requested);
}

const std::vector<step> at_once{{0, starting, 0, 1000}, {0, running, 0, 0}};

INSTANTIATE_TEST_SUITE_P(
    cases, service_manager_limits,
    ::testing::Values(
        limits_case{.name = "first_report_too_late",
                    .start = {{11000, starting, 0, 1000}},
                    .start_result = 1053},
        limits_case{.name = "first_report_within_a_longer_limit",
                    .start = {{11000, starting, 0, 0}, {0, running, 0, 0}},
                    .sent = {{12000, stop, 0}},
                    .start_limit_ms = 30000},
        limits_case{.name = "reports_at_once", .start = at_once, .sent = {{1000, stop, 0}}},
        limits_case{.name = "handler_too_slow",
                    .start = at_once,
                    .sent = {{1000, stop, 1053}},
                    .handler_ms = 11000},
        limits_case{.name = "second_stop_while_stopping",
                    .start = at_once,
                    .sent = {{1000, stop, 0}, {2000, stop, 1061}},
                    .stopping_ms = 3000},
        limits_case{
            .name = "gap_within_the_wait_hint",
            .start = {{0, starting, 1, 3000}, {3000, starting, 2, 3000}, {0, running, 0, 0}},
            .sent = {{5000, stop, 0}}},
        limits_case{
            .name = "gap_beyond_the_wait_hint",
            .start = {{0, starting, 1, 3000}, {3001, starting, 2, 3000}, {0, running, 0, 0}},
            .sent = {{5000, stop, 0}},
            .fault = "report 1 (state 2, check point 2, hint 3000, at 3001 ms) after report "
                     "0 (state 2, check point 1, hint 3000, at 0 ms): later than the wait "
                     "hint"},
        limits_case{
            .name = "check_point_repeated",
            .start = {{0, starting, 1, 3000}, {1000, starting, 1, 3000}, {0, running, 0, 0}},
            .sent = {{5000, stop, 0}},
            .fault = "report 1 (state 2, check point 1, hint 3000, at 1000 ms) after report "
                     "0 (state 2, check point 1, hint 3000, at 0 ms): the check point does "
                     "not advance"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
