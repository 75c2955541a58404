// Finding and ending the agent and its plugins, and emptying the agent's temporary
// directory, on the real system: stand-ins run under the agent's and plugins' file
// names, the temporary directory is the real one, and the service's own log is read
// back to see what was done.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "cleanup/cleanup.h"
#include "file_calls.h"
#include "logging/diagnostic_log.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/processes.h"
#include "platform/settings.h"
#include "platform/threads_and_events.h"
#include "process/find_processes.h"
#include "process/kill_processes.h"
#include "standin_process.h"

namespace {

namespace fs = std::filesystem;
using standin::started_standin;

constexpr const wchar_t* agent = L"snapteld.exe";
constexpr const wchar_t* collector = L"snap-plugin-collector-qmsystem.exe";
constexpr const wchar_t* publisher = L"snap-plugin-publisher-quillmark.exe";

// The log lines name the temporary directory as the service spells it.
const std::string temp_text = "C:/ProgramData/Quillmark/Snap/temp";

fs::path temp_directory() {
    return fs::path(cleanup::temp_directory);
}

// --- The service's log ---------------------------------------------------------

fs::path& log_file() {
    static fs::path path;
    return path;
}

fs::path settings_file() {
    std::vector<wchar_t> buffer(32768);
    const std::uint32_t length =
        platform::get_module_file_name(buffer.data(), static_cast<std::uint32_t>(buffer.size()));
    return fs::path(std::wstring(buffer.data(), length)).parent_path() / "quillmark_snaptel.ini";
}

// The log the tests write through, standing in for the process's own.
std::optional<logging::diagnostic_log>& test_log() {
    static std::optional<logging::diagnostic_log> log;
    return log;
}

// The service reads its settings beside the running executable, which here is this test
// program: settings that log everything, to a file of the test run's own, must be in
// place before the first line is logged.
class service_log_environment : public testing::Environment {
  public:
    void SetUp() override {
        directory_ = fs::temp_directory_path() / "quillmark-process-cleanup-log";
        std::error_code ignored;
        fs::create_directories(directory_, ignored);
        log_file() = directory_ / "quillmark_snaptel.log";
        std::ofstream out(settings_file(), std::ios::binary | std::ios::trunc);
        out << "[SERVICE]\r\nLogLevel=0\r\nLogFile=" << log_file().string() << "\r\n";
        if (!out) {
            ADD_FAILURE() << "cannot write " << settings_file().string();
        }
    }

    void TearDown() override {
        // The log file stays open until its log ends.
        test_log().reset();
        std::error_code ignored;
        fs::remove(settings_file(), ignored);
        fs::remove_all(directory_, ignored);
    }

  private:
    fs::path directory_;
};

[[maybe_unused]] testing::Environment* const log_environment =
    testing::AddGlobalTestEnvironment(new service_log_environment);

// Starts the log afresh, in a file of its own: a new log adds to the end of its file.
void start_new_log() {
    test_log().reset();
    std::error_code ignored;
    fs::remove(log_file(), ignored);
    test_log().emplace();
}

// Each test has a log of its own, which ends with it as its process would: the tests of
// the run open the same file, each anew, and one deletes it.
class log_per_test : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo& /*test*/) override { start_new_log(); }
    void OnTestEnd(const testing::TestInfo& /*test*/) override { test_log().reset(); }
};

[[maybe_unused]] const bool log_per_test_listening = [] {
    testing::UnitTest::GetInstance()->listeners().Append(new log_per_test);
    return true;
}();

// The log's lines without their "[YYYY-MM-DD HH:MM:SS]" stamps; a line without a stamp
// is kept whole, so that it shows in a failure and matches nothing expected.
std::vector<std::string> log_lines() {
    std::ifstream in(log_file(), std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    static const std::regex stamp(R"(^\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\])");
    std::vector<std::string> lines;
    std::istringstream split(text);
    for (std::string line; std::getline(split, line);) {
        std::smatch found;
        lines.push_back(std::regex_search(line, found, stamp) ? std::string(found.suffix()) : line);
    }
    return lines;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += "  | " + line + "\n";
    }
    return text;
}

// Where `line` is in `lines`; lines.size() when it is not there.
std::size_t position(const std::vector<std::string>& lines, const std::string& line) {
    return static_cast<std::size_t>(std::find(lines.begin(), lines.end(), line) - lines.begin());
}

testing::AssertionResult has_line(const std::vector<std::string>& lines, const std::string& line) {
    if (position(lines, line) < lines.size()) {
        return testing::AssertionSuccess();
    }
    return testing::AssertionFailure() << "the log lacks the line \"" << line << "\"; it holds:\n"
                                       << joined(lines);
}

