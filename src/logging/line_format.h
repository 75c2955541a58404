// The parts of a log line the runtimes do not agree on, formatted by hand so that every
// build writes the same bytes.
#pragma once

#include <ctime>
#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>

namespace logging {

// Appends "[YYYY-MM-DD HH:MM:SS]" of `when` in local time ("[]" when it cannot be
// converted) to `out`. Formatted by hand: the C runtimes do not agree on "%F %T" (msvcrt
// writes nothing for it).
void put_line_prefix(std::wstring& out, std::time_t when);

// A handle as "%p" writes a pointer: 16 upper-case hexadecimal digits. The runtimes
// differ in the letter case they use, so it is formatted by hand too.
std::wstring handle_text(const void* value);

// The narrow text of a caught exception, each byte as the wide character of the same value.
std::wstring widen_bytes(std::string_view text);

// One piece of a line: a text as it is (a narrow one byte for character), an integer in
// decimal, a handle as handle_text writes it.
template <typename Piece>
void put_piece(std::wostringstream& out, const Piece& piece) {
    if constexpr (std::is_convertible_v<const Piece&, std::wstring_view>) {
        out << std::wstring_view(piece);
    } else if constexpr (std::is_convertible_v<const Piece&, std::string_view>) {
        out << widen_bytes(std::string_view(piece));
    } else if constexpr (std::is_pointer_v<Piece>) {
        out << handle_text(piece);
    } else {
        static_assert(
            std::is_integral_v<Piece> && !std::is_same_v<Piece, bool> && sizeof(Piece) <= 8,
            "a log piece is a text, an integer or a handle");
        if constexpr (std::is_signed_v<Piece>) {
            out << static_cast<long long>(piece);
        } else {
            out << static_cast<unsigned long long>(piece);
        }
    }
}

}  // namespace logging
