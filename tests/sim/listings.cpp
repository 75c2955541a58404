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

bool files_state::next_listed(listing& found, platform::find_data& data) {
    while (found.dots_given < 2) {
        const bool self = found.dots_given++ == 0;
        const std::wstring name = self ? L"." : L"..";
        if (!matches(found.mask.c_str(), name.c_str())) continue;
        const auto* dot = entry(self ? found.listed_key : parent_of(found.listed_key));
        data = {dot != nullptr ? dot->attributes : platform::file_attribute_directory, name};
        return true;
    }
    for (const auto* child : children(found.listed_key)) {
        const std::wstring key = file_tree_key(child->spelled);
        const std::wstring name = last_component(child->spelled);
        if (key <= found.last_key || !matches(found.mask.c_str(), name.c_str())) continue;
        found.last_key = key;
        data = {child->attributes, name};
        return true;
    }
    return false;
}

}  // namespace sim

namespace platform {

handle find_first_file(const wchar_t* pattern, find_data& data) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    const std::wstring given = pattern != nullptr ? pattern : L"";
    if (auto error =
            m.enter(sim::operation::find_first_file, sim::parent_of(sim::clean_path(given)))) {
        return sim::failure(invalid_handle_value(), *error);
    }
    error_code error = 0;
    const auto normal = sim::win32_path(given, error);
    if (!normal) return sim::failure(invalid_handle_value(), error);
    const std::wstring cleaned = sim::clean_path(*normal);
    const std::wstring directory = sim::parent_of(cleaned);
    const std::wstring mask = sim::last_component(cleaned);
    if (mask.empty()) return sim::failure(invalid_handle_value(), error_file_not_found);

    // A listing of a link is a listing of its target.
    const sim::location where = m.fs.locate(directory, true);
    if (!m.fs.is_directory(where.key))
        return sim::failure(invalid_handle_value(), error_path_not_found);

    sim::handle_record record;
    record.kind = sim::handle_kind::listing;
    record.found.directory_key = sim::file_tree_key(directory);
    record.found.listed_key = where.key;
    record.found.mask = mask;
    if (!m.fs.next_listed(record.found, data)) {
        return sim::failure(invalid_handle_value(), error_file_not_found);
    }
    return m.handles.add(std::move(record));
}

bool find_next_file(handle listing, find_data& data) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    auto* record = m.handles.find(listing, sim::handle_kind::listing);
    const std::wstring subject = record != nullptr ? record->found.directory_key : L"";
    if (auto error = m.enter(sim::operation::find_next_file, subject)) {
        return sim::failure(false, *error);
    }
    if (record == nullptr) return sim::failure(false, error_invalid_handle);
    if (!m.fs.next_listed(record->found, data)) return sim::failure(false, error_no_more_files);
    return true;
}

bool find_close(handle listing) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    const auto* record = m.handles.find(listing, sim::handle_kind::listing);
    if (auto error = m.enter(sim::operation::find_close,
                             record != nullptr ? record->found.directory_key : L"")) {
        return sim::failure(false, *error);
    }
    if (record == nullptr) return sim::failure(false, error_invalid_handle);
    const std::wstring listed = record->found.listed_key;
    m.handles.open.erase(reinterpret_cast<std::uintptr_t>(listing));
    m.release_file(listed);
    return true;
}

}  // namespace platform