testing::AssertionResult no_line_contains(const std::vector<std::string>& lines,
                                          const std::string& text) {
    for (const std::string& line : lines) {
        if (line.find(text) != std::string::npos) {
            return testing::AssertionFailure()
                   << "the log has \"" << line << "\" with \"" << text << "\"; it holds:\n"
                   << joined(lines);
        }
    }
    return testing::AssertionSuccess();
}

// --- Processes and files ---------------------------------------------------------

std::wstring image_path(platform::handle process) {
    std::vector<wchar_t> image(32768);
    const std::uint32_t length = platform::get_process_image_file_name(
        process, image.data(), static_cast<std::uint32_t>(image.size()));
    return std::wstring(image.data(), length);
}

std::string narrow(const std::wstring& text) {
    return fs::path(text).string();
}

std::set<std::string> base_names(const process::process_list& processes) {
    std::set<std::string> names;
    for (const auto& entry : processes) {
        names.insert(fs::path(image_path(entry->handle())).filename().string());
    }
    return names;
}

std::size_t found_count(const std::wstring& name) {
    process::process_list found;
    EXPECT_TRUE(process::find_processes(name, found));
    return found.size();
}

// Waits for the end of a stand-in that was to be ended, and gives its exit code.
std::uint32_t exit_code_after_end(const started_standin& standin) {
    EXPECT_EQ(platform::wait_for_single_object(standin.get(), 5000), platform::wait_object_0);
    std::uint32_t code = platform::still_active;
    EXPECT_TRUE(platform::get_exit_code_process(standin.get(), &code));
    return code;
}

bool is_link(const fs::path& path) {
    const std::uint32_t attributes = platform::get_file_attributes(path.c_str());
    return attributes != platform::invalid_file_attributes &&
           (attributes & platform::file_attribute_reparse_point) != 0;
}

// Empties `directory` with the standard library. Under Wine the deletion of a link acts
// on what it points to, so a link left over in there is reported and not touched.
void empty_directory(const fs::path& directory) {
    for (const fs::directory_entry& entry : fs::directory_iterator(directory)) {
        const fs::path& path = entry.path();
        if (is_link(path)) {
            ADD_FAILURE() << "a link is left in " << directory.string() << ": " << path.string();
            continue;
        }
        if (entry.is_directory()) {
            empty_directory(path);
            fs::remove(path);
        } else {
            fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);
            fs::remove(path);
        }
    }
}

void write_file(const fs::path& path) {
    std::ofstream(path, std::ios::binary) << "left by an earlier run of the agent\n";
}

// Waits until a stand-in has opened the file it was told to hold.
bool appears(const fs::path& path) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!fs::exists(path)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// Each test starts with no agent or plugin running and an empty temporary directory,
// and leaves them so.
class ProcessCleanup : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(found_count(L"snap"), 0u)
            << "an agent or plugin process runs before the test; a stand-in of an earlier "
               "run may be left (it ends by itself within a minute)";
        fs::create_directories(temp_directory());
        empty_directory(temp_directory());
    }

    void TearDown() override {
        std::error_code ignored;
        if (fs::is_directory(temp_directory(), ignored)) {
            empty_directory(temp_directory());
        }
    }
};

TEST_F(ProcessCleanup, FindsTheAgentAndPluginsByNameInDeviceFormInAnyCase) {
    const started_standin first_agent(agent, "");
    const started_standin second_agent(agent, "");
    const started_standin collector_plugin(collector, "");
    const started_standin publisher_plugin(publisher, "");
    ASSERT_TRUE(first_agent && second_agent && collector_plugin && publisher_plugin);

    process::process_list found;
    ASSERT_TRUE(process::find_processes(agent, found));
    ASSERT_EQ(found.size(), 2u);
    for (const auto& entry : found) {
        const std::wstring image = image_path(entry->handle());
        EXPECT_EQ(image.rfind(L"\\Device\\", 0), 0u) << narrow(image);
        EXPECT_TRUE(image.ends_with(L"\\standins\\snapteld.exe")) << narrow(image);
        EXPECT_TRUE(entry->is_running());
    }

    ASSERT_TRUE(process::find_processes(L"snap-plugin", found));
    EXPECT_EQ(found.size(), 2u);
    EXPECT_EQ(base_names(found), (std::set<std::string>{narrow(collector), narrow(publisher)}));

    // The name is looked for anywhere in the image path, directories included.
    ASSERT_TRUE(process::find_processes(L"\\standins\\snap", found));
    EXPECT_EQ(found.size(), 4u);

    ASSERT_TRUE(process::find_processes(collector, found));
    EXPECT_EQ(found.size(), 1u);

    // Letters match without regard to case, as in the file system's names.
    EXPECT_EQ(found_count(L"SNAPTELD.EXE"), 2u);
    EXPECT_EQ(found_count(L"Snap-Plugin"), 2u);

    // A search that matches nothing leaves an empty list, whatever it held before.
    ASSERT_TRUE(process::find_processes(L"snapteld.exe.old", found));
    EXPECT_TRUE(found.empty());
}

