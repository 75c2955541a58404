// Directory listings, attributes, deletion, and writing files.
#include <windows.h>
// _wchmod and _S_IWRITE come from the C runtime, not from the Windows headers.
#include <io.h>
#include <sys/stat.h>

#include "platform/platform.h"

namespace platform {

namespace {

void copy_entry(const WIN32_FIND_DATAW& entry, find_data& data) {
    data.attributes = entry.dwFileAttributes;
    data.name = entry.cFileName;
}

}  // namespace

handle find_first_file(const wchar_t* pattern, find_data& data) {
    WIN32_FIND_DATAW entry{};
    const HANDLE listing = ::FindFirstFileW(pattern, &entry);
    if (listing != INVALID_HANDLE_VALUE) {
        copy_entry(entry, data);
    }
    return listing;
}

bool find_next_file(handle listing, find_data& data) {
    WIN32_FIND_DATAW entry{};
    if (::FindNextFileW(listing, &entry) == 0) {
        return false;
    }
    copy_entry(entry, data);
    return true;
}

bool find_close(handle listing) {
    return ::FindClose(listing) != 0;
}

std::uint32_t get_file_attributes(const wchar_t* path) {
    return ::GetFileAttributesW(path);
}

bool delete_file(const wchar_t* path) {
    return ::DeleteFileW(path) != 0;
}

bool remove_directory(const wchar_t* path) {
    return ::RemoveDirectoryW(path) != 0;
}

int make_writable(const wchar_t* path) {
    return ::_wchmod(path, _S_IWRITE);
}

handle create_file(const wchar_t* name, std::uint32_t access, std::uint32_t share_mode,
                   std::uint32_t disposition, std::uint32_t attributes) {
    // No security attributes: the handle stays out of every child process, whatever
    // the child is told to inherit.
    return ::CreateFileW(name, access, share_mode, nullptr, disposition, attributes, nullptr);
}

bool write_file(handle file, const void* data, std::uint32_t size, std::uint32_t* written) {
    // Both offset halves at 0xFFFFFFFF write at the end of the file as it is now, not at
    // this handle's position: another program that opens the log with CREATE_ALWAYS
    // empties it under us, and writing on at the old offset would leave a run of NUL
    // bytes before the next line. The handle is synchronous, so the call still waits
    // for the write.
    OVERLAPPED at_end{};
    at_end.Offset = 0xFFFFFFFF;
    at_end.OffsetHigh = 0xFFFFFFFF;
    DWORD count = 0;
    const BOOL done = ::WriteFile(file, data, size, &count, &at_end);
    if (written != nullptr) {
        *written = count;
    }
    return done != 0;
}

}  // namespace platform
