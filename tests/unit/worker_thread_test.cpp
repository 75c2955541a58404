#include "supervision/worker_thread.h"

#include <gtest/gtest.h>

#include <functional>

#include "logging/diagnostic_log.h"
#include "supervision/agent_launch.h"
#include "support/supervision_test.h"

namespace {

using test::lines;
using test::operator+;

std::string w(const std::string& level, const std::string& text) {
    return ":<" + level + ">:  ServiceWorkerThread " + text;
}

const lines preparation{
    w("D", "enter"),
    w("D", "host agent config file:  C:\\svc\\snap\\config.yaml"),
    w("D", "host agent executable:  C:\\svc\\bin\\snapteld.exe"),
    w("D", "launch command line:  C:\\svc\\bin\\snapteld.exe --config C:\\svc\\snap\\config.yaml"),
};
const lines launched{w("D", "running host agent ..."), w("D", "host agent is running.")};

class worker_thread : public test::supervision_test {
  protected:
    // The monotonic clock when the worker ended.
    std::uint64_t ended_at = 0;

    std::uint32_t run_to_end() {
        const std::uint32_t code = worker_exit_code();
        ended_at = machine().elapsed_ms();
        return code;
    }
};

TEST_F(worker_thread, launches_the_agent_hidden_once_and_watches_it_until_the_stop_event) {
    use_configuration(0);
    start_worker();
    machine().run_until(130000);
    EXPECT_EQ(stop_service(), 0u);

    const lines healthy_cycle{w("D", "host agent is running."),
                              w("D", "all system plugins are running.")};
    EXPECT_EQ(entries_of("ServiceWorkerThread"),
              preparation + launched + healthy_cycle + healthy_cycle + lines{w("D", "exit")});
    const auto launches = machine().launches();
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_EQ(launches[0].command_line,
              L"C:\\svc\\bin\\snapteld.exe --config C:\\svc\\snap\\config.yaml");
    EXPECT_TRUE(launches[0].inherit_handles);
    EXPECT_EQ(launches[0].creation_flags, 0u);
    EXPECT_EQ(launches[0].startup_flags, platform::startf_useshowwindow);
    EXPECT_EQ(launches[0].show_window, platform::sw_hide);
    EXPECT_EQ(launches[0].at_ms, 0u);
    EXPECT_TRUE(agents().empty());
    EXPECT_TRUE(plugins().empty());
}

TEST_F(worker_thread, checks_61_seconds_after_the_first_launch_and_polls_every_60_ms) {
    use_configuration(3);
    start_worker();
    machine().run_until(61019);
    EXPECT_EQ(machine().calls(sim::operation::enum_processes), 0);
    // 61 s is the first whole second more than 60 past the start; the pass that sees it
    // ends at the first multiple of 60 ms from there, then polls again.
    machine().run_until(61021);
    EXPECT_EQ(machine().calls(sim::operation::enum_processes), 3);
    EXPECT_EQ(machine().calls(sim::operation::wait_for_single_object), 61020 / 60 + 1);

    machine().at(70000, [this] { platform::set_event(group->stop_event.get()); });
    EXPECT_EQ(run_to_end(), 0u);
    EXPECT_GE(ended_at, 70000u);
    EXPECT_LE(ended_at, 70060u);
}

}  // namespace

