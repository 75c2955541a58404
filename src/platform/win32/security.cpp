// Who may write to a folder, read from its DACL.
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>

#include "platform/security.h"

namespace platform {
namespace {

// Any right that lets its holder put or replace what the folder holds, or take the
// folder's security over: to add a file or folder, write or append, delete an entry, or
// change the DACL or owner.
constexpr ACCESS_MASK writing_rights = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD |
                                       WRITE_DAC | WRITE_OWNER | DELETE | GENERIC_WRITE |
                                       GENERIC_ALL;

// Owners of what the security calls allocate with LocalAlloc.
struct local_memory {
    void* memory = nullptr;
    local_memory() = default;
    local_memory(const local_memory&) = delete;
    local_memory& operator=(const local_memory&) = delete;
    ~local_memory() {
        if (memory != nullptr) {
            ::LocalFree(memory);
        }
    }
};

bool add_writer(PSID sid, std::vector<std::wstring>& writers) {
    local_memory text;
    LPWSTR spelled = nullptr;
    if (::ConvertSidToStringSidW(sid, &spelled) == 0) {
        return false;
    }
    text.memory = spelled;
    const std::wstring writer = spelled;
    if (std::find(writers.begin(), writers.end(), writer) == writers.end()) {
        writers.push_back(writer);
    }
    return true;
}

}  // namespace

bool get_folder_writers(const wchar_t* path, std::vector<std::wstring>& writers) {
    writers.clear();
    PACL dacl = nullptr;
    local_memory descriptor;
    const DWORD result =
        ::GetNamedSecurityInfoW(path, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                &dacl, nullptr, &descriptor.memory);
    if (result != ERROR_SUCCESS) {
        ::SetLastError(result);
        return false;
    }
    // A security descriptor that holds no DACL at all is one the platform did not keep.
    if (descriptor.memory == nullptr) {
        ::SetLastError(ERROR_INVALID_SECURITY_DESCR);
        return false;
    }
    if (dacl == nullptr) {
        writers.emplace_back(sid_everyone);
        return true;
    }
    for (DWORD index = 0; index < dacl->AceCount; ++index) {
        void* entry = nullptr;
        if (::GetAce(dacl, index, &entry) == 0) {
            return false;
        }
        const auto* header = static_cast<const ACE_HEADER*>(entry);
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE ||
            (header->AceFlags & INHERIT_ONLY_ACE) != 0) {
            continue;
        }
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
        if ((allowed->Mask & writing_rights) == 0) {
            continue;
        }
        if (!add_writer(reinterpret_cast<PSID>(&allowed->SidStart), writers)) {
            return false;
        }
    }
    return true;
}

}  // namespace platform
