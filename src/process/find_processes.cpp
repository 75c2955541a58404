#include "process/find_processes.h"

#include <array>
#include <vector>

#include "logging/log_windows_error.h"
#include "logging/outside_text.h"
#include "logging/process_log.h"

namespace process {
namespace {

constexpr const wchar_t* tag = L"find_processes";

// Only the first 2048 identifiers are examined; the machines this runs on have far fewer.
constexpr std::size_t identifier_capacity = 2048;

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

}  // namespace

bool find_processes(const std::wstring& name, process_list& processes) {
    logging::log_debug(tag, L"enter");
    processes.clear();

    std::array<std::uint32_t, identifier_capacity> identifiers{};
    std::uint32_t bytes_filled = 0;
    if (!platform::enum_processes(identifiers.data(),
                                  static_cast<std::uint32_t>(sizeof(identifiers)), &bytes_filled)) {
        logging::log_last_error(tag,
                                L"EnumProcesses returned an error. Unable to enumerate processes.");
        return false;
    }

    const std::size_t count = bytes_filled / sizeof(std::uint32_t);
    for (std::size_t i = 0; i < count && i < identifiers.size(); ++i) {
        platform::unique_handle process(
            platform::open_process(platform::process_all_access, false, identifiers[i]));
        if (!process) {
            continue;
        }
        std::wstring image;
        if (!read_image_path(process.get(), image)) {
            logging::log_last_error(
                tag, L"GetProcessImageFileName returned an error. Unable to get process name.");
            continue;
        }
        if (image.find(name) == std::wstring::npos) {
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
