// Simulated threads, the waits that pass control between them, and virtual time.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <thread>

#include "sim/machine_impl.h"

namespace sim {
namespace {

// The simulated thread a real thread runs as; null for threads the machine does not know.
thread_local thread_record* current = nullptr;

std::string hex(const void* value) {
    std::ostringstream text;
    text << "0x" << std::hex << reinterpret_cast<std::uintptr_t>(value);
    return text.str();
}

std::string for_how_long(std::optional<std::uint64_t> deadline_ms) {
    return deadline_ms ? " until " + std::to_string(*deadline_ms) + " ms" : " for ever";
}

void run_thread(machine::impl& m, const std::shared_ptr<thread_record>& self) {
    current = self.get();
    {
        machine::impl::guard held(m.lock);
        self->turn.wait(held, [&] { return m.scheduler.running == self.get(); });
    }
    std::uint32_t exit_code = 0;
    try {
        exit_code = self->procedure(self->parameter);
    } catch (...) {
        // On Windows an exception that leaves a thread ends the whole process.
        fatal("an exception left thread " + self->name);
    }
    machine::impl::guard held(m.lock);
    self->now = thread_record::state::ended;
    self->exit_code = exit_code;
    self->ready = nullptr;
    m.hand_over(held);
}

}  // namespace

void fatal(const std::string& why) {
    std::fprintf(stderr, "simulated machine: %s\n", why.c_str());
    std::fflush(stderr);
    std::abort();
}

thread_record& machine::impl::self() {
    if (current == nullptr || scheduler.running != current) {
        fatal(
            "a thread that is not the running simulated thread waits; only threads made by "
            "create_thread, and the thread that called reset(), may wait\n" +
            describe_threads());
    }
    return *current;
}

void machine::impl::advance_to(std::uint64_t ms) {
    clock.elapsed_ms = ms;
    std::vector<std::shared_ptr<process_record>> due;
    for (const auto& process : processes.listed) {
        if (!process->ended && process->ends_at_ms && *process->ends_at_ms <= clock.elapsed_ms) {
            due.push_back(process);
        }
    }
    for (const auto& process : due) processes.end(*process, process->pending_exit_code);
}

void machine::impl::block(guard& held, std::function<bool()> ready,
                          std::optional<std::uint64_t> deadline_ms, std::string waits_on) {
    thread_record& me = self();
    if (scheduler.in_event) fatal("a scheduled event waits on " + waits_on);
    me.now = thread_record::state::blocked;
    me.ready = std::move(ready);
    me.deadline_ms = deadline_ms;
    me.waits_on = std::move(waits_on);
    hand_over(held);
    me.turn.wait(held, [&] { return scheduler.running == &me; });
}

void machine::impl::hand_over(guard& held) {
    thread_record* const caller = scheduler.running;
    for (;;) {
        // Events due now come before any thread runs at this moment.
        while (!scheduler.timers.empty() && scheduler.timers.begin()->first <= clock.elapsed_ms) {
            auto event = std::move(scheduler.timers.begin()->second);
            scheduler.timers.erase(scheduler.timers.begin());
            scheduler.in_event = true;
            held.unlock();
            event();
            held.lock();
            scheduler.in_event = false;
        }

        std::vector<thread_record*> can_run;
        for (const auto& thread : scheduler.threads) {
            const bool woken = thread->now == thread_record::state::blocked &&
                               ((thread->ready && thread->ready()) ||
                                (thread->deadline_ms && *thread->deadline_ms <= clock.elapsed_ms));
            if (thread->now == thread_record::state::created || woken) {
                can_run.push_back(thread.get());
            }
        }
        if (!can_run.empty()) {
            thread_record* const next = can_run.size() == 1
                                            ? can_run.front()
                                            : can_run[scheduler.choice() % can_run.size()];
            next->now = thread_record::state::running;
            next->ready = nullptr;
            next->deadline_ms.reset();
            next->waits_on.clear();
            scheduler.running = next;
            if (next != caller) next->turn.notify_one();
            return;
        }

        // Nothing can run: time moves to the earliest moment something happens.
        std::optional<std::uint64_t> earliest;
        const auto consider = [&](std::uint64_t at) {
            if (!earliest || at < *earliest) earliest = at;
        };
        for (const auto& thread : scheduler.threads) {
            if (thread->now == thread_record::state::blocked && thread->deadline_ms) {
                consider(*thread->deadline_ms);
            }
        }
        for (const auto& process : processes.listed) {
            if (!process->ended && process->ends_at_ms) consider(*process->ends_at_ms);
        }
        if (!scheduler.timers.empty()) consider(scheduler.timers.begin()->first);
        if (!earliest) {
            scheduler.running = nullptr;
            fatal("every simulated thread waits for ever\n" + describe_threads());
        }
        advance_to(std::max(*earliest, clock.elapsed_ms));
    }
}

void machine::impl::let_woken_threads_compete(guard& held) {
    for (const auto& thread : scheduler.threads) {
        if (thread->now == thread_record::state::blocked && thread->ready && thread->ready()) {
            block(
                held, [] { return true; }, std::nullopt, "its turn after waking another thread");
            return;
        }
    }
}

std::string machine::impl::describe_threads() const {
    std::string text;
    for (const auto& thread : scheduler.threads) {
        text += "  " + thread->name;
        switch (thread->now) {
            case thread_record::state::created:
                text += " has not started";
                break;
            case thread_record::state::running:
                text += " runs";
                break;
            case thread_record::state::blocked:
                text += " waits on " + thread->waits_on + for_how_long(thread->deadline_ms);
                break;
            case thread_record::state::ended:
                text += " has ended with " + std::to_string(thread->exit_code);
                break;
            case thread_record::state::halted:
                text += " was halted with its process";
                break;
        }
        text += "\n";
    }
    return text + "  (virtual time " + std::to_string(clock.elapsed_ms) + " ms)";
}

void machine::set_seed(std::uint64_t seed) {
    std::lock_guard guard(impl_->lock);
    impl_->scheduler.choice.seed(seed);
}

void machine::run_until(std::uint64_t ms) {
    impl::guard held(impl_->lock);
    while (impl_->clock.elapsed_ms < ms) {
        impl_->block(held, nullptr, ms, "run_until(" + std::to_string(ms) + " ms)");
    }
}

void machine::at(std::uint64_t ms, std::function<void()> event) {
    std::lock_guard guard(impl_->lock);
    impl_->scheduler.timers.emplace(ms, std::move(event));
}

void machine::name_thread(platform::handle thread, std::string name) {
    std::lock_guard guard(impl_->lock);
    if (auto* record = impl_->handles.find(thread, handle_kind::thread)) {
        record->thread->name = std::move(name);
    }
}

std::vector<std::string> machine::unfinished_threads() const {
    std::lock_guard guard(impl_->lock);
    std::vector<std::string> found;
    for (const auto& thread : impl_->scheduler.threads) {
        // A thread halted with its process is gone as the process is.
        if (thread->name == "test" || thread->now == thread_record::state::ended ||
            thread->now == thread_record::state::halted) {
            continue;
        }
        std::string line = thread->name;
        if (thread->now == thread_record::state::blocked) {
            line += " waits on " + thread->waits_on + for_how_long(thread->deadline_ms);
        } else {
            line += thread->now == thread_record::state::created ? " has not started" : " runs";
        }
        found.push_back(line);
    }
    return found;
}

void machine::impl::halt_process_threads() {
    for (const auto& thread : scheduler.threads) {
        if (thread->name != "test" && (thread->now == thread_record::state::created ||
                                       thread->now == thread_record::state::blocked)) {
            thread->now = thread_record::state::halted;
            thread->ready = nullptr;
        }
    }
}

namespace {

struct main_call {
    std::function<int()> main;
    int result = 0;
};

std::uint32_t run_main(void* parameter) {
    auto& call = *static_cast<main_call*>(parameter);
    call.result = call.main();
    return 0;
}

}  // namespace

std::optional<int> machine::run_process(std::function<int()> main) {
    // A halted main thread never reads the call again, so it may live on this stack.
    main_call call{std::move(main)};
    impl::guard held(impl_->lock);
    const auto thread = impl_->start_thread("main", run_main, &call);
    const auto returned = [&thread] { return thread->now == thread_record::state::ended; };
    const auto over = [&] { return returned() || impl_->scm.dispatcher.process_ended; };
    while (!over()) impl_->block(held, over, std::nullopt, "the end of its process");
    if (returned()) return call.result;
    return std::nullopt;
}

std::shared_ptr<thread_record> machine::impl::start_thread(std::string name,
                                                           platform::thread_procedure procedure,
                                                           void* parameter) {
    auto thread = std::make_shared<thread_record>();
    thread->id = scheduler.next_thread_id;
    scheduler.next_thread_id += 4;
    thread->name = name.empty() ? "thread " + std::to_string(thread->id) : std::move(name);
    thread->procedure = procedure;
    thread->parameter = parameter;
    scheduler.threads.push_back(thread);
    // The thread outlives the test when it never ends: the report names it, and the
    // test process ends around it.
    std::thread([this, thread] { run_thread(*this, thread); }).detach();
    return thread;
}

void scheduler_state::register_test_thread() {
    auto test = std::make_shared<thread_record>();
    test->id = next_thread_id;
    next_thread_id += 4;
    test->name = "test";
    test->now = thread_record::state::running;
    threads.push_back(test);
    running = test.get();
    current = test.get();
}

}  // namespace sim

