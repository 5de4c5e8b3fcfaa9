// The self-extractor called directly on bundles made here: its own built program with an
// archive from the engine tests' ZIP writer appended. A sound bundle whose setup.exe is a
// stand-in that records how it was started; then a table of bundles that must not install, each
// with the boxes shown, the exit code, and no unpack folder left in the temporary folder; and a
// full disk (run apart, under the file-size limit of file-size-limit.sh). The unpack folder's
// access list, built for either kind of token and read back from the folder while setup runs;
// and links met at clean-up, which go themselves while what they point to stays.
#include "sfx/sfx.h"
#include "sfx/folder_access.h"

#include "archive_writer.h"
#include "tests/support/win_test.h"

#include <gtest/gtest.h>
#include <sddl.h>
#include <winioctl.h>

#include <algorithm>
#include <stdlib.h>
#include <string.h>

namespace {

constexpr char SfxCaption[] = "Tessel Self-Extractor";
constexpr int StandInExitCode = 7; // tqstandin's exit code as setup.exe
constexpr char SystemSid[] = "S-1-5-18";
constexpr char AdministratorsSid[] = "S-1-5-32-544";
constexpr char EveryoneSid[] = "S-1-1-0";
constexpr BYTE FolderInheritance = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
constexpr DWORD StandInWaitMs = 30000;

std::string SidText(PSID sid)
{
    char* text = nullptr;
    if (sid == nullptr || !ConvertSidToStringSidA(sid, &text))
        return "(none)";
    std::string result = text;
    LocalFree(text);
    return result;
}

// One entry of an access list: whom it allows, how it is inherited, what it allows.
struct AccessEntry {
    std::string Who;
    BYTE Flags;
    DWORD Mask;
};

std::vector<AccessEntry> AccessEntries(PACL list)
{
    std::vector<AccessEntry> entries;
    ACL_SIZE_INFORMATION size{};
    if (list == nullptr || !GetAclInformation(list, &size, sizeof size, AclSizeInformation))
        return entries;
    for (DWORD i = 0; i < size.AceCount; ++i) {
        void* entry = nullptr;
        if (!GetAce(list, i, &entry))
            break;
        ACCESS_ALLOWED_ACE* allowed = (ACCESS_ALLOWED_ACE*)entry;
        EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, allowed->Header.AceType);
        entries.push_back({SidText(&allowed->SidStart), allowed->Header.AceFlags, allowed->Mask});
    }
    return entries;
}

// What a security descriptor says: its control bits, owner and access list.
struct FolderSecurity {
    SECURITY_DESCRIPTOR_CONTROL Control = 0;
    std::string Owner;
    std::vector<AccessEntry> Entries;
};

FolderSecurity ReadSecurity(PSECURITY_DESCRIPTOR descriptor)
{
    FolderSecurity security;
    DWORD revision = 0;
    EXPECT_TRUE(IsValidSecurityDescriptor(descriptor));
    EXPECT_TRUE(GetSecurityDescriptorControl(descriptor, &security.Control, &revision));
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    if (GetSecurityDescriptorOwner(descriptor, &owner, &defaulted))
        security.Owner = SidText(owner);
    BOOL present = FALSE;
    PACL list = nullptr;
    EXPECT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &list, &defaulted));
    EXPECT_TRUE(present);
    security.Entries = AccessEntries(list);
    return security;
}

FolderSecurity ReadFileSecurity(const std::string& path)
{
    DWORD needed = 0;
    const SECURITY_INFORMATION parts = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    GetFileSecurityA(path.c_str(), parts, nullptr, 0, &needed);
    std::vector<DWORD> buffer(needed / 4 + 1);
    if (needed == 0 || !GetFileSecurityA(path.c_str(), parts, buffer.data(), needed, &needed)) {
        ADD_FAILURE() << "no security read from " << path << ", error " << GetLastError();
        return FolderSecurity();
    }
    return ReadSecurity(buffer.data());
}

std::string TokenUserSid(HANDLE token)
{
    DWORD buffer[64];
    DWORD size = 0;
    if (!GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size))
        return "(no user)";
    return SidText(((TOKEN_USER*)buffer)->User.Sid);
}

