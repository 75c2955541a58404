#include "sim/machine_impl.h"
#include "sim/profile_reader.h"

namespace sim {

void machine::set_settings_file(const std::wstring& path, std::wstring text) {
    std::lock_guard guard(impl_->lock);
    impl_->settings.files[file_tree_key(path)] = std::move(text);
}

void machine::remove_settings_file(const std::wstring& path) {
    std::lock_guard guard(impl_->lock);
    impl_->settings.files.erase(file_tree_key(path));
}

int machine::settings_reads() const {
    std::lock_guard guard(impl_->lock);
    return impl_->settings.reads;
}

namespace {

// The text of a settings file, counting the read; none when there is no such file.
const std::wstring* read_settings(settings_state& settings, const std::wstring& path) {
    const auto found = settings.files.find(file_tree_key(path));
    if (found == settings.files.end()) return nullptr;
    ++settings.reads;
    return &found->second;
}

// Windows reports a key it did not find as a file it did not find, even when the file
// is there; the result itself is the default either way.
void report_lookup(const std::wstring* text, const wchar_t* section, const wchar_t* key) {
    if (text == nullptr || !profile_has_value(*text, section, key)) {
        platform::set_last_error(platform::error_file_not_found);
    }
}

// Another program that holds the file without sharing reading keeps the calls from
// opening it: they give the default, as for a missing file.
std::optional<platform::error_code> unshared_reading(machine::impl& m, const std::wstring& path) {
    if (m.read_not_shared(m.fs.locate(path, true).key)) return platform::error_sharing_violation;
    return std::nullopt;
}

}  // namespace
}  // namespace sim

namespace platform {

std::uint32_t get_private_profile_string(const wchar_t* section, const wchar_t* key,
                                         const wchar_t* default_value, wchar_t* buffer,
                                         std::uint32_t size, const wchar_t* file) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    const std::wstring path = file != nullptr ? file : L"";
    // A file that cannot be read gives the default, as a missing one does.
    auto error = m.enter(sim::operation::get_private_profile_string, path);
    if (!error) error = sim::unshared_reading(m, path);
    if (error) {
        return sim::failure(sim::profile_string({}, section, key, default_value, buffer, size),
                            *error);
    }
    const std::wstring* text = sim::read_settings(m.settings, path);
    const std::uint32_t stored = sim::profile_string(text != nullptr ? *text : std::wstring{},
                                                     section, key, default_value, buffer, size);
    sim::report_lookup(text, section, key);
    return stored;
}

std::uint32_t get_private_profile_int(const wchar_t* section, const wchar_t* key,
                                      std::int32_t default_value, const wchar_t* file) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    const std::wstring path = file != nullptr ? file : L"";
    auto error = m.enter(sim::operation::get_private_profile_int, path);
    if (!error) error = sim::unshared_reading(m, path);
    if (error) {
        return sim::failure(static_cast<std::uint32_t>(default_value), *error);
    }
    const std::wstring* text = sim::read_settings(m.settings, path);
    const std::uint32_t value =
        sim::profile_int(text != nullptr ? *text : std::wstring{}, section, key, default_value);
    sim::report_lookup(text, section, key);
    return value;
}

}  // namespace platform
