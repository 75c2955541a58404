#include "platform/sim/machine.h"

#include "platform/sim/machine_impl.h"

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
    module_path = L"C:\\Program Files\\Quillmark\\quillmark_snaptel.exe";
    settings_files.clear();
    settings_reads = 0;
    error_texts = default_error_texts();
    debug_output.clear();
    faults.clear();
    calls.fill(0);
    wall_base = initial_time;
    wall_base_ms = 0;
    elapsed_ms = 0;
    utc_offset = 0;
    sleeps.clear();
    processes.clear();
    next_process_id = first_process_id;
    handles.clear();
    next_handle = first_handle_value;
    files.clear();
}

void machine::reset() {
    std::lock_guard guard(impl_->lock);
    impl_->clear();
    platform::set_last_error(platform::error_success);
}

}  // namespace sim
