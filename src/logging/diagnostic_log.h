// The diagnostic log of the process, and the shorthand every operation writes through.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "logging/event_log.h"
#include "logging/file_log.h"

namespace logging {

// A log: its file, made from the LogFile, LogLevel and MaxLogSizeMB settings when it is set
// up, and its event source. The process has one from its start to its end, which the
// entry point sets up before its first line and before any other thread exists; lines
// before that go nowhere. A diagnostic_log made explicitly stands in for it while it
// lives, as the log of a process of its own: tests make one for each test, and one that
// is not set up when its first line comes sets itself up then, adding lines at the end
// of its file.
class diagnostic_log {
  public:
    // Stands in for the log that was the process's until now, until it ends.
    diagnostic_log();
    ~diagnostic_log();
    diagnostic_log(const diagnostic_log&) = delete;
    diagnostic_log& operator=(const diagnostic_log&) = delete;

    // Reads the settings and opens the file as `start` says; a refused setting is the
    // first line. When the file cannot be opened an error event says why, and the
    // open_stream_error reaches the caller, and the log may be set up again; after
    // go_on_without_file(), the log is set up all the same and its lines go nowhere until
    // retry_file() opens the file. Once.
    void set_up(log_start start);

    // The file log.
    file_log& file();

    // Started by the service manager, the service supervises whether or not its log can be
    // opened: anyone who may read the file could otherwise keep it from starting. Before
    // set_up.
    void go_on_without_file() { goes_on_without_file_ = true; }

    // Opens the file if it could not be opened before; an error event says why it still
    // cannot, once for each reason. One thread at a time: the worker, at each health cycle.
    void retry_file();

    // The process is the service: see file_log::begin_new_log. And otherwise, once it
    // knows: see file_log::append_held.
    void begin_service_log() { file_.begin_new_log(); }
    void append_held_lines() { file_.append_held(); }

    // Why the file could not be opened, while it is not open.
    const std::optional<open_stream_error>& unusable_file() const { return unusable_; }

    // The event source, registered at the first call; set_up makes it before it opens
    // the file.
    const event_log& events();

  private:
    struct process_wide {};
    explicit diagnostic_log(process_wide);
    friend diagnostic_log& current_log();

    // Runs `open` on the file, and reports why not (once for each reason) when it cannot;
    // throws then unless the service goes on without its file.
    template <typename Open>
    void open_file(Open open);

    file_log file_;
    bool set_up_ = false;
    std::unique_ptr<event_log> events_;
    bool goes_on_without_file_ = false;
    std::optional<open_stream_error> unusable_;
    // The log this one stands in for; none for the process's own.
    diagnostic_log* previous_ = nullptr;
    bool stands_in_ = false;
};

// What an unusable log is reported as: "Unable to open an output stream: <file>: <reason>".
std::wstring unusable_log_text(const open_stream_error& error);

// The log that lives: the newest diagnostic_log made explicitly, or the process's own.
diagnostic_log& current_log();

// The process's file log (never null) and event log: those of the diagnostic_log that
// lives.
file_log* get_logger();
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