TEST_F(ProcessCleanup, KillProcessesEndsTheAgentAndBothPluginsWithCode0) {
    const started_standin agent_process(agent, "");
    const started_standin collector_plugin(collector, "");
    const started_standin publisher_plugin(publisher, "");
    ASSERT_TRUE(agent_process && collector_plugin && publisher_plugin);

    process::kill_processes();

    EXPECT_EQ(exit_code_after_end(agent_process), 0u);
    EXPECT_EQ(exit_code_after_end(collector_plugin), 0u);
    EXPECT_EQ(exit_code_after_end(publisher_plugin), 0u);
    EXPECT_EQ(found_count(L"snap"), 0u);
}

TEST_F(ProcessCleanup, KillProcessesWithNothingRunningOnlyLooks) {
    start_new_log();
    process::kill_processes();

    const std::vector<std::string> lines = log_lines();
    EXPECT_TRUE(has_line(lines, ":<D>:  kill_processes host agent is not running"));
    EXPECT_TRUE(has_line(lines, ":<D>:  kill_processes no plugin is running"));
    EXPECT_TRUE(no_line_contains(lines, "retry 1"));
}

TEST_F(ProcessCleanup, CleanupEndsTheProcessesAndEmptiesTheTempDirectory) {
    const fs::path temp = temp_directory();
    const fs::path nested = temp / "nested";
    const fs::path deeper = nested / "deeper";
    fs::create_directories(deeper);
    fs::create_directories(temp / "empty");
    fs::create_directories(temp / "logs");
    write_file(temp / "top.txt");
    write_file(nested / "middle.txt");
    write_file(deeper / "bottom.txt");
    const fs::path read_only = nested / "readonly.txt";
    write_file(read_only);
    fs::permissions(read_only, fs::perms::owner_write, fs::perm_options::remove);
    ASSERT_NE(platform::get_file_attributes(read_only.c_str()) & platform::file_attribute_readonly,
              0u);

    const fs::path held = temp / "logs" / "snapteld.log";
    const started_standin agent_process(agent, "--hold \"" + held.string() + "\"");
    const started_standin collector_plugin(collector, "");
    const started_standin publisher_plugin(publisher, "");
    ASSERT_TRUE(agent_process && collector_plugin && publisher_plugin);
    ASSERT_TRUE(appears(held));
    // Only ending the agent frees its log for deletion.
    EXPECT_FALSE(platform::delete_file(held.c_str()));
    EXPECT_EQ(platform::get_last_error(), platform::error_sharing_violation);

    start_new_log();
    cleanup::clean_up();

    EXPECT_EQ(exit_code_after_end(agent_process), 0u);
    EXPECT_EQ(exit_code_after_end(collector_plugin), 0u);
    EXPECT_EQ(exit_code_after_end(publisher_plugin), 0u);
    EXPECT_TRUE(fs::is_directory(temp));
    EXPECT_TRUE(fs::is_empty(temp));

    const std::vector<std::string> lines = log_lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), ":<D>:  cleanup enter");
    EXPECT_EQ(lines.back(), ":<D>:  cleanup exit");
    EXPECT_TRUE(has_line(lines, ":<D>:  kill_processes host agent is running"));
    EXPECT_TRUE(has_line(lines, ":<D>:  kill_processes found running plugins count 2"));
    const std::string wait_line = ":<D>:  cleanup wait before deleting temp directory for 1000 ms";
    EXPECT_TRUE(has_line(lines, wait_line));
    const std::string top_line = ":<D>:  delete_tree directory " + temp_text + " level 0";
    EXPECT_TRUE(has_line(lines, top_line));
    EXPECT_TRUE(has_line(lines, ":<D>:  delete_tree directory " + temp_text + "/nested level 1"));
    EXPECT_TRUE(
        has_line(lines, ":<D>:  delete_tree directory " + temp_text + "/nested/deeper level 2"));
    EXPECT_TRUE(
        has_line(lines, ":<D>:  delete_tree file " + temp_text + "/nested/readonly.txt deleted"));
    EXPECT_TRUE(
        has_line(lines, ":<D>:  delete_tree file " + temp_text + "/logs/snapteld.log deleted"));
    EXPECT_TRUE(
        has_line(lines, ":<D>:  delete_tree directory " + temp_text + "/nested/deeper deleted"));
    EXPECT_TRUE(has_line(lines, ":<D>:  delete_tree directory " + temp_text + "/empty deleted"));
    // The temporary directory itself is never removed.
    EXPECT_TRUE(no_line_contains(lines, "directory " + temp_text + " deleted"));
    EXPECT_TRUE(no_line_contains(lines, ":<ERROR>:"));

    // Processes go first; only after the wait is anything deleted.
    EXPECT_LT(position(lines, ":<D>:  kill_processes found running plugins count 2"),
              position(lines, wait_line));
    EXPECT_LT(position(lines, wait_line), position(lines, top_line));
}

