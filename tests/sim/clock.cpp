#include "sim/machine_impl.h"

namespace sim {

std::time_t clock_state::wall_clock() const {
    return wall_base + static_cast<std::time_t>((elapsed_ms - wall_base_ms) / 1000);
}

std::time_t machine::now() const {
    std::lock_guard guard(impl_->lock);
    return impl_->clock.wall_clock();
}

void machine::set_time(std::time_t when) {
    std::lock_guard guard(impl_->lock);
    impl_->clock.wall_base = when;
    impl_->clock.wall_base_ms = impl_->clock.elapsed_ms;
}

void machine::set_utc_offset(std::int32_t seconds) {
    std::lock_guard guard(impl_->lock);
    impl_->clock.utc_offset = seconds;
}

std::uint64_t machine::elapsed_ms() const {
    std::lock_guard guard(impl_->lock);
    return impl_->clock.elapsed_ms;
}

std::vector<std::uint32_t> machine::sleeps() const {
    std::lock_guard guard(impl_->lock);
    return impl_->clock.sleeps;
}

}  // namespace sim

namespace platform {

std::time_t current_time() {
    return sim::machine::instance().now();
}

std::uint64_t tick_count() {
    return sim::machine::instance().elapsed_ms();
}

bool to_local_time(std::time_t when, std::tm& local) {
    std::int32_t offset = 0;
    {
        auto& m = sim::machine::instance().internals();
        std::lock_guard guard(m.lock);
        // localtime sets errno, not the last-error code.
        if (m.enter(sim::operation::to_local_time)) return false;
        offset = m.clock.utc_offset;
    }
    const std::time_t shifted = when + offset;
    return gmtime_r(&shifted, &local) != nullptr;
}

}  // namespace platform
