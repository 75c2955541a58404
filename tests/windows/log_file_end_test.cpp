// The log written at the end of the file as it is at each line: another program may
// open the same file with CREATE_ALWAYS while the service writes it, which empties it
// under the service's handle. Lines written at the service's own offset would
// then follow a run of NUL bytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <regex>
#include <string>

#include "logging/file_log.h"
#include "platform/file_handles.h"
#include "platform/files.h"
#include "platform/handles.h"

namespace {

namespace fs = std::filesystem;

std::string without_timestamps(const std::string& bytes) {
    static const std::regex stamp(R"((^|\n)\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\]:<D>:  t )");
    return std::regex_replace(bytes, stamp, "$1");
}

std::string read_bytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Another program opens the log as the service does, emptying it, and writes `bytes`.
void open_as_another_start(const fs::path& file, const std::string& bytes) {
    const platform::handle other =
        platform::create_file(file.c_str(), platform::generic_write,
                              platform::file_share_read | platform::file_share_write,
                              platform::create_always, platform::file_attribute_normal);
    ASSERT_NE(other, platform::invalid_handle_value());
    std::uint32_t written = 0;
    ASSERT_TRUE(platform::write_file(other, bytes.data(), static_cast<std::uint32_t>(bytes.size()),
                                     &written));
    EXPECT_EQ(written, bytes.size());
    platform::close_handle(other);
}

struct emptied_case {
    const char* name;
    std::string its_bytes;
    std::string expected;
};

void PrintTo(const emptied_case& c, std::ostream* out) {
    *out << c.name;
}

class LogFileEmptied : public ::testing::TestWithParam<emptied_case> {};

TEST_P(LogFileEmptied, LinesGoOnAtTheNewEndWithoutNulBytes) {
    const fs::path file = fs::temp_directory_path() / "quillmark-log-end.log";
    fs::remove(file);
    {
        logging::file_log log;
        log.set_up({file.wstring(), 0, 0}, logging::log_start::appending);
        log.write_entry<logging::severity::debug>(L"t", L"first line of the service");
        log.write_entry<logging::severity::debug>(L"t", L"second line of the service");
        open_as_another_start(file, GetParam().its_bytes);
        log.write_entry<logging::severity::debug>(L"t", L"three");
    }
    EXPECT_EQ(without_timestamps(read_bytes(file)), GetParam().expected);
    fs::remove(file);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LogFileEmptied,
    ::testing::Values(emptied_case{"Emptied", "", "three\n"},
                      emptied_case{"EmptiedAndWrittenLess", "x\n", "x\nthree\n"},
                      emptied_case{"EmptiedAndWrittenMore", std::string(99, 'x') + "\n",
                                   std::string(99, 'x') + "\nthree\n"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
