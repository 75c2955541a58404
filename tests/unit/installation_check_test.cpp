// The check command on one installation, sound and then with each fault alone: what the
// report says, its exit code, and that the run changed nothing on the machine, the log
// included.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "platform/security.h"
#include "service/entry_point.h"
#include "service/service_registration.h"
#include "support/sim_test.h"

namespace {

const std::wstring service = L"quillmark_snaptel";
const std::wstring temp = L"C:\\ProgramData\\Quillmark\\Snap\\temp";
const std::wstring settings_path = L"C:\\svc\\bin\\quillmark_snaptel.ini";

// Everything the check could change: files with their bytes, the registry, the services,
// the processes and what was launched, the events, the open handles.
std::string machine_state(sim::machine& m, const std::vector<std::uint32_t>& processes) {
    std::wostringstream state;
    std::string bytes;
    for (const auto& path : m.tree(L"C:")) {
        state << path << L' ' << m.attributes(path).value_or(0) << L'\n';
        bytes += m.file_content(path).value_or("") + '\n';
    }
    for (const auto& [key, values] : m.registry()) {
        for (const auto& [name, value] : values) {
            state << key << L' ' << name << L'=' << value.text << value.number << L'\n';
        }
    }
    for (const auto& s : m.services()) {
        state << s.name << L' ' << s.binary_path << L' ' << s.start_type << L' ' << s.account
              << L' ' << s.state << L' ' << s.description << L' ' << s.failure_actions.size()
              << L'\n';
    }
    for (const auto id : processes) {
        state << id << L' ' << m.is_running(id) << L' ' << m.terminations(id) << L'\n';
    }
    state << m.launches().size() << L' ' << m.events().size() << L' ' << m.open_handles();
    return test::narrow(state.str()) + bytes;
}

struct check_case {
    const char* name;
    std::function<void(sim::machine&, const std::vector<std::uint32_t>&)> arrange;
    // The lines of the report that the sound installation's report does not have.
    std::vector<std::string> changed;
    int exit_code;
};

class installation_check : public test::sim_test, public ::testing::WithParamInterface<check_case> {
  protected:
    // An installation as the demo's: settings, agent, configuration, the service
    // registered by install and running, the group running, two entries in the
    // temporary directory.
    void SetUp() override {
        test::sim_test::SetUp();
        use_log_level(1, L"[AGENT]\r\nConfigFile=C:\\svc\\bin\\snapteld.yaml\r\n");
        machine().write_file(::settings_path, "");
        machine().write_file(L"C:\\svc\\bin\\snapteld.yaml", "---\n");
        machine().create_file(L"C:\\svc\\bin\\snapteld.exe");
        machine().create_file(temp + L"\\a.tmp");
        machine().create_directory(temp + L"\\plugins");
        ASSERT_EQ(service::install_service(), 0u);
        machine().set_service_state(service, platform::service_running);
        for (const auto& image :
             {test::agent_image, test::collector_image, test::publisher_image}) {
            group.push_back(machine().start_process(image));
        }
    }

    // The report printed by the command, a line each, and its exit code.
    std::pair<std::vector<std::string>, int> run_check() {
        wchar_t program[] = L"quillmark_snaptel.exe";
        wchar_t word[] = L"check";
        wchar_t* argv[] = {program, word, nullptr};
        ::testing::internal::CaptureStdout();
        const int code = wmain(2, argv);
        std::istringstream printed(::testing::internal::GetCapturedStdout());
        std::vector<std::string> lines;
        for (std::string line; std::getline(printed, line);) {
            lines.push_back(line);
        }
        return {lines, code};
    }

