#include "logging/line_format.h"

#include <cstdint>

#include "platform/clock.h"

namespace logging {
namespace {

void put_digits(std::wstring& out, int value, int width) {
    wchar_t digits[12];
    int count = 0;
    auto remaining = static_cast<unsigned>(value < 0 ? 0 : value);
    do {
        digits[count++] = static_cast<wchar_t>(L'0' + remaining % 10);
        remaining /= 10;
    } while (remaining != 0);
    out.append(static_cast<std::size_t>(width > count ? width - count : 0), L'0');
    while (count > 0) {
        out.push_back(digits[--count]);
    }
}

}  // namespace

void put_line_prefix(std::wstring& out, std::time_t when) {
    out += L'[';
    std::tm local{};
    if (platform::to_local_time(when, local)) {
        put_digits(out, local.tm_year + 1900, 4);
        out += L'-';
        put_digits(out, local.tm_mon + 1, 2);
        out += L'-';
        put_digits(out, local.tm_mday, 2);
        out += L' ';
        put_digits(out, local.tm_hour, 2);
        out += L':';
        put_digits(out, local.tm_min, 2);
        out += L':';
        put_digits(out, local.tm_sec, 2);
    }
    out += L']';
}

std::wstring handle_text(const void* value) {
    constexpr wchar_t hex_digits[] = L"0123456789ABCDEF";
    auto bits = reinterpret_cast<std::uintptr_t>(value);
    std::wstring text(sizeof(bits) * 2, L'0');
    for (auto digit = text.rbegin(); digit != text.rend(); ++digit) {
        *digit = hex_digits[bits & 0xF];
        bits >>= 4;
    }
    return text;
}

std::wstring widen_bytes(std::string_view text) {
    std::wstring wide;
    wide.reserve(text.size());
    for (const char byte : text) {
        wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(byte)));
    }
    return wide;
}

}  // namespace logging
