#include "logging/file_log_policy.h"

#include <filesystem>

namespace logging {

std::string to_log_bytes(const std::wstring& text) {
    std::string bytes;
    bytes.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto code = static_cast<std::uint32_t>(text[i]);
        if (code <= 0xFF) {
            bytes.push_back(static_cast<char>(code));
            continue;
        }
        bytes.push_back('?');
        // A character outside the basic plane is two UTF-16 units but one character.
        const bool high_surrogate = code >= 0xD800 && code <= 0xDBFF;
        if (high_surrogate && i + 1 < text.size()) {
            const auto next = static_cast<std::uint32_t>(text[i + 1]);
            if (next >= 0xDC00 && next <= 0xDFFF) {
                ++i;
            }
        }
    }
    return bytes;
}

file_log_policy::file_log_policy() : out(std::make_unique<std::ofstream>()) {}

file_log_policy::~file_log_policy() {
    close_stream();
}

void file_log_policy::open_stream(const std::wstring& name) {
    // Binary: a line ends in a line feed alone on every platform.
    out->open(std::filesystem::path(name), std::ios::out | std::ios::trunc | std::ios::binary);
    if (!out->is_open()) {
        throw open_stream_error(name);
    }
}

void file_log_policy::close_stream() {
    if (out->is_open()) {
        out->close();
    }
}

void file_log_policy::write_line(const std::wstring& text) {
    std::string bytes = to_log_bytes(text);
    bytes.push_back('\n');
    out->write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out->flush();
}

}  // namespace logging
