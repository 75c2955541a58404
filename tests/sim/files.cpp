#include <algorithm>
#include <cwctype>

#include "sim/machine_impl.h"

namespace sim {
namespace {

// Deep enough for any test, shallow enough to stop a link that leads to itself.
constexpr int max_link_depth = 16;

std::vector<std::wstring> split(const std::wstring& path) {
    std::vector<std::wstring> parts;
    std::size_t start = 0;
    for (;;) {
        const auto at = path.find(L'\\', start);
        parts.push_back(path.substr(start, at == std::wstring::npos ? at : at - start));
        if (at == std::wstring::npos) return parts;
        start = at + 1;
    }
}

bool blank(const wchar_t* path) {
    return path == nullptr || *path == L'\0';
}

}  // namespace

std::optional<location> enter_path(machine::impl& m, operation op, const wchar_t* path,
                                   platform::error_code blank_error) {
    if (auto error = m.enter(op, path != nullptr ? path : L"")) {
        return failure(std::optional<location>{}, *error);
    }
    if (blank(path)) return failure(std::optional<location>{}, blank_error);
    platform::error_code error = 0;
    const auto normal = win32_path(path, error);
    if (!normal) return failure(std::optional<location>{}, error);
    return m.fs.locate(*normal, false);
}

location files_state::locate(const std::wstring& path, bool follow_last, bool create_parents,
                             int depth) {
    const auto follow = [&](location where) {
        const auto found = files.find(where.key);
        if (found == files.end() || found->second.kind != entry_kind::link ||
            depth >= max_link_depth) {
            return where;
        }
        return locate(found->second.target, true, false, depth + 1);
    };

    const auto parts = split(clean_path(path));
    location at{to_lower(parts[0]), parts[0]};
    if (is_root(at.key)) {
        for (auto& c : at.spelled) c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
    }
    for (std::size_t i = 1; i < parts.size(); ++i) {
        at = follow(std::move(at));
        if (const auto found = files.find(at.key); found != files.end()) {
            // Listings show a name as it was first written, whatever the caller typed.
            at.spelled = found->second.spelled;
        } else if (create_parents && !is_root(at.key)) {
            files[at.key] = file_entry{
                entry_kind::directory, at.spelled, platform::file_attribute_directory, {}, {}};
        }
        at.key += L'\\' + to_lower(parts[i]);
        at.spelled += L'\\' + parts[i];
    }
    if (const auto found = files.find(at.key); found != files.end()) {
        at.spelled = found->second.spelled;
    }
    return follow_last ? follow(std::move(at)) : at;
}

std::wstring files_state::absolute(const std::wstring& path) const {
    const bool has_drive = path.size() >= 2 && path[1] == L':';
    const bool from_root = !path.empty() && (path[0] == L'\\' || path[0] == L'/');
    return has_drive || from_root ? path : current_directory + L'\\' + path;
}

const file_entry* files_state::entry(const std::wstring& key) const {
    const auto found = files.find(key);
    return found != files.end() ? &found->second : nullptr;
}

bool files_state::is_directory(const std::wstring& key, int depth) {
    if (is_root(key)) return true;
    const auto* found = entry(key);
    if (found == nullptr || found->kind == entry_kind::file) return false;
    if (found->kind == entry_kind::directory) return true;
    if (depth >= max_link_depth) return false;
    return is_directory(locate(found->target, true, false, depth + 1).key, depth + 1);
}

platform::error_code files_state::missing_error(const std::wstring& key) {
    return is_directory(parent_of(key)) ? platform::error_file_not_found
                                        : platform::error_path_not_found;
}

std::vector<const file_entry*> files_state::children(const std::wstring& key) const {
    const std::wstring prefix = key + L'\\';
    std::vector<const file_entry*> found;
    for (auto it = files.lower_bound(prefix);
         it != files.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it) {
        if (it->first.find(L'\\', prefix.size()) == std::wstring::npos) {
            found.push_back(&it->second);
        }
    }
    return found;
}

bool machine::impl::held_by_a_process(const std::wstring& key) const {
    if (held_without_sharing(key, platform::file_share_delete)) {
        return true;
    }
    for (const auto& [value, record] : handles.open) {
        if (record.kind == handle_kind::file && record.file.key == key &&
            (record.file.share_mode & platform::file_share_delete) == 0) {
            return true;
        }
    }
    return false;
}

bool machine::impl::held_without_sharing(const std::wstring& key, std::uint32_t share) const {
    for (const auto& process : processes.listed) {
        for (const auto& held : process->held_files) {
            if (!process->ended && held.key == key && (held.share_mode & share) == 0) {
                return true;
            }
        }
    }
    return false;
}

bool machine::impl::read_not_shared(const std::wstring& key) const {
    if (held_without_sharing(key, platform::file_share_read)) {
        return true;
    }
    for (const auto& [value, record] : handles.open) {
        if (record.kind == handle_kind::file && record.file.key == key &&
            (record.file.share_mode & platform::file_share_read) == 0) {
            return true;
        }
    }
    return false;
}

bool machine::impl::write_not_shared(const std::wstring& key) const {
    for (const auto& [value, record] : handles.open) {
        if (record.kind == handle_kind::file && record.file.key == key &&
            (record.file.share_mode & platform::file_share_write) == 0) {
            return true;
        }
    }
    return false;
}

namespace {

void put(files_state& fs, const std::wstring& path, file_entry made) {
    const location at = fs.locate(path, false, true);
    if (is_root(at.key)) return;
    made.spelled = at.spelled;
    fs.files[at.key] = std::move(made);
}

}  // namespace

void machine::create_directory(const std::wstring& path, std::uint32_t attributes) {
    std::lock_guard guard(impl_->lock);
    put(impl_->fs, path,
        {entry_kind::directory, {}, platform::file_attribute_directory | attributes, {}, {}});
}

void machine::create_file(const std::wstring& path, std::uint32_t attributes) {
    constexpr std::uint32_t archive = 0x20;
    std::lock_guard guard(impl_->lock);
    put(impl_->fs, path, {entry_kind::file, {}, archive | attributes, {}, {}});
}

void machine::create_file_link(const std::wstring& path, const std::wstring& target) {
    constexpr std::uint32_t archive = 0x20;
    std::lock_guard guard(impl_->lock);
    put(impl_->fs, path,
        {entry_kind::link,
         {},
         archive | platform::file_attribute_reparse_point,
         clean_path(target),
         {}});
}

void machine::set_link_count(const std::wstring& path, std::uint32_t links) {
    std::lock_guard guard(impl_->lock);
    if (auto found = impl_->fs.files.find(impl_->fs.locate(path, false).key);
        found != impl_->fs.files.end()) {
        found->second.links = links;
    }
}

void machine::create_directory_link(const std::wstring& path, const std::wstring& target) {
    std::lock_guard guard(impl_->lock);
    put(impl_->fs, path,
        {entry_kind::link,
         {},
         platform::file_attribute_directory | platform::file_attribute_reparse_point,
         clean_path(target),
         {}});
}

void machine::remove(const std::wstring& path) {
    std::lock_guard guard(impl_->lock);
    const std::wstring key = impl_->fs.locate(path, false).key;
    std::erase_if(impl_->fs.files, [&](const auto& entry) {
        return entry.first == key || entry.first.starts_with(key + L'\\');
    });
}

bool machine::exists(const std::wstring& path) const {
    return attributes(path).has_value();
}

std::optional<std::uint32_t> machine::attributes(const std::wstring& path) const {
    std::lock_guard guard(impl_->lock);
    const location at = impl_->fs.locate(path, false);
    if (is_root(at.key)) return platform::file_attribute_directory;
    if (const auto* found = impl_->fs.entry(at.key)) return found->attributes;
    return std::nullopt;
}

std::vector<std::wstring> machine::tree(const std::wstring& path) const {
    std::lock_guard guard(impl_->lock);
    const std::wstring prefix = impl_->fs.locate(path, false).key + L'\\';
    std::vector<std::wstring> found;
    for (auto it = impl_->fs.files.lower_bound(prefix);
         it != impl_->fs.files.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it) {
        found.push_back(it->second.spelled);
    }
    return found;
}

}  // namespace sim
