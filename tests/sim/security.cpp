// Who may write to a folder: a list per folder rather than a DACL, which is all the
// service asks of it.
#include "platform/security.h"

#include "sim/machine_impl.h"

namespace sim {

void machine::set_folder_writers(const std::wstring& path, std::vector<std::wstring> writers) {
    std::lock_guard guard(impl_->lock);
    impl_->fs.writers[impl_->fs.locate(path, true).key] = std::move(writers);
}

}  // namespace sim

namespace platform {

bool get_folder_writers(const wchar_t* path, std::vector<std::wstring>& writers) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    const auto at =
        sim::enter_path(m, sim::operation::get_folder_writers, path, error_path_not_found);
    if (!at) return false;
    // The named security calls follow a link to what it leads to.
    const std::wstring key = m.fs.locate(at->key, true).key;
    if (!sim::is_root(key) && m.fs.entry(key) == nullptr) {
        return sim::failure(false, m.fs.missing_error(key));
    }
    const auto found = m.fs.writers.find(key);
    writers = found != m.fs.writers.end()
                  ? found->second
                  : std::vector<std::wstring>{sid_local_system, sid_administrators};
    return true;
}

}  // namespace platform
