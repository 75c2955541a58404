#include "service/entry_point.h"

#include <cstdio>
#include <string>

#include "logging/diagnostic_log.h"
#include "platform/text.h"
#include "service/service_lifecycle.h"
#include "service/service_registration.h"

namespace {

// Without a log there is nowhere to report anything else: say so where a person running
// the command can see it and in the event log, where an administrator sees why the service
// did not start, and end with a failure code so that scripts notice.
int report_unusable_log(const logging::open_stream_error& error) {
    const std::wstring text =
        logging::widen_bytes(error.what()) + L": " + error.file_name() + L": " + error.reason();
    const std::string message = "quillmark_snaptel: " + logging::to_log_bytes(text) + "\n";
    std::fputs(message.c_str(), stderr);
    std::fflush(stderr);
    logging::report_error(logging::event_kind::log_unusable, L"wmain", text);
    return 1;
}

bool is_command(const wchar_t* word, const wchar_t* command) {
    return platform::compare_string_ignore_case(word, command) == 0;
}

}  // namespace

extern "C" int wmain(int argc, wchar_t* argv[]) {
    try {
        // The first line opens the process's log, before any other thread exists.
        logging::log_debug(L"wmain", L"enter");
    } catch (const logging::open_stream_error& error) {
        return report_unusable_log(error);
    }

    if (argc >= 2 && is_command(argv[1], L"install")) {
        service::install_service();
    } else if (argc >= 2 && is_command(argv[1], L"uninstall")) {
        service::uninstall_service();
    } else {
        // The service manager starts it with no argument; any other word runs it as well.
        service::run_service();
    }

    logging::log_debug(L"wmain", L"exit");
    return 0;
}
