#include "logging/configured_log.h"

#include "logging/diagnostic_log.h"
#include "logging/outside_text.h"
#include "settings/agent_facts.h"
#include "settings/log_settings.h"

namespace logging {

std::shared_ptr<logger<file_log_policy>> open_configured_log() {
    const settings::log_level_setting level = settings::read_log_level();
    auto log =
        std::make_shared<logger<file_log_policy>>(settings::read_log_file(), level.threshold);
    if (!level.refused.empty()) {
        constexpr const wchar_t* tag = L"get_logger";
        const std::wstring found = L"\"" + from_outside(level.refused) + L"\"";
        constexpr const wchar_t* taken = L"is not a level from 0 to 3; 3 is used.";
        log->write_entry<severity::error>(tag, settings::log_level_key.key, found, taken);
        report_error(event_kind::other_error, tag, settings::log_level_key.key, found, taken);
    }
    return log;
}

}  // namespace logging
