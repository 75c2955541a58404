// The Service Control Manager: a registry of services for installing and uninstalling,
// and the dispatcher of a process started as a service, which runs the service main
// function on a thread of its own and delivers control requests on its caller's thread.
#include <algorithm>

#include "sim/machine_impl.h"

namespace sim {
namespace {

constexpr platform::error_code error_service_does_not_exist = 1060;
constexpr platform::error_code error_failed_service_controller_connect = 1063;
constexpr platform::error_code error_service_marked_for_delete = 1072;
constexpr platform::error_code error_service_exists = 1073;
constexpr platform::error_code error_invalid_name = 123;
constexpr platform::error_code error_invalid_service_control = 1052;
constexpr platform::error_code error_service_request_timeout = 1053;
constexpr platform::error_code error_service_cannot_accept_ctrl = 1061;
constexpr std::uint32_t service_accept_pause_continue = 2;

std::uint32_t run_service_main(void* parameter) {
    auto& dispatcher = *static_cast<dispatcher_state*>(parameter);
    dispatcher.main(1, dispatcher.arguments);
    return 0;
}

bool has(std::uint32_t access, std::uint32_t right) {
    return (access & right) == right;
}

}  // namespace

std::vector<service_entry> machine::services() const {
    std::lock_guard guard(impl_->lock);
    std::vector<service_entry> found;
    for (const auto& [key, service] : impl_->scm.services) found.push_back(service);
    return found;
}

void machine::add_service(service_entry service) {
    std::lock_guard guard(impl_->lock);
    impl_->scm.services[to_lower(service.name)] = std::move(service);
}

void machine::set_service_state(const std::wstring& name, std::uint32_t state) {
    std::lock_guard guard(impl_->lock);
    const auto found = impl_->scm.services.find(to_lower(name));
    if (found == impl_->scm.services.end()) return;
    found->second.state = state;
    if (state == platform::service_stopped && found->second.marked_for_deletion) {
        impl_->scm.services.erase(found);
    }
}

void machine::start_as_service(const std::wstring& name) {
    std::lock_guard guard(impl_->lock);
    impl_->scm.dispatcher.service_name = name;
}

void machine::send_control(std::uint64_t ms, std::uint32_t control) {
    std::lock_guard guard(impl_->lock);
    impl_->scm.dispatcher.controls.emplace(ms, control);
}

std::vector<status_report> machine::status_reports() const {
    std::lock_guard guard(impl_->lock);
    return impl_->scm.dispatcher.reports;
}

void machine::set_service_limits(std::uint64_t start_ms, std::uint64_t control_ms) {
    std::lock_guard guard(impl_->lock);
    impl_->scm.dispatcher.start_limit_ms = start_ms;
    impl_->scm.dispatcher.control_limit_ms = control_ms;
}

std::optional<std::uint32_t> machine::start_result() const {
    std::lock_guard guard(impl_->lock);
    return impl_->scm.dispatcher.start_result;
}

bool machine::process_ended() const {
    std::lock_guard guard(impl_->lock);
    return impl_->scm.dispatcher.process_ended;
}

std::vector<control_result> machine::control_results() const {
    std::lock_guard guard(impl_->lock);
    const auto& dispatcher = impl_->scm.dispatcher;
    std::vector<control_result> found;
    for (const auto& control : dispatcher.sent) {
        if (control.result) {
            found.push_back({control.sent_ms, control.control, *control.result});
        } else if (impl_->clock.elapsed_ms - control.delivered_ms >= dispatcher.control_limit_ms) {
            found.push_back({control.sent_ms, control.control, error_service_request_timeout});
        }
    }
    return found;
}

void machine::impl::watch_start() {
    auto& dispatcher = scm.dispatcher;
    dispatcher.start_deadline =
        scheduler.timers.emplace(clock.elapsed_ms + dispatcher.start_limit_ms, [this] {
            std::lock_guard guard(lock);
            auto& dispatcher = scm.dispatcher;
            dispatcher.start_deadline.reset();
            if (dispatcher.start_result) return;
            // As Wine's manager does, which ends the process of a service that does not
            // report in time; Windows leaves it running.
            dispatcher.start_result = error_service_request_timeout;
            dispatcher.process_ended = true;
            const auto found = scm.services.find(to_lower(dispatcher.service_name));
            if (found != scm.services.end()) {
                found->second.state = platform::service_stopped;
                if (found->second.marked_for_deletion) scm.services.erase(found);
            }
            halt_process_threads();
        });
}

std::optional<std::uint32_t> machine::impl::refusal(std::uint32_t control) const {
    const auto& reports = scm.dispatcher.reports;
    // Until its first report the manager holds the service starting.
    const std::uint32_t state =
        reports.empty() ? platform::service_start_pending : reports.back().status.current_state;
    const std::uint32_t accepted = reports.empty() ? 0 : reports.back().status.controls_accepted;
    if (control == platform::service_control_interrogate) return std::nullopt;
    // Windows refuses a stop while the start is pending too, where Wine passes it on to
    // the test of the accepted controls (1052).
    if (state == platform::service_start_pending || state == platform::service_stop_pending) {
        return error_service_cannot_accept_ctrl;
    }
    std::uint32_t needed = 0;
    switch (control) {
        case platform::service_control_stop:
            needed = platform::service_accept_stop;
            break;
        case platform::service_control_shutdown:
            needed = platform::service_accept_shutdown;
            break;
        case platform::service_control_pause:
        case platform::service_control_continue:
            needed = service_accept_pause_continue;
            break;
        default:
            return std::nullopt;
    }
    if ((accepted & needed) == 0) return error_invalid_service_control;
    return std::nullopt;
}

}  // namespace sim

