#include "settings/settings_file.h"

#include <gtest/gtest.h>

#include "logging/diagnostic_log.h"

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

TEST_F(settings_file, numbers_are_signed_and_default_when_missing) {
    EXPECT_EQ(settings::get_setting_number(L"SERVICE", L"LogLevel", 3), 3);
    use_settings(L"[service]\r\n  loglevel = -2  \r\n");
    EXPECT_EQ(settings::get_setting_number(L"SERVICE", L"LogLevel", 3), -2);
}

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
