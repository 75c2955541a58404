#include "service/service_lifecycle.h"
#include "service/entry_point.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "cleanup/cleanup.h"
#include "logging/diagnostic_log.h"
#include "service/service_registration.h"
#include "service/service_state.h"
#include "support/pending_progress.h"
#include "support/supervision_test.h"

namespace {

using test::lines;
using test::operator+;
using platform::service_status;

std::string report(std::uint32_t state, std::uint32_t accepted, std::uint32_t exit_code,
                   std::uint32_t check_point, std::uint32_t specific = 0, std::uint32_t hint = 0) {
    return "type 16 state " + std::to_string(state) + " accepted " + std::to_string(accepted) +
           " exit " + std::to_string(exit_code) + " specific " + std::to_string(specific) +
           " check point " + std::to_string(check_point) + " hint " + std::to_string(hint);
}

std::string pending(std::uint32_t state, std::uint32_t check_point) {
    return report(state, 0, 0, check_point, 0, 5000);
}

const std::string start_pending = pending(2, 1);
const std::string running = report(4, 5, 0, 0);
const std::string stop_pending = pending(3, 4);
const std::string stopped = report(1, 0, 0, 3);

std::string d(const std::string& tag, const std::string& text) {
    return ":<D>:  " + tag + " " + text;
}
std::string e(const std::string& tag, const std::string& text) {
    return ":<ERROR>:  " + tag + " " + text;
}

const lines service_start{d("wmain", "enter"), d("run_service", "enter"),
                          d("run_service", "starting service ...")};
// A stop request, from the handler to the worker's end.
const lines service_stop{
    d("ServiceCtrlHandler", "enter"), d("stop_agent", "enter"),
    d("stop_agent", "exit"),          d("ServiceCtrlHandler", "send stop signal."),
    d("ServiceCtrlHandler", "exit"),  d("ServiceWorkerThread", "exit")};
const lines service_main_start{
    d("ServiceMain", "enter"),
    d("ServiceMain", "set status to pending."),
    d("ServiceMain", "create event used for stopping service."),
    d("ServiceMain", "set status to running."),
    d("ServiceMain", "creating worker thread ..."),
    d("ServiceMain", "worker thread created."),
    d("ServiceMain", "waiting for worker thread to stop ..."),
};
const lines service_main_end{d("ServiceMain", "worker thread has stopped."),
                             d("ServiceMain", "status to stopped."), d("ServiceMain", "exit")};

class service_lifecycle : public test::supervision_test {
  protected:
    void SetUp() override {
        test::supervision_test::SetUp();
        use_configuration(0);
    }

    // The executable started by the manager as the service, with no command word.
    int run_as_service() {
        machine().start_as_service(L"quillmark_snaptel");
        wchar_t program[] = L"quillmark_snaptel.exe";
        wchar_t* argv[] = {program, nullptr};
        const int code = wmain(1, argv);
        // The service main function's thread has its return left once the dispatcher
        // has returned.
        machine().run_until(machine().elapsed_ms() + 1);
        return code;
    }

    // Each report; with `progress` false, the first of each run of one pending state only.
    std::vector<std::string> reports(bool progress = false) const {
        std::vector<std::string> texts;
        std::uint32_t last_state = 0;
        for (const auto& made : sim::machine::instance().status_reports()) {
            const service_status& s = made.status;
            const bool again = s.current_state == last_state;
            last_state = s.current_state;
            if (again && !progress) continue;
            EXPECT_EQ(s.service_type, platform::service_win32_own_process);
            texts.push_back("type " + std::to_string(s.service_type) + " state " +
                            std::to_string(s.current_state) + " accepted " +
                            std::to_string(s.controls_accepted) + " exit " +
                            std::to_string(s.win32_exit_code) + " specific " +
                            std::to_string(s.service_specific_exit_code) + " check point " +
                            std::to_string(s.check_point) + " hint " + std::to_string(s.wait_hint));
        }
        return texts;
    }