namespace platform {
namespace {

sim::handle_record* service_handle(sim::machine::impl& m, handle object) {
    auto* record = m.handles.find(object);
    return record != nullptr && (record->kind == sim::handle_kind::service ||
                                 record->kind == sim::handle_kind::service_manager)
               ? record
               : nullptr;
}

}  // namespace

handle open_sc_manager(std::uint32_t access) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    if (auto error = m.enter(sim::operation::open_sc_manager)) {
        return sim::failure<handle>(nullptr, *error);
    }
    sim::handle_record record;
    record.kind = sim::handle_kind::service_manager;
    record.access = access;
    return m.handles.add(std::move(record));
}

handle create_service(handle manager, const wchar_t* name, const wchar_t* display_name,
                      std::uint32_t access, std::uint32_t service_type, std::uint32_t start_type,
                      std::uint32_t error_control, const wchar_t* binary_path) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    const std::wstring wanted = name != nullptr ? name : L"";
    if (auto error = m.enter(sim::operation::create_service, wanted)) {
        return sim::failure<handle>(nullptr, *error);
    }
    const auto* database = m.handles.find(manager, sim::handle_kind::service_manager);
    if (database == nullptr) return sim::failure<handle>(nullptr, error_invalid_handle);
    if (!sim::has(database->access, sc_manager_create_service)) {
        return sim::failure<handle>(nullptr, error_access_denied);
    }
    if (wanted.empty()) return sim::failure<handle>(nullptr, sim::error_invalid_name);
    if (binary_path == nullptr || *binary_path == L'\0') {
        return sim::failure<handle>(nullptr, error_invalid_parameter);
    }
    const std::wstring key = sim::to_lower(wanted);
    if (const auto existing = m.scm.services.find(key); existing != m.scm.services.end()) {
        return sim::failure<handle>(nullptr, existing->second.marked_for_deletion
                                                 ? sim::error_service_marked_for_delete
                                                 : sim::error_service_exists);
    }
    sim::service_entry created;
    created.name = wanted;
    created.display_name = display_name != nullptr ? display_name : L"";
    created.service_type = service_type;
    created.start_type = start_type;
    created.error_control = error_control;
    created.binary_path = binary_path;
    m.scm.services[key] = std::move(created);
    sim::handle_record record;
    record.kind = sim::handle_kind::service;
    record.access = access;
    record.service_key = key;
    return m.handles.add(std::move(record));
}

