// A stop request against a restart under way: the control handler's stop sequence runs
// while the worker's health cycle has failed and the worker stops and relaunches the
// group-> The request arrives at many moments of the restart, and each seed orders the
// threads that can run at the same moment differently.
#include <gtest/gtest.h>

#include "supervision/agent_launch.h"
#include "support/supervision_test.h"

namespace {

constexpr int seeds = 1000;
// The health cycle that finds the collector gone begins at 61020 ms; the worker's stop
// and relaunch take until 63120 ms.
constexpr std::uint64_t first_request_ms = 61000;
constexpr std::uint64_t last_request_ms = 63400;

class stop_during_restart : public test::supervision_test {
  protected:
    struct outcome {
        std::string log;
        std::size_t launches_when_marked = 0;
    };

    // Runs the scenario from a fresh machine and process.
    outcome run(std::uint64_t seed, int log_level) {
        machine().set_seed(seed);
        use_configuration(log_level);
        start_worker();
        machine().run_until(1);
        const auto collector = plugins().front();
        machine().at(30000, [this, collector] { machine().end_process(collector, 1); });
        machine().run_until(first_request_ms + seed * (last_request_ms - first_request_ms) / seeds);

        // The control handler's stop sequence.
        group->request_stop();
        outcome result;
        result.launches_when_marked = machine().launches().size();
        supervision::stop_agent(*group);
        EXPECT_TRUE(agents().empty());
        EXPECT_TRUE(plugins().empty());
        platform::set_event(group->stop_event.get());

        EXPECT_EQ(worker_exit_code(), 0u);
        EXPECT_TRUE(agents().empty());
        EXPECT_TRUE(plugins().empty());
        EXPECT_EQ(machine().launches().size(), result.launches_when_marked);
        result.log = log_bytes();
        return result;
    }

    void start_over() {
        TearDown();
        SetUp();
    }
};

TEST_F(stop_during_restart, leaves_nothing_running_and_launches_nothing_after_the_request) {
    for (std::uint64_t seed = 0; seed < seeds && !HasFailure(); ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        if (seed != 0) start_over();
        run(seed, 3);
    }
}

TEST_F(stop_during_restart, the_same_seed_gives_the_same_log) {
    const std::string first = run(617, 0).log;
    start_over();
    const std::string again = run(617, 0).log;
    EXPECT_EQ(first, again);
    EXPECT_NE(first.find("ServiceWorkerThread restarting host agent."), std::string::npos);
}

}  // namespace
