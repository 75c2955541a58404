// Files and directories opened by handle, and what another program may do to them
// meanwhile.
#include <algorithm>

#include "sim/machine_impl.h"

namespace sim {
namespace {

constexpr std::uint32_t file_read_data = 0x1;
constexpr std::uint32_t file_write_data = 0x2;
constexpr std::uint32_t file_append_data = 0x4;
constexpr std::uint32_t generic_read = 0x80000000;
constexpr std::uint32_t generic_all = 0x10000000;

bool has(std::uint32_t value, std::uint32_t bits) {
    return (value & bits) != 0;
}

bool reads(std::uint32_t access) {
    return has(access, file_read_data | generic_read | generic_all);
}
bool writes(std::uint32_t access) {
    return has(access, file_write_data | file_append_data | platform::generic_write | generic_all);
}
bool deletes(std::uint32_t access) {
    return has(access, platform::delete_access | generic_all);
}

// Two opens of one entry agree when each shares what the other asks for.
bool compatible(std::uint32_t access, std::uint32_t share, std::uint32_t other_access,
                std::uint32_t other_share) {
    const auto allowed = [](std::uint32_t wanted, std::uint32_t shared) {
        return (!reads(wanted) || has(shared, platform::file_share_read)) &&
               (!writes(wanted) || has(shared, platform::file_share_write)) &&
               (!deletes(wanted) || has(shared, platform::file_share_delete));
    };
    return allowed(access, other_share) && allowed(other_access, share);
}

bool is_under(const std::wstring& key, const std::wstring& directory) {
    return key == directory ||
           (key.size() > directory.size() && key.compare(0, directory.size(), directory) == 0 &&
            key[directory.size()] == L'\\');
}

}  // namespace

bool machine::impl::open_at_or_under(const std::wstring& key) const {
    for (const auto& [value, record] : handles.open) {
        if ((record.kind == handle_kind::file && is_under(record.file.key, key)) ||
            (record.kind == handle_kind::listing && is_under(record.found.listed_key, key))) {
            return true;
        }
    }
    for (const auto& process : processes.listed) {
        for (const auto& held : process->held_files) {
            if (!process->ended && is_under(held.key, key)) return true;
        }
    }
    return false;
}

void machine::impl::release_file(const std::wstring& key) {
    const auto found = fs.files.find(key);
    if (found == fs.files.end() || !found->second.delete_pending || open_at_or_under(key)) {
        return;
    }
    fs.files.erase(found);
}

void machine::impl::run_swaps(operation op, const std::wstring& subject_key) {
    const auto due = std::find_if(fs.swaps.begin(), fs.swaps.end(), [&](const pending_swap& swap) {
        return swap.op == op && swap.subject_key == subject_key;
    });
    if (due == fs.swaps.end()) return;
    const pending_swap swap = *due;
    fs.swaps.erase(due);
    const std::wstring key = fs.locate(swap.path, false).key;
    if (!swap.even_while_open && open_at_or_under(key)) return;
    for (auto it = fs.files.lower_bound(key); it != fs.files.end() && is_under(it->first, key);) {
        it = fs.files.erase(it);
    }
    fs.files[key] =
        file_entry{entry_kind::link,
                   clean_path(swap.path),
                   platform::file_attribute_directory | platform::file_attribute_reparse_point,
                   clean_path(swap.target),
                   {}};
    ++fs.swaps_done;
}

void machine::replace_with_link_when(operation op, const std::wstring& subject,
                                     const std::wstring& path, const std::wstring& target,
                                     bool even_while_open) {
    std::lock_guard guard(impl_->lock);
    impl_->fs.swaps.push_back({op, file_tree_key(subject), path, target, even_while_open});
}

int machine::replacements_done() const {
    std::lock_guard guard(impl_->lock);
    return impl_->fs.swaps_done;
}

}  // namespace sim

