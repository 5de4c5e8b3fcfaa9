// The proposed install folder (program-files folder, 16-bit copy, association, profile
// fallback) and the long-name expansion on real folders. Wine creates no 8.3 names on disk, but
// it gives every long name a generated short alias that its file lookups accept, so short paths
// are made with GetShortPathNameA.
#include "checks_support.h"

#include "setup/setup.h"
#include "util/path.h"

#include <gtest/gtest.h>
#include <string.h>
#include <string>

static const char CurrentVersionKey[] = "Software\\Microsoft\\Windows\\CurrentVersion";
static const char CommandKey[] = "Tessel\\shell\\open\\command";

static std::string ShortPath(const std::string& path)
{
    char shortPath[MAX_PATH] = "";
    GetShortPathNameA(path.c_str(), shortPath, sizeof shortPath);
    return shortPath;
}

static std::string LongForm(const std::string& path)
{
    char output[PathBufferSize];
    memset(output, 0x5A, sizeof output); // poison: the result must be written whole
    int length = ExpandLongName(path.c_str(), output, PathBufferSize - 1);
    if (length == 0)
        return "(failed)";
    EXPECT_EQ((size_t)length, strlen(output));
    return output;
}

// A folder with a long name and a blank, below a scratch folder: "<scratch>Tessel Archive Tools".
class LongNameTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        base = scratch.Path();
        base.pop_back(); // without its trailing backslash
        longFolder = base + "\\Tessel Archive Tools";
        CreateDirectoryA(longFolder.c_str(), nullptr);
        CreateDirectoryA((longFolder + "\\Second Level Folder").c_str(), nullptr);
        WriteWholeFile(longFolder + "\\Second Level Folder\\A Long File Name.txt", "x");
        shortFolder = ShortPath(longFolder);
    }
    ScratchFolder scratch;
    std::string base, longFolder, shortFolder;
};

TEST_F(LongNameTest, WineGivesShortAliases)
{
    // The premise of the short-name cases below.
    ASSERT_NE("", shortFolder);
    EXPECT_NE(longFolder, shortFolder);
    EXPECT_EQ(std::string::npos, shortFolder.find(' '));
    EXPECT_NE(std::string::npos, shortFolder.find('~'));
}

TEST_F(LongNameTest, ShortComponentsComeBackLong)
{
    std::string shortFile = ShortPath(longFolder + "\\Second Level Folder\\A Long File Name.txt");
    ASSERT_NE(std::string::npos, shortFile.find('~'));
    EXPECT_EQ(longFolder + "\\Second Level Folder\\A Long File Name.txt", LongForm(shortFile));
    EXPECT_EQ(longFolder, LongForm(shortFolder));
    // The root part is kept as written, never looked up.
    std::string lower = shortFolder;
    lower[0] = (char)tolower(lower[0]);
    EXPECT_EQ(lower[0], LongForm(lower)[0]);
    // "/" separators are accepted; every separator written is "\".
    std::string slashed = shortFolder;
    slashed[slashed.rfind('\\')] = '/';
    EXPECT_EQ(longFolder, LongForm(slashed));
}

TEST_F(LongNameTest, WildcardsAndDotInTheLastPart)
{
    EXPECT_EQ(longFolder + "\\*.txt", LongForm(shortFolder + "\\*.txt"));
    EXPECT_EQ(longFolder + "\\Second?", LongForm(shortFolder + "\\Second?"));
    EXPECT_EQ(longFolder + "\\", LongForm(shortFolder + "\\."));
    // Dot names keep their place; the folder they resolve to is not put in for them.
    EXPECT_EQ(longFolder + "\\Second Level Folder\\..", LongForm(ShortPath(longFolder + "\\Second Level Folder") + "\\.."));
    EXPECT_EQ(longFolder + "\\.\\Second Level Folder", LongForm(shortFolder + "\\.\\" + ShortPath(longFolder + "\\Second Level Folder").substr(shortFolder.size() + 1)));
}

