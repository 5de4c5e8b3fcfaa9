// Who may change the unpack folder (sfx/folder_access.cpp): the security attributes the folder
// is created with. Windows only; sfx.h stays readable by the native tools.
#ifndef TQ_SFX_FOLDER_ACCESS_H
#define TQ_SFX_FOLDER_ACCESS_H

#include <windows.h>

constexpr int UnpackListSize = 256;      // the access list: 8 + 3 entries of at most 8 + 68 bytes
constexpr int UnpackTokenUserSize = 128; // TOKEN_USER with a SID of at most 68 bytes
// The security attributes of a new unpack folder, with everything they point to.
struct UnpackFolderAccess {
    SECURITY_ATTRIBUTES Attributes;
    SECURITY_DESCRIPTOR Descriptor;
    DWORD List[UnpackListSize / 4];           // an ACL, DWORD-aligned
    DWORD User[UnpackTokenUserSize / 4];      // TOKEN_USER of the token, when not elevated
};
// 1 and the process's token (TOKEN_QUERY), or 0 where the security functions are missing.
int OpenOwnToken(HANDLE* token);
// 1 when the token is elevated; 0 when not, and on Windows that does not elevate.
int IsTokenElevated(HANDLE token);
// Fills access for a folder made by a process with this token: SYSTEM and Administrators, and
// the token's user unless elevated; owned by Administrators when elevated. 0 where the
// security functions are missing (the folder then keeps the inherited access).
int BuildUnpackFolderAccess(HANDLE token, int elevated, UnpackFolderAccess* access);

#endif