namespace platform {

handle open_existing_file(const wchar_t* name, std::uint32_t access, std::uint32_t share_mode,
                          std::uint32_t flags) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    const auto entered =
        sim::enter_path(m, sim::operation::open_existing_file, name, error_path_not_found);
    if (!entered) return invalid_handle_value();
    const bool link_itself = sim::has(flags, file_flag_open_reparse_point);
    const sim::location at = link_itself ? *entered : m.fs.locate(entered->key, true);
    const sim::file_entry* found = m.fs.entry(at.key);
    if (found == nullptr && !sim::is_root(at.key)) {
        return sim::failure(invalid_handle_value(), m.fs.missing_error(at.key));
    }
    if (found != nullptr && found->delete_pending) {
        return sim::failure(invalid_handle_value(), error_access_denied);
    }
    const bool directory =
        found == nullptr || sim::has(found->attributes, file_attribute_directory);
    if (directory && !sim::has(flags, file_flag_backup_semantics)) {
        return sim::failure(invalid_handle_value(), error_access_denied);
    }
    for (const auto& [value, open] : m.handles.open) {
        if (open.kind == sim::handle_kind::file && open.file.key == at.key &&
            !sim::compatible(access, share_mode, open.access, open.file.share_mode)) {
            return sim::failure(invalid_handle_value(), error_sharing_violation);
        }
    }
    if ((sim::deletes(access) && m.held_by_a_process(at.key)) ||
        (sim::reads(access) && m.held_without_sharing(at.key, file_share_read)) ||
        (sim::writes(access) && m.held_without_sharing(at.key, file_share_write))) {
        return sim::failure(invalid_handle_value(), error_sharing_violation);
    }
    sim::handle_record record;
    record.kind = sim::handle_kind::file;
    record.file.key = at.key;
    record.file.share_mode = share_mode;
    record.access = access;
    return m.handles.add(std::move(record));
}

namespace {

// The open entry behind a file handle, after counting the call and applying a fault;
// nullptr with the last error set when the call fails.
sim::file_entry* opened_entry(sim::machine::impl& m, sim::operation op, handle file,
                              sim::handle_record*& record) {
    record = m.handles.find(file, sim::handle_kind::file);
    if (auto error = m.enter(op, record != nullptr ? record->file.key : L"")) {
        return sim::failure<sim::file_entry*>(nullptr, *error);
    }
    if (record == nullptr) return sim::failure<sim::file_entry*>(nullptr, error_invalid_handle);
    const auto found = m.fs.files.find(record->file.key);
    if (found == m.fs.files.end()) {
        return sim::failure<sim::file_entry*>(nullptr, error_invalid_parameter);
    }
    return &found->second;
}

}  // namespace

bool get_file_attributes_by_handle(handle file, std::uint32_t& attributes) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    sim::handle_record* record = nullptr;
    const sim::file_entry* found =
        opened_entry(m, sim::operation::get_file_attributes_by_handle, file, record);
    if (found == nullptr) return false;
    if (!sim::has(record->access, file_read_attributes | sim::generic_read | sim::generic_all)) {
        return sim::failure(false, error_access_denied);
    }
    attributes = found->attributes;
    return true;
}

bool get_file_link_count(handle file, std::uint32_t& links) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    sim::handle_record* record = nullptr;
    const sim::file_entry* found =
        opened_entry(m, sim::operation::get_file_link_count, file, record);
    if (found == nullptr) return false;
    links = found->links;
    return true;
}

std::uint32_t get_final_path_name_by_handle(handle file, wchar_t* buffer, std::uint32_t size) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    sim::handle_record* record = nullptr;
    const sim::file_entry* found =
        opened_entry(m, sim::operation::get_final_path_name_by_handle, file, record);
    if (found == nullptr) return 0;
    const std::wstring path = L"\\\\?\\" + found->spelled;
    const auto length = static_cast<std::uint32_t>(path.size());
    if (buffer == nullptr || size <= length) return length + 1;
    std::copy(path.begin(), path.end(), buffer);
    buffer[length] = L'\0';
    return length;
}

