#include "logging/service_configuration.h"

#include <gtest/gtest.h>

#include "support/sim_test.h"

namespace {

using settings = test::sim_test;

TEST_F(settings, settings_file_lies_beside_the_executable) {
    EXPECT_EQ(logging::get_module_directory(), L"C:\\svc\\bin");
    EXPECT_EQ(logging::get_service_configuration()->settings_file,
              L"C:\\svc\\bin\\quillmark_snaptel.ini");

    // Every call hands out the same object.
    EXPECT_EQ(logging::get_service_configuration(), logging::get_service_configuration());
}

TEST_F(settings, forward_slashes_cut_the_same_way_and_the_name_joins_with_a_backslash) {
    machine().set_module_path(L"C:/svc/bin/agent.exe");
    EXPECT_EQ(logging::get_module_directory(), L"C:/svc/bin");
    EXPECT_EQ(logging::get_service_configuration()->settings_file,
              L"C:/svc/bin\\quillmark_snaptel.ini");
}

TEST_F(settings, a_path_without_separator_is_its_own_directory) {
    machine().set_module_path(L"agent.exe");
    EXPECT_EQ(logging::get_module_directory(), L"agent.exe");
}

TEST_F(settings, an_executable_path_longer_than_the_path_limit_is_read_whole) {
    std::wstring directory = L"C:\\deep";
    while (directory.size() < 700) {
        directory += L"\\nested-directory-name";
    }
    machine().set_module_path(directory + L"\\quillmark_snaptel.exe");

    EXPECT_EQ(logging::get_module_directory(), directory);
    EXPECT_EQ(logging::get_service_configuration()->settings_file,
              directory + L"\\quillmark_snaptel.ini");
}

TEST_F(settings, an_executable_path_of_exactly_the_buffer_size_is_not_cut) {
    std::wstring directory = L"C:\\" + std::wstring(260 - 3 - 4, L'd');
    const std::wstring path = directory + L"\\a.e";
    ASSERT_EQ(path.size(), 260u);
    machine().set_module_path(path);
    EXPECT_EQ(logging::get_module_directory(), directory);
}

TEST_F(settings, log_level_defaults_to_errors_only) {
    EXPECT_EQ(logging::get_log_level(settings_path), 3);
    use_settings(L"[SERVICE]\r\nLogFile=x.log\r\n");
    logging::forget_service_configuration();
    EXPECT_EQ(logging::get_log_level(settings_path), 3);
}

TEST_F(settings, log_level_is_a_signed_integer) {
    use_settings(L"[service]\r\n  loglevel = -2  \r\n");
    EXPECT_EQ(logging::get_log_level(settings_path), -2);
}

TEST_F(settings, log_level_is_read_once_per_process) {
    use_settings(L"[SERVICE]\r\nLogLevel=1\r\n");
    EXPECT_EQ(logging::get_log_level(settings_path), 1);
    const int reads = machine().settings_reads();

    use_settings(L"[SERVICE]\r\nLogLevel=0\r\n");
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(logging::get_log_level(settings_path), 1);
    }
    EXPECT_EQ(machine().settings_reads(), reads);
}

}  // namespace