bool TokenIsElevated(HANDLE token)
{
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    return GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) && elevation.TokenIsElevated;
}

// Whom the folder's list must allow, in order, for a process with this token.
std::vector<std::string> ExpectedFolderUsers(HANDLE token, bool elevated)
{
    std::vector<std::string> users = {SystemSid, AdministratorsSid};
    if (!elevated)
        users.push_back(TokenUserSid(token));
    return users;
}

void ExpectEntries(const std::vector<std::string>& users, BYTE flags, const std::vector<AccessEntry>& entries)
{
    ASSERT_EQ(users.size(), entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(users[i], entries[i].Who) << "entry " << i;
        EXPECT_EQ(flags, entries[i].Flags) << entries[i].Who;
        EXPECT_EQ((DWORD)FILE_ALL_ACCESS, entries[i].Mask) << entries[i].Who;
    }
}

HANDLE OwnToken()
{
    HANDLE token = nullptr;
    EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    return token;
}

Bytes FileBytes(const char* path)
{
    std::string bytes = ReadWholeFile(path);
    return Bytes(bytes.begin(), bytes.end());
}

// The self-extractor with an archive of a text file and setup.exe behind it.
ZipArchive BundleWithSetup(const Bytes& setup)
{
    ZipArchive archive;
    archive.Prefix = FileBytes(TQ_SFX_STUB);
    archive.Entries.push_back(Entry("README.TXT", TextBytes(3000, 11), 8));
    archive.Entries.push_back(Entry("setup.exe", setup));
    return archive;
}

class SelfExtractor : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(FindUnpackFolders().empty());
        CreateDirectoryA(Scratch.File("my downloads").c_str(), nullptr);
        Record = Scratch.File("record.txt");
        SetEnvironmentVariableA("TQ_STANDIN_RECORD", Record.c_str());
    }

    int Run(const Bytes& bundle)
    {
        EXPECT_TRUE(WriteWholeFile(Bundle, std::string(bundle.begin(), bundle.end())));
        return RunSelfExtractor(GetModuleHandleA(nullptr), Bundle.c_str());
    }

    ScratchFolder Scratch;
    std::string Bundle = Scratch.File("my downloads\\tessel 81.exe");
    std::string Record;
    MessageBoxRecorder Boxes;
};

// setup.exe runs from a new folder under the temporary folder, which is its current folder, with
// the bundle's path unquoted after -argv0; its exit code comes back; the folder goes. A second
// run takes another folder.
TEST_F(SelfExtractor, RunsSetupFromANewFolderAndRemovesIt)
{
    Bytes bundle = BundleWithSetup(FileBytes(TQ_STANDIN)).Build();
    std::string folders[2];
    for (std::string& folder : folders) {
        DeleteFileA(Record.c_str());
        EXPECT_EQ(StandInExitCode, Run(bundle));
        EXPECT_TRUE(Boxes.Boxes().empty());
        std::string record = ReadWholeFile(Record);
        size_t lineEnd = record.find('\n');
        ASSERT_NE(std::string::npos, lineEnd) << record;
        std::string commandLine = record.substr(0, lineEnd);
        std::string current = record.substr(lineEnd + 1, record.find('\n', lineEnd + 1) - lineEnd - 1);
        const std::string tail = "\\setup.exe\" -argv0 " + Bundle;
        ASSERT_GT(commandLine.size(), tail.size() + 1) << commandLine;
        EXPECT_EQ(tail, commandLine.substr(commandLine.size() - tail.size())) << commandLine;
        EXPECT_EQ('"', commandLine[0]);
        folder = commandLine.substr(1, commandLine.size() - tail.size() - 1);
        EXPECT_EQ(folder, current);
        char temporary[MAX_PATH];
        GetTempPathA(sizeof temporary, temporary);
        EXPECT_EQ(std::string(temporary) + "tqsfx-", folder.substr(0, strlen(temporary) + 6)) << folder;
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(folder.c_str())) << folder << " stayed";
    }
    EXPECT_NE(folders[0], folders[1]);
}

