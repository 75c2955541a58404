// A stop request while the worker restarts the group: the control handler's stop sequence
// meets the worker's stop and relaunch, and, when the relaunch fails and the worker ends by
// itself, ServiceMain's final report and the closing of the stop event. The request arrives
// at many moments of the restart, and each seed orders the threads that can run at the same
// moment differently.
#include <gtest/gtest.h>

#include <algorithm>

#include "service/entry_point.h"
#include "support/supervision_test.h"

namespace {

constexpr int seeds = 1000;
// The start-up clean-up takes its second, so the worker begins at 1000 ms: the failing
// health cycle begins at 62020 ms, and the worker's stop takes until 64120 ms, when it
// relaunches the agent.
constexpr std::uint64_t first_request_ms = 61000;
constexpr std::uint64_t last_request_ms = 64400;

class service_stop_overlap : public test::supervision_test {
  protected:
    void run(std::uint64_t seed, bool relaunch_fails) {
        machine().set_seed(seed);
        use_configuration(0);
        machine().start_as_service(L"quillmark_snaptel");
        machine().at(30000, [this] {
            const auto collector = machine().running(test::collector_image);
            if (!collector.empty()) machine().end_process(collector.front(), 1);
        });
        if (relaunch_fails) {
            machine().at(61000, [this] {
                machine().fail(sim::operation::create_process, platform::error_file_not_found);
            });
        }
        const std::uint64_t request_ms =
            first_request_ms + seed * (last_request_ms - first_request_ms) / seeds;
        machine().send_control(request_ms, platform::service_control_stop);

        wchar_t program[] = L"quillmark_snaptel.exe";
        wchar_t* argv[] = {program, nullptr};
        EXPECT_EQ(wmain(1, argv), 0);
        machine().run_until(machine().elapsed_ms() + 1);

        // A pending state is reported again as its work goes on.
        std::vector<std::uint32_t> states;
        for (const auto& made : machine().status_reports()) {
            if (states.empty() || states.back() != made.status.current_state) {
                states.push_back(made.status.current_state);
            }
        }
        // Start pending, running, perhaps stop pending, and stopped last of all.
        const std::vector<std::uint32_t> stopped_on_request{2, 4, 3, 1};
        const std::vector<std::uint32_t> stopped_by_itself{2, 4, 1};
        const bool with_stop_pending = states == stopped_on_request;
        EXPECT_TRUE(with_stop_pending || (relaunch_fails && states == stopped_by_itself))
            << testing::PrintToString(states);
        (with_stop_pending ? stopped_by_request : ended_by_itself)++;
        const platform::service_status last = machine().status_reports().back().status;
        EXPECT_EQ(last.check_point, 3u);
        // Stopped on request is no failure; a relaunch that failed before the request is.
        EXPECT_EQ(last.win32_exit_code, with_stop_pending ? 0u : platform::error_app_init_failure);
        // Once the request has come, no agent is launched again behind the stop.
        for (const auto& made : machine().launches()) {
            EXPECT_LE(made.at_ms, request_ms);
        }
        EXPECT_EQ(machine().stale_handle_uses(), 0);
        EXPECT_TRUE(agents().empty());
        EXPECT_TRUE(plugins().empty());

        // The process ends only after the service main function has written its last line.
        const auto entries = log_entries();
        const auto at = [&](const std::string& entry) {
            return std::find(entries.begin(), entries.end(), entry) - entries.begin();
        };
        EXPECT_LT(at(":<D>:  ServiceMain exit"), at(":<D>:  run_service exit"));
        EXPECT_EQ(entries.back(), ":<D>:  wmain exit");
    }

    void start_over() {
        TearDown();
        SetUp();
    }

    // Every seed, from a fresh machine and process each, until one fails.
    void explore(bool relaunch_fails) {
        for (std::uint64_t seed = 0; seed < seeds && !HasFailure(); ++seed) {
            SCOPED_TRACE("seed " + std::to_string(seed));
            if (seed != 0) start_over();
            run(seed, relaunch_fails);
        }
    }

    int stopped_by_request = 0;
    int ended_by_itself = 0;
};

TEST_F(service_stop_overlap, reports_stopped_last_and_never_signals_a_closed_event) {
    explore(true);
    // Both endings occur among the seeds.
    EXPECT_GT(stopped_by_request, 0);
    EXPECT_GT(ended_by_itself, 0);
}

// The relaunch succeeds: only the mark the control handler sets before it stops the group
// keeps the worker from launching the agent again behind the stop.
TEST_F(service_stop_overlap, a_stop_is_never_undone_by_the_restart_under_way) {
    explore(false);
    EXPECT_EQ(ended_by_itself, 0);
}

}  // namespace
