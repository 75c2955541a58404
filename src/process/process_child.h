// The owned handle of one process: a host agent the service started or a process found
// by its image name. Always held through a shared pointer, so that process lists can be
// copied and handed on while the handle stays open exactly as long as someone refers
// to it. Never modified after construction, so two threads may use one object at once.
#pragma once

#include <memory>
#include <vector>

#include "platform/unique_handle.h"

namespace process {

class process_child {
  public:
    // Takes over a handle with the rights to query, terminate and wait on the process.
    // Taking an owner rather than a raw handle means a failure to allocate the shared
    // object still leaves the handle owned, and closed as the failure passes.
    explicit process_child(platform::unique_handle process) : process_(std::move(process)) {}
    process_child(const process_child&) = delete;
    process_child& operator=(const process_child&) = delete;
    ~process_child() = default;

    platform::handle handle() const { return process_.get(); }

    // True while the process has not ended. A process whose state cannot be read counts
    // as ended, so it is never terminated.
    bool is_running() const;

    // Ends the process with exit code 0 if it runs. True when nothing was left to do or
    // the process was seen to have ended.
    bool terminate() const;

  private:
    platform::unique_handle process_;
};

// Processes in the order the system enumerated (or the service started) them.
using process_list = std::vector<std::shared_ptr<process_child>>;

// Terminates every entry that still runs, in list order, without waiting.
void terminate_all(const process_list& processes);

}  // namespace process
