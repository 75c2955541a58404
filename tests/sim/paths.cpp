#include <cwctype>

#include "sim/machine_impl.h"

namespace sim {

std::wstring clean_path(const std::wstring& path) {
    std::wstring out;
    out.reserve(path.size());
    for (wchar_t c : path) {
        if (c == L'/') c = L'\\';
        if (c == L'\\' && !out.empty() && out.back() == L'\\') continue;
        out.push_back(c);
    }
    // A root written as C:\ or \ is the same as C: or the empty path.
    while (!out.empty() && out.back() == L'\\') out.pop_back();
    return out;
}

std::wstring to_lower(const std::wstring& text) {
    std::wstring out(text);
    for (wchar_t& c : out) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    return out;
}

std::wstring file_tree_key(const std::wstring& path) {
    return to_lower(clean_path(path));
}

bool is_root(const std::wstring& key) {
    return key.empty() || (key.size() == 2 && key[1] == L':');
}

std::wstring parent_of(const std::wstring& path) {
    const auto at = path.rfind(L'\\');
    return at == std::wstring::npos ? std::wstring{} : path.substr(0, at);
}

std::wstring last_component(const std::wstring& path) {
    const auto at = path.rfind(L'\\');
    return at == std::wstring::npos ? path : path.substr(at + 1);
}

}  // namespace sim
