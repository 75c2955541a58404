#include <cwctype>

#include "sim/machine_impl.h"

namespace sim {
namespace {

wchar_t fold(wchar_t c) {
    return static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
}

// * and ? as FindFirstFileW reads them, without regard to case.
bool matches(const wchar_t* mask, const wchar_t* name) {
    for (; *mask != L'\0'; ++mask, ++name) {
        if (*mask == L'*') {
            for (const wchar_t* rest = name;; ++rest) {
                if (matches(mask + 1, rest)) return true;
                if (*rest == L'\0') return false;
            }
        }
        if (*name == L'\0' || (*mask != L'?' && fold(*mask) != fold(*name))) return false;
    }
    return *name == L'\0';
}

}  // namespace
}  // namespace sim

namespace platform {

handle find_first_file(const wchar_t* pattern, find_data& data) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    const std::wstring cleaned = sim::clean_path(pattern != nullptr ? pattern : L"");
    const std::wstring directory = sim::parent_of(cleaned);
    const std::wstring mask = sim::last_component(cleaned);
    if (auto error = m.enter(sim::operation::find_first_file, directory)) {
        return sim::failure(invalid_handle_value(), *error);
    }
    if (mask.empty()) return sim::failure(invalid_handle_value(), error_file_not_found);

    // A listing of a link is a listing of its target.
    const sim::location where = m.locate(directory, true);
    if (!m.is_directory(where.key))
        return sim::failure(invalid_handle_value(), error_path_not_found);

    sim::handle_record record;
    record.kind = sim::handle_kind::listing;
    record.found.directory_key = sim::file_tree_key(directory);
    auto& entries = record.found.entries;
    const auto add = [&](std::uint32_t attributes, const std::wstring& name) {
        if (sim::matches(mask.c_str(), name.c_str())) entries.push_back({attributes, name});
    };
    const auto* self = m.entry(where.key);
    const auto* parent = m.entry(sim::parent_of(where.key));
    add(self != nullptr ? self->attributes : file_attribute_directory, L".");
    add(parent != nullptr ? parent->attributes : file_attribute_directory, L"..");
    for (const auto* child : m.children(where.key)) {
        add(child->attributes, sim::last_component(child->spelled));
    }
    if (entries.empty()) return sim::failure(invalid_handle_value(), error_file_not_found);

    data = entries.front();
    record.found.next = 1;
    return m.add_handle(std::move(record));
}

bool find_next_file(handle listing, find_data& data) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    auto* record = m.find_handle(listing, sim::handle_kind::listing);
    const std::wstring subject = record != nullptr ? record->found.directory_key : L"";
    if (auto error = m.enter(sim::operation::find_next_file, subject)) {
        return sim::failure(false, *error);
    }
    if (record == nullptr) return sim::failure(false, error_invalid_handle);
    auto& found = record->found;
    if (found.next >= found.entries.size()) return sim::failure(false, error_no_more_files);
    data = found.entries[found.next++];
    return true;
}

bool find_close(handle listing) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    if (m.find_handle(listing, sim::handle_kind::listing) == nullptr) {
        return sim::failure(false, error_invalid_handle);
    }
    m.handles.erase(reinterpret_cast<std::uintptr_t>(listing));
    return true;
}

}  // namespace platform
