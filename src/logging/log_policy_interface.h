#pragma once

#include <cstddef>
#include <string>

namespace logging {

// The longest line the log's buffers hold without growing: a line with a long path or a
// long system text still fits.
inline constexpr std::size_t line_room = 512;

// Where finished log lines go.
class log_policy_interface {
  public:
    log_policy_interface() = default;
    virtual ~log_policy_interface() = default;
    // A sink copied through its interface would lose its own part.
    log_policy_interface(const log_policy_interface&) = delete;
    log_policy_interface& operator=(const log_policy_interface&) = delete;
    virtual void open_stream(const std::wstring& name) = 0;
    virtual void close_stream() = 0;
    // Writes one finished line and ends it.
    virtual void write_line(const std::wstring& text) = 0;
};

}  // namespace logging