TEST_F(SelfExtractor, BundlesThatDoNotInstall)
{
    const Bytes stub = FileBytes(TQ_SFX_STUB);
    ZipArchive damaged = BundleWithSetup(FileBytes(TQ_STANDIN));
    damaged.Entries[1].CrcOverride = 0x12345678;
    damaged.Entries[1].UseCrcOverride = true;
    Bytes cut = BundleWithSetup(FileBytes(TQ_STANDIN)).Build();
    cut.resize(cut.size() - 60);
    ZipArchive noSetup = BundleWithSetup(Bytes());
    noSetup.Entries.pop_back();
    Bytes junk = stub;
    for (const char* p = "this is no archive"; *p; ++p)
        junk.push_back((uint8_t)*p);
    const std::string missingTemporary = Scratch.File("no such folder");

    struct Case {
        const char* Reason;
        Bytes Bundle;
        std::vector<std::string> Texts; // a part of each box's text, in order; the last is ours
        const std::string* Temporary;   // TMP while it runs, when given
    };
    const Case cases[] = {
        {"nothing appended", stub, {Bundle + " holds no installation files."}, nullptr},
        {"no archive behind the program", junk, {"holds no installation files."}, nullptr},
        {"no setup.exe in the archive", noSetup.Build(), {"does not contain Tessel Setup (setup.exe)"}, nullptr},
        {"a damaged entry", damaged.Build(),
         {"\\setup.exe: Bad CRC", "Tessel Setup could not be unpacked from " + Bundle}, nullptr},
        {"cut short", cut, {"Error reading " + Bundle, "could not be unpacked"}, nullptr},
        {"setup.exe is no program", BundleWithSetup(TextBytes(500, 3)).Build(), {"cannot be started."}, nullptr},
        {"no temporary folder", BundleWithSetup(FileBytes(TQ_STANDIN)).Build(),
         {"No new folder can be created in the temporary folder " + missingTemporary}, &missingTemporary},
    };
    char savedTemporary[MAX_PATH];
    DWORD savedLength = GetEnvironmentVariableA("TMP", savedTemporary, sizeof savedTemporary);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Reason);
        Boxes.Clear();
        DeleteFileA(Record.c_str());
        if (c.Temporary != nullptr)
            SetEnvironmentVariableA("TMP", c.Temporary->c_str());
        int code = Run(c.Bundle);
        if (c.Temporary != nullptr)
            SetEnvironmentVariableA("TMP", savedLength != 0 ? savedTemporary : nullptr);
        EXPECT_EQ(SfxExitFailed, code);
        const std::vector<RecordedBox>& boxes = Boxes.Boxes();
        ASSERT_EQ(c.Texts.size(), boxes.size());
        for (size_t i = 0; i < boxes.size(); ++i)
            EXPECT_NE(std::string::npos, boxes[i].text.find(c.Texts[i])) << boxes[i].text;
        EXPECT_EQ(SfxCaption, boxes.back().caption);
        EXPECT_EQ((UINT)MB_ICONERROR, boxes.back().type & MB_ICONMASK);
        if (boxes.size() > 1) {
            EXPECT_TRUE(boxes[0].defaultCaption) << "the engine's own box";
        }
        EXPECT_TRUE(FindUnpackFolders().empty());
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(Record.c_str())) << "setup was started";
    }
}

// The disk fills up while an entry is unpacked: the engine's 1036, then the self-extractor's box.
TEST_F(SelfExtractor, DiskFull)
{
    char limitText[16];
    ASSERT_NE(0u, GetEnvironmentVariableA("TQ_FILE_SIZE_LIMIT_KIB", limitText, sizeof limitText))
        << "run this case through file-size-limit.sh";
    const size_t limit = (size_t)atoi(limitText) * 1024;
    ZipArchive archive = BundleWithSetup(TextBytes(500, 5));
    archive.Entries.insert(archive.Entries.begin() + 1, Entry("TQCORE.DLL", TextBytes(limit + 40000, 6), 8));
    Bytes bundle = archive.Build();
    ASSERT_LT(bundle.size(), limit);
    EXPECT_EQ(SfxExitFailed, Run(bundle));
    const std::vector<RecordedBox>& boxes = Boxes.Boxes();
    ASSERT_EQ(2u, boxes.size());
    EXPECT_NE(std::string::npos, boxes[0].text.find("\\TQCORE.DLL.  Possible cause: disk full")) << boxes[0].text;
    EXPECT_EQ(SfxCaption, boxes[1].caption);
    EXPECT_NE(std::string::npos, boxes[1].text.find("could not be unpacked")) << boxes[1].text;
    EXPECT_TRUE(FindUnpackFolders().empty());
}

