// The tests' own file calls, straight to the system as the seam's Windows backend calls it.
#include "file_calls.h"

#include <windows.h>
// _wchmod and _S_IWRITE come from the C runtime, not from the Windows headers.
#include <io.h>
#include <sys/stat.h>

namespace platform {

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

}  // namespace platform