    std::vector<std::uint32_t> group;
};

const std::vector<std::string> sound_report = {
    "ok       settings: C:\\svc\\bin\\quillmark_snaptel.ini is there and can be read.",
    "ok       settings: LogLevel is 1.",
    "ok       settings: LogFile is C:\\logs\\service.log.",
    "ok       settings: ConfigFile is C:\\svc\\bin\\snapteld.yaml.",
    "ok       files: C:\\svc\\bin\\snapteld.exe is beside quillmark_snaptel.exe.",
    "ok       files: C:\\svc\\bin can be written only by administrators and the system.",
    "ok       files: C:\\logs can be written only by administrators and the system.",
    "ok       registration: its image path is \"C:\\svc\\bin\\quillmark_snaptel.exe\".",
    "ok       registration: it starts automatically.",
    "ok       registration: it runs under LocalSystem.",
    "ok       registration: it runs as a process of its own.",
    "ok       registration: its description is in place.",
    "ok       registration: its failure actions restart it 60 s after each failure.",
    "ok       registration: its failure actions apply to a stop with an error code too.",
    "ok       registration: the event source names C:\\svc\\bin\\quillmark_snaptel.exe.",
    "ok       state: the service is RUNNING.",
    "ok       state: snapteld.exe runs.",
    "ok       state: snap-plugin-collector-qmsystem.exe runs.",
    "ok       state: snap-plugin-publisher-quillmark.exe runs.",
    "ok       temp: C:/ProgramData/Quillmark/Snap/temp lies where it is named and holds 2 "
    "entries.",
};

TEST_F(installation_check, a_sound_installation_has_every_line_ok_and_exits_with_0) {
    EXPECT_EQ(run_check(), std::make_pair(sound_report, 0));
}

TEST_P(installation_check, names_the_fault_alone_and_changes_nothing) {
    const auto& c = GetParam();
    c.arrange(machine(), group);
    const std::string before = machine_state(machine(), group);
    const auto [report, code] = run_check();
    std::vector<std::string> changed;
    for (const auto& line : report) {
        if (std::find(sound_report.begin(), sound_report.end(), line) == sound_report.end()) {
            changed.push_back(line);
        }
    }
    EXPECT_EQ(changed, c.changed);
    EXPECT_EQ(code, c.exit_code);
    EXPECT_EQ(machine_state(machine(), group), before);
}

void set_entry(sim::machine& m, const std::function<void(sim::service_entry&)>& change) {
    sim::service_entry entry = m.services().at(0);
    change(entry);
    m.add_service(entry);
}

void stop(sim::machine& m, const std::vector<std::uint32_t>& group, std::uint32_t exit_code) {
    set_entry(m, [&](sim::service_entry& s) {
        s.state = platform::service_stopped;
        s.win32_exit_code = exit_code;
        s.service_specific_exit_code = exit_code == 1066 ? 2147942405u : 0;
    });
    for (const auto id : group) {
        m.end_process(id, 0);
    }
}

void settings_with(sim::machine& m, const std::wstring& text) {
    m.set_settings_file(settings_path, text);
}

const std::string remedy_log =
    ". Set [SERVICE] LogFile to a file of its own, in a folder that exists.";
const std::string reinstall =
    " Run \"quillmark_snaptel.exe uninstall\", then \"quillmark_snaptel.exe install\" from this "
    "folder, from an elevated prompt.";

INSTANTIATE_TEST_SUITE_P(
    faults, installation_check,
    ::testing::Values(
        check_case{"sound", [](auto&, auto&) {}, {}, 0},
        check_case{"log_level_refused",
                   [](auto& m, auto&) {
                       settings_with(m,
                                     L"[SERVICE]\r\nLogLevel=abc\r\nLogFile=C:\\logs\\service.log"
                                     L"\r\n[AGENT]\r\nConfigFile=C:\\svc\\bin\\snapteld.yaml\r\n");
                   },
                   {"problem  settings: LogLevel \"abc\" is not a level from 0 to 3; 3 is used. "
                    "Set [SERVICE] LogLevel to 0, 1, 2 or 3."},
                   1},
        check_case{"log_folder_missing",
                   [](auto& m, auto&) {
                       settings_with(m,
                                     L"[SERVICE]\r\nLogLevel=1\r\nLogFile=C:\\nowhere\\x.log\r\n"
                                     L"[AGENT]\r\nConfigFile=C:\\svc\\bin\\snapteld.yaml\r\n");
                   },
                   {"problem  settings: LogFile C:\\nowhere\\x.log cannot be the log: its folder "
                    "does not exist" +
                    remedy_log},
                   1},
        check_case{"log_is_the_agent",
                   [](auto& m, auto&) {
                       settings_with(m,
                                     L"[SERVICE]\r\nLogLevel=1\r\nLogFile=snapteld.exe\r\n"
                                     L"[AGENT]\r\nConfigFile=C:\\svc\\bin\\snapteld.yaml\r\n");
                   },
                   {"problem  settings: LogFile C:\\svc\\bin\\snapteld.exe cannot be the log: it "
                    "is the host agent's file" +
                    remedy_log},
                   1},
        check_case{"log_is_a_second_name",
                   [](auto& m, auto&) { m.set_link_count(L"C:\\logs\\service.log", 2); },
                   {"problem  settings: LogFile C:\\logs\\service.log cannot be the log: it is "
                    "one of 2 names of a file" +
                    remedy_log},
                   1},
        check_case{"config_file_not_set",
                   [](auto& m, auto&) {
                       settings_with(
                           m, L"[SERVICE]\r\nLogLevel=1\r\nLogFile=C:\\logs\\service.log\r\n");
                   },
                   {"problem  settings: ConfigFile is not set, so the service stops at its start. "
                    "Set [AGENT] ConfigFile to the agent's configuration file."},
                   1},
        check_case{"config_file_missing",
                   [](auto& m, auto&) {
                       settings_with(m,
                                     L"[SERVICE]\r\nLogLevel=1\r\nLogFile=C:\\logs\\service.log"
                                     L"\r\n[AGENT]\r\nConfigFile=C:\\x\\snapteld.yaml\r\n");
                   },
                   {"problem  settings: ConfigFile names C:\\x\\snapteld.yaml, which does not "
                    "exist. Set [AGENT] ConfigFile to the agent's configuration file."},
                   1},
        check_case{"settings_file_held",
                   [](auto& m, auto&) {
                       m.hold_file(m.start_process(L"\\Device\\HarddiskVolume1\\ed.exe"),
                                   settings_path, 0);
                   },
                   {"problem  settings: C:\\svc\\bin\\quillmark_snaptel.ini cannot be read: The "
                    "process cannot access the file because it is being used by another process. "
                    "Close the program that holds it, or give SYSTEM read access to it.",
                    "ok       settings: LogLevel is not set: 3 applies (errors only).",
                    "ok       settings: LogFile is C:\\svc\\bin\\quillmark_snaptel.log.",
                    "problem  settings: ConfigFile is not set, so the service stops at its start. "
                    "Set [AGENT] ConfigFile to the agent's configuration file."},
                   1},
        check_case{"agent_missing",
                   [](auto& m, auto&) { m.remove(L"C:\\svc\\bin\\snapteld.exe"); },
                   {"problem  files: C:\\svc\\bin\\snapteld.exe does not exist: the service "
                    "cannot launch the agent and stops with 575. Put quillmark_snaptel.exe into "
                    "the agent's folder, beside snapteld.exe."},
                   1},
        check_case{"folder_writable_by_users",
                   [](auto& m, auto&) {
                       m.set_folder_writers(L"C:\\svc\\bin",
                                            {platform::sid_local_system, L"S-1-5-32-545"});
                   },
                   {"warning  files: C:\\svc\\bin can be written by S-1-5-32-545 (Users): anyone "
                    "who can write there can become LocalSystem. Let only SYSTEM and "
                    "Administrators write there (icacls)."},
                   0},
        check_case{"security_unknown",
                   [](auto& m, auto&) {
                       m.set_error_text(50, L"The request is not supported.\r\n");
                       m.fail(sim::operation::get_folder_writers, 50, L"C:\\logs");
                   },
                   {"warning  files: who may write to C:\\logs cannot be told: The request is not "
                    "supported."},
                   0},
        check_case{"image_path_unquoted",
                   [](auto& m, auto&) {
                       set_entry(m, [](auto& s) {
                           s.binary_path = L"C:\\svc\\bin\\quillmark_snaptel.exe";
                       });
                   },
                   {"problem  registration: its image path is C:\\svc\\bin\\quillmark_snaptel.exe, "
                    "not \"C:\\svc\\bin\\quillmark_snaptel.exe\"." +
                    reinstall},
                   1},
        check_case{"started_on_demand",
                   [](auto& m, auto&) { set_entry(m, [](auto& s) { s.start_type = 3; }); },
                   {"problem  registration: its start type is 3, not automatic (2). Run \"sc "
                    "config quillmark_snaptel start= auto\"."},
                   1},
        check_case{"another_account",
                   [](auto& m, auto&) { set_entry(m, [](auto& s) { s.account = L".\\bob"; }); },
                   {"problem  registration: it runs under .\\bob, not LocalSystem: it may not end "
                    "the agent or empty its directory. Run \"sc config quillmark_snaptel obj= "
                    "LocalSystem\"."},
                   1},
        check_case{
            "shared_process",
            [](auto& m, auto&) { set_entry(m, [](auto& s) { s.service_type = 0x20; }); },
            {"problem  registration: its service type is 32, not a process of its own (16)." +
             reinstall},
            1},
        check_case{
            "no_description",
            [](auto& m, auto&) { set_entry(m, [](auto& s) { s.description.clear(); }); },
            {"problem  registration: its description is not the one install sets." + reinstall},
            1},
        check_case{"no_failure_actions",
                   [](auto& m, auto&) { set_entry(m, [](auto& s) { s.failure_actions.clear(); }); },
                   {"problem  registration: its failure actions are not a restart 60 s after each "
                    "failure. Run \"sc failure quillmark_snaptel reset= 86400 actions= "
                    "restart/60000/restart/60000/restart/60000\"."},
                   1},
        check_case{"failure_actions_only_after_a_crash",
                   [](auto& m, auto&) {
                       set_entry(m,
                                 [](auto& s) { s.failure_actions_on_non_crash_failures = false; });
                   },
                   {"problem  registration: its failure actions follow only a crash, not a stop "
                    "with an error code. Run \"sc failureflag quillmark_snaptel 1\"."},
                   1},
        // As under Wine, which keeps none.
        check_case{"failure_actions_not_kept",
                   [](auto& m, auto&) {
                       m.set_error_text(124, L"The system call level is not correct.\r\n");
                       m.fail(sim::operation::query_service_failure_actions, 124);
                       m.fail(sim::operation::query_service_failure_actions_flag, 124);
                   },
                   {"warning  registration: its failure actions cannot be read (the platform may "
                    "keep none, as Wine does): The system call level is not correct. Without "
                    "them the manager does not restart the service after a failure.",
                    "warning  registration: its failure actions flag cannot be read (the platform "
                    "may keep none, as Wine does): The system call level is not correct."},
                   0},
        check_case{"no_event_source",
                   [](auto&, auto&) {
                       platform::delete_machine_registry_key(
                           L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\"
                           L"quillmark_snaptel");
                   },
                   {"problem  registration: the event source HKLM\\SYSTEM\\CurrentControlSet\\"
                    "Services\\EventLog\\Application\\quillmark_snaptel is missing: Event Viewer "
                    "shows the service's events without their text." +
                    reinstall},
                   1},
        check_case{"not_registered",
                   [](auto& m, auto& group) {
                       stop(m, group, 0);
                       ASSERT_EQ(service::uninstall_service(), 0u);
                   },
                   {"problem  registration: the service quillmark_snaptel is not registered. Run "
                    "\"quillmark_snaptel.exe install\" from an elevated prompt.",
                    "ok       state: snapteld.exe does not run.",
                    "ok       state: snap-plugin-collector-qmsystem.exe does not run.",
                    "ok       state: snap-plugin-publisher-quillmark.exe does not run."},
                   1},
        check_case{"stopped_on_request",
                   [](auto& m, auto& group) { stop(m, group, 0); },
                   {"ok       state: the service is STOPPED; its last exit code 0: stopped on "
                    "request.",
                    "ok       state: snapteld.exe does not run.",
                    "ok       state: snap-plugin-collector-qmsystem.exe does not run.",
                    "ok       state: snap-plugin-publisher-quillmark.exe does not run."},
                   0},
        check_case{"stopped_for_want_of_the_agent",
                   [](auto& m, auto& group) { stop(m, group, 575); },
                   {"problem  state: the service is STOPPED; its last exit code 575: the agent "
                    "could not be launched, ConfigFile is not set, or the service ran out of "
                    "memory. The log says which: put that right. Then start it with \"sc start "
                    "quillmark_snaptel\".",
                    "ok       state: snapteld.exe does not run.",
                    "ok       state: snap-plugin-collector-qmsystem.exe does not run.",
                    "ok       state: snap-plugin-publisher-quillmark.exe does not run."},
                   1},
        check_case{"stopped_without_program_files",
                   [](auto& m, auto& group) { stop(m, group, 1066); },
                   {"problem  state: the service is STOPPED; its last exit code 1066 (2147942405): "
                    "the Program Files folder could not be named. Check the machine's profile and "
                    "shell folders. Then start it with \"sc start quillmark_snaptel\".",
                    "ok       state: snapteld.exe does not run.",
                    "ok       state: snap-plugin-collector-qmsystem.exe does not run.",
                    "ok       state: snap-plugin-publisher-quillmark.exe does not run."},
                   1},
        check_case{"plugin_ended",
                   [](auto& m, auto& group) { m.end_process(group[2], 1); },
                   {"warning  state: snap-plugin-publisher-quillmark.exe does not run now: the "
                    "service restarts the group at its next health check, within a minute. If it "
                    "recurs, read the log."},
                   0},
        check_case{"temp_missing",
                   [](auto& m, auto&) { m.remove(temp); },
                   {"ok       temp: C:/ProgramData/Quillmark/Snap/temp does not exist: there is "
                    "nothing to empty."},
                   0},
        check_case{"temp_is_a_link",
                   [](auto& m, auto&) {
                       m.remove(temp);
                       m.create_directory(L"C:\\elsewhere");
                       m.create_directory_link(temp, L"C:\\elsewhere");
                   },
                   {"problem  temp: C:/ProgramData/Quillmark/Snap/temp is a link, and the "
                    "clean-up deletes nothing under it. Remove the link and create a real "
                    "directory."},
                   1},
        check_case{"link_above_temp",
                   [](auto& m, auto&) {
                       m.remove(L"C:\\ProgramData\\Quillmark");
                       m.create_directory(L"C:\\elsewhere\\Snap\\temp");
                       m.create_directory_link(L"C:\\ProgramData\\Quillmark", L"C:\\elsewhere");
                   },
                   {"problem  temp: C:/ProgramData/Quillmark/Snap/temp does not lie where it is "
                    "named: it leads to C:\\elsewhere\\Snap\\temp, and the clean-up deletes "
                    "nothing under it. Remove the link above it, create real folders, and find "
                    "out who planted it."},
                   1}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
