#include "logging/file_log_policy.h"

#include <algorithm>
#include <cstdint>
#include <type_traits>

#include "logging/own_file.h"
#include "platform/file_handles.h"

namespace logging {
namespace {

// A UTF-16 unit's number, read through wchar_t's unsigned type: wchar_t is signed in the
// native build.
std::uint32_t unit_number(wchar_t unit) {
    return static_cast<std::make_unsigned_t<wchar_t>>(unit);
}

}  // namespace

void append_log_bytes(std::string& bytes, const std::wstring& text) {
    bytes.reserve(bytes.size() + text.size() + 1);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto code = unit_number(text[i]);
        if (code <= 0xFF) {
            bytes.push_back(static_cast<char>(code));
            continue;
        }
        bytes.push_back('?');
        // A character outside the basic plane is two UTF-16 units but one character.
        const bool high_surrogate = code >= 0xD800 && code <= 0xDBFF;
        if (high_surrogate && i + 1 < text.size()) {
            const auto next = unit_number(text[i + 1]);
            if (next >= 0xDC00 && next <= 0xDFFF) {
                ++i;
            }
        }
    }
}

std::string to_log_bytes(const std::wstring& text) {
    std::string bytes;
    append_log_bytes(bytes, text);
    return bytes;
}

void file_log_policy::open_stream(const std::wstring& name) {
    if (std::wstring refused = why_not_log_name(name); !refused.empty()) {
        throw open_stream_error(name, std::move(refused));
    }
    // Opened or created, not yet emptied, and never through a link: what the handle holds
    // is checked first, and emptied through the same handle, so nothing can be swapped in
    // between.
    platform::unique_file_handle file(platform::create_file(
        name.c_str(), platform::generic_write | platform::file_read_attributes,
        platform::file_share_read | platform::file_share_write, platform::open_always,
        platform::file_attribute_normal | platform::file_flag_open_reparse_point));
    if (!file) {
        throw open_stream_error(name, reason_text(platform::get_last_error()));
    }
    if (std::wstring refused = why_not_own_file(file.get(), name); !refused.empty()) {
        throw open_stream_error(name, std::move(refused));
    }
    if (!platform::set_file_size(file.get(), 0)) {
        throw open_stream_error(name, reason_text(platform::get_last_error()));
    }
    file_ = std::move(file);
    line_cut_ = false;
}

void file_log_policy::close_stream() {
    file_.reset();
}

void file_log_policy::write_line(const std::wstring& text) {
    if (!file_) {
        return;
    }
    // A line cut short by an earlier write (a full disk) is left as it is, and this line
    // starts on a line of its own after it. The buffer is kept from line to line.
    std::string& bytes = bytes_;
    bytes.clear();
    if (line_cut_) {
        bytes.push_back('\n');
    }
    append_log_bytes(bytes, text);
    bytes.push_back('\n');
    // A line that cannot be written whole is lost and never written again, so that no
    // line appears twice; the next line is tried all the same.
    std::uint32_t written = 0;
    platform::write_file(file_.get(), bytes.data(), static_cast<std::uint32_t>(bytes.size()),
                         &written);
    if (written > 0) {
        line_cut_ = bytes[std::min<std::size_t>(written, bytes.size()) - 1] != '\n';
    }
}

}  // namespace logging