handle open_service(handle manager, const wchar_t* name, std::uint32_t access) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    const std::wstring wanted = name != nullptr ? name : L"";
    if (auto error = m.enter(sim::operation::open_service, wanted)) {
        return sim::failure<handle>(nullptr, *error);
    }
    if (m.handles.find(manager, sim::handle_kind::service_manager) == nullptr) {
        return sim::failure<handle>(nullptr, error_invalid_handle);
    }
    const std::wstring key = sim::to_lower(wanted);
    if (m.scm.services.count(key) == 0) {
        return sim::failure<handle>(nullptr, sim::error_service_does_not_exist);
    }
    sim::handle_record record;
    record.kind = sim::handle_kind::service;
    record.access = access;
    record.service_key = key;
    return m.handles.add(std::move(record));
}

bool query_service_status(handle service, service_status& status) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    if (auto error = m.enter(sim::operation::query_service_status)) {
        return sim::failure(false, *error);
    }
    const auto* record = m.handles.find(service, sim::handle_kind::service);
    if (record == nullptr) return sim::failure(false, error_invalid_handle);
    if (!sim::has(record->access, service_query_status)) {
        return sim::failure(false, error_access_denied);
    }
    const auto found = m.scm.services.find(record->service_key);
    if (found == m.scm.services.end()) {
        return sim::failure(false, sim::error_service_does_not_exist);
    }
    status = service_status{};
    status.service_type = found->second.service_type;
    status.current_state = found->second.state;
    status.win32_exit_code = found->second.win32_exit_code;
    status.service_specific_exit_code = found->second.service_specific_exit_code;
    return true;
}

bool delete_service(handle service) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    if (auto error = m.enter(sim::operation::delete_service)) return sim::failure(false, *error);
    const auto* record = m.handles.find(service, sim::handle_kind::service);
    if (record == nullptr) return sim::failure(false, error_invalid_handle);
    if (!sim::has(record->access, delete_access)) return sim::failure(false, error_access_denied);
    const auto found = m.scm.services.find(record->service_key);
    if (found == m.scm.services.end()) {
        return sim::failure(false, sim::error_service_does_not_exist);
    }
    if (found->second.marked_for_deletion) {
        return sim::failure(false, sim::error_service_marked_for_delete);
    }
    // As on Windows, a service that is not stopped goes once it stops.
    if (found->second.state == service_stopped) {
        m.scm.services.erase(found);
    } else {
        found->second.marked_for_deletion = true;
    }
    return true;
}

namespace {

// The service a handle opened with `right` names, after counting the call and applying a
// fault; nullptr with the last error set when the call fails.
sim::service_entry* configurable_service(sim::machine::impl& m, sim::operation op, handle service,
                                         std::uint32_t right) {
    if (auto error = m.enter(op)) return sim::failure<sim::service_entry*>(nullptr, *error);
    const auto* record = m.handles.find(service, sim::handle_kind::service);
    if (record == nullptr) return sim::failure<sim::service_entry*>(nullptr, error_invalid_handle);
    if (!sim::has(record->access, right)) {
        return sim::failure<sim::service_entry*>(nullptr, error_access_denied);
    }
    const auto found = m.scm.services.find(record->service_key);
    if (found == m.scm.services.end() || found->second.marked_for_deletion) {
        return sim::failure<sim::service_entry*>(nullptr, sim::error_service_marked_for_delete);
    }
    return &found->second;
}

constexpr std::uint32_t service_change_config = 0x2;

}  // namespace

bool change_service_description(handle service, const wchar_t* description) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    auto* found = configurable_service(m, sim::operation::change_service_description, service,
                                       service_change_config);
    if (found == nullptr) return false;
    found->description = description != nullptr ? description : L"";
    return true;
}

