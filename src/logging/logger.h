// The diagnostic log: lines of one severity each, written whole under one lock.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>

#include "logging/line_format.h"
#include "logging/log_policy_interface.h"
#include "logging/severity.h"
#include "platform/clock.h"

namespace logging {

template <typename Piece>
void put_piece(std::wostringstream& out, const Piece& piece) {
    if constexpr (std::is_convertible_v<const Piece&, std::wstring_view>) {
        out << std::wstring_view(piece);
    } else if constexpr (std::is_convertible_v<const Piece&, std::string_view>) {
        out << widen_bytes(std::string_view(piece));
    } else if constexpr (std::is_pointer_v<Piece>) {
        out << handle_text(piece);
    } else {
        static_assert(
            std::is_integral_v<Piece> && !std::is_same_v<Piece, bool> && sizeof(Piece) <= 8,
            "a log piece is a text, an integer or a handle");
        if constexpr (std::is_signed_v<Piece>) {
            out << static_cast<long long>(piece);
        } else {
            out << static_cast<unsigned long long>(piece);
        }
    }
}

template <typename Sink>
class logger {
  public:
    // Lines below `threshold` (the LogLevel setting) are not written. Throws what the
    // sink's opening throws.
    logger(const std::wstring& name, std::int32_t threshold) : logger(threshold) {
        sink->open_stream(name);
    }
    // A logger whose sink is not open yet: its lines go nowhere until open() succeeds.
    explicit logger(std::int32_t threshold)
        : threshold_(threshold), sink(std::make_shared<Sink>()) {
        // Room for any ordinary line from the start, so that the buffers kept from line to
        // line do not grow while the service runs, whichever line comes first.
        std::wstring room;
        room.reserve(line_room);
        pending.str(std::move(room));
        line.reserve(line_room);
    }
    ~logger() { sink->close_stream(); }
    logger(const logger&) = delete;
    logger& operator=(const logger&) = delete;

    // Opens the sink for the lines from now on, between two lines; throws what the sink's
    // opening throws, and the lines then go on going nowhere.
    void open(const std::wstring& name) {
        std::lock_guard<std::mutex> guard(line_lock);
        sink->open_stream(name);
    }

    // Writes one line: the time, the severity tag, then each piece after a space.
    // Suppressed lines cost the lock and one comparison; their pieces are not formatted.
    template <severity Level, typename... Pieces>
    void write_entry(const Pieces&... pieces) {
        std::lock_guard<std::mutex> guard(line_lock);
        if (threshold_ > static_cast<std::int32_t>(Level)) {
            return;
        }
        // Leave `pending` empty for the next line even when formatting throws. Its buffer,
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
        } cleared_on_exit{pending};

        pending << severity_tag(Level);
        ((pending << L' ', put_piece(pending, pieces)), ...);
        line.clear();
        put_line_prefix(line, platform::current_time());
        line += pending.view();
        sink->write_line(line);
    }

  private:
    const std::int32_t threshold_;
    std::wostringstream pending;
    // The finished line. Like `pending`, used only under line_lock.
    std::wstring line;
    std::shared_ptr<Sink> sink;
    // The one lock not taken through the platform layer. It is held only while a line is
    // formatted and handed to the file, never across a wait, so a thread blocked on it
    // only ever waits for a write to finish, never for another thread's progress.
    std::mutex line_lock;
};

}  // namespace logging
