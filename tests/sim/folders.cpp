#include <algorithm>

#include "sim/machine_impl.h"

namespace platform {

std::int32_t get_folder_path(int folder, std::uint32_t /*flags*/, wchar_t* path) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    constexpr std::int32_t e_invalidarg = static_cast<std::int32_t>(0x80070057);
    if (auto error = m.enter(sim::operation::get_folder_path, std::to_wstring(folder))) {
        // HRESULT_FROM_WIN32 of the injected error.
        return sim::failure(static_cast<std::int32_t>(0x80070000u | (*error & 0xFFFFu)), *error);
    }
    if (path == nullptr || folder != csidl_program_files) {
        return sim::failure(e_invalidarg, error_invalid_parameter);
    }
    const std::wstring found = L"C:\\Program Files";
    std::copy(found.begin(), found.end(), path);
    path[found.size()] = L'\0';
    return 0;
}

}  // namespace platform
