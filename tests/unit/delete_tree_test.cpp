#include "process/delete_tree.h"

#include <gtest/gtest.h>

#include "process/cleanup.h"
#include "support/sim_test.h"

namespace {

using test::lines_starting;

using lines = std::vector<std::string>;

const std::string root = "C:/ProgramData/Quillmark/Snap/temp";
const std::wstring wroot = process::temp_directory;

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
    EXPECT_FALSE(process::delete_tree(wroot, 0, false));
    lines expected = entered(root, 0);
    expected.push_back(d("directory is empty."));
    EXPECT_EQ(log_entries(), expected);
}

TEST_F(deleting_tree, an_empty_directory_stays_and_nothing_is_deleted) {
    machine().create_directory(wroot);
    EXPECT_TRUE(process::delete_tree(wroot, 0, false));
    EXPECT_EQ(log_entries(), entered(root, 0));
    EXPECT_TRUE(machine().exists(wroot));
    EXPECT_EQ(machine().open_handles(), 0u);
}

TEST_F(deleting_tree, nested_content_goes_depth_first_and_the_root_stays) {
    machine().create_file(wroot + L"/a.txt");
    machine().create_file(wroot + L"/sub/b.txt", platform::file_attribute_readonly);
    machine().create_file(wroot + L"/sub/deeper/c.txt");
    machine().create_file(wroot + L"/z.txt");

    EXPECT_TRUE(process::delete_tree(wroot, 0, false));

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
    EXPECT_TRUE(process::delete_tree(wroot, 0, true));
    EXPECT_EQ(log_entries().back(), d("directory " + root + " deleted"));
    EXPECT_FALSE(machine().exists(wroot));
    EXPECT_TRUE(machine().exists(L"C:/ProgramData/Quillmark/Snap"));
}

TEST_F(deleting_tree, a_file_that_cannot_be_deleted_stops_the_whole_walk) {
    machine().create_file(wroot + L"/a.txt");
    machine().create_file(wroot + L"/sub/held.txt");
    machine().create_file(wroot + L"/sub/later.txt");
    machine().create_file(wroot + L"/zz.txt");
    const auto holder = machine().start_process(test::agent_image);
    machine().hold_file(holder, wroot + L"/sub/held.txt");

    EXPECT_FALSE(process::delete_tree(wroot, 0, false));

    lines expected = entered(root, 0);
    append(expected, file_deleted(root + "/a.txt"));
    append(expected, entered(root + "/sub", 1));
    append(expected,
           {d("deleting file " + root + "/sub/held.txt"),
            d("DeleteFile returned an error. Unable to delete directory " + root + "/sub/held.txt"),
            ":<ERROR>:  delete_tree The process cannot access the file because it is being used "
            "by another process.\r\n",
            d("recursive call to delete_tree returned an error. Unable to delete directory " +
              root + "/sub")});
    EXPECT_EQ(log_entries(), expected);
    EXPECT_TRUE(machine().exists(wroot + L"/sub/later.txt"));
    EXPECT_TRUE(machine().exists(wroot + L"/zz.txt"));
    EXPECT_EQ(machine().open_handles(), 0u);
}

TEST_F(deleting_tree, a_directory_that_cannot_be_removed_fails_every_enclosing_level) {
    machine().create_directory(wroot + L"/one/two");
    machine().fail(sim::operation::remove_directory, platform::error_access_denied,
                   wroot + L"/one/two");
    EXPECT_FALSE(process::delete_tree(wroot, 0, false));

    const lines entries = log_entries();
    EXPECT_EQ(lines(entries.end() - 4, entries.end()),
              (lines{d("RemoveDirectory returned an error. Unable to delete empty directory " +
                       root + "/one/two"),
                     ":<ERROR>:  delete_tree Access is denied.\r\n",
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
    EXPECT_FALSE(process::delete_tree(wroot, 0, false));
    EXPECT_EQ(log_entries().back(),
              d("FindNextFile returned an error. The parameter is incorrect.\r\n"));
    EXPECT_EQ(machine().open_handles(), 0u);
}

TEST_F(deleting_tree, a_link_planted_inside_is_removed_and_what_it_points_to_is_untouched) {
    machine().create_file(L"C:/Windows/System32/config/SAM");
    machine().create_file(L"C:/Users/admin/Documents/report.docx");
    machine().create_directory_link(wroot + L"/evil", L"C:/Windows/System32");
    machine().create_directory_link(wroot + L"/sub/docs", L"C:/Users/admin/Documents");
    machine().create_file(wroot + L"/sub/x.txt");

    EXPECT_TRUE(process::delete_tree(wroot, 0, false));

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

    EXPECT_FALSE(process::delete_tree(wroot, 0, false));

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

    process::cleanup();

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

}  // namespace
