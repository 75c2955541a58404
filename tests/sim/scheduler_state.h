// Simulated threads, the events a test schedules and the locks they take (scheduler.cpp).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "platform/threads_and_events.h"

namespace sim {

inline constexpr std::uint32_t first_thread_id = 1000;

// A simulated thread: a real thread that runs only while the scheduler has chosen it.
struct thread_record {
    // halted: stopped for good at a wait, or before its start, by the end of its
    // process; it never runs again and never ends.
    enum class state { created, running, blocked, ended, halted };

    std::uint32_t id = 0;
    std::string name;
    state now = state::created;
    platform::thread_procedure procedure = nullptr;
    void* parameter = nullptr;
    std::uint32_t exit_code = platform::still_active;

    // While blocked: what lets it go on (empty: only its deadline), when it goes on at
    // the latest, and what to call it in a report.
    std::function<bool()> ready;
    std::optional<std::uint64_t> deadline_ms;
    std::string waits_on;

    // Notified when the scheduler chooses this thread.
    std::condition_variable turn;
};

struct event_record {
    bool manual_reset = false;
    bool signalled = false;
};

struct lock_record {
    // The identifier of the thread holding it; 0 when free.
    std::uint32_t owner = 0;
};

struct scheduler_state {
    // Every simulated thread of this run, the one that may run, the events a test
    // scheduled, the locks by address and the seeded choice.
    std::vector<std::shared_ptr<thread_record>> threads;
    thread_record* running = nullptr;
    std::uint32_t next_thread_id = first_thread_id;
    std::multimap<std::uint64_t, std::function<void()>> timers;
    std::map<const void*, lock_record> locks;
    std::mt19937_64 choice{0};
    // Set while a scheduled event runs: it must not wait.
    bool in_event = false;

    // Threads of an earlier test that never ended stay blocked for good: none of them
    // is chosen again.
    void clear() { *this = {}; }
    // Makes the calling thread the running simulated "test" thread.
    void register_test_thread();
};

}  // namespace sim