// The list built for a token, elevated or not: SYSTEM and Administrators always, the user only
// unelevated; every entry inherited by what is made below; protected from the temporary
// folder's entries; owned by Administrators when elevated, so the user cannot rewrite it.
TEST(UnpackFolderAccess, ListForEitherToken)
{
    HANDLE token = OwnToken();
    struct Case {
        const char* Reason;
        int Elevated;
        const char* Owner; // null: the creator's default owner
    };
    const Case cases[] = {
        {"elevated: the user's unelevated processes get nothing", 1, AdministratorsSid},
        {"not elevated: the user's own account as well", 0, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Reason);
        UnpackFolderAccess access;
        memset(&access, 0xA5, sizeof access);
        ASSERT_EQ(1, BuildUnpackFolderAccess(token, c.Elevated, &access));
        EXPECT_EQ(sizeof access.Attributes, access.Attributes.nLength);
        EXPECT_EQ(FALSE, access.Attributes.bInheritHandle);
        ASSERT_EQ((void*)&access.Descriptor, access.Attributes.lpSecurityDescriptor);
        FolderSecurity security = ReadSecurity(&access.Descriptor);
        EXPECT_TRUE(security.Control & SE_DACL_PROTECTED);
        EXPECT_EQ(c.Owner != nullptr ? c.Owner : "(none)", security.Owner);
        ExpectEntries(ExpectedFolderUsers(token, c.Elevated != 0), FolderInheritance, security.Entries);
    }
    CloseHandle(token);
}

struct ExtractorRun {
    std::string Bundle;
    int ExitCode;
};

DWORD WINAPI RunExtractorThread(void* parameter)
{
    ExtractorRun* run = (ExtractorRun*)parameter;
    run->ExitCode = RunSelfExtractor(GetModuleHandleA(nullptr), run->Bundle.c_str());
    return 0;
}

