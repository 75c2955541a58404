// The Application event log and the registry keys under HKEY_LOCAL_MACHINE.
#include "sim/machine_impl.h"

namespace sim {
namespace {

// A registry path as keys are compared: lower case, backslashes, no trailing separator.
std::wstring registry_path(const std::wstring& subkey) {
    return file_tree_key(subkey);
}

}  // namespace

std::wstring event_log_state::make_registry_key(const std::wstring& subkey) {
    const std::wstring spelled = clean_path(subkey);
    for (std::size_t at = 0; at != std::wstring::npos;) {
        at = spelled.find(L'\\', at + 1);
        const std::wstring part = spelled.substr(0, at);
        registry.try_emplace(to_lower(part), registry_entry{part, {}});
    }
    return registry_path(spelled);
}

std::vector<reported_event> machine::events() const {
    std::lock_guard guard(impl_->lock);
    return impl_->event_log.events;
}

std::optional<std::map<std::wstring, registry_value>> machine::registry_key(
    const std::wstring& subkey) const {
    std::lock_guard guard(impl_->lock);
    const auto found = impl_->event_log.registry.find(registry_path(subkey));
    if (found == impl_->event_log.registry.end()) return std::nullopt;
    return found->second.values;
}

std::map<std::wstring, std::map<std::wstring, registry_value>> machine::registry() const {
    std::lock_guard guard(impl_->lock);
    std::map<std::wstring, std::map<std::wstring, registry_value>> keys;
    for (const auto& [path, key] : impl_->event_log.registry) keys[key.spelled] = key.values;
    return keys;
}

void machine::create_registry_key(const std::wstring& subkey) {
    std::lock_guard guard(impl_->lock);
    impl_->event_log.make_registry_key(subkey);
}

}  // namespace sim

namespace platform {

handle register_event_source(const wchar_t* source) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    if (auto error = m.enter(sim::operation::register_event_source)) {
        return sim::failure<handle>(nullptr, *error);
    }
    if (source == nullptr || *source == L'\0') {
        return sim::failure<handle>(nullptr, error_invalid_parameter);
    }
    // A source nobody registered is reported all the same, as Windows does, under the
    // Application log.
    sim::handle_record record;
    record.kind = sim::handle_kind::event_source;
    record.name = source;
    return m.handles.add(std::move(record));
}

namespace {

// Closing an event source or a registry key: the handle goes, and one not open counts as
// a stale use.
bool close_of(handle value, sim::handle_kind kind) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    if (m.handles.find(value, kind) == nullptr) {
        ++m.handles.stale_uses;
        return sim::failure(false, error_invalid_handle);
    }
    m.handles.open.erase(reinterpret_cast<std::uintptr_t>(value));
    return true;
}

}  // namespace

bool deregister_event_source(handle source) {
    return close_of(source, sim::handle_kind::event_source);
}

bool report_event(handle source, std::uint16_t type, std::uint32_t event_id, const wchar_t* text) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    if (auto error = m.enter(sim::operation::report_event)) {
        return sim::failure(false, *error);
    }
    const sim::handle_record* record = m.handles.find(source, sim::handle_kind::event_source);
    if (record == nullptr) {
        ++m.handles.stale_uses;
        return sim::failure(false, error_invalid_handle);
    }
    if (text == nullptr) return sim::failure(false, error_invalid_parameter);
    m.event_log.events.push_back({record->name, type, event_id, text});
    return true;
}

handle create_machine_registry_key(const wchar_t* subkey) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    const std::wstring path = subkey != nullptr ? subkey : L"";
    if (auto error = m.enter(sim::operation::create_registry_key, path)) {
        return sim::failure<handle>(nullptr, *error);
    }
    if (path.empty()) return sim::failure<handle>(nullptr, error_invalid_parameter);
    sim::handle_record record;
    record.kind = sim::handle_kind::registry_key;
    record.name = m.event_log.make_registry_key(path);
    return m.handles.add(std::move(record));
}

namespace {

bool set_value(handle key, const wchar_t* name, sim::registry_value value) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    const sim::handle_record* record = m.handles.find(key, sim::handle_kind::registry_key);
    if (auto error = m.enter(sim::operation::set_registry_value, record ? record->name : L"")) {
        return sim::failure(false, *error);
    }
    if (record == nullptr) return sim::failure(false, error_invalid_handle);
    const auto found = m.event_log.registry.find(record->name);
    // A key deleted while it was open takes no values.
    constexpr error_code error_key_deleted = 1018;
    if (found == m.event_log.registry.end()) return sim::failure(false, error_key_deleted);
    auto& values = found->second.values;
    const std::wstring spelled = name != nullptr ? name : L"";
    std::erase_if(values, [&](const auto& stored) {
        return sim::to_lower(stored.first) == sim::to_lower(spelled);
    });
    values.emplace(spelled, std::move(value));
    return true;
}

}  // namespace

bool set_registry_text(handle key, const wchar_t* name, std::uint32_t type, const wchar_t* text) {
    if (type != reg_sz && type != reg_expand_sz)
        return sim::failure(false, error_invalid_parameter);
    return set_value(key, name, {type, text != nullptr ? text : L"", 0});
}

bool set_registry_number(handle key, const wchar_t* name, std::uint32_t number) {
    return set_value(key, name, {reg_dword, {}, number});
}

bool delete_machine_registry_key(const wchar_t* subkey) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    const std::wstring path = subkey != nullptr ? sim::file_tree_key(subkey) : L"";
    if (auto error = m.enter(sim::operation::delete_registry_key, path)) {
        return sim::failure(false, *error);
    }
    const auto found = m.event_log.registry.find(path);
    if (path.empty() || found == m.event_log.registry.end()) {
        return sim::failure(false, error_file_not_found);
    }
    // A key with keys under it is refused, as RegDeleteKeyW refuses it.
    const auto below = m.event_log.registry.lower_bound(path + L'\\');
    if (below != m.event_log.registry.end() && below->first.starts_with(path + L'\\')) {
        return sim::failure(false, error_access_denied);
    }
    m.event_log.registry.erase(found);
    return true;
}

handle open_machine_registry_key(const wchar_t* subkey) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    const std::wstring path = subkey != nullptr ? sim::file_tree_key(subkey) : L"";
    if (auto error = m.enter(sim::operation::open_registry_key, path)) {
        return sim::failure<handle>(nullptr, *error);
    }
    if (path.empty() || m.event_log.registry.count(path) == 0) {
        return sim::failure<handle>(nullptr, error_file_not_found);
    }
    sim::handle_record record;
    record.kind = sim::handle_kind::registry_key;
    record.name = path;
    return m.handles.add(std::move(record));
}

bool query_registry_value(handle key, const wchar_t* name, registry_reading& value) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    const sim::handle_record* record = m.handles.find(key, sim::handle_kind::registry_key);
    if (auto error = m.enter(sim::operation::query_registry_value, record ? record->name : L"")) {
        return sim::failure(false, *error);
    }
    if (record == nullptr) return sim::failure(false, error_invalid_handle);
    const auto found = m.event_log.registry.find(record->name);
    if (found == m.event_log.registry.end()) return sim::failure(false, error_file_not_found);
    const std::wstring wanted = sim::to_lower(name != nullptr ? name : L"");
    for (const auto& [stored_name, stored] : found->second.values) {
        if (sim::to_lower(stored_name) == wanted) {
            value = registry_reading{stored.type, stored.text, stored.number};
            return true;
        }
    }
    return sim::failure(false, error_file_not_found);
}

bool close_registry_key(handle key) {
    return close_of(key, sim::handle_kind::registry_key);
}

}  // namespace platform
