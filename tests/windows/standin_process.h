// Stand-ins for the agent and its plugins, started as real processes for the Windows
// tests. They are started through the command interpreter rather than the platform
// layer's process creation, so that the tests of the clean-up do not depend on the call
// the supervision code launches the agent with.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/handles.h"
#include "platform/unique_handle.h"

namespace standin {

// Where the build puts the stand-in under each of the agent's and plugins' file names.
std::filesystem::path standin_directory();

// The identifiers of every process now running; empty if they cannot be listed.
std::vector<std::uint32_t> process_ids();

// True when the image of `process` is a file named `base_name`, in any letter case.
bool image_is(platform::handle process, const std::wstring& base_name);

// A stand-in started for one test, ended by the test or at the latest when the owner
// goes, so that no process outlives the test program. A failure to start is reported
// to the running test, and the object is then empty.
class started_standin {
  public:
    // `name` is the file name the stand-in runs under; `arguments` are passed as given.
    started_standin(const std::wstring& name, const std::string& arguments);
    started_standin(const started_standin&) = delete;
    started_standin& operator=(const started_standin&) = delete;
    ~started_standin();

    platform::handle get() const { return process_.get(); }
    explicit operator bool() const { return static_cast<bool>(process_); }

  private:
    platform::unique_handle process_;
};

}  // namespace standin
