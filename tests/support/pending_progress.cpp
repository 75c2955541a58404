#include "support/pending_progress.h"

namespace test {
namespace {

bool pending(std::uint32_t state) {
    return state == platform::service_start_pending || state == platform::service_stop_pending;
}

std::string describe(const std::vector<sim::status_report>& reports, std::size_t index) {
    const sim::status_report& made = reports[index];
    return "report " + std::to_string(index) + " (state " +
           std::to_string(made.status.current_state) + ", check point " +
           std::to_string(made.status.check_point) + ", hint " +
           std::to_string(made.status.wait_hint) + ", at " + std::to_string(made.at_ms) + " ms)";
}

}  // namespace

std::string pending_progress_fault(const std::vector<sim::status_report>& reports) {
    for (std::size_t next = 1; next < reports.size(); ++next) {
        const platform::service_status& earlier = reports[next - 1].status;
        const platform::service_status& later = reports[next].status;
        if (!pending(earlier.current_state)) continue;
        const std::string pair = describe(reports, next) + " after " + describe(reports, next - 1);
        if (reports[next].at_ms - reports[next - 1].at_ms > earlier.wait_hint) {
            return pair + ": later than the wait hint";
        }
        if (later.current_state == earlier.current_state &&
            later.check_point <= earlier.check_point) {
            return pair + ": the check point does not advance";
        }
    }
    return {};
}

}  // namespace test
