// The system's well-known folders.
#include <windows.h>
// shlobj.h needs the types of windows.h, so it must come after it.
#include <shlobj.h>

#include "platform/settings.h"

namespace platform {

std::int32_t get_folder_path(int folder, std::uint32_t flags, wchar_t* path) {
    return static_cast<std::int32_t>(::SHGetFolderPathW(nullptr, folder, nullptr, flags, path));
}

}  // namespace platform
