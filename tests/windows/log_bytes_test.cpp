// The bytes of log lines written by the Windows build: the same as the native build's,
// although the C runtime here formats time and pointers differently.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>

#include "logging/diagnostic_log.h"
#include "logging/file_log.h"

namespace {

namespace fs = std::filesystem;

// Lines are checked without their timestamps, which are checked for their form alone.
std::string without_timestamps(const std::string& bytes) {
    static const std::regex stamp(R"((^|\n)\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\])");
    return std::regex_replace(bytes, stamp, "$1[T]");
}

std::string read_bytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(LogBytes, EveryKindOfPieceIsWrittenAsOnEveryBuild) {
    const fs::path file = fs::temp_directory_path() / "quillmark-log-bytes.log";
    fs::remove(file);
    {
        logging::file_log log;
        log.set_up({file.wstring(), 0, 0}, logging::log_start::appending);
        log.write_entry<logging::severity::debug>(L"wmain", L"enter");
        log.write_entry<logging::severity::debug>(L"kill_processes", L"terminating plugins ...",
                                                  L"retry", std::int32_t{-7});
        log.write_entry<logging::severity::debug>(L"find_processes", L"processes found",
                                                  std::uint64_t{18446744073709551615u});
        log.write_entry<logging::severity::debug>(
            L"process_child::is_running", L"GetExitCodeProcess has failed for handle",
            reinterpret_cast<void*>(std::uintptr_t{0x1a2b3c}));
        log.write_entry<logging::severity::error>(L"cleanup", L"Caught standard exception: ",
                                                  "bad \xe9");
        log.write_entry<logging::severity::info>(L"delete_tree", L"C:/temp/\u041f\u4e2d\u00e9",
                                                 L"line\r\nbreak");
        log.write_entry<logging::severity::debug>(L"wmain", L"exit");
    }
    EXPECT_EQ(without_timestamps(read_bytes(file)),
              "[T]:<D>:  wmain enter\n"
              "[T]:<D>:  kill_processes terminating plugins ... retry -7\n"
              "[T]:<D>:  find_processes processes found 18446744073709551615\n"
              "[T]:<D>:  process_child::is_running GetExitCodeProcess has failed for handle "
              "00000000001A2B3C\n"
              "[T]:<ERROR>:  cleanup Caught standard exception:  bad \xe9\n"
              "[T]:<I>:  delete_tree C:/temp/?"
              "?\xe9 line\r\nbreak\n"
              "[T]:<D>:  wmain exit\n");
    fs::remove(file);
}

}  // namespace
