// Files and directories reached through handles rather than by name.
#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <memory>

#include "platform/file_handles.h"
#include "platform/handles.h"

namespace platform {

handle open_existing_file(const wchar_t* name, std::uint32_t access, std::uint32_t share_mode,
                          std::uint32_t flags) {
    return ::CreateFileW(name, access, share_mode, nullptr, OPEN_EXISTING, flags, nullptr);
}

// Each asks the file system for one class of information only. GetFileInformationByHandle
// would also ask for the volume's serial number, which costs far more (under Wine a round
// trip to the mount manager for every entry of a walk).
bool get_file_attributes_by_handle(handle file, std::uint32_t& attributes) {
    FILE_BASIC_INFO basic{};
    if (::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) == 0) {
        return false;
    }
    attributes = basic.FileAttributes;
    return true;
}

bool get_file_link_count(handle file, std::uint32_t& links) {
    FILE_STANDARD_INFO standard{};
    if (::GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard) == 0) {
        return false;
    }
    links = standard.NumberOfLinks;
    return true;
}

std::uint32_t get_final_path_name_by_handle(handle file, wchar_t* buffer, std::uint32_t size) {
    return ::GetFinalPathNameByHandleW(file, buffer, size, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
}

namespace {

// FILE_NAME_INFO with room for `characters` of name after its length.
template <std::size_t characters>
struct file_name_buffer {
    FILE_NAME_INFO info;
    WCHAR more[characters];
};

template <typename Buffer>
bool read_file_name(handle file, Buffer& buffer, std::wstring& name) {
    if (::GetFileInformationByHandleEx(file, FileNameInfo, &buffer, sizeof buffer) == 0) {
        return false;
    }
    name.assign(buffer.info.FileName, buffer.info.FileNameLength / sizeof(WCHAR));
    return true;
}

}  // namespace

bool get_file_name_by_handle(handle file, std::wstring& name) {
    // A walk asks this of every entry: a buffer on the stack holds nearly every name, and
    // only a longer one is asked again, into one as long as the platform allows.
    file_name_buffer<1024> usual;
    if (read_file_name(file, usual, name)) {
        return true;
    }
    if (::GetLastError() != ERROR_MORE_DATA) {
        return false;
    }
    const auto longest = std::make_unique<file_name_buffer<32768>>();
    return read_file_name(file, *longest, name);
}

bool set_file_size(handle file, std::uint64_t size) {
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
    return ::SetFileInformationByHandle(file, FileEndOfFileInfo, &end, sizeof end) != 0;
}

bool get_file_size(handle file, std::uint64_t& size) {
    LARGE_INTEGER found{};
    if (::GetFileSizeEx(file, &found) == 0) {
        return false;
    }
    size = static_cast<std::uint64_t>(found.QuadPart);
    return true;
}

bool rename_by_handle(handle file, const std::wstring& new_name) {
    // FILE_RENAME_INFO ends in the name, of a length only known here.
    const std::size_t name_bytes = new_name.size() * sizeof(WCHAR);
    const std::size_t size = offsetof(FILE_RENAME_INFO, FileName) + name_bytes + sizeof(WCHAR);
    const auto buffer = std::make_unique<std::uint64_t[]>(size / sizeof(std::uint64_t) + 1);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.get());
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(name_bytes);
    std::copy(new_name.begin(), new_name.end(), rename->FileName);
    rename->FileName[new_name.size()] = L'\0';
    return ::SetFileInformationByHandle(file, FileRenameInfo, rename, static_cast<DWORD>(size)) !=
           0;
}

bool set_file_attributes_by_handle(handle file, std::uint32_t attributes) {
    FILE_BASIC_INFO basic{};
    // Zero times leave the times as they are; zero attributes would too, so an entry
    // left with no attribute at all is given the plain one.
    basic.FileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
    return ::SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic) != 0;
}

bool set_delete_disposition(handle file) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    return ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                        sizeof disposition) != 0;
}

}  // namespace platform
