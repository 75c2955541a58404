// What files hold: the log the service writes, read back by tests.
#include <algorithm>
#include <vector>

#include "sim/machine_impl.h"

namespace sim {
namespace {

// What a successful write leaves as the thread's last error. WriteFile itself leaves it
// alone, but the C runtime and the system calls behind a write may set it on the way;
// a caller that reads it after writing a line reads this instead of its own error.
constexpr platform::error_code error_already_exists = 183;
constexpr platform::error_code error_after_write = error_already_exists;
constexpr platform::error_code error_disk_full = 112;

// A file's bytes replaced, the volume's free space following the change in size.
void replace_content(files_state& fs, std::string& content, std::string bytes) {
    if (fs.free_space) {
        *fs.free_space += content.size();
        *fs.free_space -= std::min(*fs.free_space, bytes.size());
    }
    content = std::move(bytes);
}

}  // namespace

void machine::write_file(const std::wstring& path, const std::string& bytes) {
    create_file(path);
    std::lock_guard guard(impl_->lock);
    auto& entry = impl_->fs.files[impl_->fs.locate(impl_->fs.absolute(path), true).key];
    replace_content(impl_->fs, entry.content, bytes);
}

void machine::set_deletion_time(std::uint32_t ms) {
    std::lock_guard guard(impl_->lock);
    impl_->fs.deletion_ms = ms;
}

void machine::set_free_space(std::optional<std::size_t> bytes) {
    std::lock_guard guard(impl_->lock);
    impl_->fs.free_space = bytes;
}

std::optional<std::string> machine::file_content(const std::wstring& path) const {
    std::lock_guard guard(impl_->lock);
    const location at = impl_->fs.locate(impl_->fs.absolute(path), true);
    const auto* found = impl_->fs.entry(at.key);
    if (found == nullptr || found->kind != entry_kind::file) return std::nullopt;
    return found->content;
}

void machine::set_current_directory(std::wstring path) {
    std::lock_guard guard(impl_->lock);
    impl_->fs.current_directory = clean_path(path);
}

}  // namespace sim

namespace platform {

handle create_file(const wchar_t* name, std::uint32_t access, std::uint32_t share_mode,
                   std::uint32_t disposition, std::uint32_t flags_and_attributes) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    const std::wstring path = name != nullptr ? name : L"";
    if (auto error = m.enter(sim::operation::create_file, path)) {
        return sim::failure(invalid_handle_value(), *error);
    }
    // Files are only ever created or opened for writing here.
    const bool emptying = disposition == create_always;
    if (path.empty() || (!emptying && disposition != open_always) ||
        (access & ~file_read_attributes) != generic_write) {
        return sim::failure(invalid_handle_value(), error_invalid_parameter);
    }
    error_code refused = 0;
    const auto normal = sim::win32_path(m.fs.absolute(path), refused);
    if (!normal) return sim::failure(invalid_handle_value(), refused);
    // A link at the name is opened itself only when asked for; otherwise what it leads to.
    const bool link_itself = (flags_and_attributes & file_flag_open_reparse_point) != 0;
    const sim::location at = m.fs.locate(*normal, !link_itself);
    if (!m.fs.is_directory(sim::parent_of(at.key))) {
        return sim::failure(invalid_handle_value(), error_path_not_found);
    }
    const auto* existing = m.fs.entry(at.key);
    // A link opened itself is a file that holds nothing; a directory is never opened.
    const bool openable_link = existing != nullptr && existing->kind == sim::entry_kind::link &&
                               link_itself && !emptying &&
                               (existing->attributes & file_attribute_directory) == 0;
    if (sim::is_root(at.key) ||
        (existing != nullptr && existing->kind != sim::entry_kind::file && !openable_link) ||
        (existing != nullptr && (existing->attributes & file_attribute_readonly))) {
        return sim::failure(invalid_handle_value(), error_access_denied);
    }
    // Opening for writing needs every open handle to share writing, and the new one to
    // share it with them in turn (they are all open for writing).
    bool others_open = false;
    for (const auto& [value, open] : m.handles.open) {
        others_open =
            others_open || (open.kind == sim::handle_kind::file && open.file.key == at.key);
    }
    if (m.write_not_shared(at.key) || (others_open && (share_mode & file_share_write) == 0)) {
        return sim::failure(invalid_handle_value(), error_sharing_violation);
    }

    constexpr std::uint32_t archive = 0x20;
    const bool existed = existing != nullptr;
    // Created afresh, or emptied: a new entry, its bytes given back to the volume.
    if (!existed || emptying) {
        if (existed) sim::replace_content(m.fs, m.fs.files[at.key].content, {});
        m.fs.files[at.key] =
            sim::file_entry{sim::entry_kind::file,
                            at.spelled,
                            archive | (flags_and_attributes & 0xFFFF & ~file_attribute_normal),
                            {},
                            {}};
    }
    sim::handle_record record;
    record.kind = sim::handle_kind::file;
    record.file.key = at.key;
    record.file.share_mode = share_mode;
    record.access = access;
    const handle opened = m.handles.add(std::move(record));
    // Both dispositions report a file that was there rather than created, though they
    // succeed.
    set_last_error(existed ? sim::error_already_exists : error_success);
    return opened;
}

