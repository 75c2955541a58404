// The reading rules of GetPrivateProfileStringW and GetPrivateProfileIntW, reproduced
// over a file's text. This file stands alone: a Windows test builds it by itself and
// compares its answers with the real calls.
#include "sim/profile_reader.h"

#include <algorithm>
#include <cwctype>
#include <optional>
#include <string_view>

#include "sim/machine.h"

namespace sim {
namespace {

// The characters the reader trims: the C blanks, plus ^Z left by old DOS editors.
bool is_blank(wchar_t c) {
    return (c >= 0x09 && c <= 0x0d) || c == 0x1a || c == 0x20;
}

std::wstring_view trim_front(std::wstring_view text) {
    while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
    return text;
}

std::wstring_view trim_back(std::wstring_view text) {
    while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
    return text;
}

std::wstring_view trim(std::wstring_view text) {
    return trim_back(trim_front(text));
}

bool same_name(std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) {
               return std::towlower(static_cast<wint_t>(x)) ==
                      std::towlower(static_cast<wint_t>(y));
           });
}

// The value of `key` in the first section called `section`. A later section of the same
// name is never searched, and a key line without "=" has no value: Windows reads both
// of these as a missing key.
std::optional<std::wstring_view> find_value(std::wstring_view text, std::wstring_view section,
                                            std::wstring_view key) {
    section = trim(section);
    key = trim(key);
    // Lines before the first header form a section with an empty name.
    bool inside = section.empty();
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find_first_of(L"\r\n", start);
        if (end == std::wstring_view::npos) end = text.size();
        const std::wstring_view line = trim(text.substr(start, end - start));
        start = text.find_first_not_of(L"\r\n", end);
        if (start == std::wstring_view::npos) start = text.size();
        if (line.empty()) continue;

        if (line.front() == L'[') {
            const auto close = line.rfind(L']');
            if (close != std::wstring_view::npos) {
                if (inside) return std::nullopt;
                inside = same_name(trim(line.substr(1, close - 1)), section);
                continue;
            }
        }
        if (!inside) continue;

        const auto equals = line.find(L'=');
        const std::wstring_view name =
            equals == std::wstring_view::npos ? line : trim_back(line.substr(0, equals));
        if (!same_name(name, key)) continue;
        if (equals == std::wstring_view::npos) return std::nullopt;
        return trim_front(line.substr(equals + 1));
    }
    return std::nullopt;
}

// Copies a value as Windows does: one pair of matching quotes around it is dropped, and
// the text is cut to fit `size` with its terminator. The closing quote is dropped after
// the cut, so a value cut exactly at its closing quote also loses its last character.
std::uint32_t copy_value(std::wstring_view value, wchar_t* buffer, std::uint32_t size) {
    const bool quoted = value.size() >= 2 && (value.front() == L'"' || value.front() == L'\'') &&
                        value.back() == value.front();
    if (quoted) value.remove_prefix(1);
    std::size_t stored = std::min<std::size_t>(value.size(), size - 1);
    std::copy_n(value.begin(), stored, buffer);
    buffer[stored] = L'\0';
    if (quoted && size >= value.size() && stored > 0) buffer[--stored] = L'\0';
    return static_cast<std::uint32_t>(stored);
}

// RtlUnicodeStringToInteger with base 0: the digits up to the first one that does not
// belong, in 32 bits that wrap.
std::uint32_t parse_integer(std::wstring_view text) {
    while (!text.empty() && text.front() <= L' ') text.remove_prefix(1);
    bool negative = false;
    if (!text.empty() && (text.front() == L'+' || text.front() == L'-')) {
        negative = text.front() == L'-';
        text.remove_prefix(1);
    }
    std::uint32_t base = 10;
    if (text.size() >= 2 && text[0] == L'0') {
        switch (text[1]) {
            case L'x':
                base = 16;
                break;
            case L'o':
                base = 8;
                break;
            case L'b':
                base = 2;
                break;
            default:
                break;
        }
        if (base != 10) text.remove_prefix(2);
    }
    std::uint32_t total = 0;
    for (wchar_t c : text) {
        std::uint32_t digit = 0;
        if (c >= L'0' && c <= L'9') {
            digit = static_cast<std::uint32_t>(c - L'0');
        } else if (c >= L'A' && c <= L'Z') {
            digit = static_cast<std::uint32_t>(c - L'A') + 10;
        } else if (c >= L'a' && c <= L'z') {
            digit = static_cast<std::uint32_t>(c - L'a') + 10;
        } else {
            break;
        }
        if (digit >= base) break;
        total = total * base + digit;
    }
    return negative ? 0u - total : total;
}

}  // namespace

bool profile_has_value(const std::wstring& text, const wchar_t* section, const wchar_t* key) {
    return section != nullptr && key != nullptr && find_value(text, section, key).has_value();
}

std::uint32_t profile_string(const std::wstring& text, const wchar_t* section, const wchar_t* key,
                             const wchar_t* default_value, wchar_t* buffer, std::uint32_t size) {
    if (buffer == nullptr || size == 0) return 0;
    // Listing section or key names is not something the service asks for.
    if (section == nullptr || key == nullptr) {
        buffer[0] = L'\0';
        if (size > 1) buffer[1] = L'\0';
        return 0;
    }
    std::wstring_view fallback = default_value != nullptr ? default_value : L"";
    // Trailing spaces of the default go, but never its first character.
    while (fallback.size() > 1 && fallback.back() == L' ') fallback.remove_suffix(1);
    const auto value = find_value(text, section, key);
    return copy_value(value ? *value : fallback, buffer, size);
}

std::uint32_t profile_int(const std::wstring& text, const wchar_t* section, const wchar_t* key,
                          std::int32_t default_value) {
    // GetPrivateProfileIntW reads the text through a buffer of this size.
    wchar_t buffer[30];
    if (profile_string(text, section, key, L"", buffer, 30) == 0) {
        return static_cast<std::uint32_t>(default_value);
    }
    return parse_integer(buffer);
}

}  // namespace sim
