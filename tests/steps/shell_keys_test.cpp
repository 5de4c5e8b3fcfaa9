// Removal of the old shell extension's registrations: the sixteen key trees, deepest keys first,
// keys of others left alone, a tree that cannot be deleted kept without stopping the others,
// and a tree too deep for the path buffer refused without an overrun.
#include "checks_support.h"

#include "shell_keys.h"
#include "steps/steps.h"

#include <gtest/gtest.h>
#include <string.h>
#include <string>
#include <vector>

static const char ClassA04[] = "CLSID\\{7b3e4a04-91c2-11cf-a4d6-3c5e7f901b2d}";
static const char ClassA05[] = "CLSID\\{7b3e4a05-91c2-11cf-a4d6-3c5e7f901b2d}";
static const char ClassA03[] = "CLSID\\{7b3e4a03-91c2-11cf-a4d6-3c5e7f901b2d}";

// Deletions are watched (and one can be refused) at the import slot of RegDeleteKeyA, through
// which the product code calls the registry.
typedef LONG(WINAPI* DeleteKeyProc)(HKEY, LPCSTR);
static DeleteKeyProc RealDeleteKey;
static std::vector<std::string> Deleted;
static std::string RefusedPath;

static LONG WINAPI WatchedDeleteKey(HKEY root, LPCSTR path)
{
    if (lstrcmpiA(path, RefusedPath.c_str()) == 0)
        return ERROR_ACCESS_DENIED;
    LONG result = RealDeleteKey(root, path);
    if (result == ERROR_SUCCESS)
        Deleted.push_back(path);
    return result;
}

class ShellKeysTest : public ::testing::Test {
protected:
    ShellKeysTest() : patch("advapi32.dll", "RegDeleteKeyA", (void*)WatchedDeleteKey)
    {
        RealDeleteKey = (DeleteKeyProc)patch.Original();
        Deleted.clear();
        RefusedPath.clear();
    }
    void TearDown() override
    {
        RefusedPath.clear();
        for (const char* key : ShellExtensionKeys)
            DeleteTree(HKEY_CLASSES_ROOT, key);
    }
    static void Create(const std::string& path) { CreateKey(HKEY_CLASSES_ROOT, path.c_str()); }
    static bool Exists(const std::string& path) { return KeyExists(HKEY_CLASSES_ROOT, path.c_str()); }
    ImportPatch patch;
};

