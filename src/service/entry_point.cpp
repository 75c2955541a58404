#include "service/entry_point.h"

#include <cstdint>
#include <cstdio>
#include <string>

#include "logging/diagnostic_log.h"
#include "platform/text.h"
#include "service/check/installation_check.h"
#include "service/service_lifecycle.h"
#include "service/service_registration.h"

namespace {

// A command run from a console without its log says so where the person running it can
// see it (the event log has been told already), and ends with a failure code so that
// scripts notice.
int report_unusable_log(const logging::open_stream_error& error) {
    const std::string message =
        "quillmark_snaptel: " + logging::to_log_bytes(logging::unusable_log_text(error)) + "\n";
    std::fputs(message.c_str(), stderr);
    std::fflush(stderr);
    return 1;
}

bool is_command(const wchar_t* word, const wchar_t* command) {
    return platform::compare_string_ignore_case(word, command) == 0;
}

}  // namespace

extern "C" int wmain(int argc, wchar_t* argv[]) {
    // Before the first log line: the check opens nothing for writing, the log's file included.
    if (argc >= 2 && is_command(argv[1], L"check")) {
        return service::check::run_check();
    }
    const bool install = argc >= 2 && is_command(argv[1], L"install");
    const bool uninstall = argc >= 2 && is_command(argv[1], L"uninstall");
    // The service manager starts it with no argument; any other word runs it as well. A
    // service whose log cannot be opened supervises all the same; whether it was started
    // from a console shows only when the dispatcher refuses it. Until then its lines are
    // held: only the service begins a new log, any other run adds its lines to the end.
    const bool as_service = !install && !uninstall;
    logging::diagnostic_log& log = logging::current_log();
    if (as_service) {
        log.go_on_without_file();
    }
    try {
        // Before any other thread exists.
        log.set_up(as_service ? logging::log_start::held : logging::log_start::appending);
    } catch (const logging::open_stream_error& error) {
        return report_unusable_log(error);
    }
    logging::log_debug(L"wmain", L"enter");

    // Scripts, fleet tools and the package's custom action read only the exit code: a
    // command ends with the Windows error code of what kept it from registering or
    // removing the service.
    std::uint32_t result = 0;
    if (install) {
        result = service::install_service();
    } else if (uninstall) {
        result = service::uninstall_service();
    } else if (service::run_service() != 0) {
        if (const auto& unusable = logging::current_log().unusable_file()) {
            return report_unusable_log(*unusable);
        }
    }

    logging::log_debug(L"wmain", L"exit");
    return static_cast<int>(result);
}