bool get_file_name_by_handle(handle file, std::wstring& name) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    sim::handle_record* record = nullptr;
    const sim::file_entry* found =
        opened_entry(m, sim::operation::get_file_name_by_handle, file, record);
    if (found == nullptr) return false;
    const std::size_t drive = found->spelled.find(L'\\');
    name = drive == std::wstring::npos ? L"\\" : found->spelled.substr(drive);
    return true;
}

bool set_file_attributes_by_handle(handle file, std::uint32_t attributes) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    sim::handle_record* record = nullptr;
    sim::file_entry* found =
        opened_entry(m, sim::operation::set_file_attributes_by_handle, file, record);
    if (found == nullptr) return false;
    if (!sim::has(record->access, file_write_attributes | sim::generic_all)) {
        return sim::failure(false, error_access_denied);
    }
    // What an entry is (a directory, a link) is not an attribute that can be set.
    constexpr std::uint32_t fixed = file_attribute_directory | file_attribute_reparse_point;
    found->attributes =
        (found->attributes & fixed) | (attributes & ~(fixed | file_attribute_normal));
    return true;
}

bool get_file_size(handle file, std::uint64_t& size) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    sim::handle_record* record = nullptr;
    const sim::file_entry* found = opened_entry(m, sim::operation::get_file_size, file, record);
    if (found == nullptr) return false;
    if (!sim::has(record->access, file_read_attributes | sim::generic_read | sim::generic_all)) {
        return sim::failure(false, error_access_denied);
    }
    size = found->content.size();
    return true;
}

bool rename_by_handle(handle file, const std::wstring& new_name) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    sim::handle_record* record = nullptr;
    const sim::file_entry* found = opened_entry(m, sim::operation::rename_by_handle, file, record);
    if (found == nullptr) return false;
    if (!sim::deletes(record->access) || found->kind == sim::entry_kind::directory) {
        return sim::failure(false, error_access_denied);
    }
    error_code refused = 0;
    const auto normal = sim::win32_path(m.fs.absolute(new_name), refused);
    if (!normal) return sim::failure(false, refused);
    // The entry at the new name is replaced itself, never what a link there leads to.
    const sim::location to = m.fs.locate(*normal, false);
    if (!m.fs.is_directory(sim::parent_of(to.key))) {
        return sim::failure(false, error_path_not_found);
    }
    const std::wstring from = record->file.key;
    if (to.key == from) return true;
    if (const sim::file_entry* there = m.fs.entry(to.key)) {
        if (sim::has(there->attributes, file_attribute_directory) || m.open_at_or_under(to.key)) {
            return sim::failure(false, error_access_denied);
        }
        if (m.fs.free_space) *m.fs.free_space += there->content.size();
    }
    sim::file_entry moved = *found;
    moved.spelled = to.spelled;
    m.fs.files.erase(from);
    m.fs.files[to.key] = std::move(moved);
    // Every handle of the file follows it to its new name.
    for (auto& [value, open] : m.handles.open) {
        if (open.kind == sim::handle_kind::file && open.file.key == from) open.file.key = to.key;
    }
    return true;
}

bool set_delete_disposition(handle file) {
    auto& m = sim::machine::instance().internals();
    sim::machine::impl::guard held(m.lock);
    if (m.fs.deletion_ms > 0) {
        const std::uint64_t deadline = m.clock.elapsed_ms + m.fs.deletion_ms;
        while (m.clock.elapsed_ms < deadline) {
            m.block(held, nullptr, deadline, "a deletion");
        }
    }
    sim::handle_record* record = nullptr;
    sim::file_entry* found = opened_entry(m, sim::operation::set_delete_disposition, file, record);
    if (found == nullptr) return false;
    if (!sim::deletes(record->access) || sim::has(found->attributes, file_attribute_readonly)) {
        return sim::failure(false, error_access_denied);
    }
    if (found->kind == sim::entry_kind::directory && !m.fs.children(record->file.key).empty()) {
        return sim::failure(false, error_dir_not_empty);
    }
    found->delete_pending = true;
    return true;
}

}  // namespace platform