bool change_service_failure_actions(handle service, std::uint32_t reset_period_s,
                                    const sc_action* actions, std::uint32_t count) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    auto* found = configurable_service(m, sim::operation::change_service_failure_actions, service,
                                       service_change_config);
    if (found == nullptr) return false;
    if (count != 0 && actions == nullptr) return sim::failure(false, error_invalid_parameter);
    // As Windows checks: restarting the service takes the right to start it.
    const bool restarts = std::any_of(actions, actions + count, [](const sc_action& action) {
        return action.type == sc_action_restart;
    });
    const auto* record = m.handles.find(service, sim::handle_kind::service);
    if (restarts && !sim::has(record->access, service_start)) {
        return sim::failure(false, error_access_denied);
    }
    found->failure_reset_period_s = reset_period_s;
    found->failure_actions.assign(actions, actions + count);
    return true;
}

bool change_service_failure_actions_flag(handle service, bool on_non_crash_failures) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    auto* found = configurable_service(m, sim::operation::change_service_failure_actions_flag,
                                       service, service_change_config);
    if (found == nullptr) return false;
    found->failure_actions_on_non_crash_failures = on_non_crash_failures;
    return true;
}

bool query_service_config(handle service, service_config& config) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    const auto* found = configurable_service(m, sim::operation::query_service_config, service,
                                             service_query_config);
    if (found == nullptr) return false;
    config =
        service_config{found->service_type, found->start_type, found->binary_path, found->account};
    return true;
}

bool query_service_description(handle service, std::wstring& description) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    const auto* found = configurable_service(m, sim::operation::query_service_description, service,
                                             service_query_config);
    if (found == nullptr) return false;
    description = found->description;
    return true;
}

bool query_service_failure_actions(handle service, std::uint32_t& reset_period_s,
                                   std::vector<sc_action>& actions) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    const auto* found = configurable_service(m, sim::operation::query_service_failure_actions,
                                             service, service_query_config);
    if (found == nullptr) return false;
    reset_period_s = found->failure_reset_period_s;
    actions = found->failure_actions;
    return true;
}

bool query_service_failure_actions_flag(handle service, bool& on_non_crash_failures) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    const auto* found = configurable_service(m, sim::operation::query_service_failure_actions_flag,
                                             service, service_query_config);
    if (found == nullptr) return false;
    on_non_crash_failures = found->failure_actions_on_non_crash_failures;
    return true;
}

bool close_service_handle(handle manager_or_service) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    if (auto error = m.enter(sim::operation::close_service_handle)) {
        return sim::failure(false, *error);
    }
    if (service_handle(m, manager_or_service) == nullptr) {
        return sim::failure(false, error_invalid_handle);
    }
    m.handles.open.erase(reinterpret_cast<std::uintptr_t>(manager_or_service));
    return true;
}

bool start_service_ctrl_dispatcher(const wchar_t* name, service_main_function main) {
    auto& m = sim::machine::instance().internals();
    sim::machine::impl::guard held(m.lock);
    if (auto error = m.enter(sim::operation::start_service_ctrl_dispatcher)) {
        return sim::failure(false, *error);
    }
    auto& dispatcher = m.scm.dispatcher;
    if (dispatcher.service_name.empty() || dispatcher.main != nullptr) {
        return sim::failure(false, sim::error_failed_service_controller_connect);
    }
    if (name == nullptr || main == nullptr) return sim::failure(false, error_invalid_parameter);
    dispatcher.main = main;
    dispatcher.arguments[0] = dispatcher.service_name.data();
    m.start_thread("ServiceMain", sim::run_service_main, &dispatcher);
    m.watch_start();

    // Serves until the service reports itself stopped, without waiting for its main
    // function to return, as the real dispatcher does.
    const auto control_due = [&m, &dispatcher] {
        return dispatcher.handler != nullptr && !dispatcher.controls.empty() &&
               dispatcher.controls.begin()->first <= m.clock.elapsed_ms;
    };
    for (;;) {
        if (dispatcher.stopped_reported) return true;
        // Only a dispatcher on the test thread, which is not halted, comes here.
        if (dispatcher.process_ended) {
            return sim::failure(false, sim::error_service_request_timeout);
        }
        if (control_due()) {
            const auto [sent_ms, control] = *dispatcher.controls.begin();
            dispatcher.controls.erase(dispatcher.controls.begin());
            const std::size_t index = dispatcher.sent.size();
            dispatcher.sent.push_back({sent_ms, m.clock.elapsed_ms, control, m.refusal(control)});
            if (dispatcher.sent.back().result) continue;
            const service_control_target target = *dispatcher.handler;
            held.unlock();
            const std::uint32_t returned = target.handler(control, target.context);
            held.lock();
            // The sender has had 1053 by then; the handler's work goes on all the same, as
            // on Windows.
            auto& delivered = dispatcher.sent[index];
            const bool too_late =
                m.clock.elapsed_ms - delivered.delivered_ms >= dispatcher.control_limit_ms;
            delivered.result = too_late ? sim::error_service_request_timeout : returned;
            continue;
        }
        std::optional<std::uint64_t> next;
        if (dispatcher.handler != nullptr && !dispatcher.controls.empty()) {
            next = dispatcher.controls.begin()->first;
        }
        // Without a handler yet there is no moment to wait for: the registration wakes the
        // dispatcher, which then waits until the next control is due, so that each control
        // arrives at its moment however long the service main function takes to register.
        const bool awaiting_handler = dispatcher.handler == nullptr;
        m.block(
            held,
            [&] {
                return dispatcher.stopped_reported || dispatcher.process_ended || control_due() ||
                       (awaiting_handler && dispatcher.handler != nullptr);
            },
            next, "the service control manager's requests");
    }
}

