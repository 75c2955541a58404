// Processes: the agent's launch, the searches by image name, the ending of the group, and
// the agent's files the clean-up meets while it runs.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "contract/contract_test.h"
#include "platform/errors.h"
#include "platform/file_handles.h"
#include "platform/processes.h"
#include "platform/settings.h"
#include "platform/text.h"

namespace contract {
namespace {

using processes_contract = contract_test;

// DETACHED_PROCESS: a child without a console holds none of this program's standard
// handles, which under Wine would keep CTest's output pipe open.
constexpr std::uint32_t detached_process = 0x00000008;

std::vector<wchar_t> writable_line(const std::wstring& line) {
    std::vector<wchar_t> buffer(line.begin(), line.end());
    buffer.push_back(L'\0');
    return buffer;
}

// A program launched hidden, as the agent is, and ended at the latest when the owner goes.
class launched {
  public:
    explicit launched(const std::wstring& name, const std::wstring& arguments = L"") {
        // The stand-in ends by itself should the test fail before it is ended.
        std::vector<wchar_t> line =
            writable_line(L"\"" + program_path(name) + L"\" --exit-after 60000 " + arguments);
        const platform::startup_info hidden{platform::startf_useshowwindow, platform::sw_hide};
        if (platform::create_process(line.data(), false, detached_process, hidden,
                                     created_.receive())) {
            process_ = created_.take_process();
        }
    }
    launched(const launched&) = delete;
    launched& operator=(const launched&) = delete;
    ~launched() {
        if (process_ &&
            platform::wait_for_single_object(process_.get(), 0) == platform::wait_timeout) {
            platform::terminate_process(process_.get(), 1);
            platform::wait_for_single_object(process_.get(), ample_ms);
        }
    }

    platform::handle get() const { return process_.get(); }
    std::uint32_t id() const { return created_.get().process_id; }
    platform::handle thread() const { return created_.get().thread; }
    explicit operator bool() const { return static_cast<bool>(process_); }

