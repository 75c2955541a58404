#include "settings/settings_file.h"

#include <gtest/gtest.h>

#include "logging/diagnostic_log.h"
#include "platform/errors.h"
#include "settings/log_settings.h"

#include "support/sim_test.h"

namespace {

using settings_file = test::sim_test;

TEST_F(settings_file, settings_file_lies_beside_the_executable) {
    EXPECT_EQ(settings::get_module_directory(), L"C:\\svc\\bin");
    EXPECT_EQ(settings::settings_file_path(), L"C:\\svc\\bin\\quillmark_snaptel.ini");
}

TEST_F(settings_file, forward_slashes_cut_the_same_way_and_the_name_joins_with_a_backslash) {
    machine().set_module_path(L"C:/svc/bin/agent.exe");
    EXPECT_EQ(settings::get_module_directory(), L"C:/svc/bin");
    EXPECT_EQ(settings::settings_file_path(), L"C:/svc/bin\\quillmark_snaptel.ini");
}

TEST_F(settings_file, a_path_without_separator_is_its_own_directory) {
    machine().set_module_path(L"agent.exe");
    EXPECT_EQ(settings::get_module_directory(), L"agent.exe");
}

TEST_F(settings_file, an_executable_path_longer_than_the_path_limit_is_read_whole) {
    std::wstring directory = L"C:\\deep";
    while (directory.size() < 700) {
        directory += L"\\nested-directory-name";
    }
    machine().set_module_path(directory + L"\\quillmark_snaptel.exe");

    EXPECT_EQ(settings::get_module_directory(), directory);
    EXPECT_EQ(settings::settings_file_path(), directory + L"\\quillmark_snaptel.ini");
}

TEST_F(settings_file, an_executable_path_of_exactly_the_buffer_size_is_not_cut) {
    std::wstring directory = L"C:\\" + std::wstring(260 - 3 - 4, L'd');
    const std::wstring path = directory + L"\\a.e";
    ASSERT_EQ(path.size(), 260u);
    machine().set_module_path(path);
    EXPECT_EQ(settings::get_module_directory(), directory);
}

// Another program holds the file sharing nothing: the profile calls give the defaults
// without a word, as for a missing file, and only opening it tells.
TEST_F(settings_file, a_file_held_without_sharing_gives_the_defaults_and_is_found_unreadable) {
    const std::wstring path = L"C:\\svc\\bin\\quillmark_snaptel.ini";
    use_settings(L"[AGENT]\r\nConfigFile=C:\\x.yaml\r\n");
    EXPECT_FALSE(settings::settings_file_is_unreadable());
    machine().write_file(path, "");
    const std::uint32_t editor = machine().start_process(L"\\Device\\HarddiskVolume1\\ed.exe");
    machine().hold_file(editor, path, 0);
    EXPECT_EQ(settings::get_setting_text(settings::config_file_key), L"");
    EXPECT_TRUE(settings::settings_file_is_unreadable());
    EXPECT_EQ(platform::get_last_error(), platform::error_sharing_violation);
    machine().end_process(editor, 0);
    EXPECT_EQ(settings::get_setting_text(settings::config_file_key), L"C:\\x.yaml");
    EXPECT_FALSE(settings::settings_file_is_unreadable());
}

// Where a LogFile lies: as if the executable's folder were the working directory.
struct placed_name {
    const wchar_t *name, *directory, *placed;
};

class log_file_placed : public ::testing::TestWithParam<placed_name> {};

TEST_P(log_file_placed, beside_the_executable_unless_it_is_full) {
    EXPECT_EQ(settings::beside_executable(GetParam().name, GetParam().directory),
              GetParam().placed);
}

INSTANTIATE_TEST_SUITE_P(
    names, log_file_placed,
    ::testing::Values(
        placed_name{L"x.log", L"C:\\svc\\bin", L"C:\\svc\\bin\\x.log"},
        placed_name{L"C:/logs/x.log", L"C:\\svc\\bin", L"C:/logs/x.log"},
        placed_name{L"\\\\srv\\share\\x.log", L"C:\\svc\\bin", L"\\\\srv\\share\\x.log"},
        placed_name{L"\\\\?\\D:\\x.log", L"C:\\svc\\bin", L"\\\\?\\D:\\x.log"},
        placed_name{L"\\logs\\x.log", L"C:\\svc\\bin", L"C:\\logs\\x.log"},
        placed_name{L"\\logs\\x.log", L"\\\\srv\\share\\svc", L"\\\\srv\\share\\logs\\x.log"},
        placed_name{L"\\logs\\x.log", L"\\\\?\\C:\\svc", L"\\\\?\\C:\\logs\\x.log"},
        placed_name{L"c:x.log", L"C:\\svc\\bin", L"C:\\svc\\bin\\x.log"},
        placed_name{L"D:x.log", L"C:\\svc\\bin", L"D:\\x.log"},
        placed_name{L"", L"C:\\svc\\bin", L""}));

// The log reads its threshold when it opens its file, and never again.
TEST_F(settings_file, the_log_level_is_read_once_per_log) {
    use_settings(L"[SERVICE]\r\nLogLevel=1\r\nLogFile=C:\\logs\\service.log\r\n");
    logging::log_info(L"t", L"written");
    const int reads = machine().settings_reads();
    use_settings(L"[SERVICE]\r\nLogLevel=0\r\nLogFile=C:\\logs\\service.log\r\n");
    for (int i = 0; i < 5; ++i) {
        logging::log_debug(L"t", L"not written");
    }
    EXPECT_EQ(machine().settings_reads(), reads);
    EXPECT_EQ(log_entries(), std::vector<std::string>{":<I>:  t written"});
}

}  // namespace
