// The diagnostic log of the process, and the shorthand every operation writes through.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "logging/event_log.h"
#include "logging/file_log_policy.h"
#include "logging/logger.h"

namespace logging {

using file_logger = logger<file_log_policy>;

// A log: its file, opened at the first line from the LogFile and LogLevel settings, and
// its event source. The process has one from its first line to its end, which the entry
// point's first line opens. A diagnostic_log made explicitly stands in for it while it
// lives, as the log of a process of its own: tests make one for each test. The first line
// must be written before a second thread writes.
class diagnostic_log {
  public:
    // Stands in for the log that was the process's until now, until it ends.
    diagnostic_log();
    ~diagnostic_log();
    diagnostic_log(const diagnostic_log&) = delete;
    diagnostic_log& operator=(const diagnostic_log&) = delete;

    // The file's logger, made at the first call. When the file cannot be opened an error
    // event says why, and the open_stream_error reaches the caller, and the next call tries
    // again; after go_on_without_file(), the logger is made all the same and its lines go
    // nowhere until retry_file() opens the file.
    std::shared_ptr<file_logger> file();

    // Started by the service manager, the service supervises whether or not its log can be
    // opened: anyone who may read the file could otherwise keep it from starting. Before
    // the first line.
    void go_on_without_file() { goes_on_without_file_ = true; }

    // Opens the file if it could not be opened before; an error event says why it still
    // cannot, once for each reason. One thread at a time: the worker, at each health cycle.
    void retry_file();

    // Why the file could not be opened, while it is not open.
    const std::optional<open_stream_error>& unusable_file() const { return unusable_; }

    // The event source, registered at the first call; file's first call makes it before
    // it opens the file.
    const event_log& events();

  private:
    struct process_wide {};
    explicit diagnostic_log(process_wide);
    friend diagnostic_log& current_log();

    // Opens the file for `logger`, and reports why not (once for each reason) when it
    // cannot; throws then unless the service goes on without its file.
    void open_file_of(file_logger& logger);

    std::shared_ptr<file_logger> file_;
    std::unique_ptr<event_log> events_;
    bool goes_on_without_file_ = false;
    std::wstring file_name_;
    std::optional<open_stream_error> unusable_;
    // The log this one stands in for; none for the process's own.
    diagnostic_log* previous_ = nullptr;
    bool stands_in_ = false;
};

// What an unusable log is reported as: "Unable to open an output stream: <file>: <reason>".
std::wstring unusable_log_text(const open_stream_error& error);

// The log that lives: the newest diagnostic_log made explicitly, or the process's own.
diagnostic_log& current_log();

// The process's file logger and event log: those of the diagnostic_log that lives.
std::shared_ptr<file_logger> get_logger();
const event_log& get_event_log();

// The error event of `kind` for an error line of `pieces`, whatever LogLevel is: the
// threshold is the file's. An event that cannot be made is lost without a word.
template <typename... Pieces>
void report_error(event_kind kind, const Pieces&... pieces) noexcept {
    try {
        get_event_log().report(kind, event_text(pieces...));
    } catch (...) {
    }
}

template <typename... Pieces>
void log_debug(const Pieces&... pieces) {
    get_logger()->write_entry<severity::debug>(pieces...);
}

template <typename... Pieces>
void log_info(const Pieces&... pieces) {
    get_logger()->write_entry<severity::info>(pieces...);
}

// An error line, and its event of `Kind`.
template <event_kind Kind = event_kind::other_error, typename... Pieces>
void log_error(const Pieces&... pieces) {
    get_logger()->write_entry<severity::error>(pieces...);
    report_error(Kind, pieces...);
}

}  // namespace logging