  private:
    platform::unique_process_information created_;
    platform::unique_handle process_;
};

bool is_listed(std::uint32_t id) {
    std::vector<std::uint32_t> ids(4096);
    std::uint32_t filled = 0;
    if (!platform::enum_processes(
            ids.data(), static_cast<std::uint32_t>(ids.size() * sizeof(std::uint32_t)), &filled)) {
        return false;
    }
    EXPECT_EQ(filled % sizeof(std::uint32_t), 0u);
    ids.resize(filled / sizeof(std::uint32_t));
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

// The process's image path, in the device form, with a file named `base_name` in any
// letter case.
void expect_image(std::uint32_t id, const std::wstring& base_name) {
    const platform::unique_handle opened(
        platform::open_process(platform::process_all_access, false, id));
    ASSERT_TRUE(opened) << "error " << platform::get_last_error();
    std::vector<wchar_t> image(1024);
    const std::uint32_t length = platform::get_process_image_file_name(
        opened.get(), image.data(), static_cast<std::uint32_t>(image.size()));
    const std::wstring path(image.data(), length);
    const std::wstring end = L"\\" + base_name;
    EXPECT_EQ(path.rfind(L"\\Device\\", 0), 0u) << ::testing::PrintToString(path);
    EXPECT_TRUE(path.size() > end.size() &&
                platform::compare_string_ignore_case(path.substr(path.size() - end.size()).c_str(),
                                                     end.c_str()) == 0)
        << ::testing::PrintToString(path);

    // One that does not fit fails with one of the two errors the search reads again on.
    EXPECT_EQ(platform::get_process_image_file_name(opened.get(), image.data(), 4), 0u);
    const platform::error_code error = platform::get_last_error();
    EXPECT_TRUE(error == platform::error_insufficient_buffer || error == 24) << error;
}

TEST_F(processes_contract, process_zero_cannot_be_opened) {
    EXPECT_EQ(platform::open_process(platform::process_all_access, false, 0), nullptr);
    EXPECT_EQ(platform::get_last_error(), platform::error_invalid_parameter);
}

TEST_F(processes_contract, a_missing_program_fails_with_error_2) {
    const scratch scratch;
    const std::wstring line = L"\"" + (scratch / L"no-such-program.exe") + L"\" --config x";
    std::vector<wchar_t> command_line = writable_line(line);
    platform::unique_process_information created;
    EXPECT_FALSE(platform::create_process(command_line.data(), false, 0, platform::startup_info{},
                                          created.receive()));
    EXPECT_EQ(platform::get_last_error(), platform::error_file_not_found);
    EXPECT_EQ(created.get().process, nullptr);
}

TEST_F(processes_contract, a_launched_program_is_listed_and_named_by_its_image) {
    const launched program(L"snapteld.exe");
    ASSERT_TRUE(program) << "error " << platform::get_last_error();
    EXPECT_NE(program.thread(), nullptr);
    EXPECT_NE(program.id(), 0u);
    EXPECT_TRUE(is_listed(program.id()));
    expect_image(program.id(), L"snapteld.exe");
}

TEST_F(processes_contract, this_process_is_listed_named_and_running) {
    std::vector<wchar_t> module(1024);
    const std::wstring path(
        module.data(),
        platform::get_module_file_name(module.data(), static_cast<std::uint32_t>(module.size())));
    const std::uint32_t own = platform::get_current_process_id();
    EXPECT_TRUE(is_listed(own));
    expect_image(own, path.substr(path.find_last_of(L'\\') + 1));

    const platform::unique_handle process(
        platform::open_process(platform::process_all_access, false, own));
    std::uint32_t exit_code = 0;
    ASSERT_TRUE(platform::get_exit_code_process(process.get(), &exit_code));
    EXPECT_EQ(exit_code, platform::still_active);
    EXPECT_EQ(platform::wait_for_single_object(process.get(), 0), platform::wait_timeout);
}

TEST_F(processes_contract, a_terminated_process_ends_with_the_given_code) {
    const launched program(L"snapteld.exe");
    ASSERT_TRUE(program) << "error " << platform::get_last_error();
    std::uint32_t exit_code = 0;
    ASSERT_TRUE(platform::get_exit_code_process(program.get(), &exit_code));
    EXPECT_EQ(exit_code, platform::still_active);
    EXPECT_EQ(platform::wait_for_single_object(program.get(), 0), platform::wait_timeout);

    ASSERT_TRUE(platform::terminate_process(program.get(), 1));
    // Termination completes after the call returns: the code is read after the wait.
    ASSERT_EQ(platform::wait_for_single_object(program.get(), ample_ms), platform::wait_object_0);
    ASSERT_TRUE(platform::get_exit_code_process(program.get(), &exit_code));
    EXPECT_EQ(exit_code, 1u);
}

// The agent keeps its log open with the C runtime, which does not share deletion: the
// clean-up cannot open it for deletion until the agent has ended.
TEST_F(processes_contract, a_file_held_by_a_process_is_deleted_only_once_it_has_ended) {
    const scratch scratch;
    const std::wstring held = scratch / L"held.log";
    const auto open_to_delete = [&] {
        return platform::unique_file_handle(platform::open_existing_file(
            held.c_str(), platform::delete_access | platform::file_read_attributes,
            platform::file_share_read | platform::file_share_write, 0));
    };
    const launched program(L"snap-plugin-publisher-quillmark.exe", L"--hold \"" + held + L"\"");
    ASSERT_TRUE(program) << "error " << platform::get_last_error();
    await_holding(program.id(), held);
    ASSERT_TRUE(scratch.exists(L"held.log"));
    EXPECT_FALSE(open_to_delete());
    EXPECT_EQ(platform::get_last_error(), platform::error_sharing_violation);

    ASSERT_TRUE(platform::terminate_process(program.get(), 1));
    ASSERT_EQ(platform::wait_for_single_object(program.get(), ample_ms), platform::wait_object_0);
    {
        const platform::unique_file_handle entry = open_to_delete();
        ASSERT_TRUE(entry) << "error " << platform::get_last_error();
        EXPECT_TRUE(platform::set_delete_disposition(entry.get()));
    }
    EXPECT_FALSE(scratch.exists(L"held.log"));
}

}  // namespace
}  // namespace contract