handle register_service_ctrl_handler_ex(const wchar_t* name, const service_control_target& target) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    if (auto error = m.enter(sim::operation::register_service_ctrl_handler)) {
        return sim::failure<handle>(nullptr, *error);
    }
    auto& dispatcher = m.scm.dispatcher;
    // A process started as a service may register; a test may also call the service main
    // function itself, as the dispatcher would.
    if (dispatcher.service_name.empty() || name == nullptr ||
        sim::to_lower(name) != sim::to_lower(dispatcher.service_name)) {
        return sim::failure<handle>(nullptr, sim::error_service_does_not_exist);
    }
    if (target.handler == nullptr) return sim::failure<handle>(nullptr, error_invalid_parameter);
    dispatcher.handler = &target;
    sim::handle_record record;
    record.kind = sim::handle_kind::service_status;
    record.service_key = sim::to_lower(dispatcher.service_name);
    return m.handles.add(std::move(record));
}

bool set_service_status(handle status_handle, const service_status& status) {
    auto& m = sim::machine::instance().internals();
    sim::machine::impl::guard held(m.lock);
    if (auto error =
            m.enter(sim::operation::set_service_status, std::to_wstring(status.current_state))) {
        return sim::failure(false, *error);
    }
    const auto* record = m.handles.find(status_handle, sim::handle_kind::service_status);
    if (record == nullptr) return sim::failure(false, error_invalid_handle);
    if (status.current_state < service_stopped || status.current_state > 7) {
        return sim::failure(false, error_invalid_parameter);
    }
    auto& dispatcher = m.scm.dispatcher;
    dispatcher.reports.push_back({status, m.clock.elapsed_ms});
    // Any first report ends the start, as the manager waits only for the service to
    // answer at all.
    if (dispatcher.main != nullptr && !dispatcher.start_result) {
        dispatcher.start_result = no_error;
        if (dispatcher.start_deadline) {
            m.scheduler.timers.erase(*dispatcher.start_deadline);
            dispatcher.start_deadline.reset();
        }
    }
    if (const auto found = m.scm.services.find(record->service_key);
        found != m.scm.services.end()) {
        found->second.state = status.current_state;
        found->second.win32_exit_code = status.win32_exit_code;
        found->second.service_specific_exit_code = status.service_specific_exit_code;
        if (status.current_state == service_stopped && found->second.marked_for_deletion) {
            m.scm.services.erase(found);
        }
    }
    if (status.current_state == service_stopped) {
        dispatcher.stopped_reported = true;
        m.let_woken_threads_compete(held);
    }
    return true;
}

}  // namespace platform
