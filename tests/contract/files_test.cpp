// Files: the listing the clean-up walks, the entries it reaches through handles and
// deletes through them, and the log file it creates and writes. The clean-up and the log
// are tested natively on the simulated machine, which assumes of Windows what these check.
#include <cstdint>
#include <map>
#include <string>

#include "contract/contract_test.h"
#include "platform/errors.h"
#include "platform/file_handles.h"
#include "platform/files.h"
#include "platform/text.h"

namespace contract {
namespace {

using files_contract = contract_test;

TEST_F(files_contract, listing_gives_every_entry_then_error_18) {
    const scratch scratch;
    scratch.write(L"a.txt", "x");
    scratch.make_directory(L"sub");

    std::map<std::wstring, std::uint32_t> listed;
    platform::find_data entry;
    platform::unique_find_handle listing(
        platform::find_first_file((scratch / L"*").c_str(), entry));
    ASSERT_TRUE(listing);
    do {
        listed[entry.name] = entry.attributes;
    } while (platform::find_next_file(listing.get(), entry));
    EXPECT_EQ(platform::get_last_error(), platform::error_no_more_files);
    EXPECT_TRUE(platform::find_close(listing.release()));

    ASSERT_EQ(listed.size(), 4u);
    EXPECT_EQ(listed.count(L"."), 1u);
    EXPECT_EQ(listed.count(L".."), 1u);
    EXPECT_EQ(listed[L"a.txt"] & platform::file_attribute_directory, 0u);
    EXPECT_NE(listed[L"sub"] & platform::file_attribute_directory, 0u);
}

TEST_F(files_contract, a_missing_place_fails_with_error_3) {
    const scratch scratch;
    platform::find_data entry;
    EXPECT_EQ(platform::find_first_file((scratch / L"missing\\*").c_str(), entry),
              platform::invalid_handle_value());
    EXPECT_EQ(platform::get_last_error(), platform::error_path_not_found);
    EXPECT_EQ(platform::create_file((scratch / L"missing\\log.txt").c_str(),
                                    platform::generic_write, platform::file_share_read,
                                    platform::create_always, platform::file_attribute_normal),
              platform::invalid_handle_value());
    EXPECT_EQ(platform::get_last_error(), platform::error_path_not_found);
}

// What the clean-up relies on when it reaches entries through handles.
TEST_F(files_contract, entries_are_checked_and_deleted_through_their_handles) {
    const scratch scratch;
    scratch.make_directory(L"sub");
    scratch.write(L"sub\\a.txt", "x");
    const std::wstring directory = scratch / L"sub";
    constexpr std::uint32_t share = platform::file_share_read | platform::file_share_write;
    constexpr std::uint32_t access =
        platform::delete_access | platform::file_read_attributes | platform::file_write_attributes;
    const auto open = [&](const std::wstring& path, std::uint32_t flags) {
        return platform::unique_file_handle(
            platform::open_existing_file((L"\\\\?\\" + path).c_str(), access, share,
                                         flags | platform::file_flag_open_reparse_point));
    };

    // A directory opens only with backup semantics.
    EXPECT_FALSE(open(directory, 0));
    EXPECT_EQ(platform::get_last_error(), platform::error_access_denied);
    platform::unique_file_handle held = open(directory, platform::file_flag_backup_semantics);
    ASSERT_TRUE(held);
    std::uint32_t attributes = 0;
    ASSERT_TRUE(platform::get_file_attributes_by_handle(held.get(), attributes));
    EXPECT_NE(attributes & platform::file_attribute_directory, 0u);
    std::uint32_t links = 0;
    ASSERT_TRUE(platform::get_file_link_count(held.get(), links));
    EXPECT_EQ(links, 1u);
    std::wstring name;
    ASSERT_TRUE(platform::get_file_name_by_handle(held.get(), name));
    EXPECT_EQ(name, directory.substr(2));
    std::wstring final(platform::max_path, L'\0');
    final.resize(
        platform::get_final_path_name_by_handle(held.get(), final.data(), platform::max_path));
    EXPECT_EQ(platform::compare_string_ignore_case(final.c_str(), (L"\\\\?\\" + directory).c_str()),
              0);
    EXPECT_FALSE(platform::set_delete_disposition(held.get()));
    EXPECT_EQ(platform::get_last_error(), platform::error_dir_not_empty);

    // A read-only file goes once its attributes are set through the same handle.
    scratch.make_read_only(L"sub\\a.txt");
    {
        platform::unique_file_handle entry =
            open(scratch / L"sub\\a.txt", platform::file_flag_backup_semantics);
        ASSERT_TRUE(entry);
        EXPECT_FALSE(platform::set_delete_disposition(entry.get()));
        EXPECT_EQ(platform::get_last_error(), platform::error_access_denied);
        EXPECT_TRUE(platform::set_file_attributes_by_handle(entry.get(), 0));
        EXPECT_TRUE(platform::set_delete_disposition(entry.get()));
    }
    EXPECT_FALSE(scratch.exists(L"sub\\a.txt"));
    EXPECT_TRUE(platform::set_delete_disposition(held.get()));
    held.reset();
    EXPECT_FALSE(scratch.exists(L"sub"));
}

// The log: emptied at its start, written at its end, through handles of its own.
TEST_F(files_contract, create_always_empties_an_existing_file) {
    const scratch scratch;
    scratch.write(L"log.txt", "an earlier run's much longer text");

    platform::unique_file_handle created(platform::create_file(
        (scratch / L"log.txt").c_str(), platform::generic_write, platform::file_share_read,
        platform::create_always, platform::file_attribute_normal));
    ASSERT_TRUE(created);
    std::uint32_t written = 0;
    ASSERT_TRUE(platform::write_file(created.get(), "new\n", 4, &written));
    EXPECT_EQ(written, 4u);
    created.reset();
    EXPECT_EQ(scratch.content(L"log.txt"), "new\n");
}

}  // namespace
}  // namespace contract
