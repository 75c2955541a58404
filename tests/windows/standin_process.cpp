#include "standin_process.h"
#include "platform/settings.h"
#include "platform/text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace standin {

namespace fs = std::filesystem;

// The build copies the stand-in to <build>/standins; this program is <build>/tests/windows.
fs::path standin_directory() {
    std::vector<wchar_t> buffer(32768);
    const std::uint32_t length =
        platform::get_module_file_name(buffer.data(), static_cast<std::uint32_t>(buffer.size()));
    const fs::path self(std::wstring(buffer.data(), length));
    return self.parent_path().parent_path().parent_path() / "standins";
}

std::vector<std::uint32_t> process_ids() {
    std::vector<std::uint32_t> ids(4096);
    std::uint32_t filled = 0;
    if (!platform::enum_processes(
            ids.data(), static_cast<std::uint32_t>(ids.size() * sizeof(std::uint32_t)), &filled)) {
        return {};
    }
    ids.resize(filled / sizeof(std::uint32_t));
    return ids;
}

bool image_is(platform::handle process, const std::wstring& base_name) {
    std::vector<wchar_t> image(1024);
    const std::uint32_t length = platform::get_process_image_file_name(
        process, image.data(), static_cast<std::uint32_t>(image.size()));
    const std::wstring path(image.data(), length);
    const std::wstring end = L"\\" + base_name;
    return path.size() >= end.size() &&
           platform::compare_string_ignore_case(path.substr(path.size() - end.size()).c_str(),
                                                end.c_str()) == 0;
}

started_standin::started_standin(const std::wstring& name, const std::string& arguments) {
    const std::vector<std::uint32_t> before = process_ids();
    const fs::path program = standin_directory() / name;
    if (!fs::exists(program)) {
        ADD_FAILURE() << "no stand-in at " << program.string();
        return;
    }
    // The stand-in ends by itself after a minute should everything else fail; a later
    // --exit-after among `arguments` takes precedence. `start /b` with every standard
    // handle redirected: a console child would otherwise keep CTest's output pipe open
    // under Wine for as long as it runs.
    const std::string command = "start \"\" /b \"" + program.string() + "\" --exit-after 60000 " +
                                arguments + " <NUL >NUL 2>NUL";
    if (std::system(command.c_str()) != 0) {
        ADD_FAILURE() << "cannot run: " << command;
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!process_ && std::chrono::steady_clock::now() < deadline) {
        for (const std::uint32_t id : process_ids()) {
            if (std::find(before.begin(), before.end(), id) != before.end()) {
                continue;
            }
            platform::unique_handle candidate(
                platform::open_process(platform::process_all_access, false, id));
            if (candidate && image_is(candidate.get(), name)) {
                process_ = std::move(candidate);
                break;
            }
        }
        if (!process_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    if (!process_) {
        ADD_FAILURE() << "the stand-in did not appear: " << command;
    }
}

started_standin::~started_standin() {
    if (process_) {
        platform::terminate_process(process_.get(), 1);
        platform::wait_for_single_object(process_.get(), 5000);
    }
}

}  // namespace standin
