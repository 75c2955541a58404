#include "logging/diagnostic_log.h"

#include "logging/refused_log_level.h"
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

std::shared_ptr<file_logger> diagnostic_log::file() {
    if (!file_) {
        // First, so that a log file that cannot be opened can still be reported.
        events();
        const settings::log_level_setting level = settings::read_log_level();
        file_name_ = settings::read_log_file();
        auto made = std::make_shared<file_logger>(level.threshold);
        open_file_of(*made);
        file_ = std::move(made);
        report_refused_log_level(*file_, level);
    }
    return file_;
}

void diagnostic_log::retry_file() {
    if (file_ && unusable_) {
        open_file_of(*file_);
    }
}

void diagnostic_log::open_file_of(file_logger& logger) {
    try {
        logger.open(file_name_);
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

std::shared_ptr<file_logger> get_logger() {
    return current_log().file();
}

const event_log& get_event_log() {
    return current_log().events();
}

}  // namespace logging