// --- Links planted in the temporary directory ------------------------------------
//
// Wine cannot create Windows links, but shows a Unix symbolic link to a directory as a
// directory reparse point. link_cleanup_test.sh plants such links from the Unix side,
// runs these cases with QM_PLANTED_LINK naming the case, and checks afterwards, from
// the Unix side too, that nothing outside the temporary directory went.

bool planted_case_is(const char* name) {
    const char* value = std::getenv("QM_PLANTED_LINK");
    return value != nullptr && std::string(value) == name;
}

constexpr std::uint32_t link_to_directory =
    platform::file_attribute_reparse_point | platform::file_attribute_directory;

TEST(PlantedLink, LinkInsideTheTempDirectoryIsNotWalkedInto) {
    if (!planted_case_is("inside")) {
        GTEST_SKIP() << "run by link_cleanup_test.sh, which plants the link";
    }
    const fs::path link = temp_directory() / "planted";
    ASSERT_EQ(platform::get_file_attributes(link.c_str()) & link_to_directory, link_to_directory);

    start_new_log();
    cleanup::clean_up();

    // Wine opens the target of a Unix link even when asked for the link itself, and
    // deleting through such a handle would delete the target: where the handle really
    // leads shows it, and the link is left.
    const std::vector<std::string> lines = log_lines();
    const std::string outside = "\\quillmark-link-target\\";
    const std::string left =
        ":<ERROR>:  delete_tree entry leads outside the directory. It is left ";
    EXPECT_TRUE(has_line(lines, ":<D>:  delete_tree removing link " + temp_text + "/planted"));
    EXPECT_TRUE(has_line(lines, left + temp_text + "/planted " + outside + "keep"));
    EXPECT_TRUE(has_line(lines, left + temp_text + "/file-link " + outside + "file.txt"));
    EXPECT_TRUE(has_line(lines, left + temp_text + "/empty-link " + outside + "empty"));
    EXPECT_TRUE(has_line(lines, ":<D>:  delete_tree file " + temp_text + "/sub/deep.txt deleted"));
    EXPECT_TRUE(no_line_contains(lines, temp_text + "/planted/"));
    EXPECT_TRUE(no_line_contains(lines, "directory " + temp_text + "/planted level"));
    EXPECT_TRUE(no_line_contains(lines, "link " + temp_text + "/file-link deleted"));
    EXPECT_TRUE(no_line_contains(lines, "empty-link removed"));
}

TEST(PlantedLink, NamesThePlainPathFormCannotReachAreDeleted) {
    if (!planted_case_is("names")) {
        GTEST_SKIP() << "run by link_cleanup_test.sh, which makes the entries";
    }
    start_new_log();
    cleanup::clean_up();

    const std::vector<std::string> lines = log_lines();
    EXPECT_TRUE(no_line_contains(lines, ":<ERROR>:"));
    for (const char* name : {"nul", "con.txt", "trail.", "blank "}) {
        EXPECT_TRUE(
            has_line(lines, ":<D>:  delete_tree file " + temp_text + "/" + name + " deleted"))
            << name;
    }
}

TEST(PlantedLink, TempDirectoryThatIsALinkIsLeftAlone) {
    if (!planted_case_is("temp")) {
        GTEST_SKIP() << "run by link_cleanup_test.sh, which plants the link";
    }
    ASSERT_EQ(platform::get_file_attributes(temp_directory().c_str()) & link_to_directory,
              link_to_directory);

    start_new_log();
    cleanup::clean_up();

    const std::vector<std::string> lines = log_lines();
    EXPECT_TRUE(has_line(lines,
                         ":<ERROR>:  delete_tree directory does not lie where it is named. "
                         "Nothing under it is deleted " +
                             temp_text + " \\\\?\\C:\\quillmark-link-target\\elsewhere"));
    EXPECT_TRUE(no_line_contains(lines, temp_text + "/"));
    EXPECT_TRUE(fs::exists(temp_directory() / "inner" / "kept.txt"));
}

}  // namespace
