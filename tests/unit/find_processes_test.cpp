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

TEST_F(finding_processes, the_name_matches_anywhere_in_the_path_in_any_case_but_this_process) {
    machine().start_process(L"\\Device\\HarddiskVolume1\\Windows\\explorer.exe");
    machine().start_process(test::agent_image);
    machine().start_process(L"\\Device\\HarddiskVolume1\\old\\copy-snapteld.exe.bak");
    machine().start_process(L"\\Device\\HarddiskVolume1\\svc\\SnapTelD.EXE");
    machine().start_process(L"\\Device\\HarddiskVolume2\\Snap-Plugins\\tool.exe");
    // Installed in a folder whose name holds the agent's, the service matches too.
    const std::wstring own_image =
        L"\\Device\\HarddiskVolume1\\snapteld.exe\\quillmark_snaptel.exe";
    machine().set_current_process(machine().start_process(own_image));

    process_list found;
    EXPECT_TRUE(find_processes(L"snapteld.exe", found));
    EXPECT_EQ(found.size(), 3u);
    EXPECT_EQ(
        log_entries(),
        (std::vector<std::string>{
            ":<D>:  find_processes enter",
            ":<D>:  find_processes adding process "
            "\\Device\\HarddiskVolume1\\svc\\bin\\snapteld.exe",
            ":<D>:  find_processes adding process "
            "\\Device\\HarddiskVolume1\\old\\copy-snapteld.exe.bak",
            ":<D>:  find_processes adding process \\Device\\HarddiskVolume1\\svc\\SnapTelD.EXE",
            ":<D>:  find_processes passing over own process " + test::narrow(own_image),
            ":<D>:  find_processes processes found 3", ":<D>:  find_processes exit"}));

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
    platform::sleep(sim::default_exit_delay_ms);
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
                  ":<ERROR>:  find_processes Access is denied.",
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

// The image path is read again into a buffer that fits any path when the first read
// says the buffer was too small; a process whose path still cannot be read is logged with
// the second read's error and passed over.
struct image_read_case {
    const char* name;
    std::vector<platform::error_code> failures;
    int reads;
    std::size_t found;
    std::vector<std::string> lines;
};

class image_read : public finding_processes,
                   public ::testing::WithParamInterface<image_read_case> {};

TEST_P(image_read, is_retried_only_for_a_buffer_too_small) {
    const auto& c = GetParam();
    const auto id = machine().start_process(test::agent_image);
    for (const auto error : c.failures) {
        machine().fail(operation::get_process_image_file_name, error, std::to_wstring(id));
    }
    process_list found;
    EXPECT_TRUE(find_processes(L"snapteld.exe", found));
    EXPECT_EQ(found.size(), c.found);
    EXPECT_EQ(log_entries(), c.lines);
    EXPECT_EQ(machine().calls(operation::get_process_image_file_name), c.reads);
    EXPECT_EQ(machine().open_handles(), c.found);
}

const std::string read_failed =
    ":<ERROR>:  find_processes GetProcessImageFileName returned an error. Unable to get process "
    "name.";
const std::vector<std::string> found_agent{
    ":<D>:  find_processes enter",
    ":<D>:  find_processes adding process \\Device\\HarddiskVolume1\\svc\\bin\\snapteld.exe",
    ":<D>:  find_processes processes found 1", ":<D>:  find_processes exit"};

INSTANTIATE_TEST_SUITE_P(
    cases, image_read,
    ::testing::Values(
        image_read_case{"too_small", {platform::error_insufficient_buffer}, 2, 1, found_agent},
        // ERROR_BAD_LENGTH, which some versions of Windows give for the same reason.
        image_read_case{"bad_length", {24}, 2, 1, found_agent},
        image_read_case{"denied",
                        {platform::error_access_denied},
                        1,
                        0,
                        {":<D>:  find_processes enter", read_failed,
                         ":<ERROR>:  find_processes Access is denied.",
                         ":<D>:  find_processes processes found 0", ":<D>:  find_processes exit"}},
        image_read_case{"denied_at_the_second_read",
                        {platform::error_insufficient_buffer, platform::error_access_denied},
                        2,
                        0,
                        {":<D>:  find_processes enter", read_failed,
                         ":<ERROR>:  find_processes Access is denied.",
                         ":<D>:  find_processes processes found 0", ":<D>:  find_processes exit"}},
        image_read_case{"too_small_twice",
                        {platform::error_insufficient_buffer, platform::error_insufficient_buffer},
                        2,
                        0,
                        {":<D>:  find_processes enter", read_failed,
                         ":<ERROR>:  find_processes The data area passed to a system call is too "
                         "small.",
                         ":<D>:  find_processes processes found 0", ":<D>:  find_processes exit"}}),
    [](const auto& info) { return std::string(info.param.name); });

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
                  ":<ERROR>:  find_processes Access is denied."}));
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

TEST_F(finding_processes, an_agent_after_3000_other_processes_is_found) {
    for (int i = 0; i < 3000; ++i) {
        machine().start_process(test::collector_image);
    }
    machine().start_process(test::agent_image);
    use_log_level(3);
    process_list found;
    EXPECT_TRUE(find_processes(L"snapteld.exe", found));
    EXPECT_EQ(found.size(), 1u);
    // A full buffer may have cut the list: it is asked again, larger.
    EXPECT_EQ(machine().calls(operation::enum_processes), 2);
}

}  // namespace
