#include "sim/machine_impl.h"

namespace sim {
namespace {

thread_local platform::error_code last_error = platform::error_success;

}  // namespace

std::map<platform::error_code, std::wstring> default_error_texts() {
    // Windows' own English wording, so that log lines read in tests as they will on a
    // real machine.
    return {
        {0, L"The operation completed successfully.\r\n"},
        {1, L"Incorrect function.\r\n"},
        {2, L"The system cannot find the file specified.\r\n"},
        {3, L"The system cannot find the path specified.\r\n"},
        {4, L"The system cannot open the file.\r\n"},
        {5, L"Access is denied.\r\n"},
        {6, L"The handle is invalid.\r\n"},
        {8, L"Not enough memory resources are available to process this command.\r\n"},
        {18, L"There are no more files.\r\n"},
        {32,
         L"The process cannot access the file because it is being used by another process.\r\n"},
        {87, L"The parameter is incorrect.\r\n"},
        {122, L"The data area passed to a system call is too small.\r\n"},
        {145, L"The directory is not empty.\r\n"},
        {183, L"Cannot create a file when that file already exists.\r\n"},
        {267, L"The directory name is invalid.\r\n"},
        {575,
         L"{Application Error}\r\nThe application was unable to start correctly (0x%lx). Click OK "
         L"to close the application.\r\n"},
        {1051,
         L"A stop control has been sent to a service that other running services are dependent "
         L"on.\r\n"},
        {1052, L"The requested control is not valid for this service.\r\n"},
        {1053,
         L"The service did not respond to the start or control request in a timely fashion.\r\n"},
        {1056, L"An instance of the service is already running.\r\n"},
        {1060, L"The specified service does not exist as an installed service.\r\n"},
        {1061, L"The service cannot accept control messages at this time.\r\n"},
        {1062, L"The service has not been started.\r\n"},
        {1063, L"The service process could not connect to the service controller.\r\n"},
        {1072, L"The specified service has been marked for deletion.\r\n"},
        {1073, L"The specified service already exists.\r\n"},
    };
}

void machine::set_error_text(platform::error_code code, std::wstring text) {
    std::lock_guard guard(impl_->lock);
    impl_->errors.texts[code] = std::move(text);
}

std::vector<std::wstring> machine::debug_output() const {
    std::lock_guard guard(impl_->lock);
    return impl_->errors.debug_output;
}

}  // namespace sim

namespace platform {

error_code get_last_error() {
    return sim::last_error;
}

void set_last_error(error_code code) {
    sim::last_error = code;
}

std::wstring format_message(error_code code) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    if (auto error = m.enter(sim::operation::format_message, std::to_wstring(code))) {
        return sim::failure(std::wstring{}, *error);
    }
    const auto found = m.errors.texts.find(code);
    if (found == m.errors.texts.end() || found->second.empty()) {
        return sim::failure(std::wstring{}, sim::error_mr_mid_not_found);
    }
    return found->second;
}

void output_debug_string(const wchar_t* text) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    // The call reports nothing: a text it could not deliver is simply not seen.
    if (m.enter(sim::operation::output_debug_string)) return;
    m.errors.debug_output.emplace_back(text != nullptr ? text : L"");
}

}  // namespace platform