    // The entries of the given tags, and "enter" and "exit" of the others named, in order.
    lines shell_entries() const {
        static const std::vector<std::string> whole{"ServiceMain", "ServiceCtrlHandler",
                                                    "run_service", "wmain"};
        lines found;
        for (const auto& entry : log_entries()) {
            const auto tag_at = entry.find(":  ") + 3;
            const std::string rest = entry.substr(tag_at);
            const std::string tag = rest.substr(0, rest.find(' '));
            const bool edge = rest == "stop_agent enter" || rest == "stop_agent exit" ||
                              rest == "ServiceWorkerThread exit";
            if (edge || std::find(whole.begin(), whole.end(), tag) != whole.end()) {
                found.push_back(entry);
            }
        }
        return found;
    }

    // The state of a run whose service stands at `current`, for the control handler.
    service::service_state state;
    void set_state(std::uint32_t current) { state.status.current_state = current; }
};

struct stop_case {
    const char* name;
    std::uint32_t control;
};

class stop_request : public service_lifecycle, public ::testing::WithParamInterface<stop_case> {};

TEST_P(stop_request, stops_the_group_reports_the_stop_and_ends_in_order) {
    machine().send_control(5000, GetParam().control);
    EXPECT_EQ(run_as_service(), 0);

    EXPECT_EQ(reports(), (lines{start_pending, running, stop_pending, stopped}));
    const lines end{d("run_service", "exit"), d("wmain", "exit")};
    EXPECT_EQ(shell_entries(),
              service_start + service_main_start + service_stop + service_main_end + end);
    EXPECT_TRUE(agents().empty());
    EXPECT_TRUE(plugins().empty());
    EXPECT_EQ(machine().stale_handle_uses(), 0);
    EXPECT_EQ(machine().open_handles(), 0u);
}

INSTANTIATE_TEST_SUITE_P(controls, stop_request,
                         ::testing::Values(stop_case{"stop", platform::service_control_stop},
                                           stop_case{"shutdown",
                                                     platform::service_control_shutdown}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(service_lifecycle, without_the_event_for_the_end_of_service_main_the_service_still_serves) {
    machine().fail(sim::operation::create_event, 8);
    machine().send_control(5000, platform::service_control_stop);
    EXPECT_EQ(run_as_service(), 0);

    EXPECT_EQ(reports(), (lines{start_pending, running, stop_pending, stopped}));
    // Nothing waits for ServiceMain's last line: it comes after the process's own end.
    const lines end{d("ServiceMain", "worker thread has stopped."),
                    d("ServiceMain", "status to stopped."), d("run_service", "exit"),
                    d("wmain", "exit"), d("ServiceMain", "exit")};
    EXPECT_EQ(shell_entries(), service_start + service_main_start + service_stop + end);
    EXPECT_EQ(machine().stale_handle_uses(), 0);
    EXPECT_EQ(machine().open_handles(), 0u);
}

// The manager learns why the worker ended, so that its failure actions can restart the
// service: a Windows error code as itself, a failing result code as a service-specific one.
struct ended_case {
    const char* name;
    sim::operation failing;
    std::string stopped;
};

class worker_ends_by_itself : public service_lifecycle,
                              public ::testing::WithParamInterface<ended_case> {};

TEST_P(worker_ends_by_itself, takes_the_service_straight_to_stopped_with_its_code) {
    machine().fail(GetParam().failing, platform::error_access_denied);
    EXPECT_EQ(run_as_service(), 0);
    EXPECT_EQ(reports(), (lines{start_pending, running, GetParam().stopped}));
    EXPECT_EQ(shell_entries().back(), d("wmain", "exit"));
    EXPECT_EQ(test::lines_starting(shell_entries(), d("ServiceCtrlHandler", "")), lines{});
}

INSTANTIATE_TEST_SUITE_P(
    codes, worker_ends_by_itself,
    ::testing::Values(ended_case{"failed_launch", sim::operation::create_process,
                                 report(1, 0, platform::error_app_init_failure, 3)},
                      ended_case{
                          "failed_folder_query", sim::operation::get_folder_path,
                          report(1, 0, platform::error_service_specific_error, 3, 0x80070005u)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(service_lifecycle, no_report_reaches_the_manager_after_the_stopped_one) {
    machine().start_as_service(L"quillmark_snaptel");
    const platform::service_control_target ignored{
        [](std::uint32_t, void*) { return platform::no_error; }, nullptr};
    state.status_handle = platform::register_service_ctrl_handler_ex(L"quillmark_snaptel", ignored);
    const platform::exclusive_lock held(state.status_lock);
    state.status.service_type = platform::service_win32_own_process;
    EXPECT_TRUE(service::report_status(state, held, platform::service_stopped, 0, 0, 3));
    EXPECT_TRUE(service::report_status(state, held, platform::service_stop_pending, 0, 0, 4));
    EXPECT_EQ(reports(), lines{stopped});
}

// An administrator's stray word on the console must not take down the agent group of the
// service that runs.
TEST_F(service_lifecycle, started_from_a_console_it_touches_nothing_and_fails_to_connect) {
    const auto agent = machine().start_process(test::agent_image);
    const std::wstring kept = std::wstring(cleanup::temp_directory) + L"/agent-state.txt";
    machine().create_file(kept);
    wchar_t program[] = L"quillmark_snaptel.exe";
    wchar_t word[] = L"--help";
    wchar_t* argv[] = {program, word, nullptr};
    EXPECT_EQ(wmain(2, argv), 0);

    EXPECT_TRUE(machine().is_running(agent));
    EXPECT_TRUE(machine().exists(kept));
    EXPECT_EQ(
        log_entries(),
        (lines{d("wmain", "enter"), d("run_service", "enter"),
               d("run_service", "starting service ..."),
               e("run_service", "StartServiceCtrlDispatcher returned an error."),
               e("run_service", "The service process could not connect to the service controller."),
               d("wmain", "exit")}));
}

struct not_running_case {
    std::uint32_t state, control;
};

class control_when_not_running : public service_lifecycle,
                                 public ::testing::WithParamInterface<not_running_case> {};

TEST_P(control_when_not_running, is_only_logged) {
    set_state(GetParam().state);
    logging::get_logger();
    service::handle_control(state, GetParam().control);
    EXPECT_EQ(log_entries(), (lines{d("ServiceCtrlHandler", "enter"),
                                    d("ServiceCtrlHandler", "service is not running."),
                                    d("ServiceCtrlHandler", "exit")}));
    EXPECT_TRUE(reports().empty());
}

INSTANTIATE_TEST_SUITE_P(states, control_when_not_running,
                         ::testing::Values(not_running_case{platform::service_start_pending, 1},
                                           not_running_case{platform::service_stop_pending, 1},
                                           not_running_case{platform::service_stopped, 1},
                                           not_running_case{platform::service_stopped, 5}));

struct other_control_case {
    std::uint32_t control;
    lines middle;
};

class other_control : public service_lifecycle,
                      public ::testing::WithParamInterface<other_control_case> {};

TEST_P(other_control, changes_nothing) {
    set_state(platform::service_running);
    logging::get_logger();
    service::handle_control(state, GetParam().control);
    EXPECT_EQ(log_entries(), lines{d("ServiceCtrlHandler", "enter")} + GetParam().middle +
                                 lines{d("ServiceCtrlHandler", "exit")});
    EXPECT_TRUE(reports().empty());
    EXPECT_EQ(state.status.current_state, platform::service_running);
}

INSTANTIATE_TEST_SUITE_P(
    controls, other_control,
    ::testing::Values(other_control_case{platform::service_control_pause,
                                         {d("ServiceCtrlHandler", "received command to pause.")}},
                      other_control_case{
                          platform::service_control_continue,
                          {d("ServiceCtrlHandler", "received command to continue.")}},
                      other_control_case{platform::service_control_interrogate, {}},
                      other_control_case{200, {}}));

// A failed report is logged, and the service goes on as after a successful one.
struct failed_report_case {
    const char* name;
    const wchar_t* failing_state;
    lines reports;
    lines failure_after;  // the line the two failure lines follow
    std::string tag;
};

class failed_report : public service_lifecycle,
                      public ::testing::WithParamInterface<failed_report_case> {};

TEST_P(failed_report, is_logged_and_the_service_goes_on) {
    const auto& c = GetParam();
    machine().fail(sim::operation::set_service_status, 6, c.failing_state);
    machine().send_control(5000, platform::service_control_stop);
    // The manager that never learnt of the running state holds the service starting and
    // refuses every stop: the service ends only by itself, at a restart that fails.
    const bool unstoppable = c.failing_state == std::wstring(L"4");
    if (unstoppable) {
        machine().at(30000, [this] { machine().end_process(plugins().front(), 1); });
        machine().fail_after(1, sim::operation::create_process, platform::error_file_not_found);
    }
    EXPECT_EQ(run_as_service(), 0);
    EXPECT_EQ(reports(), c.reports);
    EXPECT_EQ(machine().control_results(),
              (std::vector<sim::control_result>{
                  {5000, platform::service_control_stop, unstoppable ? 1061u : 0u}}));
    const lines entries = log_entries();
    const auto after = std::find(entries.begin(), entries.end(), c.failure_after.front());
    ASSERT_NE(after, entries.end());
    ASSERT_LT(after + 2, entries.end());
    EXPECT_EQ((lines{after[1], after[2]}), (lines{e(c.tag, "SetServiceStatus returned an error"),
                                                  e(c.tag, "The handle is invalid.")}));
    EXPECT_EQ(shell_entries().back(), d("wmain", "exit"));
}

INSTANTIATE_TEST_SUITE_P(
    reports, failed_report,
    ::testing::Values(failed_report_case{"start_pending",
                                         L"2",
                                         {pending(2, 2), running, stop_pending, stopped},
                                         {d("run_service", "starting service ...")},
                                         "ServiceMain"},
                      failed_report_case{"running",
                                         L"4",
                                         {start_pending, report(1, 0, 575, 3)},
                                         {d("ServiceMain", "set status to running.")},
                                         "ServiceMain"},
                      failed_report_case{"stop_pending",
                                         L"3",
                                         {start_pending, running, pending(3, 5), stopped},
                                         {d("ServiceCtrlHandler", "enter")},
                                         "ServiceCtrlHandler"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(service_lifecycle, a_worker_thread_that_cannot_be_made_leaves_the_service_stopped) {
    machine().fail(sim::operation::create_thread, 8);
    EXPECT_EQ(run_as_service(), 0);
    EXPECT_EQ(reports(), (lines{start_pending, running, report(1, 0, 8, 1)}));
    const lines main_lines = entries_of("ServiceMain");
    EXPECT_EQ(lines(main_lines.end() - 4, main_lines.end()),
              (lines{d("ServiceMain", "creating worker thread ..."),
                     e("ServiceMain", "CreateThread returned an error"),
                     e("ServiceMain",
                       "Not enough memory resources are available to process this command."),
                     d("ServiceMain", "set status to stopped.")}));
    EXPECT_EQ(shell_entries().back(), d("wmain", "exit"));
}

// The paths after which the dispatcher would never learn that the service stopped are
// run by calling the service main function as the dispatcher would.
struct direct_case {
    const char* name;
    sim::operation failing;
    lines reports;
    lines last_lines;
};

class service_main_alone : public service_lifecycle,
                           public ::testing::WithParamInterface<direct_case> {};

TEST_P(service_main_alone, reports_and_logs_its_failure) {
    const auto& c = GetParam();
    machine().start_as_service(L"quillmark_snaptel");
    // The worker ends by itself at once: the agent cannot be launched.
    machine().fail(sim::operation::create_process, platform::error_file_not_found);
    machine().fail(c.failing, 5, c.failing == sim::operation::set_service_status ? L"1" : L"");
    logging::get_logger();
    service::service_main(state);
    EXPECT_EQ(reports(), c.reports);
    const lines main_lines = entries_of("ServiceMain");
    ASSERT_GE(main_lines.size(), c.last_lines.size());
    EXPECT_EQ(lines(main_lines.end() - static_cast<std::ptrdiff_t>(c.last_lines.size()),
                    main_lines.end()),
              c.last_lines);
}

INSTANTIATE_TEST_SUITE_P(
    failures, service_main_alone,
    ::testing::Values(
        direct_case{"handler_registration",
                    sim::operation::register_service_ctrl_handler,
                    {},
                    {d("ServiceMain", "enter"),
                     e("ServiceMain", "RegisterServiceCtrlHandler returned an error."),
                     e("ServiceMain", "Access is denied.")}},
        direct_case{"stop_event",
                    sim::operation::create_event,
                    {start_pending, report(1, 0, 5, 1)},
                    {d("ServiceMain", "create event used for stopping service."),
                     d("ServiceMain", "set status to stopped.")}},
        direct_case{
            "final_report",
            sim::operation::set_service_status,
            {start_pending, running},
            {d("ServiceMain", "worker thread has stopped."), d("ServiceMain", "status to stopped."),
             e("ServiceMain", "ServiceStatus returned an error"),
             e("ServiceMain", "Access is denied."), d("ServiceMain", "exit")}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace

// Anyone who may read the log can hold it open without sharing it. The service supervises
// all the same, says why once for each reason, and tries the file again at each health
// cycle until it opens.
struct held_log_case {
    const char* name;
    std::vector<platform::error_code> refusals;  // one for each try, the first at the start
    std::vector<std::string> events;
    std::uint64_t opened_ms;    // the health cycle the log opens at
    std::size_t checks_logged;  // the health cycles' and the stop's
};

class held_log : public service_lifecycle, public ::testing::WithParamInterface<held_log_case> {};

TEST_P(held_log, keeps_no_service_from_supervising) {
    const auto& c = GetParam();
    for (const platform::error_code refusal : c.refusals) {
        machine().fail(sim::operation::create_file, refusal, log_file);
    }
    std::optional<std::size_t> lines_before_open;
    machine().at(c.opened_ms - 1, [&] { lines_before_open = log_lines().size(); });
    machine().send_control(130000, platform::service_control_stop);
    EXPECT_EQ(run_as_service(), 0);

    EXPECT_EQ(machine().launches().size(), 1u);
    EXPECT_EQ(reports(), (lines{start_pending, running, stop_pending, stopped}));
    EXPECT_EQ(lines_before_open, 0u);
    const lines entries = log_entries();
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries.front(), d("is_host_agent_running", "enter"));
    EXPECT_EQ(test::lines_starting(entries, entries.front()).size(), c.checks_logged);
    EXPECT_EQ(entries.back(), d("wmain", "exit"));
    EXPECT_EQ(event_entries(), c.events);
}

const std::string held = "7 wmain Unable to open an output stream: C:\\logs\\service.log: ";
const std::string sharing =
    "The process cannot access the file because it is being used by "
    "another process.";

INSTANTIATE_TEST_SUITE_P(
    refusals, held_log,
    ::testing::Values(
        held_log_case{"once", {32}, {held + sharing}, 62020, 3},
        held_log_case{"twice_for_one_reason", {32, 32}, {held + sharing}, 123040, 2},
        held_log_case{
            "for_two_reasons", {32, 5}, {held + sharing, held + "Access is denied."}, 123040, 2}),
    [](const auto& info) { return std::string(info.param.name); });

// Run from a console, a service whose log cannot be opened says so and fails, as any
// command does.
TEST_F(service_lifecycle, from_a_console_an_unusable_log_is_a_failure) {
    machine().fail(sim::operation::create_file, 32, log_file);
    wchar_t program[] = L"quillmark_snaptel.exe";
    wchar_t* argv[] = {program, nullptr};
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(wmain(1, argv), 1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "quillmark_snaptel: Unable to open an output stream: C:\\logs\\service.log: " +
                  sharing + "\n");
}

// However much the temporary directory holds, the manager hears from the service at once and
// as often as its wait hints ask, everything is deleted before the agent is launched, and a
// stop returns in time, leaving what it had no time for to the next start.
struct full_directory_case {
    const char* name;
    std::uint64_t stop_ms;
    bool collector_ends;  // at 30 s: the health cycle at 82 s restarts the group
    bool second_stop;     // half a second after the first
    lines said;           // the clean-up's lines about what it left
};

class full_directory : public service_lifecycle,
                       public ::testing::WithParamInterface<full_directory_case> {
  protected:
    // Each deletion takes 10 ms: 2000 entries take 20 s to delete.
    void plant(const std::wstring& prefix) {
        for (int i = 0; i < 2000; ++i) {
            machine().create_file(std::wstring(cleanup::temp_directory) + L"/" + prefix +
                                  std::to_wstring(i));
        }
    }
    std::size_t left(const std::wstring& prefix) {
        std::size_t count = 0;
        for (const auto& path : machine().tree(cleanup::temp_directory)) {
            count += path.find(prefix) != std::wstring::npos ? 1 : 0;
        }
        return count;
    }
};

TEST_P(full_directory, delays_neither_the_start_nor_the_stop) {
    const auto& c = GetParam();
    machine().set_deletion_time(10);
    plant(L"start-");
    machine().at(40000, [this] { plant(L"later-"); });
    if (c.collector_ends) {
        machine().at(30000, [this] { machine().end_process(plugins().front(), 1); });
    }
    constexpr std::uint32_t stop = platform::service_control_stop;
    std::vector<sim::control_result> answered{{c.stop_ms, stop, 0}};
    machine().send_control(c.stop_ms, stop);
    if (c.second_stop) {
        machine().send_control(c.stop_ms + 500, stop);
        answered.push_back({c.stop_ms + 500, stop, 1061});
    }
    EXPECT_EQ(run_as_service(), 0);

    EXPECT_EQ(machine().start_result(), 0u);
    EXPECT_EQ(machine().status_reports().front().at_ms, 0u);
    EXPECT_EQ(test::pending_progress_fault(machine().status_reports()), "");
    EXPECT_EQ(machine().control_results(), answered);
    EXPECT_EQ(left(L"start-"), 0u);
    EXPECT_GE(machine().launches().front().at_ms, 20000u);
    EXPECT_GT(left(L"later-"), 0u);
    const lines entries = log_entries();
    EXPECT_EQ(test::lines_starting(entries, d("ServiceCtrlHandler", "enter")).size(), 1u);
    EXPECT_EQ(test::lines_starting(entries, ":<I>:  cleanup_temp_directory") +
                  test::lines_starting(entries, ":<D>:  cleanup_temp_directory service"),
              c.said);
    EXPECT_EQ(reports().back(), stopped);
    EXPECT_TRUE(agents().empty());
    EXPECT_TRUE(plugins().empty());
}

const std::string time_is_up =
    ":<I>:  cleanup_temp_directory time is up. The rest of the temporary directory is left for "
    "the next start.";

INSTANTIATE_TEST_SUITE_P(
    stops, full_directory,
    ::testing::Values(full_directory_case{"while_running", 50000, false, false, {time_is_up}},
                      full_directory_case{"twice", 50000, false, true, {time_is_up}},
                      full_directory_case{
                          "during_a_restart", 90000, true, false,
                          lines{time_is_up} + lines{d("cleanup_temp_directory",
                                                      "service is stopping. The rest of the "
                                                      "temporary directory is left to the stop's "
                                                      "clean-up.")}}),
    [](const auto& info) { return std::string(info.param.name); });
