// The Windows backend of the platform layer against the real system: each call must
// give the results and last-error codes the layer's users rely on.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "file_calls.h"
#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/file_handles.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/settings.h"
#include "platform/text.h"
#include "platform/threads_and_events.h"
#include "platform/unique_handle.h"

namespace {

namespace fs = std::filesystem;

bool ends_with_ignoring_case(const std::wstring& text, const std::wstring& end) {
    if (end.size() > text.size()) {
        return false;
    }
    return platform::compare_string_ignore_case(text.substr(text.size() - end.size()).c_str(),
                                                end.c_str()) == 0;
}

// A directory of its own under the temporary directory, removed with everything in it.
class scratch_directory {
  public:
    scratch_directory() {
        std::random_device random;
        const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
        path_ = fs::temp_directory_path() /
                ("quillmark-win32-" + std::to_string(random()) + "-" + std::to_string(now));
        fs::create_directories(path_);
    }
    scratch_directory(const scratch_directory&) = delete;
    scratch_directory& operator=(const scratch_directory&) = delete;
    ~scratch_directory() {
        std::error_code ignored;
        fs::permissions(path_ / "readonly.txt", fs::perms::owner_write, fs::perm_options::add,
                        ignored);
        fs::remove_all(path_, ignored);
    }

    const fs::path& path() const { return path_; }

    fs::path write(const char* name) const {
        const fs::path file = path_ / name;
        std::ofstream(file) << "x";
        return file;
    }

  private:
    fs::path path_;
};

TEST(Win32Module, PathNamesTheRunningExecutable) {
    std::vector<wchar_t> buffer(1024, L'#');
    const std::uint32_t length =
        platform::get_module_file_name(buffer.data(), static_cast<std::uint32_t>(buffer.size()));
    ASSERT_GT(length, 0u);
    ASSERT_LT(length, buffer.size());
    EXPECT_EQ(buffer[length], L'\0');
    EXPECT_TRUE(
        ends_with_ignoring_case(std::wstring(buffer.data(), length), L"\\windows_tests.exe"))
        << "path: " << ::testing::PrintToString(std::wstring(buffer.data(), length));
}

TEST(Win32Files, Attributes) {
    const scratch_directory scratch;
    const fs::path file = scratch.write("a.txt");
    EXPECT_EQ(platform::get_file_attributes(file.c_str()) & platform::file_attribute_directory, 0u);
    EXPECT_NE(
        platform::get_file_attributes(scratch.path().c_str()) & platform::file_attribute_directory,
        0u);
    EXPECT_EQ(platform::get_file_attributes((scratch.path() / "missing").c_str()),
              platform::invalid_file_attributes);
    EXPECT_EQ(platform::get_last_error(), platform::error_file_not_found);
}

TEST(Win32Files, DeletingMissingFileFailsWithError2) {
    const scratch_directory scratch;
    EXPECT_FALSE(platform::delete_file((scratch.path() / "missing.txt").c_str()));
    EXPECT_EQ(platform::get_last_error(), platform::error_file_not_found);
}

TEST(Win32Files, ReadOnlyFileIsDeletedOnceMadeWritable) {
    const scratch_directory scratch;
    const fs::path file = scratch.write("readonly.txt");
    fs::permissions(file, fs::perms::owner_write, fs::perm_options::remove);
    ASSERT_NE(platform::get_file_attributes(file.c_str()) & platform::file_attribute_readonly, 0u);

    EXPECT_FALSE(platform::delete_file(file.c_str()));
    EXPECT_EQ(platform::get_last_error(), platform::error_access_denied);
    EXPECT_EQ(platform::make_writable(file.c_str()), 0);
    EXPECT_EQ(platform::get_file_attributes(file.c_str()) & platform::file_attribute_readonly, 0u);
    EXPECT_TRUE(platform::delete_file(file.c_str()));
    EXPECT_FALSE(fs::exists(file));
}

TEST(Win32Files, MakingMissingFileWritableFails) {
    const scratch_directory scratch;
    EXPECT_EQ(platform::make_writable((scratch.path() / "missing.txt").c_str()), -1);
}

// The agent keeps its log open with the C runtime, which does not share deletion: the
// file cannot be deleted until it is closed.
TEST(Win32Files, FileHeldOpenCannotBeDeleted) {
    const scratch_directory scratch;
    const fs::path file = scratch.write("held.log");
    {
        std::ofstream held(file, std::ios::app);
        ASSERT_TRUE(held);
        EXPECT_FALSE(platform::delete_file(file.c_str()));
        EXPECT_EQ(platform::get_last_error(), platform::error_sharing_violation);
    }
    EXPECT_TRUE(platform::delete_file(file.c_str()));
}

TEST(Win32Files, DirectoryIsRemovedOnlyWhenEmpty) {
    const scratch_directory scratch;
    const fs::path directory = scratch.path() / "sub";
    fs::create_directory(directory);
    const fs::path file = directory / "a.txt";
    std::ofstream(file) << "x";

    EXPECT_FALSE(platform::remove_directory(directory.c_str()));
    EXPECT_EQ(platform::get_last_error(), platform::error_dir_not_empty);
    ASSERT_TRUE(platform::delete_file(file.c_str()));
    EXPECT_TRUE(platform::remove_directory(directory.c_str()));
    EXPECT_FALSE(fs::exists(directory));
}

// The path on the volume of an entry deeper than the first buffer holds comes whole: the
// Windows backend reads a long name a second time, into a larger buffer.
TEST(Win32Files, NameOfADeepEntryComesWhole) {
    const scratch_directory scratch;
    std::wstring deep = L"\\\\?\\" + scratch.path().wstring();
    for (int level = 0; level < 12; ++level) {
        deep += L"\\level-" + std::to_wstring(level) + L"-" + std::wstring(90, L'd');
        ASSERT_TRUE(fs::create_directory(deep)) << level;
    }
    const platform::unique_file_handle held(platform::open_existing_file(
        deep.c_str(), platform::file_read_attributes,
        platform::file_share_read | platform::file_share_write,
        platform::file_flag_backup_semantics | platform::file_flag_open_reparse_point));
    ASSERT_TRUE(held);
    std::wstring name;
    ASSERT_TRUE(platform::get_file_name_by_handle(held.get(), name));
    EXPECT_GT(name.size(), 1024u);
    EXPECT_EQ(name, deep.substr(6));
}

}  // namespace
