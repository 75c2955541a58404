#pragma once

#include <string>

namespace logging {

// Where finished log lines go.
class log_policy_interface {
  public:
    virtual ~log_policy_interface() = default;
    virtual void open_stream(const std::wstring& name) = 0;
    virtual void close_stream() = 0;
    // Writes one finished line and ends it.
    virtual void write_line(const std::wstring& text) = 0;
};

}  // namespace logging
