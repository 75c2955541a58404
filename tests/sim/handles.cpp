#include "sim/machine_impl.h"

namespace sim {

platform::handle handles_state::add(handle_record record) {
    const std::uintptr_t value = next_value;
    next_value += 4;
    open.emplace(value, std::move(record));
    return reinterpret_cast<platform::handle>(value);
}

handle_record* handles_state::find(platform::handle value, handle_kind kind) {
    handle_record* found = find(value);
    return found != nullptr && found->kind == kind ? found : nullptr;
}

handle_record* handles_state::find(platform::handle value) {
    const auto found = open.find(reinterpret_cast<std::uintptr_t>(value));
    return found != open.end() ? &found->second : nullptr;
}

int machine::stale_handle_uses() const {
    std::lock_guard guard(impl_->lock);
    return impl_->handles.stale_uses;
}

std::size_t machine::open_handles() const {
    std::lock_guard guard(impl_->lock);
    std::size_t open = 0;
    for (const auto& [value, record] : impl_->handles.open) {
        if (record.kind != handle_kind::file && record.kind != handle_kind::service_status &&
            record.kind != handle_kind::event_source) {
            ++open;
        }
    }
    return open;
}

}  // namespace sim

namespace platform {

handle invalid_handle_value() {
    return reinterpret_cast<handle>(static_cast<std::intptr_t>(-1));
}

bool close_handle(handle object) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    const sim::handle_record* record = m.handles.find(object);
    const std::wstring subject =
        record != nullptr && record->process ? std::to_wstring(record->process->id) : L"";
    if (auto error = m.enter(sim::operation::close_handle, subject)) {
        return sim::failure(false, *error);
    }
    // A listing is closed by FindClose and a manager or service handle by
    // CloseServiceHandle, never by CloseHandle.
    if (record == nullptr) ++m.handles.stale_uses;
    if (record == nullptr || record->kind == sim::handle_kind::listing ||
        record->kind == sim::handle_kind::service_manager ||
        record->kind == sim::handle_kind::service ||
        record->kind == sim::handle_kind::service_status ||
        record->kind == sim::handle_kind::event_source ||
        record->kind == sim::handle_kind::registry_key) {
        return sim::failure(false, error_invalid_handle);
    }
    const std::wstring file_key = record->kind == sim::handle_kind::file ? record->file.key : L"";
    m.handles.open.erase(reinterpret_cast<std::uintptr_t>(object));
    if (!file_key.empty()) m.release_file(file_key);
    return true;
}

}  // namespace platform
