#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "logging/process_log.h"
#include "support/sim_test.h"

extern "C" int wmain(int argc, wchar_t* argv[]);

namespace {

class entry_point : public test::sim_test {
  protected:
    int run(std::initializer_list<const wchar_t*> arguments) {
        std::vector<std::wstring> texts{L"quillmark_snaptel.exe"};
        texts.insert(texts.end(), arguments.begin(), arguments.end());
        std::vector<wchar_t*> argv;
        for (auto& text : texts) {
            argv.push_back(text.data());
        }
        argv.push_back(nullptr);
        return wmain(static_cast<int>(texts.size()), argv.data());
    }

    // The first two and the last entry of the run's log: the entry point's own lines
    // around the operation it chose, whatever that operation did.
    std::vector<std::string> run_and_log(std::initializer_list<const wchar_t*> arguments) {
        use_log_level(0);
        EXPECT_EQ(run(arguments), 0);
        const auto entries = log_entries();
        if (entries.size() < 3) return entries;
        return {entries[0], entries[1], entries.back()};
    }

    // A new process of the service: its log and settings are made afresh.
    void logging_restart() { logging::reset_process_log(); }

    static std::vector<std::string> lines_of(const std::string& operation) {
        return {":<D>:  wmain enter", ":<D>:  " + operation + " enter", ":<D>:  wmain exit"};
    }
};

TEST_F(entry_point, no_command_word_runs_the_service) {
    EXPECT_EQ(run_and_log({}), lines_of("run_service"));
}

TEST_F(entry_point, command_words_are_compared_without_regard_to_case) {
    EXPECT_EQ(run_and_log({L"install"}), lines_of("install_service"));
    logging_restart();
    EXPECT_EQ(run_and_log({L"INSTALL"}), lines_of("install_service"));
    logging_restart();
    EXPECT_EQ(run_and_log({L"UnInstall"}), lines_of("uninstall_service"));
    logging_restart();
    EXPECT_EQ(run_and_log({L"install", L"--now", L"extra"}), lines_of("install_service"));
}

TEST_F(entry_point, anything_but_a_whole_command_word_runs_the_service) {
    for (const wchar_t* word :
         {L"-install", L"/uninstall", L"install ", L"", L"installs", L"run"}) {
        logging_restart();
        EXPECT_EQ(run_and_log({word}), lines_of("run_service"));
    }
}

TEST_F(entry_point, an_unusable_log_file_ends_the_process_with_a_message_and_a_failure_code) {
    const std::wstring missing = L"C:\\missing\\x.log";
    use_settings(L"[SERVICE]\r\nLogLevel=0\r\nLogFile=" + missing + L"\r\n");
    ::testing::internal::CaptureStderr();
    const int code = run({L"install"});
    const std::string message = ::testing::internal::GetCapturedStderr();

    EXPECT_NE(code, 0);
    EXPECT_EQ(message, "quillmark_snaptel: Unable to open an output stream: C:\\missing\\x.log\n");
    EXPECT_FALSE(machine().exists(missing));
}

}  // namespace
