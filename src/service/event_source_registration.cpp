#include "service/event_source_registration.h"

#include "logging/log_windows_error.h"
#include "platform/unique_handle.h"

namespace service {
namespace {

// The types Event Viewer offers for the source: error, warning and information.
constexpr std::uint32_t types_supported = 0x7;

}  // namespace

bool register_event_source(const std::wstring& executable, const wchar_t* tag) {
    const platform::unique_registry_key key(
        platform::create_machine_registry_key(event_source_key));
    if (!key) {
        logging::log_last_error(tag,
                                L"RegCreateKeyEx returned an error. Unable to register event "
                                L"source.");
        return false;
    }
    if (!platform::set_registry_text(key.get(), L"EventMessageFile", platform::reg_expand_sz,
                                     executable.c_str()) ||
        !platform::set_registry_number(key.get(), L"TypesSupported", types_supported)) {
        logging::log_last_error(tag,
                                L"RegSetValueEx returned an error. Unable to register event "
                                L"source.");
        return false;
    }
    return true;
}

bool remove_event_source(const wchar_t* tag) {
    if (platform::delete_machine_registry_key(event_source_key) ||
        platform::get_last_error() == platform::error_file_not_found) {
        return true;
    }
    logging::log_last_error(tag, L"RegDeleteKey returned an error. Unable to remove event source.");
    return false;
}

}  // namespace service
