// Directory listings, attributes, deletion, and writing files.
#include <windows.h>
// IO_STATUS_BLOCK and PIO_APC_ROUTINE; winternl.h needs the types of windows.h.
#include <winternl.h>

#include "platform/file_handles.h"
#include "platform/files.h"
#include "platform/handles.h"

namespace platform {

namespace {

void copy_entry(const WIN32_FIND_DATAW& entry, find_data& data) {
    data.attributes = entry.dwFileAttributes;
    data.name = entry.cFileName;
}

constexpr LONG status_timeout = 0x00000102;
constexpr LONG status_pending = 0x00000103;

// NtWriteFile and RtlNtStatusToDosError, looked up once in ntdll, which every process has
// loaded: no import library declares the first for every compiler.
struct ntdll_writer {
    using write_function = LONG(NTAPI*)(HANDLE file, HANDLE event, PIO_APC_ROUTINE apc,
                                        PVOID apc_context, PIO_STATUS_BLOCK io, PVOID buffer,
                                        ULONG length, PLARGE_INTEGER offset, PULONG key);
    using status_to_error_function = ULONG(NTAPI*)(LONG status);

    write_function write = nullptr;
    status_to_error_function status_to_error = nullptr;

    static const ntdll_writer& instance() {
        static const ntdll_writer found = [] {
            ntdll_writer entries;
            if (const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll"); ntdll != nullptr) {
                // Through the generic function type, which converts to any other.
                entries.write = reinterpret_cast<write_function>(
                    reinterpret_cast<void (*)()>(::GetProcAddress(ntdll, "NtWriteFile")));
                entries.status_to_error = reinterpret_cast<status_to_error_function>(
                    reinterpret_cast<void (*)()>(::GetProcAddress(ntdll, "RtlNtStatusToDosError")));
            }
            return entries;
        }();
        return found;
    }
};

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

handle create_file(const wchar_t* name, std::uint32_t access, std::uint32_t share_mode,
                   std::uint32_t disposition, std::uint32_t flags_and_attributes) {
    // No security attributes: the handle stays out of every child process, whatever
    // the child is told to inherit.
    return ::CreateFileW(name, access, share_mode, nullptr, disposition, flags_and_attributes,
                         nullptr);
}

namespace {

// A path call that answers the size it needs, terminator included, when the buffer is too
// small, and the length it stored otherwise.
template <typename Call>
bool read_path(std::wstring& path, Call call) {
    path.assign(max_path, L'\0');
    for (;;) {
        const DWORD length = call(path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return false;
        }
        const bool fits = length < path.size();
        path.resize(length);
        if (fits) {
            return true;
        }
    }
}

}  // namespace

bool get_full_path_name(const wchar_t* name, std::wstring& full) {
    return read_path(full, [name](wchar_t* buffer, DWORD size) {
        return ::GetFullPathNameW(name, size, buffer, nullptr);
    });
}

bool get_long_path_name(const wchar_t* path, std::wstring& long_path) {
    return read_path(long_path, [path](wchar_t* buffer, DWORD size) {
        return ::GetLongPathNameW(path, buffer, size);
    });
}

bool write_file(handle file, const void* data, std::uint32_t size, std::uint32_t* written) {
    // At the end of the file as it is now, not at this handle's position: another program
    // that opens the log with CREATE_ALWAYS empties it under us, and writing on at the old
    // offset would leave a run of NUL bytes before the next line. WriteFile takes that
    // offset only in an OVERLAPPED, and under Wine every write given an OVERLAPPED also
    // posts it to the server as a completion value (a round trip of some 30 µs per log
    // line, several times the write); NtWriteFile takes the offset without one. The
    // handle is synchronous, so the call still waits for the write.
    const ntdll_writer& writer = ntdll_writer::instance();
    if (writer.write == nullptr || writer.status_to_error == nullptr) {
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
    IO_STATUS_BLOCK io{};
    LARGE_INTEGER at_end{};
    at_end.LowPart = 0xFFFFFFFF;
    at_end.HighPart = -1;
    LONG status = writer.write(file, nullptr, nullptr, nullptr, &io, const_cast<void*>(data), size,
                               &at_end, nullptr);
    if (status == status_pending) {
        ::WaitForSingleObject(file, INFINITE);
        status = io.Status;
    }
    if (written != nullptr) {
        *written = static_cast<std::uint32_t>(io.Information);
    }
    // As WriteFile judges: anything but success (or a time-out) fails.
    if (status != 0 && status != status_timeout) {
        ::SetLastError(writer.status_to_error(status));
        return false;
    }
    return true;
}

}  // namespace platform
