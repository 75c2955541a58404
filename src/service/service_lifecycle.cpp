#include "service/service_lifecycle.h"

#include <memory>

#include "cleanup/cleanup.h"
#include "logging/diagnostic_log.h"
#include "logging/log_windows_error.h"
#include "platform/clock.h"
#include "platform/unique_handle.h"
#include "service/manager_error.h"
#include "service/service_name.h"
#include "service/service_state.h"
#include "supervision/agent_launch.h"
#include "supervision/worker_thread.h"

namespace service {
namespace {

// The run's state, for ServiceMain, which the dispatcher calls without a context of its
// own. Set before the dispatcher starts and cleared after it has returned; ServiceMain
// keeps a reference of its own, as it may outlive the run's wait for it. The control
// handler gets the state as its context.
std::shared_ptr<service_state> current_run;

// ServiceMain has at most its "exit" line left to write once the dispatcher has returned;
// should it never have run at all, the process still ends.
constexpr std::uint32_t wait_for_service_main_ms = 5000;

class signal_on_exit {
  public:
    explicit signal_on_exit(platform::handle ended) : ended_(ended) {}
    signal_on_exit(const signal_on_exit&) = delete;
    signal_on_exit& operator=(const signal_on_exit&) = delete;
    ~signal_on_exit() {
        if (ended_ != nullptr) platform::set_event(ended_);
    }