TEST_F(LongNameTest, MissingComponentsAndRootlessPathsFail)
{
    EXPECT_EQ("(failed)", LongForm(shortFolder + "\\No Such Folder\\file.txt"));
    EXPECT_EQ("(failed)", LongForm(shortFolder + "\\No Such File.txt"));
    EXPECT_EQ("(failed)", LongForm(longFolder.substr(2))); // a single leading separator
    EXPECT_EQ("(failed)", LongForm(longFolder + "\\")); // an empty last part names nothing

    char path[PathBufferSize];
    std::string missing = shortFolder + "\\Missing";
    strcpy(path, missing.c_str());
    EXPECT_EQ(path, ExpandLongNameInPlace(path));
    EXPECT_EQ(missing, path);
    strcpy(path, shortFolder.c_str());
    ExpandLongNameInPlace(path);
    EXPECT_EQ(longFolder, path);
}

TEST_F(LongNameTest, CapacityIsNeverExceeded)
{
    std::string target = longFolder + "\\Second Level Folder";
    std::string source = ShortPath(target);
    char output[PathBufferSize];
    const int exact = (int)target.size();
    memset(output, 0x5A, sizeof output);
    EXPECT_EQ(exact, ExpandLongName(source.c_str(), output, exact));
    EXPECT_EQ(target, output);
    // One character short: refused, and nothing written beyond the capacity.
    for (int capacity : {exact - 1, 3, 2, 0}) {
        SCOPED_TRACE(capacity);
        memset(output, 0x5A, sizeof output);
        EXPECT_EQ(0, ExpandLongName(source.c_str(), output, capacity));
        for (int i = capacity + 1; i < PathBufferSize; ++i)
            ASSERT_EQ(0x5A, (unsigned char)output[i]) << "byte " << i;
    }
}

// UNC roots: Wine maps \\server\share to dosdevices\unc\server\share inside its prefix, which the
// test reaches through drive Z: (the Unix root).
TEST_F(LongNameTest, UncRootIsKeptAsWritten)
{
    char prefix[MAX_PATH];
    ASSERT_NE(0u, GetEnvironmentVariableA("WINEPREFIX", prefix, sizeof prefix)) << "needs Wine";
    std::string unc = std::string("Z:") + prefix + "\\dosdevices\\unc";
    for (char& c : unc)
        if (c == '/')
            c = '\\';
    CreateDirectoryA(unc.c_str(), nullptr);
    CreateDirectoryA((unc + "\\tqserver").c_str(), nullptr);
    CreateDirectoryA((unc + "\\tqserver\\share").c_str(), nullptr);
    CreateDirectoryA((unc + "\\tqserver\\share\\Shared Long Folder").c_str(), nullptr);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("\\\\tqserver\\share\\Shared Long Folder", &found);
    ASSERT_NE(INVALID_HANDLE_VALUE, search) << "Wine did not resolve the UNC path: " << GetLastError();
    FindClose(search);
    std::string shortLast = found.cAlternateFileName;
    ASSERT_NE("", shortLast);

    EXPECT_EQ("\\\\TQSERVER\\share\\Shared Long Folder",
              LongForm("\\\\TQSERVER\\share\\" + shortLast));
    EXPECT_EQ("\\\\tqserver\\share\\Shared Long Folder\\",
              LongForm("\\\\tqserver\\share\\" + shortLast + "\\."));
    // Server and share alone are the whole root: nothing is added to them, whether or not the
    // platform finds the share itself.
    for (const char* root : {"\\\\tqserver\\share", "\\\\TQSERVER\\Share", "\\\\tqserver"}) {
        std::string result = LongForm(root);
        EXPECT_TRUE(result == root || result == "(failed)") << result;
    }
    RemoveFolderTree(unc + "\\tqserver");
}

// ---- proposal ---------------------------------------------------------------------------------

