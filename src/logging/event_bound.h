// A bound on the events one piece of work reports. A clean-up of a directory anyone may
// fill, or a health cycle, could otherwise flood the Application event log, which
// overwrites its oldest events when full: other programs' records too.
#pragma once

#include <cstdint>
#include <map>

#include "logging/event_kind.h"

namespace logging {

// While it lives, its thread reports at most `events_per_kind` events of each kind; the
// error lines beyond go to the log file only, and when it ends one event of that kind says
// how many. Outside any bound every event is reported.
//
// A bound is its thread's alone: the clean-up of a stop runs on the control handler's
// thread while a restart's may run on the worker's, each counting its own. It is found
// through a thread_local pointer to the thread's innermost bound, which the bound sets and
// restores itself, so that the lines written deep in a walk need not carry it. A bound
// opened within another counts on its own until it ends; its closing events then count in
// the outer one.
class event_bound {
  public:
    static constexpr std::uint32_t events_per_kind = 20;

    // `tag` begins the closing events' texts, as it would a line of the work's own.
    explicit event_bound(const wchar_t* tag) noexcept;
    ~event_bound();
    event_bound(const event_bound&) = delete;
    event_bound& operator=(const event_bound&) = delete;

    // Whether an event of `kind` that this thread reports now goes to the event log; the
    // event is counted either way.
    static bool admits(event_kind kind) noexcept;

  private:
    const wchar_t* tag_;
    // The events of each kind this bound has been asked about.
    std::map<event_kind, std::uint32_t> seen_;
    event_bound* outer_;
};

}  // namespace logging