TEST_F(ShellKeysTest, NothingToRemoveChangesNothing)
{
    ASSERT_TRUE(patch.Active());
    Create("Directory\\shellex\\DragDropHandlers\\Other");
    Create(".ZIP\\ShellEx\\{00000000-0000-0000-c000-000000000046}");
    EXPECT_EQ(1, RemoveShellExtensionKeys());
    EXPECT_TRUE(Deleted.empty());
    EXPECT_TRUE(Exists("Directory\\shellex\\DragDropHandlers\\Other"));
    EXPECT_TRUE(Exists(".ZIP\\ShellEx\\{00000000-0000-0000-c000-000000000046}"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, DeleteKeyTree(HKEY_CLASSES_ROOT, ClassA04));
    DeleteTree(HKEY_CLASSES_ROOT, "Directory\\shellex\\DragDropHandlers\\Other");
    DeleteTree(HKEY_CLASSES_ROOT, ".ZIP\\ShellEx\\{00000000-0000-0000-c000-000000000046}");
}

TEST_F(ShellKeysTest, NestedTreesGoDeepestFirstInTableOrder)
{
    ASSERT_TRUE(patch.Active());
    std::string a04 = ClassA04, a03 = ClassA03;
    Create(a04 + "\\InprocServer32");
    Create(a04 + "\\ShellEx\\A\\A1");
    Create(a04 + "\\ShellEx\\A\\A2");
    Create(a04 + "\\ShellEx\\B");
    Create(a03);
    Create("Folder\\shellex\\ContextMenuHandlers\\Tessel\\Inner");
    Create(".ZIP\\ShellEx\\{00021500-0000-0000-c000-000000000046}");
    Create("Folder\\shellex\\ContextMenuHandlers\\Other");

    EXPECT_EQ(1, RemoveShellExtensionKeys());
    std::vector<std::string> expected = {
        a04 + "\\InprocServer32",
        a04 + "\\ShellEx\\A\\A1",
        a04 + "\\ShellEx\\A\\A2",
        a04 + "\\ShellEx\\A",
        a04 + "\\ShellEx\\B",
        a04 + "\\ShellEx",
        a04,
        a03,
        "Folder\\shellex\\ContextMenuHandlers\\Tessel\\Inner",
        "Folder\\shellex\\ContextMenuHandlers\\Tessel",
        ".ZIP\\ShellEx\\{00021500-0000-0000-c000-000000000046}",
    };
    EXPECT_EQ(expected, Deleted);
    for (const char* key : ShellExtensionKeys)
        EXPECT_FALSE(Exists(key)) << key;
    // Parents and neighbours of the removed keys stay.
    EXPECT_TRUE(Exists("Folder\\shellex\\ContextMenuHandlers\\Other"));
    EXPECT_TRUE(Exists(".ZIP\\ShellEx"));
    EXPECT_TRUE(Exists("CLSID"));

    Deleted.clear();
    EXPECT_EQ(1, RemoveShellExtensionKeys());
    EXPECT_TRUE(Deleted.empty()) << "a second run finds nothing";
    DeleteTree(HKEY_CLASSES_ROOT, "Folder\\shellex\\ContextMenuHandlers\\Other");
}

TEST_F(ShellKeysTest, RefusedDeletionStopsOnlyItsOwnTree)
{
    ASSERT_TRUE(patch.Active());
    std::string a04 = ClassA04, a05 = ClassA05;
    Create(a04 + "\\A\\A1");
    Create(a04 + "\\A\\A2");
    Create(a04 + "\\B");
    Create(a05 + "\\InprocServer32");
    RefusedPath = a04 + "\\A\\A2";

    EXPECT_EQ(ERROR_ACCESS_DENIED, DeleteKeyTree(HKEY_CLASSES_ROOT, ClassA04));
    EXPECT_FALSE(Exists(a04 + "\\A\\A1"));
    EXPECT_TRUE(Exists(a04 + "\\A\\A2"));
    EXPECT_TRUE(Exists(a04 + "\\B")) << "the rest of the tree stays";

    EXPECT_EQ(1, RemoveShellExtensionKeys());
    EXPECT_TRUE(Exists(a04 + "\\A\\A2"));
    EXPECT_TRUE(Exists(a04 + "\\B"));
    EXPECT_FALSE(Exists(a05)) << "the next key of the table is still removed";
}

// Wine converts a key path of more than 260 characters in a fixed buffer and fails the open
// (ERROR_MORE_DATA), before the 512-byte limit of the path buffer is reached: the deep branch
// stays whole, and the branches before it are gone.
TEST_F(ShellKeysTest, TreeTooDeepToOpenStaysWhole)
{
    std::string a06 = "CLSID\\{7b3e4a06-91c2-11cf-a4d6-3c5e7f901b2d}";
    std::string shallow = a06 + "\\A shallow branch";
    Create(shallow);
    std::string name(40, 'x');
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CLASSES_ROOT, (a06 + "\\Z deep").c_str(), 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    size_t deepest = a06.size() + 7;
    for (int level = 0; level < 14; ++level) {
        HKEY child;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(key, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                                 &child, nullptr));
        RegCloseKey(key);
        key = child;
        deepest += 1 + name.size();
    }
    RegCloseKey(key);
    ASSERT_GT(deepest, 512u);

    EXPECT_NE(ERROR_SUCCESS, DeleteKeyTree(HKEY_CLASSES_ROOT, a06.c_str()));
    EXPECT_FALSE(Exists(shallow)) << "the branch before the deep one was deleted";
    HKEY check;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CLASSES_ROOT, (a06 + "\\Z deep").c_str(), 0, KEY_READ, &check));
    char first[64];
    EXPECT_EQ(ERROR_SUCCESS, RegEnumKeyA(check, 0, first, sizeof first)) << "the deep chain is intact";
    RegCloseKey(check);
}

// The path buffer's own limit, reached through the import slot of RegEnumKeyA, which reports a
// subkey name of a chosen length once: a child path of 511 characters is still formed (and its
// open fails, since no such key exists), one of 512 is refused before anything is written.
typedef LONG(WINAPI* EnumKeyProc)(HKEY, DWORD, LPSTR, DWORD);
static size_t ReportedNameLength;
static EnumKeyProc RealEnumKey;

static LONG WINAPI LongNameEnumKey(HKEY key, DWORD index, LPSTR name, DWORD size)
{
    if (ReportedNameLength == 0)
        return RealEnumKey(key, index, name, size);
    if (ReportedNameLength + 1 > size)
        return ERROR_MORE_DATA;
    memset(name, 'n', ReportedNameLength);
    name[ReportedNameLength] = '\0';
    ReportedNameLength = 0;
    return ERROR_SUCCESS;
}

TEST_F(ShellKeysTest, ChildPathBeyondTheBufferIsRefused)
{
    const char* a07 = "CLSID\\{7b3e4a07-91c2-11cf-a4d6-3c5e7f901b2d}";
    Create(a07);
    ImportPatch enumPatch("advapi32.dll", "RegEnumKeyA", (void*)LongNameEnumKey);
    ASSERT_TRUE(enumPatch.Active());
    RealEnumKey = (EnumKeyProc)enumPatch.Original();
    size_t pathLength = strlen(a07);

    ReportedNameLength = 511 - pathLength - 1; // path, "\\", name: 511 characters and the NUL
    LONG fits = DeleteKeyTree(HKEY_CLASSES_ROOT, a07);
    EXPECT_NE(ERROR_SUCCESS, fits);
    EXPECT_NE(ERROR_FILENAME_EXCED_RANGE, fits);

    ReportedNameLength = 512 - pathLength - 1;
    EXPECT_EQ(ERROR_FILENAME_EXCED_RANGE, DeleteKeyTree(HKEY_CLASSES_ROOT, a07));
    EXPECT_TRUE(Exists(a07));
    EXPECT_TRUE(Deleted.empty());
}