namespace {

struct outcome_case {
    const char* name;
    bool agent_dies, collector_dies;
    lines cycle;
    bool restarts;
    // The events of the cycle's error lines: 2 for the agent, 3 for the plugins.
    lines events = {};
};

class health_cycle_outcome : public worker_thread,
                             public ::testing::WithParamInterface<outcome_case> {};

TEST_P(health_cycle_outcome, logs_both_checks_and_restarts_the_group_when_either_fails) {
    const outcome_case c = GetParam();
    use_configuration(0);
    start_worker();
    machine().run_until(1);
    const auto first_agents = agents();
    const auto first_plugins = plugins();
    ASSERT_EQ(first_agents.size(), 1u);
    ASSERT_EQ(first_plugins.size(), 2u);
    machine().at(30000, [&] {
        if (c.agent_dies) machine().end_process(first_agents[0], 1);
        if (c.collector_dies) machine().end_process(first_plugins[0], 1);
    });
    machine().run_until(100000);
    EXPECT_EQ(stop_service(), 0u);

    lines expected = preparation + launched + c.cycle;
    if (c.restarts) expected = expected + lines{w("D", "restarting host agent.")} + launched;
    expected.push_back(w("D", "exit"));
    EXPECT_EQ(entries_of("ServiceWorkerThread"), expected);
    EXPECT_EQ(event_entries(), c.events);

    const auto launches = machine().launches();
    ASSERT_EQ(launches.size(), c.restarts ? 2u : 1u);
    if (c.restarts) {
        // Stopping waits 1000 ms, the clean-up pauses 100 ms after ending the plugins and
        // waits its own 1000 ms; the next pass launches at once.
        EXPECT_EQ(launches[1].at_ms, 61020u + 2100u);
        EXPECT_NE(launches[1].process_id, launches[0].process_id);
    }
}

const std::string agent_event = "2 ServiceWorkerThread Detected that host agent is not running.";
const std::string plugins_event =
    "3 ServiceWorkerThread Detected that not all system plugins are running.";
const lines healthy{w("D", "host agent is running."), w("D", "all system plugins are running.")};
const lines agent_down{w("ERROR", "Detected that host agent is not running."),
                       w("D", "all system plugins are running.")};

INSTANTIATE_TEST_SUITE_P(
    outcomes, health_cycle_outcome,
    ::testing::Values(
        outcome_case{"both_run", false, false, healthy, false},
        outcome_case{"a_plugin_died",
                     false,
                     true,
                     {w("D", "host agent is running."),
                      w("ERROR", "Detected that not all system plugins are running.")},
                     true,
                     {plugins_event}},
        outcome_case{"the_agent_died", true, false, agent_down, true, {agent_event}},
        outcome_case{"both_died",
                     true,
                     true,
                     {w("ERROR", "Detected that host agent is not running."),
                      w("ERROR", "Detected that not all system plugins are running.")},
                     true,
                     {agent_event, plugins_event}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(worker_thread, the_cycle_after_a_restart_comes_61_seconds_after_the_failed_one_began) {
    use_configuration(3);
    start_worker();
    machine().run_until(1);
    const auto collector = plugins().front();
    machine().at(30000, [&] { machine().end_process(collector, 1); });
    machine().run_until(121999);
    const int searches_before = machine().calls(sim::operation::enum_processes);
    machine().run_until(122060);
    EXPECT_EQ(machine().calls(sim::operation::enum_processes), searches_before + 3);
    EXPECT_EQ(stop_service(), 0u);
}

// The interval is measured on the monotonic clock: a wall clock set an hour back (a
// machine that booted fast and then synchronised) or forward moves no check.
class wall_clock_change : public worker_thread, public ::testing::WithParamInterface<int> {};

TEST_P(wall_clock_change, leaves_the_next_check_61_seconds_after_the_start) {
    use_configuration(3);
    start_worker();
    machine().at(30000, [&] { machine().set_time(machine().now() + GetParam()); });
    machine().run_until(61019);
    EXPECT_EQ(machine().calls(sim::operation::enum_processes), 0);
    machine().run_until(61021);
    EXPECT_EQ(machine().calls(sim::operation::enum_processes), 3);
    EXPECT_EQ(stop_service(), 0u);
}

INSTANTIATE_TEST_SUITE_P(shifts, wall_clock_change, ::testing::Values(-3600, 3600));

TEST_F(worker_thread, a_stop_event_set_before_the_first_pass_ends_the_thread_without_a_launch) {
    use_configuration(0);
    logging::get_logger();
    group->stop_event.reset(platform::create_event(true, true));
    worker.reset(platform::create_thread(supervision::ServiceWorkerThread, group.get()));
    EXPECT_EQ(run_to_end(), 0u);
    EXPECT_EQ(entries_of("ServiceWorkerThread"), preparation + lines{w("D", "exit")});
    EXPECT_TRUE(machine().launches().empty());
}

TEST_F(worker_thread, a_launch_that_fails_ends_the_thread_with_575_and_no_exit_line) {
    use_configuration(0);
    machine().fail(sim::operation::create_process, platform::error_file_not_found);
    start_worker();
    EXPECT_EQ(run_to_end(), platform::error_app_init_failure);
    const lines failed_launch{w("D", "running host agent ..."),
                              w("ERROR", "unable to launch host agent.")};
    EXPECT_EQ(entries_of("ServiceWorkerThread"), preparation + failed_launch);
    EXPECT_EQ(ended_at, 0u);
    // The failed call with the system's text, then the worker's own line.
    EXPECT_EQ(event_entries(),
              (lines{"4 start_agent CreateProcess returned an error. Unable to create process for "
                     "host agent. The system cannot find the file specified.",
                     "4 ServiceWorkerThread unable to launch host agent."}));
}

TEST_F(worker_thread, a_failed_folder_query_ends_the_thread_with_its_result) {
    use_configuration(0);
    machine().fail(sim::operation::get_folder_path, platform::error_access_denied);
    start_worker();
    EXPECT_EQ(run_to_end(), 0x80070005u);
    EXPECT_EQ(entries_of("ServiceWorkerThread"),
              (lines{w("D", "enter"),
                     w("ERROR",
                       "SHGetFolderPath returned an error. Unable to get program files directory."),
                     w("ERROR", "Access is denied.")}));
    EXPECT_TRUE(machine().launches().empty());
}

TEST_F(worker_thread, without_a_configuration_file_nothing_is_launched_and_the_code_is_575) {
    const lines expected{
        w("ERROR", "no config file was specified. Check config.yaml configuration file.")};
    for (const wchar_t* agent_section : {L"", L"[AGENT]\r\nConfigFile=\r\n"}) {
        SCOPED_TRACE(test::narrow(agent_section));
        new_process_log();
        machine().write_file(log_file, "");
        use_log_level(3, agent_section);
        start_worker();
        EXPECT_EQ(run_to_end(), platform::error_app_init_failure);
        EXPECT_EQ(entries_of("ServiceWorkerThread"), expected);
    }
    EXPECT_TRUE(machine().launches().empty());
}

// A settings file that is there but cannot be read ends the worker as a missing ConfigFile
// does, with the reason rather than the blame on the file's text.
struct unreadable_case {
    const char* name;
    std::function<void(sim::machine&)> make_unreadable;
    std::string system_text;
};

class unreadable_settings : public worker_thread,
                            public ::testing::WithParamInterface<unreadable_case> {};

const std::wstring settings_at = L"C:\\svc\\bin\\quillmark_snaptel.ini";

TEST_P(unreadable_settings, end_the_thread_with_575_naming_the_file_and_the_reason) {
    use_configuration(3);
    machine().write_file(settings_at, "[AGENT]\r\nConfigFile=C:\\svc\\snap\\config.yaml\r\n");
    logging::get_logger();
    GetParam().make_unreadable(machine());
    start_worker();
    EXPECT_EQ(run_to_end(), platform::error_app_init_failure);

    const std::string failed =
        "CreateFile returned an error. Unable to read settings file "
        "C:\\svc\\bin\\quillmark_snaptel.ini";
    EXPECT_EQ(entries_of("ServiceWorkerThread"),
              (lines{w("ERROR", failed), w("ERROR", GetParam().system_text)}));
    EXPECT_EQ(event_entries(),
              lines{"1 ServiceWorkerThread " + failed + " " + GetParam().system_text});
    EXPECT_TRUE(machine().launches().empty());
}

INSTANTIATE_TEST_SUITE_P(
    causes, unreadable_settings,
    ::testing::Values(
        unreadable_case{"held_sharing_nothing",
                        [](sim::machine& m) {
                            m.hold_file(m.start_process(L"\\Device\\HarddiskVolume1\\ed.exe"),
                                        settings_at, 0);
                        },
                        "The process cannot access the file because it is being used by another "
                        "process."},
        unreadable_case{"access_denied",
                        [](sim::machine& m) {
                            m.fail(sim::operation::open_existing_file,
                                   platform::error_access_denied, settings_at);
                        },
                        "Access is denied."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(worker_thread, paths_with_blanks_are_quoted_so_a_planted_program_never_runs) {
    machine().set_module_path(L"C:\\Program Files\\Quillmark\\quillmark_snaptel.exe");
    machine().set_settings_file(L"C:\\Program Files\\Quillmark\\quillmark_snaptel.ini",
                                L"[SERVICE]\r\nLogFile=C:\\logs\\service.log\r\n"
                                L"[AGENT]\r\nConfigFile=C:\\Snap Config\\config.yaml\r\n");
    machine().install_program(L"C:\\Program Files\\Quillmark\\snapteld.exe");
    machine().install_program(L"C:\\Program.exe");
    start_worker();
    machine().run_until(1000);
    EXPECT_EQ(stop_service(), 0u);

    const auto launches = machine().launches();
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_EQ(launches[0].command_line,
              L"\"C:\\Program Files\\Quillmark\\snapteld.exe\" --config \"C:\\Snap "
              L"Config\\config.yaml\"");
    EXPECT_TRUE(machine().running(L"\\Device\\HarddiskVolume1\\Program.exe").empty());
    EXPECT_EQ(machine().terminations(launches[0].process_id), 1);
}

TEST_F(worker_thread, a_command_line_longer_than_the_path_limit_is_launched_whole) {
    const std::wstring config = L"C:\\" + std::wstring(300, L'c') + L".yaml";
    use_configuration(0, config);
    start_worker();
    machine().run_until(1000);
    EXPECT_EQ(stop_service(), 0u);
    const std::wstring line = L"C:\\svc\\bin\\snapteld.exe --config " + config;
    ASSERT_EQ(machine().launches().size(), 1u);
    EXPECT_EQ(machine().launches()[0].command_line, line);
    EXPECT_EQ(entries_of("ServiceWorkerThread")[3],
              w("D", "launch command line:  " + test::narrow(line)));
}

}  // namespace

namespace {

// An exception that leaves an operation that catches is logged in its words, and the
// operation ends with its failure value.
TEST_F(worker_thread, an_exception_ends_the_thread_with_575_and_no_exit_line) {
    use_configuration(0);
    machine().fail_with_exception(sim::operation::get_folder_path);
    start_worker();
    EXPECT_EQ(run_to_end(), platform::error_app_init_failure);
    EXPECT_EQ(entries_of("ServiceWorkerThread"),
              (lines{w("D", "enter"), w("ERROR", "Caught standard exception:  std::bad_alloc")}));
}

TEST_F(worker_thread, an_exception_in_a_launch_is_a_failed_launch) {
    use_configuration(0);
    machine().fail_with_exception(sim::operation::create_process);
    start_worker();
    EXPECT_EQ(run_to_end(), platform::error_app_init_failure);
    EXPECT_EQ(entries_of("start_agent").back(),
              ":<ERROR>:  start_agent Caught standard exception:  std::bad_alloc");
    EXPECT_EQ(entries_of("ServiceWorkerThread").back(), w("ERROR", "unable to launch host agent."));
}

TEST_F(worker_thread, an_exception_in_a_stop_skips_the_rest_of_it) {
    use_configuration(0);
    machine().fail_with_exception(sim::operation::terminate_process);
    start_worker();
    machine().run_until(1);
    group->request_stop();
    EXPECT_FALSE(supervision::stop_agent(*group));
    EXPECT_EQ(entries_of("stop_agent"),
              (lines{":<D>:  stop_agent enter", ":<D>:  stop_agent stopping host agent ...",
                     ":<ERROR>:  stop_agent Caught standard exception:  std::bad_alloc"}));
    EXPECT_EQ(stop_service(), 0u);
}

}  // namespace
