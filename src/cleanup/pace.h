// How long a clean-up may take, and how it shows that it is still at work. The service
// manager ends a service that stays pending past its wait hint, and gives up on a control
// handler that has not returned within its limit: a clean-up that runs while the manager
// waits tells it so at least once a second, and one that runs inside a stop ends its
// deletion when the stop's time is up. What it leaves is deleted at the next start.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <limits>

namespace cleanup {

class pace {
  public:
    static constexpr std::uint64_t no_deadline = std::numeric_limits<std::uint64_t>::max();

    // No report, no deadline, no stop mark: the clean-up runs to its end.
    pace() = default;
    // `still_working` (may be empty) is called at each step and at most once a second
    // meanwhile; the deletion ends once the tick count passes `deadline_ms`, or once
    // `stop_mark` (may be null) is set.
    pace(std::function<void()> still_working, std::uint64_t deadline_ms,
         const std::atomic<bool>* stop_mark);

    // Between two steps: reports whatever the time since the last report.
    void step();
    // Between two entries: reports once a second has passed since the last report.
    void tick();

    // Whether the deletion ends here; remembered, so that it is said once, afterwards.
    bool should_end();
    bool ran_out_of_time() const { return out_of_time_; }
    bool stopped_by_mark() const { return stopped_; }

  private:
    std::function<void()> still_working_;
    std::uint64_t deadline_ms_ = no_deadline;
    const std::atomic<bool>* stop_mark_ = nullptr;
    std::uint64_t last_report_ms_ = 0;
    bool out_of_time_ = false;
    bool stopped_ = false;
};

}  // namespace cleanup
