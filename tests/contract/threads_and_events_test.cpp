// Threads, events, waits and the SRW lock: the supervision code runs its threads on the
// simulated machine in the native tests, which assumes of them what these check.
#include <cstdint>

#include "contract/contract_test.h"
#include "platform/clock.h"
#include "platform/errors.h"

namespace contract {
namespace {

using threads_contract = contract_test;
using events_contract = contract_test;
using locks_contract = contract_test;

// Sets an event when it goes, so that a thread waiting on it can end.
struct event_setter {
    platform::handle event;
    ~event_setter() { platform::set_event(event); }
};

struct gated_thread {
    platform::unique_handle gate{platform::create_event(true, false)};
    std::uint32_t result = 0;
};

std::uint32_t return_after_gate(void* parameter) {
    auto* state = static_cast<gated_thread*>(parameter);
    if (platform::wait_for_single_object(state->gate.get(), platform::infinite) !=
        platform::wait_object_0) {
        return 1;
    }
    return state->result;
}

TEST_F(threads_contract, ExitCodeIsTheProcedureResultOnceTheThreadHasEnded) {
    gated_thread state;
    ASSERT_TRUE(state.gate);
    state.result = 42;
    const joined_thread thread(return_after_gate, &state);
    ASSERT_TRUE(thread);
    const event_setter open_gate_on_the_way_out{state.gate.get()};

    std::uint32_t exit_code = 0;
    ASSERT_TRUE(platform::get_exit_code_thread(thread.get(), &exit_code));
    EXPECT_EQ(exit_code, platform::still_active);
    EXPECT_EQ(platform::wait_for_single_object(thread.get(), 0), platform::wait_timeout);

    ASSERT_TRUE(platform::set_event(state.gate.get()));
    ASSERT_EQ(platform::wait_for_single_object(thread.get(), ample_ms), platform::wait_object_0);
    ASSERT_TRUE(platform::get_exit_code_thread(thread.get(), &exit_code));
    EXPECT_EQ(exit_code, 42u);
    // An ended thread stays signalled.
    EXPECT_EQ(platform::wait_for_single_object(thread.get(), 0), platform::wait_object_0);
}

TEST_F(events_contract, ManualResetEventStaysSignalledThroughWaits) {
    const platform::unique_handle event(platform::create_event(true, false));
    ASSERT_TRUE(event);
    EXPECT_EQ(platform::wait_for_single_object(event.get(), 0), platform::wait_timeout);
    ASSERT_TRUE(platform::set_event(event.get()));
    EXPECT_EQ(platform::wait_for_single_object(event.get(), 0), platform::wait_object_0);
    EXPECT_EQ(platform::wait_for_single_object(event.get(), 0), platform::wait_object_0);
}

TEST_F(events_contract, AutoResetEventIsResetByTheWaitThatSeesIt) {
    const platform::unique_handle event(platform::create_event(false, true));
    ASSERT_TRUE(event);
    EXPECT_EQ(platform::wait_for_single_object(event.get(), 0), platform::wait_object_0);
    EXPECT_EQ(platform::wait_for_single_object(event.get(), 0), platform::wait_timeout);
    ASSERT_TRUE(platform::set_event(event.get()));
    EXPECT_EQ(platform::wait_for_single_object(event.get(), 0), platform::wait_object_0);
}

TEST_F(events_contract, WaitOnUnsignalledEventTimesOutWith258AfterTheTime) {
    const platform::unique_handle event(platform::create_event(true, false));
    ASSERT_TRUE(event);
    const std::uint64_t started = platform::tick_count();
    EXPECT_EQ(platform::wait_for_single_object(event.get(), 100), 258u);
    // The system's tick advances in steps of up to 16 ms.
    EXPECT_GE(platform::tick_count() - started, 80u);
}

struct lock_contender {
    platform::srw_lock* lock = nullptr;
    platform::unique_handle acquired{platform::create_event(true, false)};
};

std::uint32_t acquire_then_signal(void* parameter) {
    auto* contender = static_cast<lock_contender*>(parameter);
    const platform::exclusive_lock held(*contender->lock);
    return platform::set_event(contender->acquired.get()) ? 0 : 1;
}

TEST_F(locks_contract, HeldLockBlocksAnotherThreadUntilReleased) {
    platform::srw_lock lock;
    lock_contender contender;
    contender.lock = &lock;
    ASSERT_TRUE(contender.acquired);

    platform::acquire_srw_lock_exclusive(lock);
    const joined_thread thread(acquire_then_signal, &contender);
    if (!thread) {
        platform::release_srw_lock_exclusive(lock);
        FAIL() << "no thread: error " << platform::get_last_error();
    }
    const std::uint32_t while_held =
        platform::wait_for_single_object(contender.acquired.get(), 300);
    platform::release_srw_lock_exclusive(lock);
    EXPECT_EQ(while_held, platform::wait_timeout);

    EXPECT_EQ(platform::wait_for_single_object(contender.acquired.get(), ample_ms),
              platform::wait_object_0);
    ASSERT_EQ(platform::wait_for_single_object(thread.get(), ample_ms), platform::wait_object_0);
    std::uint32_t exit_code = platform::still_active;
    ASSERT_TRUE(platform::get_exit_code_thread(thread.get(), &exit_code));
    EXPECT_EQ(exit_code, 0u);
}

}  // namespace
}  // namespace contract
