// Error lines as events in the Application event log, where administrators watch their
// fleets from afar.
#pragma once

#include <sstream>
#include <string>

#include "logging/event_kind.h"
#include "logging/line_format.h"
#include "platform/unique_handle.h"

namespace logging {

class event_log {
  public:
    // Registers the service's event source; when that fails, reports go nowhere.
    event_log();

    // One error event of `kind` with `text`, unless the thread's event_bound withholds it.
    // A report that fails is lost without a word: nothing else is written, and the thread's
    // last error is kept.
    void report(event_kind kind, const std::wstring& text) const noexcept;

  private:
    platform::unique_event_source source_;
};

// An error line's text without its time and severity: the pieces, a space between each.
template <typename First, typename... Pieces>
std::wstring event_text(const First& first, const Pieces&... pieces) {
    std::wostringstream out;
    put_piece(out, first);
    ((out << L' ', put_piece(out, pieces)), ...);
    return std::move(out).str();
}

}  // namespace logging
