// Processes: what a launch that cannot start and a process that cannot be opened report,
// which the agent's launch and the searches by image name rely on.
#include <string>
#include <vector>

#include "contract/contract_test.h"
#include "platform/errors.h"
#include "platform/processes.h"

namespace contract {
namespace {

using processes_contract = contract_test;

TEST_F(processes_contract, process_zero_cannot_be_opened) {
    EXPECT_EQ(platform::open_process(platform::process_all_access, false, 0), nullptr);
    EXPECT_EQ(platform::get_last_error(), platform::error_invalid_parameter);
}

TEST_F(processes_contract, a_missing_program_fails_with_error_2) {
    const scratch scratch;
    const std::wstring line = L"\"" + (scratch / L"no-such-program.exe") + L"\" --config x";
    std::vector<wchar_t> command_line(line.begin(), line.end());
    command_line.push_back(L'\0');
    platform::unique_process_information created;
    EXPECT_FALSE(platform::create_process(command_line.data(), false, 0, platform::startup_info{},
                                          created.receive()));
    EXPECT_EQ(platform::get_last_error(), platform::error_file_not_found);
    EXPECT_EQ(created.get().process, nullptr);
}

}  // namespace
}  // namespace contract
