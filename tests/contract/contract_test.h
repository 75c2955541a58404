// The facts the service relies on from Windows, written once. Each contract test builds
// natively against the simulated machine and for Windows against the real calls, run
// under Wine, so that the machine the native tests run on cannot drift from Windows
// unseen. Each build gives the fixture its own set-up.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/handles.h"
#include "platform/threads_and_events.h"
#include "platform/unique_handle.h"

namespace contract {

class contract_test : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
};

// A directory of the test's own, made and removed by each machine in its own way: the
// real file system on Windows, the file tree of the simulated machine natively. Names
// are relative to it.
class scratch {
  public:
    scratch();
    ~scratch();
    scratch(const scratch&) = delete;
    scratch& operator=(const scratch&) = delete;

    // Its full path, drive included, with backslashes.
    const std::wstring& path() const { return path_; }
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

    // A directory whose parent exists.
    void make_directory(const std::wstring& name) const;
    void write(const std::wstring& name, const std::string& bytes) const;
    // Its bytes may not be kept.
    void make_read_only(const std::wstring& name) const;
    bool exists(const std::wstring& name) const;
    std::optional<std::string> content(const std::wstring& name) const;

  private:
    std::wstring path_;
    // Made read-only, and so to be made writable again before the directory goes.
    mutable std::vector<std::wstring> read_only_;
};

// The path of a program that runs until it is ended, under the file name `name`: the
// build's stand-in for the agent on Windows, an installed program on the simulated
// machine. Launched with `--hold "<path>"`, it creates that file and keeps it open without
// delete sharing, as the agent keeps its log.
std::wstring program_path(const std::wstring& name);
// Returns once process `id`, launched with --hold "<path>", holds the file.
void await_holding(std::uint32_t id, const std::wstring& path);

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
