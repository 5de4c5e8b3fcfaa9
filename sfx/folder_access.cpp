// Who may change the unpack folder. Windows elevates the self-extractor, and setup.exe then runs
// elevated from that folder; so nothing that runs with less right than the self-extractor may
// change what lies in it. The folder gets a protected access list of its own (nothing inherited
// from the temporary folder, which the user's unelevated processes control): full access for
// SYSTEM and the Administrators group, and for the user's own account only when the
// self-extractor is not elevated (then the user's other processes hold the same right anyway).
// Elevated, the folder is also owned by the Administrators group, since an owner may always
// rewrite the access list. The entries are inherited by everything created below the folder.
// The security functions are looked up at run time: some are newer than the oldest Windows the
// self-extractor starts on, and where one is missing the folder keeps the inherited access.
#include "sfx/folder_access.h"
#include "util/path.h"

#include <string.h>

constexpr DWORD FolderAccess = FILE_ALL_ACCESS;
constexpr DWORD EntryInheritance = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
constexpr TOKEN_INFORMATION_CLASS TokenElevationClass = (TOKEN_INFORMATION_CLASS)20; // Vista and later

typedef BOOL(WINAPI* OpenProcessTokenProc)(HANDLE, DWORD, PHANDLE);
typedef BOOL(WINAPI* GetTokenInformationProc)(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD);
typedef BOOL(WINAPI* InitializeAclProc)(PACL, DWORD, DWORD);
typedef BOOL(WINAPI* AddAccessAllowedAceExProc)(PACL, DWORD, DWORD, DWORD, PSID);
typedef BOOL(WINAPI* InitializeSecurityDescriptorProc)(PSECURITY_DESCRIPTOR, DWORD);
typedef BOOL(WINAPI* SetSecurityDescriptorDaclProc)(PSECURITY_DESCRIPTOR, BOOL, PACL, BOOL);
typedef BOOL(WINAPI* SetSecurityDescriptorOwnerProc)(PSECURITY_DESCRIPTOR, PSID, BOOL);
typedef BOOL(WINAPI* SetSecurityDescriptorControlProc)(PSECURITY_DESCRIPTOR, SECURITY_DESCRIPTOR_CONTROL,
                                                      SECURITY_DESCRIPTOR_CONTROL);

// The functions of advapi32 that the access list needs; all null unless every one was found.
struct SecurityFunctions {
    OpenProcessTokenProc OpenProcessToken;
    GetTokenInformationProc GetTokenInformation;
    InitializeAclProc InitializeAcl;
    AddAccessAllowedAceExProc AddAccessAllowedAceEx;                 // Windows 2000 and later
    InitializeSecurityDescriptorProc InitializeSecurityDescriptor;
    SetSecurityDescriptorDaclProc SetSecurityDescriptorDacl;
    SetSecurityDescriptorOwnerProc SetSecurityDescriptorOwner;
    SetSecurityDescriptorControlProc SetSecurityDescriptorControl;   // Windows 2000 and later
};
static SecurityFunctions Security;

static const SecurityFunctions* BindSecurityFunctions(void)
{
    static int bound;
    static int complete;
    if (bound)
        return complete ? &Security : nullptr;
    bound = 1;
    HMODULE library = LoadSystemLibrary("advapi32.dll");
    if (library == nullptr)
        return nullptr;
    struct Binding {
        const char* Name;
        FARPROC* Slot;
    };
    const Binding bindings[] = {
        {"OpenProcessToken", (FARPROC*)&Security.OpenProcessToken},
        {"GetTokenInformation", (FARPROC*)&Security.GetTokenInformation},
        {"InitializeAcl", (FARPROC*)&Security.InitializeAcl},
        {"AddAccessAllowedAceEx", (FARPROC*)&Security.AddAccessAllowedAceEx},
        {"InitializeSecurityDescriptor", (FARPROC*)&Security.InitializeSecurityDescriptor},
        {"SetSecurityDescriptorDacl", (FARPROC*)&Security.SetSecurityDescriptorDacl},
        {"SetSecurityDescriptorOwner", (FARPROC*)&Security.SetSecurityDescriptorOwner},
        {"SetSecurityDescriptorControl", (FARPROC*)&Security.SetSecurityDescriptorControl},
    };
    for (const Binding& binding : bindings) {
        *binding.Slot = GetProcAddress(library, binding.Name);
        if (*binding.Slot == nullptr) {
            memset(&Security, 0, sizeof Security);
            return nullptr;
        }
    }
    complete = 1;
    return &Security;
}

// A SID of the NT authority with up to two sub-authorities, laid out as the SID structure.
struct UnpackSid {
    BYTE Revision;
    BYTE SubAuthorityCount;
    SID_IDENTIFIER_AUTHORITY Authority;
    DWORD SubAuthority[2];
};

// S-1-5-18 and S-1-5-32-544 (the well-known SIDs; the layout is the SID structure's).
static const UnpackSid SystemSid = {SID_REVISION, 1, {SECURITY_NT_AUTHORITY}, {SECURITY_LOCAL_SYSTEM_RID, 0}};
static const UnpackSid AdministratorsSid = {SID_REVISION, 2, {SECURITY_NT_AUTHORITY},
                                            {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS}};

int IsTokenElevated(HANDLE token)
{
    const SecurityFunctions* calls = BindSecurityFunctions();
    if (calls == nullptr)
        return 0;
    DWORD elevation = 0; // TOKEN_ELEVATION: one DWORD
    DWORD size = 0;
    if (!calls->GetTokenInformation(token, TokenElevationClass, &elevation, sizeof elevation, &size))
        return 0; // Windows before Vista: the question does not arise
    return elevation != 0;
}

int OpenOwnToken(HANDLE* token)
{
    const SecurityFunctions* calls = BindSecurityFunctions();
    return calls != nullptr && calls->OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token);
}

int BuildUnpackFolderAccess(HANDLE token, int elevated, UnpackFolderAccess* access)
{
    const SecurityFunctions* calls = BindSecurityFunctions();
    if (calls == nullptr)
        return 0;
    const void* sids[3] = {&SystemSid, &AdministratorsSid, nullptr};
    if (!elevated) {
        DWORD size = 0;
        if (!calls->GetTokenInformation(token, TokenUser, access->User, sizeof access->User, &size))
            return 0;
        sids[2] = ((TOKEN_USER*)(void*)access->User)->User.Sid;
    }
    PACL list = (PACL)(void*)access->List;
    if (!calls->InitializeAcl(list, sizeof access->List, ACL_REVISION))
        return 0;
    for (const void* sid : sids)
        if (sid != nullptr && !calls->AddAccessAllowedAceEx(list, ACL_REVISION, EntryInheritance, FolderAccess, (PSID)sid))
            return 0;
    PSECURITY_DESCRIPTOR descriptor = &access->Descriptor;
    if (!calls->InitializeSecurityDescriptor(descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !calls->SetSecurityDescriptorDacl(descriptor, TRUE, list, FALSE) ||
        !calls->SetSecurityDescriptorControl(descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED))
        return 0;
    if (elevated && !calls->SetSecurityDescriptorOwner(descriptor, (PSID)&AdministratorsSid, FALSE))
        return 0;
    access->Attributes.nLength = sizeof access->Attributes;
    access->Attributes.lpSecurityDescriptor = descriptor;
    access->Attributes.bInheritHandle = FALSE;
    return 1;
}
