#include <algorithm>

#include "sim/machine_impl.h"

namespace sim {

process_record* processes_state::find(std::uint32_t id) {
    const auto found = every_process.find(id);
    return found != every_process.end() ? found->second.get() : nullptr;
}

std::shared_ptr<process_record> processes_state::add(std::wstring image_path,
                                                     process_options options) {
    auto process = std::make_shared<process_record>();
    process->id = next_id;
    next_id += 4;
    process->image_path = std::move(image_path);
    process->options = options;
    listed.push_back(process);
    every_process.emplace(process->id, process);
    return process;
}

void processes_state::end(process_record& process, std::uint32_t code) {
    process.ended = true;
    process.exit_code = code;
    process.ends_at_ms.reset();
    // The system closes a process's files when it ends.
    process.held_files.clear();
    if (!process.options.listed_after_exit) {
        std::erase_if(listed, [&](const auto& other) { return other.get() == &process; });
    }
}

std::uint32_t machine::start_process(std::wstring image_path, process_options options) {
    std::lock_guard guard(impl_->lock);
    return impl_->processes.add(std::move(image_path), options)->id;
}

void machine::end_process(std::uint32_t id, std::uint32_t exit_code) {
    std::lock_guard guard(impl_->lock);
    if (auto* process = impl_->processes.find(id); process != nullptr && !process->ended) {
        impl_->processes.end(*process, exit_code);
    }
}

bool machine::is_running(std::uint32_t id) const {
    std::lock_guard guard(impl_->lock);
    const auto* process = impl_->processes.find(id);
    return process != nullptr && !process->ended;
}

std::optional<std::uint32_t> machine::exit_code(std::uint32_t id) const {
    std::lock_guard guard(impl_->lock);
    const auto* process = impl_->processes.find(id);
    if (process == nullptr || !process->ended) return std::nullopt;
    return process->exit_code;
}

void machine::set_current_process(std::uint32_t id) {
    std::lock_guard guard(impl_->lock);
    impl_->processes.current_id = id;
}

int machine::terminations(std::uint32_t id) const {
    std::lock_guard guard(impl_->lock);
    const auto* process = impl_->processes.find(id);
    return process != nullptr ? process->terminations : 0;
}

void machine::hold_file(std::uint32_t id, const std::wstring& path, std::uint32_t share_mode) {
    std::lock_guard guard(impl_->lock);
    if (auto* process = impl_->processes.find(id); process != nullptr && !process->ended) {
        process->held_files.push_back({impl_->fs.locate(path, false).key, share_mode});
    }
}

}  // namespace sim

namespace platform {
namespace {

sim::process_record* process_of(sim::machine::impl& m, handle object) {
    auto* record = m.handles.find(object, sim::handle_kind::process);
    return record != nullptr ? record->process.get() : nullptr;
}

// True when the process handle was opened with at least one of `rights`.
bool grants(sim::machine::impl& m, handle object, std::uint32_t rights) {
    const auto* record = m.handles.find(object, sim::handle_kind::process);
    return record != nullptr && (record->access & rights) != 0;
}

constexpr std::uint32_t query_rights =
    sim::process_query_information | sim::process_query_limited_information;

std::wstring subject_of(const sim::process_record* process) {
    return process != nullptr ? std::to_wstring(process->id) : std::wstring{};
}

}  // namespace

bool enum_processes(std::uint32_t* ids, std::uint32_t bytes, std::uint32_t* bytes_returned) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    if (auto error = m.enter(sim::operation::enum_processes)) return sim::failure(false, *error);
    if (bytes_returned == nullptr || (ids == nullptr && bytes != 0)) {
        return sim::failure(false, error_invalid_parameter);
    }
    // Like the real call, a buffer that is too small is not an error: the caller sees
    // it full and asks again with a bigger one.
    const std::uint32_t capacity = bytes / static_cast<std::uint32_t>(sizeof(std::uint32_t));
    std::uint32_t written = 0;
    for (const auto& process : m.processes.listed) {
        if (written == capacity) break;
        if (process->ended && !process->options.listed_after_exit) continue;
        ids[written++] = process->id;
    }
    *bytes_returned = written * static_cast<std::uint32_t>(sizeof(std::uint32_t));
    return true;
}

handle open_process(std::uint32_t access, bool /*inherit_handle*/, std::uint32_t id) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    if (auto error = m.enter(sim::operation::open_process, std::to_wstring(id))) {
        return sim::failure<handle>(nullptr, *error);
    }
    // Only a listed process can be opened: one running, or ended and still listed.
    const auto found = m.processes.every_process.find(id);
    if (found == m.processes.every_process.end() ||
        (found->second->ended && !found->second->options.listed_after_exit)) {
        return sim::failure<handle>(nullptr, error_invalid_parameter);
    }
    if (found->second->options.cannot_open) {
        return sim::failure<handle>(nullptr, error_access_denied);
    }
    sim::handle_record record;
    record.kind = sim::handle_kind::process;
    record.process = found->second;
    record.access = access;
    return m.handles.add(std::move(record));
}

std::uint32_t get_process_image_file_name(handle process, wchar_t* buffer, std::uint32_t size) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    const auto* target = process_of(m, process);
    if (auto error = m.enter(sim::operation::get_process_image_file_name, subject_of(target))) {
        return sim::failure(0u, *error);
    }
    if (target == nullptr) return sim::failure(0u, error_invalid_handle);
    if (!grants(m, process, query_rights)) return sim::failure(0u, error_access_denied);
    if (target->options.image_unreadable) return sim::failure(0u, error_access_denied);
    const std::wstring& image = target->image_path;
    if (buffer == nullptr || image.size() + 1 > size) {
        return sim::failure(0u, error_insufficient_buffer);
    }
    std::copy(image.begin(), image.end(), buffer);
    buffer[image.size()] = L'\0';
    return static_cast<std::uint32_t>(image.size());
}

std::uint32_t get_current_process_id() {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    return m.processes.current_id;
}

bool get_exit_code_process(handle process, std::uint32_t* exit_code) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    const auto* target = process_of(m, process);
    if (auto error = m.enter(sim::operation::get_exit_code_process, subject_of(target))) {
        return sim::failure(false, *error);
    }
    if (target == nullptr) return sim::failure(false, error_invalid_handle);
    if (!grants(m, process, query_rights)) return sim::failure(false, error_access_denied);
    if (exit_code == nullptr) return sim::failure(false, error_invalid_parameter);
    *exit_code = target->ended ? target->exit_code : still_active;
    return true;
}

bool terminate_process(handle process, std::uint32_t exit_code) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    auto* target = process_of(m, process);
    if (target != nullptr) ++target->terminations;
    if (auto error = m.enter(sim::operation::terminate_process, subject_of(target))) {
        return sim::failure(false, *error);
    }
    if (target == nullptr) return sim::failure(false, error_invalid_handle);
    if (!grants(m, process, sim::process_terminate)) {
        return sim::failure(false, error_access_denied);
    }
    // Windows refuses to terminate a process that has already exited.
    if (target->ended) return sim::failure(false, error_access_denied);
    if (target->options.survives_termination || target->ends_at_ms) return true;
    if (target->options.exit_delay_ms > 0) {
        target->ends_at_ms = m.clock.elapsed_ms + target->options.exit_delay_ms;
        target->pending_exit_code = exit_code;
        return true;
    }
    m.processes.end(*target, exit_code);
    return true;
}

}  // namespace platform
