#include "logging/diagnostic_log.h"

#include "logging/outside_text.h"
#include "settings/agent_facts.h"
#include "settings/log_settings.h"

namespace logging {
namespace {

// The newest diagnostic_log made explicitly; none while the process's own log serves.
diagnostic_log* standing_in = nullptr;

}  // namespace

diagnostic_log::diagnostic_log() : previous_(standing_in), stands_in_(true) {
    standing_in = this;
}

diagnostic_log::diagnostic_log(process_wide) {}

diagnostic_log::~diagnostic_log() {
    if (stands_in_) {
        standing_in = previous_;
    }
}

diagnostic_log& current_log() {
    // Never destroyed before the process ends: a thread may write a last line while the
    // entry point returns.
    static diagnostic_log process_log{diagnostic_log::process_wide{}};
    return standing_in != nullptr ? *standing_in : process_log;
}

namespace {

// A setting the log cannot take, as the log's first line and an event: written straight
// into the file, never through the process's log, which is being set up.
void report_refused(file_log& file, const wchar_t* key, const std::wstring& found,
                    const wchar_t* taken) {
    constexpr const wchar_t* tag = L"get_logger";
    const std::wstring quoted = L"\"" + from_outside(found) + L"\"";
    file.write_entry<severity::error>(tag, key, quoted, taken);
    report_error(event_kind::other_error, tag, key, quoted, taken);
}

}  // namespace

void diagnostic_log::set_up(log_start start) {
    if (set_up_) {
        return;
    }
    // First, so that a log file that cannot be opened can still be reported.
    events();
    const settings::log_level_setting level = settings::read_log_level();
    const settings::max_log_size_setting bound = settings::read_max_log_size();
    constexpr std::uint64_t megabyte = std::uint64_t{1024} * 1024;
    file_log_settings taken{settings::read_log_file(), level.threshold,
                            std::uint64_t{bound.megabytes} * megabyte};
    open_file([&] { file_.set_up(std::move(taken), start); });
    set_up_ = true;
    if (!level.refused.empty()) {
        report_refused(file_, settings::log_level_key.key, level.refused,
                       L"is not a level from 0 to 3; 3 is used.");
    }
    if (!bound.refused.empty()) {
        report_refused(file_, settings::max_log_size_key.key, bound.refused,
                       L"is not a whole number of megabytes; 50 is used.");
    }
}

file_log& diagnostic_log::file() {
    if (!set_up_ && stands_in_) {
        set_up(log_start::appending);
    }
    return file_;
}

void diagnostic_log::retry_file() {
    if (set_up_ && unusable_) {
        open_file([this] { file_.reopen(); });
    }
}

template <typename Open>
void diagnostic_log::open_file(Open open) {
    try {
        open();
        unusable_.reset();
    } catch (const open_stream_error& error) {
        if (!unusable_ || unusable_->reason() != error.reason()) {
            report_error(event_kind::log_unusable, L"wmain", unusable_log_text(error));
        }
        unusable_ = error;
        if (!goes_on_without_file_) {
            throw;
        }
    }
}

std::wstring unusable_log_text(const open_stream_error& error) {
    return widen_bytes(error.what()) + L": " + error.file_name() + L": " + error.reason();
}

const event_log& diagnostic_log::events() {
    if (!events_) {
        events_ = std::make_unique<event_log>();
    }
    return *events_;
}

file_log* get_logger() {
    return &current_log().file();
}

const event_log& get_event_log() {
    return current_log().events();
}

}  // namespace logging
