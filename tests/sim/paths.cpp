#include <array>
#include <cwctype>

#include "sim/machine_impl.h"

namespace sim {
namespace {

constexpr platform::error_code error_invalid_name = 123;
constexpr std::wstring_view long_path_prefix = L"\\\\?\\";

// CON, PRN, AUX, NUL, COM1-9 and LPT1-9 name devices in every directory, whatever
// extension follows.
bool is_device_name(const std::wstring& name) {
    std::wstring base = to_lower(name.substr(0, name.find(L'.')));
    while (!base.empty() && base.back() == L' ') base.pop_back();
    static const std::array<std::wstring, 4> plain{L"con", L"prn", L"aux", L"nul"};
    for (const auto& device : plain) {
        if (base == device) return true;
    }
    return base.size() == 4 && (base.starts_with(L"com") || base.starts_with(L"lpt")) &&
           base[3] >= L'1' && base[3] <= L'9';
}

}  // namespace

std::optional<std::wstring> win32_path(const std::wstring& path, platform::error_code& error) {
    if (path.starts_with(long_path_prefix)) {
        std::wstring literal = path.substr(long_path_prefix.size());
        if (literal.find(L'/') != std::wstring::npos) {
            error = error_invalid_name;
            return std::nullopt;
        }
        return literal;
    }
    if (path.size() >= platform::max_path) {
        error = platform::error_path_not_found;
        return std::nullopt;
    }
    std::wstring normal;
    std::wstring name;
    const auto end_name = [&] {
        if (name != L"." && name != L"..") {
            while (!name.empty() && (name.back() == L'.' || name.back() == L' ')) name.pop_back();
        }
        normal += name;
        name.clear();
    };
    for (const wchar_t c : path) {
        if (c == L'/' || c == L'\\') {
            end_name();
            normal += L'\\';
        } else {
            name += c;
        }
    }
    const bool device = is_device_name(name);
    end_name();
    if (device) {
        error = platform::error_invalid_parameter;
        return std::nullopt;
    }
    return normal;
}

std::wstring clean_path(const std::wstring& path) {
    std::wstring out;
    out.reserve(path.size());
    // The \\?\ form names the same entries, so it is compared as the plain form.
    const std::size_t start = path.starts_with(long_path_prefix) ? long_path_prefix.size() : 0;
    for (wchar_t c : std::wstring_view(path).substr(start)) {
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
