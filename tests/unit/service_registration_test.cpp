#include <gtest/gtest.h>

#include <functional>

#include "logging/diagnostic_log.h"
#include "service/entry_point.h"
#include "service/service_registration.h"
#include "support/sim_test.h"

namespace {

using test::lines;
using test::operator+;

std::string d(const std::string& tag, const std::string& text) {
    return ":<D>:  " + tag + " " + text;
}
std::string i(const std::string& tag, const std::string& text) {
    return ":<I>:  " + tag + " " + text;
}
std::string e(const std::string& tag, const std::string& text) {
    return ":<ERROR>:  " + tag + " " + text;
}

const std::string in = "install_service";
// Event IDs: a failed call to the service manager, any other error.
constexpr std::uint32_t manager = 6;
constexpr std::uint32_t other = 1;
const std::wstring event_source_key =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\quillmark_snaptel";
const std::string un = "uninstall_service";

sim::service_entry registered(std::uint32_t state) {
    sim::service_entry service;
    service.name = L"quillmark_snaptel";
    service.state = state;
    return service;
}

struct registration_case {
    const char* name;
    bool install;
    std::function<void(sim::machine&)> arrange;
    // The process's exit code: what scripts and the package's custom action read.
    int result;
    // The operation's lines, between wmain's "enter" and "exit".
    lines expected;
    std::size_t services_after;
    // The IDs of the events reported, in order: one per failure.
    std::vector<std::uint32_t> events = {};
};

class registration : public test::sim_test,
                     public ::testing::WithParamInterface<registration_case> {};

TEST_P(registration, ends_with_the_code_of_what_happened_logs_each_step_and_closes_every_handle) {
    const auto& c = GetParam();
    use_log_level(0);
    // Opened first: finding the settings file reads the module path, which cases fail.
    logging::get_logger();
    c.arrange(machine());
    std::wstring program = L"quillmark_snaptel.exe";
    std::wstring word = c.install ? L"install" : L"uninstall";
    wchar_t* argv[] = {program.data(), word.data(), nullptr};
    EXPECT_EQ(wmain(2, argv), c.result);
    EXPECT_EQ(log_entries(), lines{d("wmain", "enter")} + c.expected + lines{d("wmain", "exit")});
    EXPECT_EQ(machine().services().size(), c.services_after);
    EXPECT_EQ(machine().open_handles(), 0u);
    std::vector<std::uint32_t> ids;
    for (const auto& event : machine().events()) ids.push_back(event.id);
    EXPECT_EQ(ids, c.events);
}

const lines installed{d(in, "enter"), i(in, "installing service ..."),
                      i(in, "service installed succesfully."), d(in, "exit")};
const lines uninstalling{d(un, "enter"), i(un, "uninstalling service ...")};

// A service on its way to or from running is left as it is, and the line says how to stop it.
registration_case not_stopped(const char* name, std::uint32_t state, const std::string& shown) {
    return {name,
            false,
            [state](sim::machine& m) { m.add_service(registered(state)); },
            1056,
            uninstalling + lines{e(un, "service is " + shown +
                                           ", not stopped: nothing was removed. Stop it with \"sc "
                                           "stop quillmark_snaptel\", wait until \"sc query "
                                           "quillmark_snaptel\" says STOPPED, then uninstall "
                                           "again.")},
            1,
            {other}};
}

// A call to the manager that fails ends the command with its error code.
registration_case manager_refuses(const char* name, sim::operation call, std::uint32_t code,
                                  const std::string& message, const std::string& text) {
    return {name,
            false,
            [call, code](sim::machine& m) {
                m.add_service(registered(1));
                m.fail(call, code);
            },
            static_cast<int>(code),
            uninstalling + lines{e(un, message), e(un, text)},
            1,
            {manager}};
}

// A description or recovery setting the manager refuses leaves the service registered.
registration_case config_refused(const char* name, sim::operation call, const std::string& task) {
    return {name,
            true,
            [call](sim::machine& m) { m.fail(call, 5); },
            0,
            {d(in, "enter"), i(in, "installing service ..."),
             e(in, "ChangeServiceConfig2 returned an error. Unable to " + task),
             e(in, "Access is denied."), i(in, "service installed succesfully."), d(in, "exit")},
            1,
            {manager}};
}

INSTANTIATE_TEST_SUITE_P(
    cases, registration,
    ::testing::
        Values(registration_case{"install", true, [](sim::machine&) {}, 0, installed, 1},
               registration_case{"install_when_it_exists",
                                 true,
                                 [](sim::machine& m) { m.add_service(registered(1)); },
                                 1073,
                                 {d(in, "enter"), i(in, "installing service ..."),
                                  e(in, "CreateService returned an error."),
                                  e(in, "The specified service already exists.")},
                                 1,
                                 {manager}},
               registration_case{
                   "install_without_the_right_to_create",
                   true,
                   [](sim::machine& m) { m.fail(sim::operation::open_sc_manager, 5); },
                   5,
                   {d(in, "enter"), i(in, "installing service ..."),
                    e(in, "OpenSCManager returned an error."), e(in, "Access is denied.")},
                   0,
                   {manager}},
               registration_case{
                   "install_without_the_right_to_create_the_service",
                   true,
                   [](sim::machine& m) { m.fail(sim::operation::create_service, 5); },
                   5,
                   {d(in, "enter"), i(in, "installing service ..."),
                    e(in, "CreateService returned an error."), e(in, "Access is denied.")},
                   0,
                   {manager}},
               registration_case{
                   "install_without_the_executable_path",
                   true,
                   [](sim::machine& m) { m.fail(sim::operation::get_module_file_name, 5); },
                   5,
                   {d(in, "enter"), i(in, "installing service ..."),
                    e(in, "GetModuleFileName returned an error."), e(in, "Access is denied.")},
                   0,
                   {other}},
               registration_case{
                   "install_without_the_event_source",
                   true,
                   [](sim::machine& m) { m.fail(sim::operation::create_registry_key, 5); },
                   0,
                   {d(in, "enter"), i(in, "installing service ..."),
                    e(in, "RegCreateKeyEx returned an error. Unable to register event source."),
                    e(in, "Access is denied."), i(in, "service installed succesfully."),
                    d(in, "exit")},
                   1,
                   {other}},
               config_refused("install_without_a_description",
                              sim::operation::change_service_description,
                              "set service description."),
               config_refused("install_without_failure_actions",
                              sim::operation::change_service_failure_actions,
                              "set service failure actions."),
               config_refused("install_without_actions_on_non_crash_failures",
                              sim::operation::change_service_failure_actions_flag,
                              "apply failure actions to non-crash failures."),
               registration_case{
                   "install_interrupted_by_an_exception",
                   true,
                   [](sim::machine& m) { m.fail_with_exception(sim::operation::create_service); },
                   575,
                   {d(in, "enter"), i(in, "installing service ..."),
                    e(in, "Caught standard exception:  std::bad_alloc")},
                   0,
                   {other}},
               registration_case{"uninstall_stopped", false,
                                 [](sim::machine& m) { m.add_service(registered(1)); }, 0,
                                 uninstalling + lines{d(un,
                                                        "service registry entries deleted "
                                                        "succesfully."),
                                                      i(un,
                                                        "service uninstalled "
                                                        "succesfully."),
                                                      d(un, "exit")},
                                 0},
               not_stopped("uninstall_running", 4, "RUNNING"),
               not_stopped("uninstall_start_pending", 2, "START_PENDING"),
               not_stopped("uninstall_stop_pending", 3, "STOP_PENDING"),
               not_stopped("uninstall_paused", 7, "PAUSED"),
               registration_case{
                   "uninstall_unregistered",
                   false,
                   [](sim::machine&) {},
                   1060,
                   uninstalling + lines{e(un, "OpenService returned an error."),
                                        e(un,
                                          "The specified service does not exist as an installed "
                                          "service.")},
                   0,
                   {manager}},
               manager_refuses("uninstall_without_the_right_to_open", sim::operation::open_service,
                               5, "OpenService returned an error.", "Access is denied."),
               manager_refuses("uninstall_when_the_status_cannot_be_read",
                               sim::operation::query_service_status, 5,
                               "QueryServiceStatus returned an error.", "Access is denied."),
               manager_refuses("uninstall_refused", sim::operation::delete_service, 5,
                               "DeleteService returned an error.", "Access is denied."),
               registration_case{"uninstall_keeps_an_event_source_it_cannot_remove",
                                 false,
                                 [](sim::machine& m) {
                                     m.add_service(registered(1));
                                     m.create_registry_key(event_source_key);
                                     m.fail(sim::operation::delete_registry_key, 5);
                                 },
                                 0,
                                 {d(un, "enter"), i(un, "uninstalling service ..."),
                                  e(un,
                                    "RegDeleteKey returned an error. Unable to remove event "
                                    "source."),
                                  e(un, "Access is denied."),
                                  d(un, "service registry entries deleted succesfully."),
                                  i(un, "service uninstalled succesfully."), d(un, "exit")},
                                 0,
                                 {other}},
               manager_refuses("uninstall_without_the_manager", sim::operation::open_sc_manager, 5,
                               "OpenSCManager returned an error.", "Access is denied."),
               registration_case{"uninstall_interrupted_by_an_exception",
                                 false,
                                 [](sim::machine& m) {
                                     m.add_service(registered(1));
                                     m.fail_with_exception(sim::operation::delete_service);
                                 },
                                 575,
                                 {d(un, "enter"), i(un, "uninstalling service ..."),
                                  e(un, "Caught standard exception:  std::bad_alloc")},
                                 1,
                                 {other}}),
    [](const auto& info) { return std::string(info.param.name); });

class registration_parameters : public ::testing::TestWithParam<std::wstring> {};

TEST_P(registration_parameters,
       the_service_runs_the_whole_quoted_executable_as_system_and_restarts) {
    const std::wstring executable = GetParam();
    auto& m = sim::machine::instance();
    m.reset();
    logging::diagnostic_log log;
    m.set_module_path(executable);
    // The log beside a deep executable would lie past the path limit.
    m.create_directory(L"C:\\Windows\\system32");
    m.set_settings_file(executable.substr(0, executable.rfind(L'\\')) + L"\\quillmark_snaptel.ini",
                        L"[SERVICE]\r\nLogFile=C:\\Windows\\system32\\quillmark_snaptel.log\r\n");
    EXPECT_EQ(service::install_service(), 0u);
    const auto services = m.services();
    ASSERT_EQ(services.size(), 1u);
    EXPECT_EQ(services[0].name, L"quillmark_snaptel");
    EXPECT_EQ(services[0].display_name, L"quillmark_snaptel");
    EXPECT_EQ(services[0].service_type, platform::service_win32_own_process);
    EXPECT_EQ(services[0].start_type, platform::service_auto_start);
    EXPECT_EQ(services[0].error_control, platform::service_error_ignore);
    EXPECT_EQ(services[0].binary_path, L"\"" + executable + L"\"");
    EXPECT_EQ(services[0].description,
              L"Keeps the Snap telemetry host agent (snapteld.exe) and its system plugins running: "
              L"launches them, checks every minute that they run and restarts them when they do "
              L"not.");
    // A minute after every failure, the count of failures reset after a day, and also after
    // a stop with an error code.
    EXPECT_EQ(services[0].failure_reset_period_s, 86400u);
    ASSERT_EQ(services[0].failure_actions.size(), 3u);
    for (const platform::sc_action& action : services[0].failure_actions) {
        EXPECT_EQ(action.type, platform::sc_action_restart);
        EXPECT_EQ(action.delay_ms, 60000u);
    }
    EXPECT_TRUE(services[0].failure_actions_on_non_crash_failures);
    // The event source names the executable itself, unquoted; uninstall takes it away.
    using values = std::map<std::wstring, sim::registry_value>;
    EXPECT_EQ(m.registry_key(event_source_key),
              (values{{L"EventMessageFile", {platform::reg_expand_sz, executable, 0}},
                      {L"TypesSupported", {platform::reg_dword, {}, 7}}}));
    EXPECT_EQ(service::uninstall_service(), 0u);
    EXPECT_FALSE(m.registry_key(event_source_key).has_value());
    EXPECT_TRUE(m.registry_key(L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application"));
}

INSTANTIATE_TEST_SUITE_P(
    paths, registration_parameters,
    ::testing::Values(L"C:\\Program Files\\Quillmark\\quillmark_snaptel.exe",
                      // Longer than the path limit: registered whole, never cut.
                      L"C:\\" + std::wstring(300, L'q') + L"\\quillmark_snaptel.exe"));

}  // namespace