// While setup runs (the stand-in waits for the test), the folder carries the list for this
// process's token, read back from the file system, and the files unpacked into it inherit it;
// nobody can rename the folder, since the self-extractor holds it without delete sharing. Under
// Wine the process's token is elevated, so the list names no user there.
TEST_F(SelfExtractor, UnpackFolderIsClosedAndHeldWhileSetupRuns)
{
    const std::string release = Scratch.File("release");
    SetEnvironmentVariableA("TQ_STANDIN_HOLD", release.c_str());
    Bytes bundle = BundleWithSetup(FileBytes(TQ_STANDIN)).Build();
    ASSERT_TRUE(WriteWholeFile(Bundle, std::string(bundle.begin(), bundle.end())));
    ExtractorRun run = {Bundle, -1};
    HANDLE thread = CreateThread(nullptr, 0, RunExtractorThread, &run, 0, nullptr);
    ASSERT_NE(nullptr, thread);
    std::string record;
    for (DWORD waited = 0; waited < StandInWaitMs && std::count(record.begin(), record.end(), '\n') < 2; waited += 50) {
        Sleep(50);
        record = ReadWholeFile(Record);
    }
    std::string folder = record.substr(0, record.find('\n'));
    size_t setupName = folder.find("\\setup.exe\"");
    if (setupName != std::string::npos && folder[0] == '"') {
        folder = folder.substr(1, setupName - 1);
        HANDLE token = OwnToken();
        const std::vector<std::string> users = ExpectedFolderUsers(token, TokenIsElevated(token));
        CloseHandle(token);
        FolderSecurity security = ReadFileSecurity(folder);
        if (security.Control & SE_DACL_PROTECTED) {
            SCOPED_TRACE("the folder");
            ExpectEntries(users, FolderInheritance, security.Entries);
            if (users.size() == 2) {
                EXPECT_EQ(AdministratorsSid, security.Owner);
            }
            SCOPED_TRACE("setup.exe in it");
            ExpectEntries(users, INHERITED_ACE, ReadFileSecurity(folder + "\\setup.exe").Entries);
        } else {
            // A file system that keeps only what a Unix mode says (Wine 8 keeps no lists): the
            // list still reached it as "nothing for others", where the temporary folder, whose
            // entries a folder made without a list of its own would get, lets everyone read.
            char temporary[MAX_PATH];
            GetTempPathA(sizeof temporary, temporary);
            auto everyone = [](const AccessEntry& entry) { return entry.Who == EveryoneSid; };
            const std::vector<AccessEntry> around = ReadFileSecurity(temporary).Entries;
            EXPECT_TRUE(std::any_of(around.begin(), around.end(), everyone)) << "nothing would tell the lists apart";
            EXPECT_FALSE(std::any_of(security.Entries.begin(), security.Entries.end(), everyone))
                << "the folder is open to everyone";
            printf("the file system keeps no access lists; the folder's came back as no access for others\n");
        }
        EXPECT_FALSE(MoveFileA(folder.c_str(), (folder + "-elsewhere").c_str())) << "the folder is not held";
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((folder + "-elsewhere").c_str()));
    } else {
        ADD_FAILURE() << "setup did not start: " << record;
    }
    ASSERT_TRUE(WriteWholeFile(release, ""));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, StandInWaitMs));
    CloseHandle(thread);
    SetEnvironmentVariableA("TQ_STANDIN_HOLD", nullptr);
    EXPECT_EQ(StandInExitCode, run.ExitCode);
    EXPECT_TRUE(FindUnpackFolders().empty());
}

// Between its creation and its removal (before setup starts, and after setup has ended) only
// the self-extractor's own handle keeps the folder in place: nobody may rename or delete it.
TEST(UnpackFolder, HeldFromItsCreationUntilItsRemoval)
{
    char folder[MAX_PATH];
    HANDLE hold = nullptr;
    ASSERT_EQ(1, CreateUnpackFolder(folder, &hold));
    ASSERT_NE(INVALID_HANDLE_VALUE, hold);
    std::string path(folder, strlen(folder) - 1);
    const std::string elsewhere = path + "-elsewhere";
    ASSERT_TRUE(WriteWholeFile(path + "\\setup.exe", "unpacked"));
    EXPECT_FALSE(MoveFileA(path.c_str(), elsewhere.c_str()));
    EXPECT_EQ((DWORD)ERROR_SHARING_VIOLATION, GetLastError());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(elsewhere.c_str()));
    EXPECT_EQ(1, DeleteFolderTree(folder, hold));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(path.c_str()));
    RemoveFolderTree(elsewhere);
}

