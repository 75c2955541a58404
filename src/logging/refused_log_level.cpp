#include "logging/refused_log_level.h"

#include "logging/diagnostic_log.h"
#include "logging/outside_text.h"
#include "settings/agent_facts.h"

namespace logging {

void report_refused_log_level(logger<file_log_policy>& log,
                              const settings::log_level_setting& level) {
    if (level.refused.empty()) {
        return;
    }
    constexpr const wchar_t* tag = L"get_logger";
    const std::wstring found = L"\"" + from_outside(level.refused) + L"\"";
    constexpr const wchar_t* taken = L"is not a level from 0 to 3; 3 is used.";
    log.write_entry<severity::error>(tag, settings::log_level_key.key, found, taken);
    report_error(event_kind::other_error, tag, settings::log_level_key.key, found, taken);
}

}  // namespace logging
