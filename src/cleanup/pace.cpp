#include "cleanup/pace.h"

#include <utility>

#include "platform/clock.h"

namespace cleanup {
namespace {

constexpr std::uint64_t report_every_ms = 1000;

}  // namespace

pace::pace(std::function<void()> still_working, std::uint64_t deadline_ms,
           const std::atomic<bool>* stop_mark)
    : still_working_(std::move(still_working)),
      deadline_ms_(deadline_ms),
      stop_mark_(stop_mark),
      last_report_ms_(platform::tick_count()) {}

void pace::step() {
    if (still_working_) {
        last_report_ms_ = platform::tick_count();
        still_working_();
    }
}

void pace::tick() {
    if (still_working_ && platform::tick_count() - last_report_ms_ >= report_every_ms) {
        step();
    }
}

bool pace::should_end() {
    if (stop_mark_ != nullptr && stop_mark_->load()) {
        stopped_ = true;
    } else if (deadline_ms_ != no_deadline && platform::tick_count() >= deadline_ms_) {
        out_of_time_ = true;
    }
    return stopped_ || out_of_time_;
}

}  // namespace cleanup
