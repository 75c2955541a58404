#include "cleanup/delete_tree.h"

#include <gtest/gtest.h>

#include "cleanup/cleanup.h"
#include "logging/diagnostic_log.h"
#include "platform/unique_handle.h"
#include "support/sim_test.h"

namespace {

using test::lines_starting;

using lines = std::vector<std::string>;

const std::string root = "C:/ProgramData/Quillmark/Snap/temp";
const std::wstring wroot = cleanup::temp_directory;

class deleting_tree : public test::sim_test {
  protected:
    void SetUp() override {
        test::sim_test::SetUp();
        use_log_level(0);
    }

    static std::string d(const std::string& text) { return ":<D>:  delete_tree " + text; }
    static lines entered(const std::string& path, int level) {
        return {d("enter"), d("directory " + path + " level " + std::to_string(level))};
    }
    static lines file_deleted(const std::string& path) {
        return {d("deleting file " + path), d("file " + path + " deleted")};
    }
    static void append(lines& to, const lines& more) {
        to.insert(to.end(), more.begin(), more.end());
    }
};

TEST_F(deleting_tree, a_missing_directory_is_reported_as_empty_and_fails) {
    EXPECT_FALSE(cleanup::delete_tree(wroot, 0, false));
    lines expected = entered(root, 0);
    expected.push_back(d("directory is empty."));
    EXPECT_EQ(log_entries(), expected);
}

TEST_F(deleting_tree, an_empty_directory_stays_and_nothing_is_deleted) {
    machine().create_directory(wroot);
    EXPECT_TRUE(cleanup::delete_tree(wroot, 0, false));
    EXPECT_EQ(log_entries(), entered(root, 0));
    EXPECT_TRUE(machine().exists(wroot));
    EXPECT_EQ(machine().open_handles(), 0u);
}

TEST_F(deleting_tree, nested_content_goes_depth_first_and_the_root_stays) {
    machine().create_file(wroot + L"/a.txt");
    machine().create_file(wroot + L"/sub/b.txt", platform::file_attribute_readonly);
    machine().create_file(wroot + L"/sub/deeper/c.txt");
    machine().create_file(wroot + L"/z.txt");

    EXPECT_TRUE(cleanup::delete_tree(wroot, 0, false));

    lines expected = entered(root, 0);
    append(expected, file_deleted(root + "/a.txt"));
    append(expected, entered(root + "/sub", 1));
    append(expected, file_deleted(root + "/sub/b.txt"));
    append(expected, entered(root + "/sub/deeper", 2));
    append(expected, file_deleted(root + "/sub/deeper/c.txt"));
    expected.push_back(d("directory " + root + "/sub/deeper deleted"));
    expected.push_back(d("directory " + root + "/sub deleted"));
    append(expected, file_deleted(root + "/z.txt"));
    EXPECT_EQ(log_entries(), expected);
    EXPECT_TRUE(machine().exists(wroot));
    EXPECT_TRUE(machine().tree(wroot).empty());
    EXPECT_EQ(machine().open_handles(), 0u);
}

TEST_F(deleting_tree, with_delete_root_the_emptied_root_goes_too) {
    machine().create_file(wroot + L"/a.txt");
    EXPECT_TRUE(cleanup::delete_tree(wroot, 0, true));
    EXPECT_EQ(log_entries().back(), d("directory " + root + " deleted"));
    EXPECT_FALSE(machine().exists(wroot));
    EXPECT_TRUE(machine().exists(L"C:/ProgramData/Quillmark/Snap"));
}

// Anyone may create files there: one nobody can delete must not keep the rest in place.
TEST_F(deleting_tree, a_file_that_cannot_be_deleted_is_left_and_everything_else_goes) {
    const auto holder = machine().start_process(test::agent_image);
    for (int i = 10; i < 30; ++i) {
        machine().create_file(wroot + L"/f" + std::to_wstring(i) + L".txt");
    }
    for (const wchar_t* name : {L"/sub/a.txt", L"/sub/held.txt", L"/sub/z.txt"}) {
        machine().create_file(wroot + name);
    }
    machine().hold_file(holder, wroot + L"/f15.txt");
    machine().hold_file(holder, wroot + L"/sub/held.txt");

    EXPECT_FALSE(cleanup::delete_tree(wroot, 0, false));

    const auto failed = [](const std::string& path) {
        return lines{d("deleting file " + path),
                     d("DeleteFile returned an error. Unable to delete directory " + path),
                     ":<ERROR>:  delete_tree The process cannot access the file because it is "
                     "being used by another process."};
    };
    lines expected = entered(root, 0);
    for (int i = 10; i < 30; ++i) {
        const std::string file = root + "/f" + std::to_string(i) + ".txt";
        append(expected, i == 15 ? failed(file) : file_deleted(file));
    }
    append(expected, entered(root + "/sub", 1));
    append(expected, file_deleted(root + "/sub/a.txt"));
    append(expected, failed(root + "/sub/held.txt"));
    append(expected, file_deleted(root + "/sub/z.txt"));
    expected.push_back(
        d("recursive call to delete_tree returned an error. Unable to delete directory " + root +
          "/sub"));
    EXPECT_EQ(log_entries(), expected);
    const std::wstring spelled = L"C:\\ProgramData\\Quillmark\\Snap\\temp";
    EXPECT_EQ(machine().tree(wroot),
              (std::vector<std::wstring>{spelled + L"\\f15.txt", spelled + L"\\sub",
                                         spelled + L"\\sub\\held.txt"}));
    EXPECT_EQ(machine().open_handles(), 0u);
}

TEST_F(deleting_tree, a_directory_that_cannot_be_removed_fails_every_enclosing_level) {
    machine().create_directory(wroot + L"/one/two");
    machine().fail(sim::operation::set_delete_disposition, platform::error_access_denied,
                   wroot + L"/one/two");
    EXPECT_FALSE(cleanup::delete_tree(wroot, 0, false));

    const lines entries = log_entries();
    EXPECT_EQ(lines(entries.end() - 4, entries.end()),
              (lines{d("RemoveDirectory returned an error. Unable to delete empty directory " +
                       root + "/one/two"),
                     ":<ERROR>:  delete_tree Access is denied.",
                     d("recursive call to delete_tree returned an error. Unable to delete "
                       "directory " +
                       root + "/one/two"),
                     d("recursive call to delete_tree returned an error. Unable to delete "
                       "directory " +
                       root + "/one")}));
    EXPECT_EQ(machine().open_handles(), 0u);
}

TEST_F(deleting_tree, a_listing_error_is_logged_with_the_system_text) {
    machine().create_file(wroot + L"/a.txt");
    machine().create_file(wroot + L"/b.txt");
    machine().fail(sim::operation::find_next_file, platform::error_invalid_parameter);
    EXPECT_FALSE(cleanup::delete_tree(wroot, 0, false));
    EXPECT_EQ(log_entries().back(),
              d("FindNextFile returned an error. The parameter is incorrect."));
    EXPECT_EQ(machine().open_handles(), 0u);
}

TEST_F(deleting_tree, a_link_planted_inside_is_removed_and_what_it_points_to_is_untouched) {
    machine().create_file(L"C:/Windows/System32/config/SAM");
    machine().create_file(L"C:/Users/admin/Documents/report.docx");
    machine().create_directory_link(wroot + L"/evil", L"C:/Windows/System32");
    machine().create_directory_link(wroot + L"/sub/docs", L"C:/Users/admin/Documents");
    machine().create_file(wroot + L"/sub/x.txt");

    EXPECT_TRUE(cleanup::delete_tree(wroot, 0, false));

    EXPECT_TRUE(machine().exists(L"C:/Windows/System32/config/SAM"));
    EXPECT_TRUE(machine().exists(L"C:/Users/admin/Documents/report.docx"));
    EXPECT_TRUE(machine().tree(wroot).empty());
    const lines entries = log_entries();
    EXPECT_EQ(
        lines_starting(entries, d("removing link")),
        (lines{d("removing link " + root + "/evil"), d("removing link " + root + "/sub/docs")}));
    EXPECT_EQ(
        lines_starting(entries, d("link ")),
        (lines{d("link " + root + "/evil removed"), d("link " + root + "/sub/docs removed")}));
}

TEST_F(deleting_tree, a_temporary_directory_that_is_itself_a_link_is_left_alone) {
    machine().create_file(L"C:/Windows/System32/drivers/disk.sys");
    machine().create_directory(L"C:/ProgramData/Quillmark/Snap");
    machine().create_directory_link(wroot, L"C:/Windows/System32");

    EXPECT_FALSE(cleanup::delete_tree(wroot, 0, false));

    EXPECT_TRUE(machine().exists(L"C:/Windows/System32/drivers/disk.sys"));
    lines expected = entered(root, 0);
    expected.push_back(":<ERROR>:  delete_tree directory is a link. Nothing under it is deleted " +
                       root);
    EXPECT_EQ(log_entries(), expected);
}

TEST_F(deleting_tree, cleanup_ends_the_processes_waits_a_second_then_empties_the_directory) {
    machine().create_file(wroot + L"/a.txt");
    const auto agent = machine().start_process(test::agent_image);
    machine().hold_file(agent, wroot + L"/a.txt");

    cleanup::clean_up();

    EXPECT_FALSE(machine().is_running(agent));
    EXPECT_TRUE(machine().tree(wroot).empty());
    EXPECT_EQ(machine().sleeps(), (std::vector<std::uint32_t>{100, 1000}));
    const lines entries = log_entries();
    ASSERT_GE(entries.size(), 4u);
    EXPECT_EQ(entries.front(), ":<D>:  cleanup enter");
    lines tail{":<D>:  cleanup wait before deleting temp directory for 1000 ms",
               ":<D>:  cleanup_temp_directory enter"};
    append(tail, entered(root, 0));
    append(tail, file_deleted(root + "/a.txt"));
    append(tail, {":<D>:  cleanup_temp_directory exit", ":<D>:  cleanup exit"});
    EXPECT_EQ(lines(entries.end() - static_cast<long>(tail.size()), entries.end()), tail);
}

// --- What anyone may plant in the temporary directory ------------------------------

TEST_F(deleting_tree, a_link_above_the_temporary_directory_leaves_everything_where_it_leads) {
    machine().create_file(L"C:/Windows/Snap/temp/keep.txt");
    machine().create_directory_link(L"C:/ProgramData/Quillmark", L"C:/Windows");

    EXPECT_FALSE(cleanup::delete_tree(wroot, 0, false));

    EXPECT_TRUE(machine().exists(L"C:/Windows/Snap/temp/keep.txt"));
    lines expected = entered(root, 0);
    expected.push_back(
        ":<ERROR>:  delete_tree directory does not lie where it is named. Nothing under it is "
        "deleted " +
        root + " \\\\?\\C:\\Windows\\Snap\\temp");
    EXPECT_EQ(log_entries(), expected);
    EXPECT_EQ(machine().open_handles(), 0u);
}

// Someone replaces the directory sub with a link to System32 when the walk calls `op` on it.
void plant_swap(sim::machine& machine, sim::operation op) {
    machine.create_file(L"C:/Windows/System32/config/SAM");
    machine.create_file(wroot + L"/sub/x.txt");
    machine.replace_with_link_when(op, wroot + L"/sub", wroot + L"/sub", L"C:/Windows/System32");
}

TEST_F(deleting_tree, a_directory_swapped_for_a_link_before_it_is_opened_is_left) {
    plant_swap(machine(), sim::operation::open_existing_file);

    EXPECT_FALSE(cleanup::delete_tree(wroot, 0, false));

    EXPECT_EQ(machine().replacements_done(), 1);
    EXPECT_TRUE(machine().exists(L"C:/Windows/System32/config/SAM"));
    lines expected = entered(root, 0);
    append(expected, entered(root + "/sub", 1));
    append(
        expected,
        {":<ERROR>:  delete_tree directory is a link. Nothing under it is deleted " + root + "/sub",
         d("recursive call to delete_tree returned an error. Unable to delete directory " + root +
           "/sub")});
    EXPECT_EQ(log_entries(), expected);
}

TEST_F(deleting_tree, a_directory_being_walked_cannot_be_swapped_for_a_link) {
    plant_swap(machine(), sim::operation::find_first_file);

    EXPECT_TRUE(cleanup::delete_tree(wroot, 0, false));

    EXPECT_EQ(machine().replacements_done(), 0);
    EXPECT_TRUE(machine().exists(L"C:/Windows/System32/config/SAM"));
    EXPECT_TRUE(machine().tree(wroot).empty());
}

// Where a directory can be renamed while it is walked (under Wine), the entry opened after
// the swap lies elsewhere: it is left, with the place it leads to.
TEST_F(deleting_tree, an_entry_that_leads_outside_its_directory_is_left) {
    plant_swap(machine(), sim::operation::find_first_file);
    machine().create_file(L"C:/Windows/System32/x.txt");
    machine().replace_with_link_when(sim::operation::open_existing_file, wroot + L"/sub/x.txt",
                                     wroot + L"/sub", L"C:/Windows/System32", true);

    EXPECT_FALSE(cleanup::delete_tree(wroot, 0, false));

    EXPECT_TRUE(machine().exists(L"C:/Windows/System32/x.txt"));
    EXPECT_EQ(lines_starting(log_entries(), ":<ERROR>:"),
              lines{":<ERROR>:  delete_tree entry leads outside the directory. It is left " + root +
                    "/sub/x.txt \\Windows\\System32\\x.txt"});
}

TEST_F(deleting_tree, links_and_other_reparse_points_go_themselves_and_targets_stay) {
    machine().create_file(L"C:/Windows/win.ini");
    machine().create_directory(L"C:/Users/admin/empty");
    machine().create_file_link(wroot + L"/file-link", L"C:/Windows/win.ini");
    machine().create_directory_link(wroot + L"/empty-link", L"C:/Users/admin/empty");
    machine().create_file(wroot + L"/cloud.dat", platform::file_attribute_reparse_point);

    EXPECT_TRUE(cleanup::delete_tree(wroot, 0, false));

    EXPECT_TRUE(machine().exists(L"C:/Windows/win.ini"));
    EXPECT_TRUE(machine().exists(L"C:/Users/admin/empty"));
    EXPECT_TRUE(machine().tree(wroot).empty());
    lines expected = entered(root, 0);
    append(expected, file_deleted(root + "/cloud.dat"));
    append(expected,
           {d("removing link " + root + "/empty-link"), d("link " + root + "/empty-link removed")});
    append(expected, file_deleted(root + "/file-link"));
    EXPECT_EQ(log_entries(), expected);
}

TEST_F(deleting_tree, names_the_plain_path_form_cannot_reach_are_deleted_too) {
    const std::wstring deep = wroot + L"/" + std::wstring(120, L'a') + L"/" +
                              std::wstring(120, L'b') + L"/" + std::wstring(120, L'c');
    const std::vector<std::wstring> names{L"nul",    L"con.txt", L"aux",
                                          L"trail.", L"blank ",  L"plain.txt"};
    for (const auto& name : names) {
        machine().create_file(wroot + L"/" + name);
    }
    machine().create_file(deep + L"/nul");

    EXPECT_TRUE(cleanup::delete_tree(wroot, 0, false));

    EXPECT_TRUE(machine().tree(wroot).empty());
    EXPECT_TRUE(lines_starting(log_entries(), ":<ERROR>:").empty());
    EXPECT_EQ(machine().open_handles(), 0u);
}

TEST_F(deleting_tree, a_line_break_in_a_name_cannot_start_a_line_of_the_log) {
    machine().create_file(wroot + L"/x\n[2026-01-02 03-04-05] ERROR forged\r.txt");

    EXPECT_TRUE(cleanup::delete_tree(wroot, 0, false));

    lines expected = entered(root, 0);
    append(expected, file_deleted(root + "/x?[2026-01-02 03-04-05] ERROR forged?.txt"));
    EXPECT_EQ(log_entries(), expected);
}

TEST_F(deleting_tree, a_file_deleted_while_open_elsewhere_keeps_its_directory_until_closed) {
    machine().create_file(wroot + L"/sub/open.txt");
    platform::unique_file_handle reader(platform::open_existing_file(
        (wroot + L"/sub/open.txt").c_str(), 0x80000000,
        platform::file_share_read | platform::file_share_write | platform::file_share_delete, 0));
    ASSERT_TRUE(reader);

    EXPECT_FALSE(cleanup::delete_tree(wroot, 0, false));

    const lines entries = log_entries();
    EXPECT_EQ(lines(entries.end() - 4, entries.end()),
              (lines{d("file " + root + "/sub/open.txt deleted"),
                     d("RemoveDirectory returned an error. Unable to delete empty directory " +
                       root + "/sub"),
                     ":<ERROR>:  delete_tree The directory is not empty.",
                     d("recursive call to delete_tree returned an error. Unable to delete "
                       "directory " +
                       root + "/sub")}));
    reader.reset();
    EXPECT_TRUE(cleanup::delete_tree(wroot, 0, false));
    EXPECT_TRUE(machine().tree(wroot).empty());
}

TEST_F(deleting_tree, a_read_only_file_with_another_name_is_not_changed) {
    machine().create_file(wroot + L"/linked.txt", platform::file_attribute_readonly);
    machine().set_link_count(wroot + L"/linked.txt", 2);

    EXPECT_FALSE(cleanup::delete_tree(wroot, 0, false));

    EXPECT_NE(*machine().attributes(wroot + L"/linked.txt") & platform::file_attribute_readonly,
              0u);
    const lines entries = log_entries();
    EXPECT_EQ(lines(entries.end() - 2, entries.end()),
              (lines{d("DeleteFile returned an error. Unable to delete directory " + root +
                       "/linked.txt"),
                     ":<ERROR>:  delete_tree Access is denied."}));
}

// Each call the walk makes, failing, is logged with the call and the system's text named,
// and fails every enclosing directory.
struct failed_call {
    const char* name;
    sim::operation op;
    const wchar_t* subject;
    std::vector<std::string> last_lines;
};

class deleting_tree_failure : public deleting_tree,
                              public testing::WithParamInterface<failed_call> {};

TEST_P(deleting_tree_failure, fails_the_walk_with_its_lines) {
    machine().create_file(wroot + L"/sub/a.txt");
    machine().create_directory_link(wroot + L"/sub/link", L"C:/Windows");
    // Open before the fault: opening the log asks the same questions of its file.
    logging::get_logger();
    machine().fail(GetParam().op, platform::error_access_denied,
                   GetParam().subject[0] == L'\0' ? std::wstring() : wroot + GetParam().subject);

    EXPECT_FALSE(cleanup::delete_tree(wroot, 0, false));

    lines expected;
    for (const auto& line : GetParam().last_lines) {
        expected.push_back(line.starts_with(":") ? line : d(line));
    }
    const lines entries = log_entries();
    ASSERT_GE(entries.size(), expected.size());
    EXPECT_EQ(lines(entries.end() - static_cast<long>(expected.size()), entries.end()), expected);
    EXPECT_EQ(machine().open_handles(), 0u);
    // One clean-up event for each error line: a failed call's two lines are one event.
    const auto events = machine().events();
    EXPECT_EQ(events.size(), test::lines_starting(entries, ":<ERROR>:").size());
    for (const auto& event : events) EXPECT_EQ(event.id, 5u);
}

const std::string denied = ":<ERROR>:  delete_tree Access is denied.";
const std::string sub = root + "/sub";
const std::string sub_failed =
    "recursive call to delete_tree returned an error. Unable to delete directory " + sub;

INSTANTIATE_TEST_SUITE_P(
    calls, deleting_tree_failure,
    testing::Values(
        failed_call{"open_root",
                    sim::operation::open_existing_file,
                    L"",
                    {"directory " + root + " level 0",
                     "CreateFile returned an error. Unable to open directory " + root, denied}},
        failed_call{
            "query_root",
            sim::operation::get_file_attributes_by_handle,
            L"",
            {"GetFileInformationByHandleEx returned an error. Unable to delete " + root, denied}},
        failed_call{"final_path_of_root",
                    sim::operation::get_final_path_name_by_handle,
                    L"",
                    {":<ERROR>:  delete_tree directory does not lie where it is named. Nothing "
                     "under it is deleted " +
                     root + " "}},
        failed_call{
            "name_of_root",
            sim::operation::get_file_name_by_handle,
            L"",
            {"GetFileInformationByHandleEx returned an error. Unable to delete " + root, denied}},
        failed_call{"name_of_a_directory",
                    sim::operation::get_file_name_by_handle,
                    L"/sub",
                    {"GetFileInformationByHandleEx returned an error. Unable to delete " + sub,
                     denied, sub_failed}},
        failed_call{"removing_a_link",
                    sim::operation::set_delete_disposition,
                    L"/sub/link",
                    {"removing link " + sub + "/link", "Unable to remove link " + sub + "/link",
                     denied, sub_failed}},
        failed_call{"opening_a_link",
                    sim::operation::open_existing_file,
                    L"/sub/link",
                    {"removing link " + sub + "/link", "Unable to remove link " + sub + "/link",
                     denied, sub_failed}},
        // The walk goes on past it: the link after it goes.
        failed_call{
            "deleting_a_file",
            sim::operation::set_delete_disposition,
            L"/sub/a.txt",
            {"deleting file " + sub + "/a.txt",
             "DeleteFile returned an error. Unable to delete directory " + sub + "/a.txt", denied,
             "removing link " + sub + "/link", "link " + sub + "/link removed", sub_failed}},
        failed_call{
            "opening_a_directory",
            sim::operation::open_existing_file,
            L"/sub",
            {"directory " + sub + " level 1",
             "CreateFile returned an error. Unable to open directory " + sub, denied, sub_failed}}),
    [](const testing::TestParamInfo<failed_call>& info) { return std::string(info.param.name); });

}  // namespace