bool set_file_size(handle file, std::uint64_t size) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    auto* record = m.handles.find(file, sim::handle_kind::file);
    if (auto error = m.enter(sim::operation::set_file_size, record ? record->file.key : L"")) {
        return sim::failure(false, *error);
    }
    if (record == nullptr) return sim::failure(false, error_invalid_handle);
    if ((record->access & generic_write) == 0) return sim::failure(false, error_access_denied);
    const auto found = m.fs.files.find(record->file.key);
    if (found == m.fs.files.end() || found->second.kind != sim::entry_kind::file) {
        return sim::failure(false, error_invalid_parameter);
    }
    std::string bytes = found->second.content;
    bytes.resize(static_cast<std::size_t>(size));
    sim::replace_content(m.fs, found->second.content, std::move(bytes));
    return true;
}

}  // namespace platform

namespace sim {
namespace {

// "." and ".." names gone as GetFullPathNameW takes them away: ".." goes back one name,
// never above the drive or share.
std::wstring without_dot_names(const std::wstring& path) {
    const std::size_t root = path.starts_with(L"\\\\") ? path.find(L'\\', path.find(L'\\', 2) + 1)
                             : path.size() >= 2 && path[1] == L':' ? 2
                                                                   : 0;
    if (root == std::wstring::npos) return path;
    std::vector<std::wstring> names;
    bool dots = false;
    std::size_t start = root;
    while (start < path.size()) {
        if (path[start] == L'\\') {
            ++start;
            continue;
        }
        std::size_t end = path.find(L'\\', start);
        if (end == std::wstring::npos) end = path.size();
        const std::wstring name = path.substr(start, end - start);
        if (name == L"..") {
            dots = true;
            if (!names.empty()) names.pop_back();
        } else if (name == L".") {
            dots = true;
        } else {
            names.push_back(name);
        }
        start = end;
    }
    if (!dots) return path;
    std::wstring out = path.substr(0, root);
    for (const auto& name : names) out += L"\\" + name;
    return names.empty() ? out + L"\\" : out;
}

}  // namespace
}  // namespace sim

namespace platform {

bool get_full_path_name(const wchar_t* name, std::wstring& full) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    const std::wstring path = name != nullptr ? name : L"";
    if (auto error = m.enter(sim::operation::get_full_path_name, path)) {
        return sim::failure(false, *error);
    }
    if (path.empty()) return sim::failure(false, error_invalid_parameter);
    // Pure text: whether the path exists is not asked.
    error_code refused = 0;
    const auto normal = sim::win32_path(m.fs.absolute(path), refused);
    full = normal ? *normal : sim::clean_path(m.fs.absolute(path));
    if (!path.starts_with(L"\\\\?\\")) full = sim::without_dot_names(full);
    return true;
}

bool get_long_path_name(const wchar_t* path, std::wstring& long_path) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    const std::wstring given = path != nullptr ? path : L"";
    if (auto error = m.enter(sim::operation::get_long_path_name, given)) {
        return sim::failure(false, *error);
    }
    // The machine has no short names: an existing path is its own long form.
    const sim::location at = m.fs.locate(given, false);
    if (m.fs.entry(at.key) == nullptr && !sim::is_root(at.key)) {
        return sim::failure(false, m.fs.missing_error(at.key));
    }
    long_path = given;
    return true;
}

bool write_file(handle file, const void* data, std::uint32_t size, std::uint32_t* written) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    auto* record = m.handles.find(file, sim::handle_kind::file);
    const std::wstring subject = record != nullptr ? record->file.key : L"";
    if (auto error = m.enter(sim::operation::write_file, subject)) {
        if (written != nullptr) *written = 0;
        return sim::failure(false, *error);
    }
    if (record == nullptr) return sim::failure(false, error_invalid_handle);
    if (data == nullptr && size != 0) return sim::failure(false, error_invalid_parameter);
    // Whatever another handle did to the file meanwhile (emptied it, wrote more), the
    // bytes go after its last byte.
    std::size_t fits = size;
    if (m.fs.free_space) fits = std::min<std::size_t>(fits, *m.fs.free_space);
    const auto found = m.fs.files.find(record->file.key);
    if (found != m.fs.files.end()) {
        found->second.content.append(static_cast<const char*>(data), fits);
        if (m.fs.free_space) *m.fs.free_space -= fits;
    }
    if (written != nullptr) *written = static_cast<std::uint32_t>(fits);
    // A full volume takes what it has room for, and the call fails with the rest unwritten.
    if (fits < size) return sim::failure(false, sim::error_disk_full);
    set_last_error(sim::error_after_write);
    return true;
}

}  // namespace platform