namespace platform {

void sleep(std::uint32_t milliseconds) {
    auto& m = sim::machine::instance().internals();
    sim::machine::impl::guard held(m.lock);
    m.clock.sleeps.push_back(milliseconds);
    if (milliseconds == 0) {
        // Sleep(0) gives the other threads that can run their turn.
        m.block(
            held, [] { return true; }, std::nullopt, "Sleep(0)");
        return;
    }
    const std::uint64_t deadline = m.clock.elapsed_ms + milliseconds;
    while (m.clock.elapsed_ms < deadline) {
        m.block(held, nullptr, deadline, "Sleep(" + std::to_string(milliseconds) + ")");
    }
}

std::uint32_t wait_for_single_object(handle object, std::uint32_t milliseconds) {
    auto& m = sim::machine::instance().internals();
    sim::machine::impl::guard held(m.lock);
    const sim::handle_record* record = m.handles.find(object);
    const bool waitable = record != nullptr && record->kind != sim::handle_kind::file &&
                          record->kind != sim::handle_kind::listing;
    const std::wstring subject =
        record != nullptr && record->process ? std::to_wstring(record->process->id) : L"";
    if (auto error = m.enter(sim::operation::wait_for_single_object, subject)) {
        return sim::failure(wait_failed, *error);
    }
    if (record == nullptr) ++m.handles.stale_uses;
    if (!waitable) return sim::failure(wait_failed, error_invalid_handle);
    if (record->kind == sim::handle_kind::process && (record->access & sim::synchronize) == 0) {
        return sim::failure(wait_failed, error_access_denied);
    }

    // What is waited on is held here, so that a wait outlives a handle closed meanwhile.
    std::function<bool()> signalled;
    std::string what;
    switch (record->kind) {
        case sim::handle_kind::process:
        case sim::handle_kind::primary_thread:
            signalled = [process = record->process] { return process->ended; };
            what = "process " + std::to_string(record->process->id);
            break;
        case sim::handle_kind::thread:
            signalled = [thread = record->thread] {
                return thread->now == sim::thread_record::state::ended;
            };
            what = "thread " + record->thread->name;
            break;
        default:
            signalled = [event = record->event] { return event->signalled; };
            what = "event " + sim::hex(object);
            break;
    }
    const std::shared_ptr<sim::event_record> event = record->event;
    const std::optional<std::uint64_t> deadline =
        milliseconds == infinite ? std::nullopt
                                 : std::optional<std::uint64_t>(m.clock.elapsed_ms + milliseconds);
    for (;;) {
        if (signalled()) {
            if (event && !event->manual_reset) event->signalled = false;
            return wait_object_0;
        }
        if (deadline && m.clock.elapsed_ms >= *deadline) return wait_timeout;
        m.block(held, signalled, deadline, what);
    }
}

handle create_thread(thread_procedure procedure, void* parameter) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    if (auto error = m.enter(sim::operation::create_thread)) {
        return sim::failure<handle>(nullptr, *error);
    }
    if (procedure == nullptr) return sim::failure<handle>(nullptr, error_invalid_parameter);
    auto thread = m.start_thread({}, procedure, parameter);
    sim::handle_record record;
    record.kind = sim::handle_kind::thread;
    record.thread = std::move(thread);
    return m.handles.add(std::move(record));
}

