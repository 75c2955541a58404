#include "process/find_processes.h"

#include <vector>

#include "logging/diagnostic_log.h"
#include "logging/log_windows_error.h"
#include "logging/outside_text.h"
#include "platform/text.h"

namespace process {
namespace {

constexpr const wchar_t* tag = L"find_processes";

// Room for the identifiers of a busy machine at the first try; more is asked for when the
// table fills it.
constexpr std::size_t first_identifier_capacity = 2048;

// Image paths longer than the path limit exist (deep installation directories); they are
// read again into a buffer that fits any path rather than passed over.
constexpr std::uint32_t longest_image_path = 32768;
constexpr platform::error_code error_bad_length = 24;

bool read_image_path(platform::handle process, std::wstring& image) {
    std::vector<wchar_t> buffer(platform::max_path);
    std::uint32_t length = platform::get_process_image_file_name(
        process, buffer.data(), static_cast<std::uint32_t>(buffer.size()));
    if (length == 0) {
        const platform::error_code error = platform::get_last_error();
        if (error != platform::error_insufficient_buffer && error != error_bad_length) {
            return false;
        }
        buffer.resize(longest_image_path);
        length = platform::get_process_image_file_name(process, buffer.data(),
                                                       static_cast<std::uint32_t>(buffer.size()));
        if (length == 0) {
            return false;
        }
    }
    image.assign(buffer.data(), length);
    return true;
}

// Every process identifier the system lists, however many: a list that fills the buffer may
// have been cut, so it is asked again with one twice as large until it does not.
bool enumerate(std::vector<std::uint32_t>& identifiers) {
    identifiers.resize(first_identifier_capacity);
    for (;;) {
        const auto bytes = static_cast<std::uint32_t>(identifiers.size() * sizeof(std::uint32_t));
        std::uint32_t bytes_filled = 0;
        if (!platform::enum_processes(identifiers.data(), bytes, &bytes_filled)) {
            return false;
        }
        if (bytes_filled < bytes) {
            identifiers.resize(bytes_filled / sizeof(std::uint32_t));
            return true;
        }
        identifiers.resize(identifiers.size() * 2);
    }
}

// Whether `name` occurs in `image`, letters compared as the file system compares them
// in names: without regard to case.
bool contains(const std::wstring& image, const std::wstring& name) {
    if (name.size() > image.size()) {
        return false;
    }
    const auto length = static_cast<int>(name.size());
    for (std::size_t at = 0; at + name.size() <= image.size(); ++at) {
        if (platform::compare_string_ordinal(image.data() + at, length, name.data(), length,
                                             true) == platform::cstr_equal) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool find_processes(const std::wstring& name, process_list& processes) {
    logging::log_debug(tag, L"enter");
    processes.clear();

    std::vector<std::uint32_t> identifiers;
    if (!enumerate(identifiers)) {
        logging::log_last_error(tag,
                                L"EnumProcesses returned an error. Unable to enumerate processes.");
        return false;
    }

    const std::uint32_t own = platform::get_current_process_id();
    for (const std::uint32_t identifier : identifiers) {
        platform::unique_handle process(
            platform::open_process(platform::process_all_access, false, identifier));
        if (!process) {
            continue;
        }
        std::wstring image;
        if (!read_image_path(process.get(), image)) {
            logging::log_last_error(
                tag, L"GetProcessImageFileName returned an error. Unable to get process name.");
            continue;
        }
        if (!contains(image, name)) {
            continue;
        }
        // Installed in a folder whose name holds what is searched for, the service would
        // otherwise count itself as the agent or a plugin, and end itself.
        if (identifier == own) {
            logging::log_debug(tag, L"passing over own process", logging::from_outside(image));
            continue;
        }
        logging::log_debug(tag, L"adding process", logging::from_outside(image));
        processes.push_back(std::make_shared<process_child>(std::move(process)));
    }

    logging::log_debug(tag, L"processes found", static_cast<std::uint64_t>(processes.size()));
    logging::log_debug(tag, L"exit");
    return true;
}

}  // namespace process

namespace process {

bool count_processes(const std::wstring& name, std::size_t& count) {
    count = 0;
    std::vector<std::uint32_t> identifiers;
    if (!enumerate(identifiers)) {
        return false;
    }
    const std::uint32_t own = platform::get_current_process_id();
    for (const std::uint32_t identifier : identifiers) {
        const platform::unique_handle process(
            platform::open_process(platform::process_all_access, false, identifier));
        std::wstring image;
        std::uint32_t exit_code = 0;
        if (identifier != own && process && read_image_path(process.get(), image) &&
            contains(image, name) && platform::get_exit_code_process(process.get(), &exit_code) &&
            exit_code == platform::still_active) {
            ++count;
        }
    }
    return true;
}

}  // namespace process
