#include <thread>

#include "platform/sim/machine_impl.h"

namespace sim {

std::time_t machine::impl::wall_clock() const {
    return wall_base + static_cast<std::time_t>((elapsed_ms - wall_base_ms) / 1000);
}

void machine::impl::advance(std::uint64_t milliseconds) {
    elapsed_ms += milliseconds;
    for (auto& process : processes) {
        if (!process->ended && process->ends_at_ms && *process->ends_at_ms <= elapsed_ms) {
            end(*process, process->pending_exit_code);
        }
    }
}

std::time_t machine::now() const {
    std::lock_guard guard(impl_->lock);
    return impl_->wall_clock();
}

void machine::set_time(std::time_t when) {
    std::lock_guard guard(impl_->lock);
    impl_->wall_base = when;
    impl_->wall_base_ms = impl_->elapsed_ms;
}

void machine::set_utc_offset(std::int32_t seconds) {
    std::lock_guard guard(impl_->lock);
    impl_->utc_offset = seconds;
}

std::uint64_t machine::elapsed_ms() const {
    std::lock_guard guard(impl_->lock);
    return impl_->elapsed_ms;
}

std::vector<std::uint32_t> machine::sleeps() const {
    std::lock_guard guard(impl_->lock);
    return impl_->sleeps;
}

}  // namespace sim

namespace platform {

std::time_t current_time() {
    return sim::machine::instance().now();
}

bool to_local_time(std::time_t when, std::tm& local) {
    std::int32_t offset = 0;
    {
        auto& m = sim::machine::instance().internals();
        std::lock_guard guard(m.lock);
        offset = m.utc_offset;
    }
    const std::time_t shifted = when + offset;
    return gmtime_r(&shifted, &local) != nullptr;
}

void sleep(std::uint32_t milliseconds) {
    {
        auto& m = sim::machine::instance().internals();
        std::lock_guard guard(m.lock);
        m.sleeps.push_back(milliseconds);
        m.advance(milliseconds);
    }
    // Virtual time costs nothing, so a polling loop would otherwise starve the other
    // threads of the test.
    std::this_thread::yield();
}

}  // namespace platform