bool get_exit_code_thread(handle thread, std::uint32_t* exit_code) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    if (auto error = m.enter(sim::operation::get_exit_code_thread)) {
        return sim::failure(false, *error);
    }
    const auto* record = m.handles.find(thread, sim::handle_kind::thread);
    if (record == nullptr) return sim::failure(false, error_invalid_handle);
    if (exit_code == nullptr) return sim::failure(false, error_invalid_parameter);
    *exit_code = record->thread->now == sim::thread_record::state::ended ? record->thread->exit_code
                                                                         : still_active;
    return true;
}

handle create_event(bool manual_reset, bool initial_state) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    if (auto error = m.enter(sim::operation::create_event)) {
        return sim::failure<handle>(nullptr, *error);
    }
    sim::handle_record record;
    record.kind = sim::handle_kind::event;
    record.event = std::make_shared<sim::event_record>();
    record.event->manual_reset = manual_reset;
    record.event->signalled = initial_state;
    return m.handles.add(std::move(record));
}

bool set_event(handle event) {
    auto& m = sim::machine::instance().internals();
    sim::machine::impl::guard held(m.lock);
    if (auto error = m.enter(sim::operation::set_event)) return sim::failure(false, *error);
    auto* record = m.handles.find(event, sim::handle_kind::event);
    if (m.handles.find(event) == nullptr) ++m.handles.stale_uses;
    if (record == nullptr) return sim::failure(false, error_invalid_handle);
    record->event->signalled = true;
    if (!m.scheduler.in_event) m.let_woken_threads_compete(held);
    return true;
}

void acquire_srw_lock_exclusive(srw_lock& lock) {
    auto& m = sim::machine::instance().internals();
    sim::machine::impl::guard held(m.lock);
    const std::uint32_t me = m.self().id;
    sim::lock_record& record = m.scheduler.locks[&lock];
    if (record.owner == me) {
        sim::fatal("thread " + m.self().name + " takes a lock it holds; it would wait for ever\n" +
                   m.describe_threads());
    }
    while (record.owner != 0) {
        m.block(
            held, [&record] { return record.owner == 0; }, std::nullopt, "lock " + sim::hex(&lock));
    }
    record.owner = me;
}

void release_srw_lock_exclusive(srw_lock& lock) {
    auto& m = sim::machine::instance().internals();
    sim::machine::impl::guard held(m.lock);
    sim::lock_record& record = m.scheduler.locks[&lock];
    if (record.owner != m.self().id) {
        sim::fatal("thread " + m.self().name + " releases a lock it does not hold");
    }
    record.owner = 0;
    m.let_woken_threads_compete(held);
}

}  // namespace platform
