// The diagnostic log's file: lines of one severity each, written whole under one lock, one
// byte per character and a line feed per line, each line handed to the operating system
// before the writer returns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>

#include "logging/event_kind.h"
#include "logging/line_format.h"
#include "logging/severity.h"
#include "platform/clock.h"
#include "platform/unique_handle.h"

namespace logging {

// The longest line the log's buffers hold without growing: a line with a long path or a
// long system text still fits.
inline constexpr std::size_t line_room = 512;

// The log file could not be opened; names the file and why, so that the failure can be
// reported.
class open_stream_error : public std::runtime_error {
  public:
    open_stream_error(std::wstring file_name, std::wstring reason)
        : std::runtime_error("Unable to open an output stream"),
          file_name_(std::move(file_name)),
          reason_(std::move(reason)) {}
    const std::wstring& file_name() const { return file_name_; }
    const std::wstring& reason() const { return reason_; }

  private:
    std::wstring file_name_;
    std::wstring reason_;
};

// The bytes of a log text: U+0000 to U+00FF as the byte of the same value, anything
// above as "?". A wide stream in the "C" locale would fail on such a character and
// lose every later line of the process instead.
std::string to_log_bytes(const std::wstring& text);
// The same, appended to `bytes`.
void append_log_bytes(std::string& bytes, const std::wstring& text);

// Where the log of the run before is kept: `name` with ".1" before the extension of its
// last component (x.log: x.1.log), or at its end when that has none (x: x.1).
std::wstring kept_log_name(const std::wstring& name);

// Where a process's first lines go.
enum class log_start {
    // To the end of the file, at once.
    appending,
    // Held until the process knows whether it is the service: begin_new_log() or
    // append_held() then says where they go.
    held,
};

struct file_log_settings {
    std::wstring name;
    // Lines below it (the LogLevel setting) are not written.
    std::int32_t threshold = 3;
    // How large the service's log grows before it begins anew; 0: without bound.
    std::uint64_t bound_bytes = 0;
};

class file_log {
  public:
    // Writes nothing until set up.
    file_log();
    ~file_log() = default;
    file_log(const file_log&) = delete;
    file_log& operator=(const file_log&) = delete;
    file_log(file_log&&) = delete;
    file_log& operator=(file_log&&) = delete;

    // Takes the settings, and opens the file to add lines at its end, creating it when
    // missing; throws open_stream_error when it cannot, and the lines then go nowhere until
    // reopen() opens it. The file is opened so that processes the service starts with
    // inherited handles (the host agent) do not inherit it: they would hold the log open
    // after the service ends. Others may read, write and rename it meanwhile. A link or a
    // second name found at the name is refused as a file that cannot be opened, and what
    // it leads to is left as it was; so is a name of the service's own files or the host
    // agent's, before anything is opened.
    void set_up(file_log_settings settings, log_start start);

    // Opens the file after set_up or a new log could not: as a new log once the
    // service's log has begun, otherwise to add lines at its end. Throws as set_up.
    void reopen();

    // The service's log begins: the lines the file holds are kept under kept_log_name,
    // replacing the older ones there, and the lines held and those after go to a new file.
    // The log begins anew in the same way whenever it passes its bound from now on.
    // Anything but an ordinary file with one name at the kept name is left as it is, with
    // an error line, and the lines go on at the end of the file they went to.
    void begin_new_log();

    // The held lines go to the end of the file, and the later lines after them.
    void append_held();

    // Writes one line: the time, the severity tag, then each piece after a space.
    // Suppressed lines cost the lock and one comparison; their pieces are not formatted.
    template <severity Level, typename... Pieces>
    void write_entry(const Pieces&... pieces) {
        std::lock_guard<std::mutex> guard(line_lock_);
        if (threshold_ > static_cast<std::int32_t>(Level)) {
            return;
        }
        // Leave `pending_` empty for the next line even when formatting throws. Its buffer,
        // and the line's, are kept from line to line: a line then takes no allocation.
        struct clear_pending {
            explicit clear_pending(std::wostringstream& to_clear) : stream(to_clear) {}
            clear_pending(const clear_pending&) = delete;
            clear_pending& operator=(const clear_pending&) = delete;
            ~clear_pending() {
                std::wstring buffer = std::move(stream).str();
                buffer.clear();
                stream.str(std::move(buffer));
                stream.clear();
            }
            std::wostringstream& stream;
        } cleared_on_exit{pending_};

        pending_ << severity_tag(Level);
        ((pending_ << L' ', put_piece(pending_, pieces)), ...);
        line_.clear();
        put_line_prefix(line_, platform::current_time());
        line_ += pending_.view();
        write_line(line_);
    }

  private:
    // Each under line_lock_.
    void open_at_end();
    void write_line(const std::wstring& text);
    void write_bytes(const std::string& bytes);
    // A line of the log's own, whatever the threshold.
    void write_own_line(severity level, const std::wstring& text);
    // An error line of the log's own, and its event.
    void report_failure(const std::wstring& text, event_kind kind);
    std::wstring kept_refusal(const std::wstring& reason) const;
    // Keeps the file's lines and opens a new file; false, with why not, when it could
    // not: the lines then go on in the file they went to.
    bool begin_anew(std::wstring& failure, event_kind& kind);
    // Renames the file at the log's name to the kept name when it holds anything. Empty
    // when done or when there was nothing to keep; otherwise why not.
    std::wstring keep_lines();
    void begin_anew_past_bound();

    file_log_settings settings_;
    std::int32_t threshold_;
    platform::unique_file_handle file_;
    bool holding_ = false;
    std::string held_;
    // The service's log: it begins anew past its bound.
    bool service_log_ = false;
    // The file's size as far as this process knows, and the size past which it begins
    // anew; other processes only ever add a few lines.
    std::uint64_t size_ = 0;
    std::uint64_t begin_anew_past_ = 0;
    std::wostringstream pending_;
    // The finished line, and its bytes. Like `pending_`, used only under line_lock_.
    std::wstring line_;
    std::string bytes_;
    // The file ends inside a line that could not be written whole.
    bool line_cut_ = false;
    // The one lock not taken through the platform layer. It is held only while a line is
    // formatted and handed to the file, never across a wait, so a thread blocked on it
    // only ever waits for a write to finish, never for another thread's progress.
    std::mutex line_lock_;
};

}  // namespace logging
