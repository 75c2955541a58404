// The facts the service relies on from Windows, written once. Each contract test builds
// natively against the simulated machine and for Windows against the real calls, run
// under Wine, so that the machine the native tests run on cannot drift from Windows
// unseen. Each build gives the fixture its own set-up.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "platform/handles.h"
#include "platform/threads_and_events.h"
#include "platform/unique_handle.h"

namespace contract {

class contract_test : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
};

// Long enough for a wait that must end not to end by time-out on a slow machine.
inline constexpr std::uint32_t ample_ms = 10000;

// A thread the test owns, waited for before anything it uses goes away, also when a
// check fails half-way.
class joined_thread {
  public:
    joined_thread(platform::thread_procedure procedure, void* parameter)
        : thread_(platform::create_thread(procedure, parameter)) {}
    joined_thread(const joined_thread&) = delete;
    joined_thread& operator=(const joined_thread&) = delete;
    ~joined_thread() {
        if (thread_) {
            platform::wait_for_single_object(thread_.get(), ample_ms);
        }
    }

    platform::handle get() const { return thread_.get(); }
    explicit operator bool() const { return static_cast<bool>(thread_); }

  private:
    platform::unique_handle thread_;
};

}  // namespace contract
