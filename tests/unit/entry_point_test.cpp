#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <utility>
#include <vector>

#include "logging/diagnostic_log.h"
#include "service/entry_point.h"
#include "support/sim_test.h"

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
    std::vector<std::string> run_and_log(std::initializer_list<const wchar_t*> arguments,
                                         int exit_code = 0) {
        use_log_level(0);
        EXPECT_EQ(run(arguments), exit_code);
        const auto entries = log_entries();
        if (entries.size() < 3) return entries;
        return {entries[0], entries[1], entries.back()};
    }

    // A new process of the service, with its settings made afresh and the file emptied.
    void logging_restart() {
        new_process_log();
        machine().write_file(log_file, "");
    }

    static std::vector<std::string> lines_of(const std::string& operation) {
        return {":<D>:  wmain enter", ":<D>:  " + operation + " enter", ":<D>:  wmain exit"};
    }
};

TEST_F(entry_point, no_command_word_runs_the_service) {
    EXPECT_EQ(run_and_log({}), lines_of("run_service"));
}

// Each exit code is the one only that operation gives at that point: the service exists
// (1073) after an install, and is missing (1060) after an uninstall.
TEST_F(entry_point, command_words_are_compared_without_regard_to_case) {
    EXPECT_EQ(run_and_log({L"install"}), lines_of("install_service"));
    logging_restart();
    EXPECT_EQ(run_and_log({L"INSTALL"}, 1073), lines_of("install_service"));
    logging_restart();
    EXPECT_EQ(run_and_log({L"UnInstall"}), lines_of("uninstall_service"));
    logging_restart();
    EXPECT_EQ(run_and_log({L"uninstall"}, 1060), lines_of("uninstall_service"));
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

// What a user may plant at the log's name, in a folder where users can create files: the
// service runs as the local system account, and must not empty what the name leads to.
const std::wstring victim = L"C:\\Windows\\System32\\config\\victim.dat";
const std::wstring settings_file = L"C:\\svc\\bin\\quillmark_snaptel.ini";

struct unusable_log {
    const char* name;
    std::function<void(sim::machine&)> plant;
    std::wstring log_name;
    std::string reason;
    // What must be left as it was, and the name the refusal gives (LogFile's when empty).
    std::wstring target = victim;
    std::wstring reported = {};
};

class refused_log : public entry_point, public ::testing::WithParamInterface<unusable_log> {};

TEST_P(refused_log, ends_the_process_leaving_the_target_as_it_was_and_reports_why) {
    const auto& c = GetParam();
    machine().write_file(c.target, "precious\n");
    c.plant(machine());
    use_settings(L"[SERVICE]\r\nLogLevel=0\r\nLogFile=" + c.log_name + L"\r\n");
    ::testing::internal::CaptureStderr();
    const int code = run({L"install"});
    const std::string message = ::testing::internal::GetCapturedStderr();

    const std::string text = "Unable to open an output stream: " +
                             test::narrow(c.reported.empty() ? c.log_name : c.reported) + ": " +
                             c.reason;
    EXPECT_EQ(code, 1);
    EXPECT_EQ(message, "quillmark_snaptel: " + text + "\n");
    EXPECT_EQ(machine().file_content(c.target), "precious\n");
    ASSERT_EQ(machine().events().size(), 1u);
    EXPECT_EQ(machine().events()[0].id, 7u);
    EXPECT_EQ(test::narrow(machine().events()[0].text), "wmain " + text);
    EXPECT_TRUE(machine().services().empty());
}

INSTANTIATE_TEST_SUITE_P(
    planted, refused_log,
    ::testing::Values(
        unusable_log{"missing_folder", [](sim::machine&) {}, L"C:\\missing\\x.log",
                     "The system cannot find the path specified."},
        unusable_log{"symbolic_link",
                     [](sim::machine& m) { m.create_file_link(L"C:\\logs\\service.log", victim); },
                     L"C:\\logs\\service.log", "it is a link"},
        // The log's name is one of the victim's names, as a hard link makes it.
        unusable_log{"second_name", [](sim::machine& m) { m.set_link_count(victim, 2); }, victim,
                     "it is one of 2 names of a file"},
        unusable_log{"directory",
                     [](sim::machine& m) { m.create_directory(L"C:\\logs\\service.log"); },
                     L"C:\\logs\\service.log", "Access is denied."},
        unusable_log{"link_above",
                     [](sim::machine& m) {
                         m.create_directory_link(L"C:\\logs\\linked",
                                                 L"C:\\Windows\\System32\\config");
                     },
                     L"C:\\logs\\linked\\victim.dat",
                     "it leads to C:\\Windows\\System32\\config\\victim.dat"},
        // The service's own files and the host agent's, by any spelling.
        unusable_log{"settings_file", [](sim::machine&) {}, settings_file,
                     "it is the settings file", settings_file},
        unusable_log{"executable", [](sim::machine&) {}, L"C:\\svc\\bin\\quillmark_snaptel.exe",
                     "it is the service's executable", L"C:\\svc\\bin\\quillmark_snaptel.exe"},
        unusable_log{"agent_file", [](sim::machine&) {}, L"C:\\svc\\bin\\snapteld.exe",
                     "it is the host agent's file", L"C:\\svc\\bin\\snapteld.exe"},
        unusable_log{"settings_file_spelled_otherwise", [](sim::machine&) {},
                     L"c:/SVC/Bin/../bin/./QUILLMARK_SNAPTEL.INI", "it is the settings file",
                     settings_file},
        unusable_log{"settings_file_relative", [](sim::machine&) {}, L"quillmark_snaptel.ini",
                     "it is the settings file", settings_file, settings_file}),
    [](const ::testing::TestParamInfo<unusable_log>& info) {
        return std::string(info.param.name);
    });

// Any spelling of the log's own name opens it, and adds the lines at its end.
TEST_F(entry_point, the_logs_own_file_is_opened_by_any_spelling_of_its_name) {
    for (const auto& [directory, name] : std::vector<std::pair<std::wstring, std::wstring>>{
             {L"C:\\Windows\\system32", L"C:/LOGS/Service.log"},
             {L"D:\\elsewhere", L"\\logs\\service.log"},
             {L"C:\\Windows", L"\\\\?\\C:\\logs\\service.log"}}) {
        logging_restart();
        machine().write_file(log_file, "earlier run\n");
        machine().set_current_directory(directory);
        use_settings(L"[SERVICE]\r\nLogLevel=0\r\nLogFile=" + name + L"\r\n");
        // Nothing to remove: the log was opened all the same, and its earlier run kept.
        EXPECT_EQ(run({L"uninstall"}), 1060) << test::narrow(name);
        EXPECT_EQ(log_entries().at(1), ":<D>:  wmain enter") << test::narrow(name);
    }
}

}  // namespace
