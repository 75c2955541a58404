#include "logging/event_bound.h"

#include "logging/diagnostic_log.h"

namespace logging {
namespace {

// The thread's innermost bound: each thread of work counts its own (see event_bound).
thread_local event_bound* innermost = nullptr;

}  // namespace

event_bound::event_bound(const wchar_t* tag) noexcept : tag_(tag), outer_(innermost) {
    innermost = this;
}

event_bound::~event_bound() {
    innermost = outer_;
    for (const auto& [kind, seen] : seen_) {
        if (seen > events_per_kind) {
            report_error(kind, tag_, seen - events_per_kind,
                         L"more error lines of this kind went to the log file only.");
        }
    }
}

bool event_bound::admits(event_kind kind) noexcept {
    if (innermost == nullptr) {
        return true;
    }
    try {
        return ++innermost->seen_[kind] <= events_per_kind;
    } catch (...) {
        // Without room to count, the event is not withheld: it would not be summed up.
        return true;
    }
}

}  // namespace logging
