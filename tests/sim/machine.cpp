#include "sim/machine.h"

#include "sim/machine_impl.h"

namespace sim {

machine& machine::instance() {
    // Never destroyed: objects with static lifetime may still call the platform layer
    // while the test process exits.
    static machine* const one = new machine();
    return *one;
}

machine::machine() : impl_(std::make_unique<impl>()) {}

machine::impl::impl() {
    clear();
}

void machine::impl::clear() {
    settings.clear();
    errors.clear();
    faults.clear();
    clock.clear();
    processes.clear();
    handles.clear();
    fs.clear();
    scm.clear();
    event_log.clear();
    scheduler.clear();
    scheduler.register_test_thread();
}

void machine::reset() {
    std::lock_guard guard(impl_->lock);
    impl_->clear();
    platform::set_last_error(platform::error_success);
}

}  // namespace sim
