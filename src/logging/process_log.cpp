#include "logging/process_log.h"

#include "logging/service_configuration.h"

namespace logging {
namespace {

std::shared_ptr<file_logger>& process_logger() {
    static std::shared_ptr<file_logger> instance;
    return instance;
}

}  // namespace

std::shared_ptr<file_logger> get_logger() {
    auto& instance = process_logger();
    if (!instance) {
        instance = std::make_shared<file_logger>(
            get_setting_text(L"SERVICE", L"LogFile", L"quillmark_snaptel.log"));
    }
    return instance;
}

void reset_process_log() {
    process_logger().reset();
    forget_service_configuration();
}

}  // namespace logging
