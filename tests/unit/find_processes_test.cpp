#include "process/find_processes.h"

#include <gtest/gtest.h>

#include "support/sim_test.h"

namespace {

using test::lines_starting;

using process::find_processes;
using process::process_list;
using sim::operation;

class finding_processes : public test::sim_test {
  protected:
    void SetUp() override {
        test::sim_test::SetUp();
        use_log_level(0);
    }
};

TEST_F(finding_processes, the_name_matches_anywhere_in_the_device_path_case_sensitively) {
    machine().start_process(L"\\Device\\HarddiskVolume1\\Windows\\explorer.exe");
    machine().start_process(test::agent_image);
    machine().start_process(L"\\Device\\HarddiskVolume1\\old\\copy-snapteld.exe.bak");
    machine().start_process(L"\\Device\\HarddiskVolume1\\svc\\SNAPTELD.EXE");
    machine().start_process(L"\\Device\\HarddiskVolume2\\snap-plugins\\tool.exe");

    process_list found;
    EXPECT_TRUE(find_processes(L"snapteld.exe", found));
    EXPECT_EQ(found.size(), 2u);
    EXPECT_EQ(log_entries(),
              (std::vector<std::string>{":<D>:  find_processes enter",
                                        ":<D>:  find_processes adding process "
                                        "\\Device\\HarddiskVolume1\\svc\\bin\\snapteld.exe",
                                        ":<D>:  find_processes adding process "
                                        "\\Device\\HarddiskVolume1\\old\\copy-snapteld.exe.bak",
                                        ":<D>:  find_processes processes found 2",
                                        ":<D>:  find_processes exit"}));

    EXPECT_TRUE(find_processes(L"snap-plugin", found));
    EXPECT_EQ(found.size(), 1u);
}

TEST_F(finding_processes, two_instances_are_found_in_enumeration_order) {
    const auto first = machine().start_process(test::agent_image);
    machine().start_process(test::collector_image);
    const auto second = machine().start_process(test::agent_image);
    machine().end_process(first, 0);
    const auto third = machine().start_process(test::agent_image);

    process_list found;
    ASSERT_TRUE(find_processes(L"snapteld.exe", found));
    ASSERT_EQ(found.size(), 2u);
    platform::terminate_process(found[0]->handle(), 9);
    EXPECT_EQ(machine().exit_code(second), 9u);
    EXPECT_TRUE(machine().is_running(third));
}

TEST_F(finding_processes, an_empty_name_matches_every_readable_process) {
    machine().start_process(test::agent_image);
    machine().start_process(test::collector_image);
    process_list found;
    EXPECT_TRUE(find_processes(L"", found));
    EXPECT_EQ(found.size(), 2u);
}

TEST_F(finding_processes, nothing_matching_is_success_with_an_empty_list) {
    machine().start_process(test::collector_image);
    process_list found;
    EXPECT_TRUE(find_processes(L"snapteld.exe", found));
    EXPECT_TRUE(found.empty());
    EXPECT_EQ(log_entries(), (std::vector<std::string>{":<D>:  find_processes enter",
                                                       ":<D>:  find_processes processes found 0",
                                                       ":<D>:  find_processes exit"}));
    EXPECT_EQ(machine().open_handles(), 0u);
}

TEST_F(finding_processes, processes_that_cannot_be_opened_are_passed_over_silently) {
    sim::process_options closed;
    closed.cannot_open = true;
    machine().start_process(test::agent_image, closed);
    process_list found;
    EXPECT_TRUE(find_processes(L"snapteld.exe", found));
    EXPECT_TRUE(found.empty());
    EXPECT_EQ(log_entries().size(), 3u);
}

TEST_F(finding_processes, an_unreadable_image_path_is_logged_and_passed_over) {
    sim::process_options unreadable;
    unreadable.image_unreadable = true;
    machine().start_process(test::agent_image, unreadable);
    machine().start_process(test::agent_image);

    process_list found;
    EXPECT_TRUE(find_processes(L"snapteld.exe", found));
    EXPECT_EQ(found.size(), 1u);
    EXPECT_EQ(log_entries(),
              (std::vector<std::string>{
                  ":<D>:  find_processes enter",
                  ":<ERROR>:  find_processes GetProcessImageFileName returned an error. Unable to "
                  "get process name.",
                  ":<ERROR>:  find_processes Access is denied.\r\n",
                  ":<D>:  find_processes adding process "
                  "\\Device\\HarddiskVolume1\\svc\\bin\\snapteld.exe",
                  ":<D>:  find_processes processes found 1", ":<D>:  find_processes exit"}));
    EXPECT_EQ(machine().open_handles(), 1u);
}

TEST_F(finding_processes, an_image_path_longer_than_the_path_limit_is_still_found) {
    std::wstring deep = L"\\Device\\HarddiskVolume1";
    while (deep.size() < 600) {
        deep += L"\\a-very-deep-installation-directory";
    }
    machine().start_process(deep + L"\\snapteld.exe");
    process_list found;
    EXPECT_TRUE(find_processes(L"snapteld.exe", found));
    EXPECT_EQ(found.size(), 1u);
    EXPECT_EQ(lines_starting(log_entries(), ":<D>:  find_processes adding process"),
              std::vector<std::string>{":<D>:  find_processes adding process " +
                                       test::narrow(deep) + "\\snapteld.exe"});
}

TEST_F(finding_processes, a_failed_enumeration_empties_the_list_and_is_logged) {
    machine().start_process(test::agent_image);
    process_list found;
    ASSERT_TRUE(find_processes(L"snapteld.exe", found));
    ASSERT_EQ(machine().open_handles(), 1u);

    machine().fail(operation::enum_processes, platform::error_access_denied);
    EXPECT_FALSE(find_processes(L"snapteld.exe", found));
    EXPECT_TRUE(found.empty());
    EXPECT_EQ(machine().open_handles(), 0u);
    const auto entries = log_entries();
    EXPECT_EQ(std::vector<std::string>(entries.end() - 3, entries.end()),
              (std::vector<std::string>{
                  ":<D>:  find_processes enter",
                  ":<ERROR>:  find_processes EnumProcesses returned an error. Unable to "
                  "enumerate processes.",
                  ":<ERROR>:  find_processes Access is denied.\r\n"}));
}

TEST_F(finding_processes, a_list_from_an_earlier_search_keeps_only_what_others_hold) {
    machine().start_process(test::agent_image);
    machine().start_process(test::agent_image);
    process_list found;
    ASSERT_TRUE(find_processes(L"snapteld.exe", found));
    const auto kept = found[0];
    ASSERT_TRUE(find_processes(L"nothing-by-this-name", found));
    EXPECT_TRUE(found.empty());
    EXPECT_EQ(machine().open_handles(), 1u);
}

TEST_F(finding_processes, only_the_first_2048_identifiers_are_examined) {
    for (int i = 0; i < 2048; ++i) {
        machine().start_process(test::collector_image);
    }
    machine().start_process(test::agent_image);
    use_log_level(3);
    process_list found;
    EXPECT_TRUE(find_processes(L"snapteld.exe", found));
    EXPECT_TRUE(found.empty());
}

}  // namespace
