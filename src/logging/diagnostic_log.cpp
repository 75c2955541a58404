#include "logging/diagnostic_log.h"

#include "logging/configured_log.h"

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
        file_ = open_configured_log();
    }
    return file_;
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
