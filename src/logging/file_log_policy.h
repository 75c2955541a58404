// The log file: one byte per character, a line feed per line, each line handed to the
// operating system before the writer returns.
#pragma once

#include <stdexcept>
#include <string>

#include "logging/log_policy_interface.h"
#include "platform/unique_handle.h"

namespace logging {

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

class file_log_policy : public log_policy_interface {
  public:
    file_log_policy() { bytes_.reserve(line_room); }
    ~file_log_policy() override = default;
    file_log_policy(const file_log_policy&) = delete;
    file_log_policy& operator=(const file_log_policy&) = delete;

    // Empties or creates the file; throws open_stream_error when it cannot. The file is
    // opened so that processes the service starts with inherited handles (the host
    // agent) do not inherit it: they would hold the log open after the service ends.
    // Others may read and write it meanwhile. Only the log's own file is emptied: a link
    // or a second name found at the name is refused as a file that cannot be opened, and
    // what it leads to is left as it was; so is a name of the service's own files or the
    // host agent's, before anything is opened.
    void open_stream(const std::wstring& name) override;
    void close_stream() override;
    // Nothing while no file is open.
    void write_line(const std::wstring& text) override;

  private:
    platform::unique_file_handle file_;
    // The bytes of the line being written; the writer calls one line at a time.
    std::string bytes_;
    // The file ends inside a line that could not be written whole.
    bool line_cut_ = false;
};

}  // namespace logging
