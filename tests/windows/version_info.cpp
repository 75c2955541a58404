// An executable's version resource and message table, read by the Windows tests.
#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <string>
#include <vector>

#include "version_info.h"

namespace platform {
namespace {

// The whole version resource of `path`; empty when there is none.
std::vector<unsigned char> read_version_block(const wchar_t* path) {
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path, &ignored);
    if (size == 0) {
        return {};
    }
    std::vector<unsigned char> block(size);
    if (!::GetFileVersionInfoW(path, 0, size, block.data())) {
        return {};
    }
    return block;
}

}  // namespace

bool get_file_version(const wchar_t* path, fixed_file_version& version) {
    std::vector<unsigned char> block = read_version_block(path);
    if (block.empty()) {
        return false;
    }
    void* value = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(block.data(), L"\\", &value, &length) ||
        length < sizeof(VS_FIXEDFILEINFO)) {
        return false;
    }
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    version.file_version_ms = fixed->dwFileVersionMS;
    version.file_version_ls = fixed->dwFileVersionLS;
    version.product_version_ms = fixed->dwProductVersionMS;
    version.product_version_ls = fixed->dwProductVersionLS;
    return true;
}

bool get_file_version_text(const wchar_t* path, const wchar_t* name, std::wstring& text) {
    std::vector<unsigned char> block = read_version_block(path);
    if (block.empty()) {
        return false;
    }
    // Each entry of the list is a language word followed by a code page word.
    void* value = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &length) ||
        length < 2 * sizeof(WORD)) {
        return false;
    }
    const auto* translation = static_cast<const WORD*>(value);
    wchar_t language_and_code_page[9];
    std::swprintf(language_and_code_page, 9, L"%04x%04x", translation[0], translation[1]);
    const std::wstring query =
        std::wstring(L"\\StringFileInfo\\") + language_and_code_page + L"\\" + name;
    if (!::VerQueryValueW(block.data(), query.c_str(), &value, &length)) {
        return false;
    }
    // The documentation leaves open whether the length counts the terminator; the text ends
    // at the first one either way.
    const auto* characters = static_cast<const wchar_t*>(value);
    text.assign(characters, std::find(characters, characters + length, L'\0'));
    return true;
}

bool format_module_message(const wchar_t* path, std::uint32_t id, const wchar_t* insert,
                           std::wstring& text) {
    const HMODULE module = ::LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr) {
        return false;
    }
    wchar_t buffer[2048];
    DWORD_PTR arguments[] = {reinterpret_cast<DWORD_PTR>(insert)};
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, module, id, 0, buffer,
        static_cast<DWORD>(std::size(buffer)), reinterpret_cast<va_list*>(arguments));
    ::FreeLibrary(module);
    if (length == 0) {
        return false;
    }
    text.assign(buffer, length);
    return true;
}

}  // namespace platform
