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
    module_path = L"C:\\Program Files\\Quillmark\\quillmark_snaptel.exe";
    current_directory = L"C:\\Windows\\system32";
    settings_files.clear();
    settings_reads = 0;
    error_texts = default_error_texts();
    debug_output.clear();
    faults.clear();
    throwing.clear();
    calls.fill(0);
    wall_base = initial_time;
    wall_base_ms = 0;
    elapsed_ms = 0;
    utc_offset = 0;
    sleeps.clear();
    processes.clear();
    every_process.clear();
    next_process_id = first_process_id;
    current_process_id = unused_process_id;
    programs.clear();
    launches.clear();
    handles.clear();
    stale_handle_uses = 0;
    next_handle = first_handle_value;
    files.clear();
    swaps.clear();
    swaps_done = 0;
    free_space.reset();
    services.clear();
    events.clear();
    registry.clear();
    dispatcher = dispatcher_state{};
    // Threads of an earlier test that never ended stay blocked for good: none of them
    // is chosen again.
    threads.clear();
    running = nullptr;
    next_thread_id = first_thread_id;
    timers.clear();
    locks.clear();
    choice.seed(0);
    in_event = false;
    register_test_thread();
}

void machine::reset() {
    std::lock_guard guard(impl_->lock);
    impl_->clear();
    platform::set_last_error(platform::error_success);
}

}  // namespace sim
