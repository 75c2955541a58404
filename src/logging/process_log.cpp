#include "logging/process_log.h"

#include "platform/platform.h"

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
        wchar_t name[platform::max_path] = {};
        platform::get_private_profile_string(L"SERVICE", L"LogFile", L"quillmark_snaptel.log", name,
                                             platform::max_path,
                                             get_service_configuration()->settings_file.c_str());
        instance = std::make_shared<file_logger>(std::wstring(name));
    }
    return instance;
}

void reset_process_log() {
    process_logger().reset();
    forget_service_configuration();
}

}  // namespace logging
