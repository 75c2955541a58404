// What files hold: the log the service writes, read back by tests.
#include "sim/machine_impl.h"

namespace sim {

void machine::write_file(const std::wstring& path, const std::string& bytes) {
    create_file(path);
    std::lock_guard guard(impl_->lock);
    impl_->files[impl_->locate(impl_->absolute(path), true).key].content = bytes;
}

std::optional<std::string> machine::file_content(const std::wstring& path) const {
    std::lock_guard guard(impl_->lock);
    const location at = impl_->locate(impl_->absolute(path), true);
    const auto* found = impl_->entry(at.key);
    if (found == nullptr || found->kind != entry_kind::file) return std::nullopt;
    return found->content;
}

void machine::set_current_directory(std::wstring path) {
    std::lock_guard guard(impl_->lock);
    impl_->current_directory = clean_path(path);
}

}  // namespace sim

namespace platform {

handle create_file(const wchar_t* name, std::uint32_t access, std::uint32_t share_mode,
                   std::uint32_t disposition, std::uint32_t attributes) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    const std::wstring path = name != nullptr ? name : L"";
    if (auto error = m.enter(sim::operation::create_file, path)) {
        return sim::failure(invalid_handle_value(), *error);
    }
    // The service only ever creates its log afresh, for writing.
    if (path.empty() || disposition != create_always || access != generic_write) {
        return sim::failure(invalid_handle_value(), error_invalid_parameter);
    }
    const sim::location at = m.locate(m.absolute(path), true);
    if (!m.is_directory(sim::parent_of(at.key))) {
        return sim::failure(invalid_handle_value(), error_path_not_found);
    }
    const auto* existing = m.entry(at.key);
    if (sim::is_root(at.key) || (existing != nullptr && existing->kind != sim::entry_kind::file) ||
        (existing != nullptr && (existing->attributes & file_attribute_readonly))) {
        return sim::failure(invalid_handle_value(), error_access_denied);
    }
    // Opening for writing needs every open handle to share writing, and the new one to
    // share it with them in turn (they are all open for writing).
    bool others_open = false;
    for (const auto& [value, open] : m.handles) {
        others_open =
            others_open || (open.kind == sim::handle_kind::file && open.file.key == at.key);
    }
    if (m.write_not_shared(at.key) || (others_open && (share_mode & file_share_write) == 0)) {
        return sim::failure(invalid_handle_value(), error_sharing_violation);
    }

    constexpr std::uint32_t archive = 0x20;
    m.files[at.key] = sim::file_entry{
        sim::entry_kind::file, at.spelled, archive | (attributes & ~file_attribute_normal), {}, {}};
    sim::handle_record record;
    record.kind = sim::handle_kind::file;
    record.file.key = at.key;
    record.file.share_mode = share_mode;
    return m.add_handle(std::move(record));
}

bool write_file(handle file, const void* data, std::uint32_t size, std::uint32_t* written) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    auto* record = m.find_handle(file, sim::handle_kind::file);
    const std::wstring subject = record != nullptr ? record->file.key : L"";
    if (auto error = m.enter(sim::operation::write_file, subject)) {
        if (written != nullptr) *written = 0;
        return sim::failure(false, *error);
    }
    if (record == nullptr) return sim::failure(false, error_invalid_handle);
    if (data == nullptr && size != 0) return sim::failure(false, error_invalid_parameter);
    const auto found = m.files.find(record->file.key);
    if (found != m.files.end()) {
        std::string& content = found->second.content;
        const std::size_t position = record->file.position;
        if (content.size() < position + size) content.resize(position + size);
        content.replace(position, size, static_cast<const char*>(data), size);
    }
    record->file.position += size;
    if (written != nullptr) *written = size;
    return true;
}

}  // namespace platform