// Runs with a clean slate: no ProgramFilesDir value unless a test sets one, no association, no
// profile entry; everything the test changes is put back.
class ProposalTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, CurrentVersionKey, 0, KEY_ALL_ACCESS, &key));
        DWORD size = sizeof savedProgramFiles;
        hadProgramFiles = RegQueryValueExA(key, "ProgramFilesDir", nullptr, nullptr, (BYTE*)savedProgramFiles,
                                           &size) == ERROR_SUCCESS;
        RegDeleteValueA(key, "ProgramFilesDir");
        RegCloseKey(key);
        DeleteTree(HKEY_CLASSES_ROOT, "Tessel");
        WriteProfileStringA("extensions", "zip", nullptr);
        base = scratch.Path();
        base.pop_back();
    }
    void TearDown() override
    {
        if (hadProgramFiles)
            SetProgramFiles(savedProgramFiles);
        DeleteTree(HKEY_CLASSES_ROOT, "Tessel");
        WriteProfileStringA("extensions", "zip", nullptr);
        DeleteFileA("C:\\Tessel\\tessel.exe");
        RemoveDirectoryA("C:\\Tessel");
    }
    static void SetProgramFiles(const char* value)
    {
        SetStringValue(HKEY_LOCAL_MACHINE, CurrentVersionKey, "ProgramFilesDir", value);
    }
    static void SetCommand(const std::string& command)
    {
        SetStringValue(HKEY_CLASSES_ROOT, CommandKey, "", command.c_str());
    }
    std::string Propose()
    {
        strcpy(ProposedFolder, "stale");
        ProposeInstallFolder();
        return ProposedFolder;
    }
    std::string Folder(const std::string& name)
    {
        std::string path = base + "\\" + name;
        CreateDirectoryA(path.c_str(), nullptr);
        return path;
    }
    ScratchFolder scratch;
    std::string base;
    char savedProgramFiles[MAX_PATH] = "";
    bool hadProgramFiles = false;
};

TEST_F(ProposalTest, WithoutProgramFilesDirTheDefaultStands)
{
    EXPECT_EQ("C:\\Tessel", Propose());
    CreateDirectoryA("C:\\Tessel", nullptr);
    WriteWholeFile("C:\\Tessel\\tessel.exe", "MZ");
    EXPECT_EQ("C:\\Tessel32", Propose());
}

TEST_F(ProposalTest, ProgramFilesFolderGetsTessel)
{
    std::string programFiles = Folder("Programs");
    SetProgramFiles(programFiles.c_str());
    EXPECT_EQ(programFiles + "\\Tessel", Propose());
    // Appended whatever the value ends with.
    SetProgramFiles((programFiles + "\\").c_str());
    EXPECT_EQ(programFiles + "\\\\Tessel", Propose());
    // A 16-bit copy in the proposed folder: "32" appended.
    std::string tessel = Folder("Programs\\Tessel");
    WriteWholeFile(tessel + "\\TESSEL.EXE", "MZ");
    SetProgramFiles(programFiles.c_str());
    EXPECT_EQ(tessel + "32", Propose());
}

TEST_F(ProposalTest, ProgramFilesValueOfMoreThan199CharactersIsNotTaken)
{
    char buffer[PathBufferSize] = "unchanged";
    SetProgramFiles(std::string(199, 'p').c_str());
    EXPECT_EQ(1, GetProgramFilesDir(buffer));
    EXPECT_EQ(std::string(199, 'p'), buffer);
    strcpy(buffer, "unchanged");
    SetProgramFiles(std::string(200, 'p').c_str());
    EXPECT_EQ(0, GetProgramFilesDir(buffer));
    EXPECT_STREQ("unchanged", buffer);
    EXPECT_EQ("C:\\Tessel", Propose());
}

TEST_F(ProposalTest, QuotedCommandWithArgumentNamesTheFolderInLongForm)
{
    SetProgramFiles(Folder("Programs").c_str());
    std::string product = Folder("Tessel Archive Tools");
    WriteWholeFile(product + "\\TESSEL32.EXE", "MZ");
    std::string shortProduct = ShortPath(product);
    ASSERT_NE(product, shortProduct);
    SetCommand("\"" + shortProduct + "\\TESSEL32.EXE\" \"%1\"");
    TraceRecorder trace;
    EXPECT_EQ(product, Propose());
    EXPECT_TRUE(trace.Contains("Found Tessel as the associated .zip program"));
    EXPECT_TRUE(trace.Contains("Longname is " + product));
}

