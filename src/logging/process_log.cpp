#include "logging/process_log.h"

#include "logging/service_configuration.h"

namespace logging {
namespace {

std::shared_ptr<file_logger>& process_logger() {
    static std::shared_ptr<file_logger> instance;
    return instance;
}

std::unique_ptr<event_log>& process_event_log() {
    static std::unique_ptr<event_log> instance;
    return instance;
}

}  // namespace

const event_log& get_event_log() {
    auto& instance = process_event_log();
    if (!instance) {
        instance = std::make_unique<event_log>();
    }
    return *instance;
}

std::shared_ptr<file_logger> get_logger() {
    auto& instance = process_logger();
    if (!instance) {
        // First, so that a log file that cannot be opened can still be reported.
        get_event_log();
        instance = std::make_shared<file_logger>(
            get_setting_text(L"SERVICE", L"LogFile", L"quillmark_snaptel.log"));
    }
    return instance;
}

void reset_process_log() {
    process_logger().reset();
    process_event_log().reset();
    forget_service_configuration();
}

}  // namespace logging
