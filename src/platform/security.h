// Who may change what a folder holds: the service runs as the local system account, so
// anyone else who can put files where it reads them can act as that account.
// Part of the seam to Windows; platform/handles.h says how its calls behave.
#pragma once

#include <string>
#include <vector>

namespace platform {

// The well-known accounts a folder of the service may let write: the local system
// account, the Administrators group, the TrustedInstaller service and CREATOR OWNER (which
// stands for whoever created an entry, only ever in what new entries inherit).
inline constexpr const wchar_t* sid_local_system = L"S-1-5-18";
inline constexpr const wchar_t* sid_administrators = L"S-1-5-32-544";
inline constexpr const wchar_t* sid_trusted_installer =
    L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
inline constexpr const wchar_t* sid_creator_owner = L"S-1-3-0";
inline constexpr const wchar_t* sid_everyone = L"S-1-1-0";

// GetNamedSecurityInfoW(path, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, ...), then a walk
// of the DACL: the security identifiers (S-1-5-32-545 ...) that an access-allowed entry
// applying to the folder itself grants any right to create, write, append, delete
// children, or change its security or owner; in the entries' order, each once. A folder
// without a DACL lets everyone (S-1-1-0) write. Deny entries are not subtracted: the list
// may name more writers than there are, never fewer. False when the security cannot be
// read, with the last error set (a platform may keep none).
bool get_folder_writers(const wchar_t* path, std::vector<std::wstring>& writers);

}  // namespace platform
