#include "platform/sim/machine_impl.h"

namespace sim {

platform::handle machine::impl::add_handle(handle_record record) {
    const std::uintptr_t value = next_handle;
    next_handle += 4;
    handles.emplace(value, std::move(record));
    return reinterpret_cast<platform::handle>(value);
}

handle_record* machine::impl::find_handle(platform::handle value, handle_kind kind) {
    const auto found = handles.find(reinterpret_cast<std::uintptr_t>(value));
    if (found == handles.end() || found->second.kind != kind) return nullptr;
    return &found->second;
}

std::size_t machine::open_handles() const {
    std::lock_guard guard(impl_->lock);
    return impl_->handles.size();
}

}  // namespace sim

namespace platform {

handle invalid_handle_value() {
    return reinterpret_cast<handle>(static_cast<std::intptr_t>(-1));
}

bool close_handle(handle object) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    const sim::handle_record* record = m.find_handle(object, sim::handle_kind::process);
    const std::wstring subject = record != nullptr ? std::to_wstring(record->process->id) : L"";
    if (auto error = m.enter(sim::operation::close_handle, subject)) {
        return sim::failure(false, *error);
    }
    if (record == nullptr) return sim::failure(false, error_invalid_handle);
    m.handles.erase(reinterpret_cast<std::uintptr_t>(object));
    return true;
}

}  // namespace platform