TEST_F(ProposalTest, UnquotedCommandsWithAndWithoutArguments)
{
    std::string programFiles = Folder("Programs");
    SetProgramFiles(programFiles.c_str());
    std::string product = Folder("app");
    SetCommand(product + "\\tessel32.exe %1");
    EXPECT_EQ(product, Propose());
    SetCommand(product + "\\Tessel32.exe");
    EXPECT_EQ(product, Propose());
    // Quoted without arguments: the quote is dropped from the folder.
    SetCommand("\"" + product + "\\TESSEL32.EXE\"");
    EXPECT_EQ(product, Propose());
}

TEST_F(ProposalTest, BlankInsideAnUnquotedPathWithoutArgumentsIsNotRecognised)
{
    std::string programFiles = Folder("Programs");
    SetProgramFiles(programFiles.c_str());
    std::string product = Folder("my apps");
    SetCommand(product + "\\TESSEL32.EXE");
    TraceRecorder trace;
    EXPECT_EQ(programFiles + "\\Tessel", Propose());
    EXPECT_FALSE(trace.Contains("Getting longname of install folder"));
}

TEST_F(ProposalTest, ForeignAndShortProgramNamesAreNotTheProduct)
{
    std::string programFiles = Folder("Programs");
    SetProgramFiles(programFiles.c_str());
    std::string other = Folder("Other");
    for (const char* program : {"unzipper.exe", "tes.exe", "TESSE.EXE", "tesse"}) {
        SCOPED_TRACE(program);
        SetCommand("\"" + other + "\\" + program + "\" \"%1\"");
        TraceRecorder trace;
        EXPECT_EQ(programFiles + "\\Tessel", Propose());
        EXPECT_FALSE(trace.Contains("Found Tessel as the associated .zip program"));
    }
    SetCommand("\"" + other + "\\TESSELATOR.EXE\" \"%1\""); // the first six letters are what counts
    EXPECT_EQ(other, Propose());
    SetCommand("TESSEL32.EXE \"%1\""); // no folder at all
    EXPECT_EQ(programFiles + "\\Tessel", Propose());
}

TEST_F(ProposalTest, AssociatedFolderWith16BitCopyKeepsTheProgramFilesProposalInLongForm)
{
    std::string programFiles = Folder("Program Files Long");
    std::string proposed = Folder("Program Files Long\\Tessel");
    std::string shortProgramFiles = ShortPath(programFiles);
    ASSERT_NE(programFiles, shortProgramFiles);
    SetProgramFiles(shortProgramFiles.c_str());
    std::string old = Folder("Old Tessel");
    WriteWholeFile(old + "\\tessel.exe", "MZ");
    SetCommand(ShortPath(old) + "\\TESSEL32.EXE \"%1\"");
    EXPECT_EQ(proposed, Propose());
    // A quoted folder is looked up with its quote, so its 16-bit copy goes unnoticed (the
    // install-folder dialog asks about it before installing there).
    SetCommand("\"" + ShortPath(old) + "\\TESSEL32.EXE\" \"%1\"");
    EXPECT_EQ(old, Propose());
}

TEST_F(ProposalTest, ProfileEntryIsTheFallbackOfTheRegistry)
{
    SetProgramFiles(Folder("Programs").c_str());
    std::string product = Folder("Profile Tessel");
    WriteProfileStringA("extensions", "zip", (ShortPath(product) + "\\TESSEL32.EXE ^.zip").c_str());
    EXPECT_EQ(product, Propose());
    // The registered command wins over the profile.
    std::string registered = Folder("Registered");
    SetCommand(registered + "\\tessel32.exe \"%1\"");
    EXPECT_EQ(registered, Propose());
}