// A junction (mount point) at link leading to target, set with FSCTL_SET_REPARSE_POINT on a new
// empty folder; its data names the target in the NT form "\??\C:\...".
bool MakeJunction(const std::string& link, const std::string& target)
{
    struct MountPointData {
        DWORD Tag;
        WORD DataLength;
        WORD Reserved;
        WORD TargetOffset, TargetLength, PrintOffset, PrintLength;
        WCHAR Names[MAX_PATH * 2];
    } data{};
    WCHAR name[MAX_PATH + 8];
    int length = MultiByteToWideChar(CP_ACP, 0, ("\\??\\" + target).c_str(), -1, name, MAX_PATH + 8) - 1;
    if (length <= 0 || !CreateDirectoryA(link.c_str(), nullptr))
        return false;
    data.Tag = IO_REPARSE_TAG_MOUNT_POINT;
    data.TargetLength = (WORD)(length * 2);
    data.PrintOffset = (WORD)((length + 1) * 2);
    memcpy(data.Names, name, length * 2);
    data.DataLength = (WORD)(8 + (length + 2) * 2);
    HANDLE folder = CreateFileA(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    DWORD returned = 0;
    bool made = folder != INVALID_HANDLE_VALUE &&
                DeviceIoControl(folder, FSCTL_SET_REPARSE_POINT, &data, 8 + data.DataLength, nullptr, 0, &returned, nullptr);
    if (folder != INVALID_HANDLE_VALUE)
        CloseHandle(folder);
    if (!made)
        RemoveDirectoryA(link.c_str());
    return made;
}

bool MakeSymbolicLink(const std::string& link, const std::string& target, bool folder)
{
    typedef BOOLEAN(WINAPI * CreateLinkProc)(LPCSTR, LPCSTR, DWORD);
    CreateLinkProc create =
        (CreateLinkProc)(void*)GetProcAddress(GetModuleHandleA("kernel32.dll"), "CreateSymbolicLinkA");
    const DWORD folderLink = 1;   // SYMBOLIC_LINK_FLAG_DIRECTORY
    const DWORD unprivileged = 2; // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE, in developer mode
    DWORD flags = folder ? folderLink : 0;
    return create != nullptr && (create(link.c_str(), target.c_str(), flags | unprivileged) ||
                                 create(link.c_str(), target.c_str(), flags));
}

// Links met at clean-up, in place of the folder or below it: the link goes, and the folder or
// file it points to stays with everything in it. A row runs where the platform makes its kind
// of link (Wine 8 makes none: FSCTL_SET_REPARSE_POINT fails there, and CreateSymbolicLinkA
// reports success without making a link).
TEST(FolderRemoval, LinksGoAndWhatTheyPointToStays)
{
    enum Kind { Junction, FolderLink, FileLink };
    struct Case {
        const char* Reason;
        Kind Link;
        bool InPlaceOfTheFolder;
    };
    const Case cases[] = {
        {"a junction in place of the folder", Junction, true},
        {"a symbolic link in place of the folder", FolderLink, true},
        {"a junction in the folder", Junction, false},
        {"a symbolic link to a folder in the folder", FolderLink, false},
        {"a symbolic link to a file in the folder", FileLink, false},
    };
    int ran = 0;
    std::string skipped;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Reason);
        ScratchFolder scratch;
        const std::string target = scratch.File("target");
        const std::string targetFile = scratch.File("target.txt");
        ASSERT_TRUE(CreateDirectoryA(target.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryA((target + "\\inner").c_str(), nullptr));
        ASSERT_TRUE(WriteWholeFile(target + "\\inner\\keep.txt", "keep"));
        ASSERT_TRUE(WriteWholeFile(targetFile, "keep too"));
        const std::string folder = scratch.File("tqsfx-0123456789abcdef");
        std::string link = folder;
        if (!c.InPlaceOfTheFolder) {
            ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
            ASSERT_TRUE(CreateDirectoryA((folder + "\\sub").c_str(), nullptr));
            ASSERT_TRUE(WriteWholeFile(folder + "\\sub\\setup.exe", "unpacked"));
            link = folder + "\\sub\\zz-link";
        }
        bool made = c.Link == Junction ? MakeJunction(link, target)
                                       : MakeSymbolicLink(link, c.Link == FileLink ? targetFile : target, c.Link == FolderLink);
        DWORD attributes = GetFileAttributesA(link.c_str());
        if (!made || attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            skipped += std::string("\n  ") + c.Reason;
            continue;
        }
        ++ran;
        HANDLE hold = INVALID_HANDLE_VALUE;
        if (!c.InPlaceOfTheFolder)
            hold = CreateFileA(folder.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        EXPECT_EQ(1, DeleteFolderTree((folder + "\\").c_str(), hold));
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(link.c_str())) << "the link stayed";
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(folder.c_str())) << "the folder stayed";
        EXPECT_EQ("keep", ReadWholeFile(target + "\\inner\\keep.txt"));
        EXPECT_EQ("keep too", ReadWholeFile(targetFile));
    }
    if (ran == 0)
        GTEST_SKIP() << "this platform makes no links or junctions here; not run:" << skipped;
    if (!skipped.empty())
        printf("not made here, so not run:%s\n", skipped.c_str());
}

} // namespace
