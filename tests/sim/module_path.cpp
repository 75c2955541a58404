#include <algorithm>

#include "sim/machine_impl.h"

namespace sim {

void machine::set_module_path(std::wstring path) {
    std::lock_guard guard(impl_->lock);
    impl_->settings.module_path = std::move(path);
}

}  // namespace sim

namespace platform {

std::uint32_t get_module_file_name(wchar_t* buffer, std::uint32_t size) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    if (auto error = m.enter(sim::operation::get_module_file_name)) {
        return sim::failure(0u, *error);
    }
    if (buffer == nullptr && size != 0) return sim::failure(0u, error_invalid_parameter);
    const std::wstring& path = m.settings.module_path;
    const auto length = static_cast<std::uint32_t>(path.size());
    std::copy_n(path.begin(), std::min(length, size), buffer);
    if (length < size) {
        buffer[length] = L'\0';
        return length;
    }
    // The real call hands back as much as fits, unterminated, and says so only through
    // the last-error code.
    return sim::failure(size, error_insufficient_buffer);
}

}  // namespace platform