  private:
    platform::handle ended_;
};

constexpr std::uint32_t stop_and_shutdown =
    platform::service_accept_stop | platform::service_accept_shutdown;

// A report that fails is logged, and the service goes on as after a successful one.
void report(service_state& state, const platform::exclusive_lock& held, const wchar_t* tag,
            std::uint32_t current_state, std::uint32_t controls_accepted,
            std::uint32_t win32_exit_code, std::uint32_t check_point,
            const wchar_t* failure = L"SetServiceStatus returned an error",
            std::uint32_t service_specific_exit_code = 0) {
    if (!report_status(state, held, current_state, controls_accepted, win32_exit_code, check_point,
                       service_specific_exit_code)) {
        log_manager_error(tag, failure);
    }
}

// The exit codes of the stopped report for the worker thread's code: a Windows error code
// as itself; any other failing code (a result code of a folder query, whose high bit is
// set) as a service-specific one, as the manager wants those.
struct stopped_codes {
    std::uint32_t win32_exit_code = 0;
    std::uint32_t service_specific_exit_code = 0;
};

stopped_codes codes_of(std::uint32_t worker_code) {
    constexpr std::uint32_t largest_windows_error = 0xFFFF;
    if (worker_code <= largest_windows_error) {
        return {worker_code, 0};
    }
    return {platform::error_service_specific_error, worker_code};
}

// A stop ends its deletion when this much time has passed since the request, and leaves
// the rest to the next start: the handler must return well within the manager's control
// limit (30 s on Windows, 10 s under Wine), and a stop that waits for a restart under way
// waits a few seconds more.
constexpr std::uint64_t stop_budget_ms = 6000;

constexpr const wchar_t* handler_tag = L"ServiceCtrlHandler";

void report_progress(service_state& state, const wchar_t* tag) {
    const platform::exclusive_lock held(state.status_lock);
    if (!report_progress(state, held)) {
        log_manager_error(tag, L"SetServiceStatus returned an error");
    }
}

// Reports the stop pending at once, before anything slow: the manager refuses a second
// stop meanwhile instead of ending the service half-way. False when the service is not
// running.
bool begin_stop(service_state& state) {
    const platform::exclusive_lock held(state.status_lock);
    if (state.status.current_state != platform::service_running) {
        return false;
    }
    report(state, held, handler_tag, platform::service_stop_pending, 0, 0, 4);
    return true;
}

void stop_sequence(service_state& state, std::uint64_t requested_ms) {
    // Marked before the agent is stopped, so that a restart under way on the worker
    // cannot launch it again behind this stop, and gives way to it.
    state.group.request_stop();
    cleanup::pace reporting([&state] { report_progress(state, handler_tag); },
                            requested_ms + stop_budget_ms, nullptr);
    supervision::stop_agent(state.group, reporting);
    const platform::exclusive_lock held(state.status_lock);
    // The worker may have ended by itself meanwhile, and ServiceMain reported the
    // service stopped and closed the event: nothing is left to stop then.
    if (state.status.current_state == platform::service_stopped) {
        return;
    }
    logging::log_debug(handler_tag, L"send stop signal.");
    platform::set_event(state.group.stop_event.get());
}

std::uint32_t ServiceCtrlHandler(std::uint32_t control, void* context) {
    return handle_control(*static_cast<service_state*>(context), control);
}

void ServiceMain(std::uint32_t /*argument_count*/, wchar_t** /*arguments*/) {
    const std::shared_ptr<service_state> state = current_run;
    if (state) service_main(*state);
}

}  // namespace

std::uint32_t run_service() {
    constexpr const wchar_t* tag = L"run_service";
    logging::log_debug(tag, L"enter");
    logging::log_debug(tag, L"starting service ...");

    const auto state = std::make_shared<service_state>();
    state->service_main_ended.reset(platform::create_event(true, false));
    current_run = state;
    const bool served = platform::start_service_ctrl_dispatcher(service_name, ServiceMain);
    current_run.reset();
    // Run from a console, its lines go to the end of the log, as any command's.
    logging::current_log().append_held_lines();
    if (!served) {
        return log_manager_error(tag, L"StartServiceCtrlDispatcher returned an error.");
    }
    // Without the event (the system had none to give) there is nothing to wait on, and a
    // wait on no handle would only fail: ServiceMain's last line may then come too late.
    if (state->service_main_ended) {
        platform::wait_for_single_object(state->service_main_ended.get(), wait_for_service_main_ms);
    }
    logging::log_debug(tag, L"exit");
    return 0;
}

namespace {

constexpr const wchar_t* main_tag = L"ServiceMain";

// Registers the handler and reports the service starting, without a line: the manager
// ends a service that has not reported within its start limit, and what comes next may
// take longer. The error of a failed registration, 0 when registered.
platform::error_code register_and_report(service_state& state) {
    state.control_target = {ServiceCtrlHandler, &state};
    state.status_handle =
        platform::register_service_ctrl_handler_ex(service_name, state.control_target);
    if (state.status_handle == nullptr) {
        return platform::get_last_error();
    }
    const platform::exclusive_lock held(state.status_lock);
    state.status = {};
    state.status.service_type = platform::service_win32_own_process;
    report(state, held, main_tag, platform::service_start_pending, 0, 0, 1);
    return 0;
}

// Reports the service starting, then running once the stop event exists. False, with the
// manager told why when it can be, when it cannot run.
bool start_up(service_state& state) {
    constexpr const wchar_t* tag = main_tag;
    {
        const platform::exclusive_lock held(state.status_lock);
        logging::log_debug(tag, L"set status to pending.");
        report(state, held, tag, platform::service_start_pending, 0, 0,
               state.status.check_point + 1);
    }

    logging::log_debug(tag, L"create event used for stopping service.");
    state.group.stop_event.reset(platform::create_event(true, false));
    if (!state.group.stop_event) {
        const platform::error_code error = platform::get_last_error();
        const platform::exclusive_lock held(state.status_lock);
        logging::log_debug(tag, L"set status to stopped.");
        report(state, held, tag, platform::service_stopped, 0, error, 1);
        return false;
    }
    const platform::exclusive_lock held(state.status_lock);
    logging::log_debug(tag, L"set status to running.");
    report(state, held, tag, platform::service_running, stop_and_shutdown, 0, 0);
    return true;
}

// Runs the worker thread until it ends and reports the service stopped with the reason it
// ended. False when there was no worker (the service was reported stopped all the same).
bool supervise(service_state& state) {
    constexpr const wchar_t* tag = main_tag;
    logging::log_debug(tag, L"creating worker thread ...");
    const platform::unique_handle worker(
        platform::create_thread(supervision::ServiceWorkerThread, &state.group));
    if (!worker) {
        // Nothing would ever end a service that claims to run: it is reported stopped,
        // with the reason.
        const platform::error_code error =
            logging::log_last_error(tag, L"CreateThread returned an error");
        const platform::exclusive_lock held(state.status_lock);
        state.group.stop_event.reset();
        logging::log_debug(tag, L"set status to stopped.");
        report(state, held, tag, platform::service_stopped, 0, error, 1);
        return false;
    }
    logging::log_debug(tag, L"worker thread created.");
    logging::log_debug(tag, L"waiting for worker thread to stop ...");
    platform::wait_for_single_object(worker.get(), platform::infinite);

    logging::log_debug(tag, L"worker thread has stopped.");
    // The worker's code says why it ended: the manager is told of a failure, so that its
    // failure actions can bring the service back.
    std::uint32_t worker_code = 0;
    if (!platform::get_exit_code_thread(worker.get(), &worker_code)) {
        worker_code = 0;
    }
    const stopped_codes codes = codes_of(worker_code);
    const platform::exclusive_lock held(state.status_lock);
    state.group.stop_event.reset();
    logging::log_debug(tag, L"status to stopped.");
    report(state, held, tag, platform::service_stopped, 0, codes.win32_exit_code, 3,
           L"ServiceStatus returned an error", codes.service_specific_exit_code);
    return true;
}

}  // namespace

void service_main(service_state& state) {
    const signal_on_exit signal_end(state.service_main_ended.get());
    // Only now is the process known to be the service: its log begins anew, with this
    // run's lines so far, and the run before's lines are kept beside it.
    logging::current_log().begin_service_log();
    const platform::error_code registration_error = register_and_report(state);
    // What an earlier run left is cleared away only now that the process is known to be
    // the service: run from a console by mistake, it must not end the agent group of the
    // service that runs. Before this function's first line, so that the log reads as the
    // start always has; its progress is reported, as the directory may hold anything.
    if (registration_error == 0) {
        cleanup::pace reporting([&state] { report_progress(state, main_tag); },
                                cleanup::pace::no_deadline, nullptr);
        cleanup::clean_up(reporting);
    }
    logging::log_debug(main_tag, L"enter");
    if (registration_error != 0) {
        platform::set_last_error(registration_error);
        log_manager_error(main_tag, L"RegisterServiceCtrlHandler returned an error.");
        return;
    }
    if (start_up(state) && supervise(state)) {
        logging::log_debug(main_tag, L"exit");
    }
}

std::uint32_t handle_control(service_state& state, std::uint32_t control) {
    constexpr const wchar_t* tag = handler_tag;
    logging::log_debug(tag, L"enter");
    switch (control) {
        case platform::service_control_stop:
        case platform::service_control_shutdown: {
            const std::uint64_t requested_ms = platform::tick_count();
            if (begin_stop(state)) {
                stop_sequence(state, requested_ms);
            } else {
                logging::log_debug(tag, L"service is not running.");
            }
            break;
        }
        case platform::service_control_pause:
            logging::log_debug(tag, L"received command to pause.");
            break;
        case platform::service_control_continue:
            logging::log_debug(tag, L"received command to continue.");
            break;
        case platform::service_control_interrogate:
            break;
        default:
            logging::log_debug(tag, L"exit");
            return platform::error_call_not_implemented;
    }
    logging::log_debug(tag, L"exit");
    return platform::no_error;
}

}  // namespace service
