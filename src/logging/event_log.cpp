#include "logging/event_log.h"

#include "logging/event_bound.h"

namespace logging {
namespace {

// The source is registered at the first line of the process, which may follow a failed
// call whose error its caller is about to read.
platform::handle register_keeping_last_error() {
    const platform::error_code last_error = platform::get_last_error();
    const platform::handle source = platform::register_event_source(event_source);
    platform::set_last_error(last_error);
    return source;
}

}  // namespace

event_log::event_log() : source_(register_keeping_last_error()) {}

void event_log::report(event_kind kind, const std::wstring& text) const noexcept {
    if (!source_ || !event_bound::admits(kind)) {
        return;
    }
    const platform::error_code last_error = platform::get_last_error();
    platform::report_event(source_.get(), platform::eventlog_error_type,
                           static_cast<std::uint32_t>(kind), text.c_str());
    platform::set_last_error(last_error);
}

}  // namespace logging
