// What a release carries besides the code: the version built into the executable, which
// must be the one CMake gave the project (the zip's name and the installer use it too),
// and the sample settings file, whose sections and keys must be the ones the service reads.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>

#include "logging/event_kind.h"
#include "platform/files.h"
#include "platform/settings.h"
#include "version_info.h"

namespace {

namespace fs = std::filesystem;

// QM_PROJECT_VERSION's numbers; those it leaves out are 0, as in the resource.
std::array<std::uint16_t, 4> project_version_numbers() {
    std::array<std::uint16_t, 4> numbers = {};
    std::istringstream text(QM_PROJECT_VERSION);
    std::string part;
    for (std::size_t index = 0; index < numbers.size() && std::getline(text, part, '.'); ++index) {
        numbers[index] = static_cast<std::uint16_t>(std::stoul(part));
    }
    return numbers;
}

std::array<std::uint16_t, 4> split(std::uint32_t most_significant,
                                   std::uint32_t least_significant) {
    return {static_cast<std::uint16_t>(most_significant >> 16),
            static_cast<std::uint16_t>(most_significant & 0xFFFF),
            static_cast<std::uint16_t>(least_significant >> 16),
            static_cast<std::uint16_t>(least_significant & 0xFFFF)};
}

std::wstring widen(const char* text) {
    return fs::path(text).wstring();
}

std::wstring version_text(const wchar_t* name) {
    std::wstring text;
    EXPECT_TRUE(platform::get_file_version_text(widen(QM_SERVICE_EXECUTABLE).c_str(), name, text))
        << "no " << fs::path(name).string() << " in the version resource";
    return text;
}

// Event Viewer shows an event's text from the message the event ID names in the
// executable's message table, with the error line as its %1: every ID must have one.
TEST(Release, ExecutableHoldsTheMessageOfEveryEventId) {
    for (const auto kind :
         {logging::event_kind::other_error, logging::event_kind::agent_not_running,
          logging::event_kind::plugins_not_running, logging::event_kind::launch_failed,
          logging::event_kind::cleanup_left_entries, logging::event_kind::service_manager_failed,
          logging::event_kind::log_unusable}) {
        const auto id = static_cast<std::uint32_t>(kind);
        std::wstring text;
        EXPECT_TRUE(platform::format_module_message(widen(QM_SERVICE_EXECUTABLE).c_str(), id,
                                                    L"tag text 100%", text))
            << "no message for event ID " << id;
        EXPECT_EQ(text, L"tag text 100%") << "event ID " << id;
    }
    std::wstring text;
    EXPECT_FALSE(
        platform::format_module_message(widen(QM_SERVICE_EXECUTABLE).c_str(), 8, L"x", text));
}

TEST(Release, ExecutableCarriesTheProjectVersion) {
    platform::fixed_file_version fixed;
    ASSERT_TRUE(platform::get_file_version(widen(QM_SERVICE_EXECUTABLE).c_str(), fixed))
        << "no version resource in " << QM_SERVICE_EXECUTABLE;
    EXPECT_EQ(split(fixed.file_version_ms, fixed.file_version_ls), project_version_numbers());
    EXPECT_EQ(split(fixed.product_version_ms, fixed.product_version_ls), project_version_numbers());

    EXPECT_EQ(version_text(L"ProductVersion"), widen(QM_PROJECT_VERSION));
    EXPECT_EQ(version_text(L"FileVersion"), widen(QM_PROJECT_VERSION));
    EXPECT_EQ(version_text(L"ProductName"), L"quillmark_snaptel");
    EXPECT_EQ(version_text(L"OriginalFilename"), L"quillmark_snaptel.exe");
}

// Read as the service reads them, with defaults no sample would hold, so that a section
// or key the service does not know shows up as the default.
TEST(Release, SampleSettingsSetEveryKeyTheServiceReads) {
    const std::wstring sample = widen(QM_SAMPLE_SETTINGS);
    ASSERT_TRUE(fs::exists(sample));

    const auto log_level = static_cast<std::int32_t>(
        platform::get_private_profile_int(L"SERVICE", L"LogLevel", -100, sample.c_str()));
    EXPECT_GE(log_level, 0);
    EXPECT_LE(log_level, 4);

    wchar_t value[platform::max_path] = {};
    platform::get_private_profile_string(L"SERVICE", L"LogFile", L"", value, platform::max_path,
                                         sample.c_str());
    // The service's working directory is the system folder: only an absolute path is of use.
    const std::wstring log_file = value;
    EXPECT_TRUE(log_file.size() > 3 && log_file.substr(1, 2) == L":\\")
        << "LogFile=" << fs::path(log_file).string();

    platform::get_private_profile_string(L"AGENT", L"ConfigFile", L"", value, platform::max_path,
                                         sample.c_str());
    EXPECT_NE(std::wstring(value), L"");
}

}  // namespace
