#include "logging/file_log.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <type_traits>

#include "logging/diagnostic_log.h"
#include "logging/own_file.h"
#include "platform/errors.h"
#include "platform/file_handles.h"
#include "platform/files.h"

namespace logging {
namespace {

// A UTF-16 unit's number, read through wchar_t's unsigned type: wchar_t is signed in the
// native build.
std::uint32_t unit_number(wchar_t unit) {
    return static_cast<std::make_unsigned_t<wchar_t>>(unit);
}

constexpr std::uint32_t share_all =
    platform::file_share_read | platform::file_share_write | platform::file_share_delete;

// The log's own lines: its refusals, and why a new log begins.
constexpr const wchar_t* own_tag = L"file_log";

constexpr std::uint64_t megabyte = std::uint64_t{1024} * 1024;

// A call by name that found nothing there.
bool nothing_there(platform::error_code error) {
    return error == platform::error_file_not_found || error == platform::error_path_not_found;
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

std::wstring kept_log_name(const std::wstring& name) {
    const std::size_t separator = name.find_last_of(L"\\/");
    const std::size_t component = separator == std::wstring::npos ? 0 : separator + 1;
    const std::size_t dot = name.rfind(L'.');
    if (dot == std::wstring::npos || dot < component) {
        return name + L".1";
    }
    return name.substr(0, dot) + L".1" + name.substr(dot);
}

file_log::file_log() : threshold_(std::numeric_limits<std::int32_t>::max()) {
    // Room for any ordinary line from the start, so that the buffers kept from line to
    // line do not grow while the service runs, whichever line comes first.
    std::wstring room;
    room.reserve(line_room);
    pending_.str(std::move(room));
    line_.reserve(line_room);
    bytes_.reserve(line_room);
}

void file_log::set_up(file_log_settings settings, log_start start) {
    std::lock_guard<std::mutex> guard(line_lock_);
    settings_ = std::move(settings);
    threshold_ = settings_.threshold;
    open_at_end();
    holding_ = start == log_start::held;
}

void file_log::reopen() {
    std::lock_guard<std::mutex> guard(line_lock_);
    if (!service_log_) {
        open_at_end();
        return;
    }
    // The file was not open: nothing of this process's is in it.
    const std::wstring refused = keep_lines();
    open_at_end();
    begin_anew_past_ = refused.empty() ? settings_.bound_bytes : size_ + settings_.bound_bytes;
    if (!refused.empty()) {
        report_failure(kept_refusal(refused), event_kind::other_error);
    }
}

void file_log::begin_new_log() {
    std::lock_guard<std::mutex> guard(line_lock_);
    service_log_ = true;
    std::wstring failure;
    event_kind kind = event_kind::other_error;
    const bool begun = !file_ || begin_anew(failure, kind);
    // This run's lines so far belong with its others, in the new file.
    holding_ = false;
    write_bytes(held_);
    held_ = {};
    if (!begun) {
        report_failure(failure, kind);
    }
}

void file_log::append_held() {
    std::lock_guard<std::mutex> guard(line_lock_);
    if (!holding_) {
        return;
    }
    holding_ = false;
    // Its caller goes on to report why the dispatcher refused the process.
    const platform::error_code error = platform::get_last_error();
    write_bytes(held_);
    held_ = {};
    platform::set_last_error(error);
}

void file_log::open_at_end() {
    const std::wstring& name = settings_.name;
    if (std::wstring refused = why_not_log_name(name); !refused.empty()) {
        throw open_stream_error(name, std::move(refused));
    }
    // Opened or created, never through a link: what the handle holds is checked before
    // anything is written through it, so nothing can be swapped in between. Sharing its
    // deletion lets a new log rename it.
    platform::unique_file_handle file(platform::create_file(
        name.c_str(), platform::generic_write | platform::file_read_attributes, share_all,
        platform::open_always,
        platform::file_attribute_normal | platform::file_flag_open_reparse_point));
    if (!file) {
        throw open_stream_error(name, reason_text(platform::get_last_error()));
    }
    if (std::wstring refused = why_not_own_file(file.get(), name); !refused.empty()) {
        throw open_stream_error(name, std::move(refused));
    }
    std::uint64_t size = 0;
    if (!platform::get_file_size(file.get(), size)) {
        throw open_stream_error(name, reason_text(platform::get_last_error()));
    }
    file_ = std::move(file);
    size_ = size;
    line_cut_ = false;
}

void file_log::write_line(const std::wstring& text) {
    if (holding_) {
        append_log_bytes(held_, text);
        held_.push_back('\n');
        return;
    }
    // A line cut short by an earlier write (a full disk) is left as it is, and this line
    // starts on a line of its own after it. The buffer is kept from line to line.
    bytes_.clear();
    if (line_cut_) {
        bytes_.push_back('\n');
    }
    append_log_bytes(bytes_, text);
    bytes_.push_back('\n');
    write_bytes(bytes_);
}

void file_log::write_bytes(const std::string& bytes) {
    if (!file_ || bytes.empty()) {
        return;
    }
    // A line that cannot be written whole is lost and never written again, so that no
    // line appears twice; the next line is tried all the same.
    std::uint32_t written = 0;
    platform::write_file(file_.get(), bytes.data(), static_cast<std::uint32_t>(bytes.size()),
                         &written);
    if (written > 0) {
        line_cut_ = bytes[std::min<std::size_t>(written, bytes.size()) - 1] != '\n';
        size_ += written;
    }
    if (service_log_ && settings_.bound_bytes != 0 && size_ > begin_anew_past_) {
        begin_anew_past_bound();
    }
}

void file_log::write_own_line(severity level, const std::wstring& text) {
    std::wstring line;
    put_line_prefix(line, platform::current_time());
    line += severity_tag(level);
    line += L' ';
    line += own_tag;
    line += L' ';
    line += text;
    write_line(line);
}

void file_log::report_failure(const std::wstring& text, event_kind kind) {
    write_own_line(severity::error, text);
    report_error(kind, own_tag, text);
}

std::wstring file_log::kept_refusal(const std::wstring& reason) const {
    return L"Unable to keep the log as " + kept_log_name(settings_.name) + L": " + reason;
}

bool file_log::begin_anew(std::wstring& failure, event_kind& kind) {
    // Another try only once the log has grown as much again, whatever the reason.
    begin_anew_past_ = size_ + settings_.bound_bytes;
    if (std::wstring refused = keep_lines(); !refused.empty()) {
        failure = kept_refusal(refused);
        kind = event_kind::other_error;
        return false;
    }
    try {
        open_at_end();
    } catch (const open_stream_error& error) {
        // The lines go on in the file the log's lines were kept in.
        failure = unusable_log_text(error);
        kind = event_kind::log_unusable;
        return false;
    }
    begin_anew_past_ = settings_.bound_bytes;
    return true;
}

void file_log::begin_anew_past_bound() {
    // Other processes add their lines too: the file's own size decides.
    std::uint64_t size = 0;
    if (platform::get_file_size(file_.get(), size) && size <= begin_anew_past_) {
        size_ = size;
        return;
    }
    std::wstring failure;
    event_kind kind = event_kind::other_error;
    if (!begin_anew(failure, kind)) {
        report_failure(failure, kind);
        return;
    }
    write_own_line(severity::info, L"The log passed MaxLogSizeMB " +
                                       std::to_wstring(settings_.bound_bytes / megabyte) +
                                       L"; the lines before are in " +
                                       kept_log_name(settings_.name));
}

std::wstring file_log::keep_lines() {
    const std::wstring& name = settings_.name;
    std::wstring kept;
    if (!platform::get_full_path_name(kept_log_name(name).c_str(), kept)) {
        return reason_text(platform::get_last_error());
    }
    if (std::wstring refused = why_not_log_name(kept); !refused.empty()) {
        return refused;
    }
    // The file at the log's name is renamed through a handle of its own, checked as the
    // log is: a file swapped in after the check is never the one renamed.
    platform::unique_file_handle current(platform::open_existing_file(
        name.c_str(), platform::delete_access | platform::file_read_attributes, share_all,
        platform::file_flag_open_reparse_point));
    if (!current) {
        const platform::error_code error = platform::get_last_error();
        return nothing_there(error) ? std::wstring() : reason_text(error);
    }
    if (std::wstring refused = why_not_own_file(current.get(), name); !refused.empty()) {
        return refused;
    }
    std::uint64_t size = 0;
    if (!platform::get_file_size(current.get(), size)) {
        return reason_text(platform::get_last_error());
    }
    if (size == 0) {
        return {};
    }
    // The older lines are replaced only when they are an ordinary file with one name: a
    // link or a second name planted there is left as it is, and so is what it leads to.
    platform::unique_file_handle older(platform::open_existing_file(
        kept.c_str(), platform::file_read_attributes, share_all,
        platform::file_flag_open_reparse_point | platform::file_flag_backup_semantics));
    if (older) {
        if (std::wstring refused = why_not_own_file(older.get(), kept); !refused.empty()) {
            return refused;
        }
        older.reset();
    } else if (const platform::error_code error = platform::get_last_error();
               !nothing_there(error)) {
        return reason_text(error);
    }
    if (!platform::rename_by_handle(current.get(), kept)) {
        return reason_text(platform::get_last_error());
    }
    return {};
}

}  // namespace logging
