// Shell-extension stub library: the version-record scan over synthetic records and over our own
// stub library, the comparison with an installed copy, the waits for exclusive access, the busy
// check, the write and the switch that turns the shell extension off.
#include "res/resource.h"
#include "res/stub/stub_version.h"
#include "setup/setup.h"
#include "steps/steps.h"
#include "steps_support.h"
#include "tests/support/win_test.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <stdlib.h>
#include <string.h>

static std::vector<std::string> Traced;

static void RecordTrace(const char* text)
{
    Traced.push_back(text);
}

static void Put16(unsigned char* at, unsigned value)
{
    at[0] = (unsigned char)value;
    at[1] = (unsigned char)(value >> 8);
}

static void Put32(unsigned char* at, DWORD value)
{
    Put16(at, value & 0xFFFF);
    Put16(at + 2, value >> 16);
}

// A VS_FIXEDFILEINFO with file and product version major.minor.build.revision.
static std::vector<unsigned char> MakeRecord(unsigned major, unsigned minor, unsigned build, unsigned revision)
{
    std::vector<unsigned char> record(FixedFileInfoSize, 0);
    Put32(&record[0], 0xFEEF04BD);
    Put32(&record[4], 0x00010000);
    Put32(&record[8], major << 16 | minor);
    Put32(&record[12], build << 16 | revision);
    Put32(&record[16], major << 16 | minor);
    Put32(&record[20], build << 16 | revision);
    return record;
}

static std::vector<unsigned char> Join(std::vector<std::vector<unsigned char>> parts)
{
    std::vector<unsigned char> bytes;
    for (const auto& part : parts)
        bytes.insert(bytes.end(), part.begin(), part.end());
    return bytes;
}

static int Scan(const std::vector<unsigned char>& bytes, std::vector<unsigned char>* found)
{
    found->assign(FixedFileInfoSize, 0xCC);
    return FindFixedFileInfo(bytes.data(), (int)bytes.size(), 20, found->data());
}

TEST(FindFixedFileInfo, FindsARecordThatFillsTheBufferExactly)
{
    std::vector<unsigned char> record = MakeRecord(20, 20, 20, 20), found;
    EXPECT_EQ(1, Scan(record, &found));
    EXPECT_EQ(record, found);
    record.pop_back();
    EXPECT_EQ(0, Scan(record, &found));
    EXPECT_EQ(std::vector<unsigned char>(FixedFileInfoSize, 0xCC), found);
    EXPECT_EQ(0, FindFixedFileInfo(record.data(), -5, 20, found.data()));
}

TEST(FindFixedFileInfo, NeedsAllFiftyTwoBytesAfterTheSignature)
{
    std::vector<unsigned char> record = MakeRecord(1, 2, 3, 4), found;
    std::vector<unsigned char> cut = Join({ std::vector<unsigned char>(10, 0xBD), record });
    cut.pop_back();
    EXPECT_EQ(0, Scan(cut, &found));
}

TEST(FindFixedFileInfo, PassesOverRecordsWithAPartAboveTheLimitAndOverFalseSignatures)
{
    std::vector<unsigned char> tooHigh = MakeRecord(1, 2, 3, 4);
    Put16(&tooHigh[22], 21); // only the product version's revision is out of range
    std::vector<unsigned char> falseSignature = MakeRecord(1, 1, 1, 1);
    falseSignature[3] = 0xFF;
    std::vector<unsigned char> wanted = MakeRecord(8, 1, 0, 12), found;
    std::vector<unsigned char> bytes =
        Join({ { 0xBD, 0x04, 0xEF }, tooHigh, falseSignature, { 0x00, 0xBD }, wanted, { 1, 2, 3 } });
    EXPECT_EQ(1, Scan(bytes, &found));
    EXPECT_EQ(wanted, found);

    for (int offset = 8; offset < 24; offset += 2) {
        std::vector<unsigned char> single = MakeRecord(1, 2, 3, 4);
        Put16(&single[offset], 21);
        EXPECT_EQ(0, Scan(single, &found)) << "part at offset " << offset;
        EXPECT_EQ(1, FindFixedFileInfo(single.data(), (int)single.size(), 21, found.data()));
    }
}

TEST(SameFileVersion, ComparesBothHalves)
{
    FileVersion a = { 0x00080001, 0x0000000C }, b = a;
    EXPECT_EQ(1, SameFileVersion(&a, &b));
    b.LeastSignificant = 0x0000000D;
    EXPECT_EQ(0, SameFileVersion(&a, &b));
    b = a;
    b.MostSignificant = 0x00080000;
    EXPECT_EQ(0, SameFileVersion(&a, &b));
}

class StubSteps : public ::testing::Test {
protected:
    ScratchFolder scratch;
    std::string folder = scratch.Path();
    std::vector<unsigned char> payload;
    size_t recordOffset = 0;

    void SetUp() override
    {
        ModuleInstance = GetModuleHandleA(nullptr);
        StubData = nullptr;
        StubSize = 0;
        StubIsCurrent = 0;
        ASSERT_EQ(1, LoadStubPayload());
        payload.assign(StubData, StubData + StubSize);
        std::vector<unsigned char> record(FixedFileInfoSize);
        ASSERT_EQ(1, FindFixedFileInfo(StubData, (int)StubSize, 20, record.data()));
        recordOffset = std::search(payload.begin(), payload.end(), record.begin(), record.end()) - payload.begin();

        char self[MAX_PATH];
        GetModuleFileNameA(nullptr, self, sizeof self);
        ASSERT_TRUE(GetTimes(self, nullptr, nullptr, &SetupTimestamp));
        lstrcpyA(InstallFolder, folder.c_str());
        Traced.clear();
        SetTraceSink(RecordTrace);
    }

    void TearDown() override
    {
        SetTraceSink(nullptr);
    }

    // Our stub library with another file version written into its version record.
    std::vector<unsigned char> StubWithVersion(DWORD mostSignificant, DWORD leastSignificant)
    {
        std::vector<unsigned char> bytes = payload;
        Put32(&bytes[recordOffset + 8], mostSignificant);
        Put32(&bytes[recordOffset + 12], leastSignificant);
        return bytes;
    }

    std::string Path(const char* name) { return folder + name; }
};

TEST_F(StubSteps, OurStubLibraryCarriesAVersionRecordTheScanFinds)
{
    ASSERT_GE(StubSize, 2u);
    EXPECT_EQ('M', StubData[0]);
    EXPECT_EQ('Z', StubData[1]);
    const unsigned parts[] = { STUB_VERSION_PARTS };
    EXPECT_EQ((DWORD)(parts[0] << 16 | parts[1]), payload[recordOffset + 8] | payload[recordOffset + 9] << 8
                                                      | payload[recordOffset + 10] << 16 | (DWORD)payload[recordOffset + 11] << 24);

    // The platform reads the same version from the written file.
    ASSERT_EQ(1, WriteStub());
    FileVersion installed = { 0xDEADBEEF, 0xDEADBEEF };
    ASSERT_EQ(1, ReadInstalledVersion(Path("TQSHLSTB.DLL").c_str(), &installed));
    EXPECT_EQ((DWORD)(parts[0] << 16 | parts[1]), installed.MostSignificant);
    EXPECT_EQ((DWORD)(parts[2] << 16 | parts[3]), installed.LeastSignificant);
}

TEST_F(StubSteps, LoadStubPayloadFailsInAModuleWithoutTheResource)
{
    ModuleInstance = GetModuleHandleA("kernel32.dll");
    Traced.clear();
    EXPECT_EQ(0, LoadStubPayload());
    EXPECT_EQ(std::vector<std::string>{ "Failed to find resource for stub DLL." }, Traced);
    ModuleInstance = GetModuleHandleA(nullptr);
}

TEST_F(StubSteps, ReadInstalledVersionGivesZeroForAFileWithoutVersionRecord)
{
    WriteWholeFile(Path("plain.dll"), RandomBytes(3000, 1));
    FileVersion version = { 0xDEADBEEF, 0xDEADBEEF };
    EXPECT_EQ(0, ReadInstalledVersion(Path("plain.dll").c_str(), &version));
    EXPECT_EQ(0u, version.MostSignificant);
    EXPECT_EQ(0u, version.LeastSignificant);
    version = { 0xDEADBEEF, 0xDEADBEEF };
    EXPECT_EQ(0, ReadInstalledVersion(Path("absent.dll").c_str(), &version));
    EXPECT_EQ(0u, version.MostSignificant);
}

TEST_F(StubSteps, AnInstalledStubOfTheSameVersionIsNeitherWaitedForNorWritten)
{
    ASSERT_EQ(1, WriteStub());
    char stubPath[PathBufferSize];
    lstrcpyA(stubPath, Path("TQSHLSTB.DLL").c_str());
    Traced.clear();
    CompareStubVersion(stubPath);
    EXPECT_STREQ("", stubPath);
    EXPECT_EQ(1, StubIsCurrent);
    EXPECT_EQ((std::vector<std::string>{ "Existing stub version = " STUB_VERSION_TEXT,
                                         "New stub version = " STUB_VERSION_TEXT }),
              Traced);

    // Held by a shell: with its path emptied the wait does not look at it.
    HANDLE held = CreateFileA(Path("TQSHLSTB.DLL").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    EXPECT_EQ(1, WaitForLibraryAccess(50, stubPath, ""));
    CloseHandle(held);
}

TEST_F(StubSteps, AnInstalledStubOfAnotherVersionIsWaitedForAndReplaced)
{
    const DWORD versions[][2] = { { 0x00080001, 0x0000000D }, { 0x00080000, 0x0000000C }, { 0x00090001, 0x0000000C } };
    for (const auto& version : versions) {
        std::vector<unsigned char> older = StubWithVersion(version[0], version[1]);
        WriteWholeFile(Path("TQSHLSTB.DLL"), older);
        FileVersion installed;
        ASSERT_EQ(1, ReadInstalledVersion(Path("TQSHLSTB.DLL").c_str(), &installed));
        ASSERT_EQ(version[0], installed.MostSignificant);
        ASSERT_EQ(version[1], installed.LeastSignificant);

        char stubPath[PathBufferSize];
        lstrcpyA(stubPath, Path("TQSHLSTB.DLL").c_str());
        CompareStubVersion(stubPath);
        EXPECT_EQ(Path("TQSHLSTB.DLL"), stubPath);
        EXPECT_EQ(0, StubIsCurrent);

        HANDLE held = CreateFileA(stubPath, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, held);
        EXPECT_EQ(0, WaitForLibraryAccess(30, stubPath, ""));
        CloseHandle(held);
        EXPECT_EQ(1, WaitForLibraryAccess(30, stubPath, ""));

        ASSERT_EQ(1, WriteStub());
        EXPECT_EQ(payload, ReadWholeBytes(Path("TQSHLSTB.DLL")));
    }
}

TEST_F(StubSteps, AnInstalledStubWithoutVersionRecordIsReplaced)
{
    WriteWholeFile(Path("TQSHLSTB.DLL"), RandomBytes(100000, 3)); // longer than the payload
    char stubPath[PathBufferSize];
    lstrcpyA(stubPath, Path("TQSHLSTB.DLL").c_str());
    CompareStubVersion(stubPath);
    EXPECT_EQ(Path("TQSHLSTB.DLL"), stubPath);
    EXPECT_EQ(0, StubIsCurrent);
    EXPECT_EQ(std::vector<std::string>{ "GetVersion failed for existing stub DLL." }, Traced);
    ASSERT_EQ(1, WriteStub());
    EXPECT_EQ(payload, ReadWholeBytes(Path("TQSHLSTB.DLL")));
}

TEST_F(StubSteps, APayloadWhoseRecordHasAPartAboveTwentyNeverCountsAsCurrent)
{
    ASSERT_EQ(1, WriteStub());
    std::vector<unsigned char> outOfRange = StubWithVersion(0x00080001, 0x00000015); // 8.1.0.21
    StubData = outOfRange.data();
    StubSize = (DWORD)outOfRange.size();
    WriteWholeFile(Path("TQSHLSTB.DLL"), outOfRange); // even the very same file
    char stubPath[PathBufferSize];
    lstrcpyA(stubPath, Path("TQSHLSTB.DLL").c_str());
    Traced.clear();
    CompareStubVersion(stubPath);
    EXPECT_EQ(Path("TQSHLSTB.DLL"), stubPath);
    EXPECT_EQ(0, StubIsCurrent);
    EXPECT_EQ(std::vector<std::string>{ "GetVersion failed for new stub DLL in resource." }, Traced);
}

TEST_F(StubSteps, WriteStubStampsTheFileWithTheSetupTime)
{
    ASSERT_EQ(1, WriteStub());
    FILETIME creation, access, write;
    ASSERT_TRUE(GetTimes(Path("TQSHLSTB.DLL"), &creation, &access, &write));
    EXPECT_TRUE(SameTime(SetupTimestamp, creation));
    EXPECT_TRUE(SameTime(SetupTimestamp, access));
    EXPECT_TRUE(SameTime(SetupTimestamp, write));
    EXPECT_EQ(payload, ReadWholeBytes(Path("TQSHLSTB.DLL")));
    EXPECT_EQ(std::vector<std::string>{ "Extracting stub DLL to " + Path("TQSHLSTB.DLL") }, Traced);
}

TEST_F(StubSteps, WriteStubFailsWhenTheFileCannotBeCreated)
{
    std::string missing = folder + "no such folder\\";
    lstrcpyA(InstallFolder, missing.c_str());
    EXPECT_EQ(0, WriteStub());
    EXPECT_FALSE(FileExists(missing + "TQSHLSTB.DLL"));
    EXPECT_EQ((std::vector<std::string>{ "Extracting stub DLL to " + missing + "TQSHLSTB.DLL",
                                         "Failed to create file for stub DLL." }),
              Traced);
}

static int DispatchedCount;
static LRESULT CALLBACK CountingWndProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_APP) {
        ++DispatchedCount;
        return 0;
    }
    return DefWindowProcA(window, msg, wParam, lParam);
}

class LibraryWait : public StubSteps {
protected:
    HWND window = nullptr;
    std::string stub, worker;

    void SetUp() override
    {
        StubSteps::SetUp();
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = CountingWndProc;
        windowClass.hInstance = ModuleInstance;
        windowClass.lpszClassName = "StepsTestCounter";
        RegisterClassA(&windowClass);
        window = CreateWindowA("StepsTestCounter", "", 0, 0, 0, 10, 10, nullptr, nullptr, ModuleInstance, nullptr);
        DispatchedCount = 0;
        stub = Path("TQSHLSTB.DLL");
        worker = Path("tqshell1.dll");
        WriteWholeFile(stub, RandomBytes(100, 1));
        WriteWholeFile(worker, RandomBytes(100, 2));
    }

    void TearDown() override
    {
        DestroyWindow(window);
        StubSteps::TearDown();
    }

    HANDLE Hold(const std::string& path)
    {
        return CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    }
};

// With ten minutes to wait, a wait that did not end at the first free try would stand out.
TEST_F(LibraryWait, FreeLibrariesAndEmptyPathsPassAtOnce)
{
    EXPECT_EQ(1, WaitForLibraryAccess(600000, stub.c_str(), worker.c_str()));
    EXPECT_EQ(1, WaitForLibraryAccess(600000, "", ""));
    EXPECT_EQ(1, WaitForLibraryAccess(600000, "", worker.c_str()));
}

// A wait that is to try at least once gets time enough that the thread cannot lose it all to
// other processes before the first try.
TEST_F(LibraryWait, AHeldLibraryMakesTheWaitRunOutWhileMessagesAreDispatched)
{
    HANDLE held = Hold(worker);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    PostMessageA(window, WM_APP, 0, 0);
    DWORD start = GetTickCount();
    EXPECT_EQ(0, WaitForLibraryAccess(500, stub.c_str(), worker.c_str()));
    EXPECT_GE(GetTickCount() - start, 500u);
    EXPECT_EQ(1, DispatchedCount);
    CloseHandle(held);

    held = Hold(stub);
    EXPECT_EQ(0, WaitForLibraryAccess(30, stub.c_str(), ""));
    CloseHandle(held);
    EXPECT_EQ(1, WaitForLibraryAccess(600000, stub.c_str(), worker.c_str()));
}

TEST_F(LibraryWait, TheFirstTwoWaitsOfTheStepRunTheirFullTime)
{
    HANDLE held = Hold(worker);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    DWORD start = GetTickCount();
    EXPECT_EQ(0, WaitForLibraryAccess(500, "", worker.c_str()));
    DWORD afterFirst = GetTickCount();
    EXPECT_EQ(0, WaitForLibraryAccess(1000, "", worker.c_str()));
    DWORD afterSecond = GetTickCount();
    CloseHandle(held);
    EXPECT_GE(afterFirst - start, 500u);
    EXPECT_GE(afterSecond - afterFirst, 1000u);
}

TEST_F(LibraryWait, ADeadlineAtOrBeforeNowEndsTheWaitWithoutTrying)
{
    PostMessageA(window, WM_APP, 0, 0);
    EXPECT_EQ(0, WaitForLibraryAccess(0, "", ""));
    EXPECT_EQ(0, WaitForLibraryAccess(0xFFFFFFFF, "", "")); // wraps to just before now
    EXPECT_EQ(0, DispatchedCount);
    MSG msg;
    EXPECT_TRUE(PeekMessageA(&msg, window, WM_APP, WM_APP, PM_REMOVE));
}

TEST_F(LibraryWait, FindBusyFileNamesTheFirstProgramFileInUse)
{
    DeleteFileA(stub.c_str());
    DeleteFileA(worker.c_str());
    EXPECT_EQ(-1, FindBusyFile());

    WriteWholeFile(Path("tqcab3.dll"), RandomBytes(10, 3));
    WriteWholeFile(Path("tqshell1.dll"), RandomBytes(10, 4));
    WriteWholeFile(Path("tessel32.exe"), RandomBytes(10, 5));
    EXPECT_EQ(-1, FindBusyFile()); // present but free; tqsnapdk.exe and tqsfx32.exe absent

    HANDLE heldWorker = Hold(Path("tqshell1.dll"));
    EXPECT_EQ(4, FindBusyFile());
    HANDLE program = Hold(Path("tessel32.exe"));
    EXPECT_EQ(0, FindBusyFile());
    CloseHandle(program);
    CloseHandle(heldWorker);
    EXPECT_EQ(-1, FindBusyFile());
}

TEST(TurnOffShellExtension, RemovesTheRegistrationsAndRecordsTheSwitch)
{
    const char classKey[] = "CLSID\\{7b3e4a04-91c2-11cf-a4d6-3c5e7f901b2d}\\InprocServer32";
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CLASSES_ROOT, classKey, &key));
    RegCloseKey(key);

    TurnOffShellExtension();

    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyA(HKEY_CLASSES_ROOT, "CLSID\\{7b3e4a04-91c2-11cf-a4d6-3c5e7f901b2d}", &key));
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyA(HKEY_CURRENT_USER, "Software\\Ostrel Computing\\Tessel\\fm", &key));
    unsigned char data[8];
    memset(data, 0xCC, sizeof data);
    DWORD type = 0, size = sizeof data;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "shlExt", nullptr, &type, data, &size));
    RegCloseKey(key);
    EXPECT_EQ((DWORD)REG_SZ, type);
    EXPECT_EQ('0', data[0]);
    EXPECT_LE(size, 2u); // one byte stored; the platform may add the terminator when reading
}

// Under a file-size limit (the group win.steps.stub_short_write), a stub payload larger than the
// limit: the one write comes back short, WriteStub fails and the partly written file stays.
TEST(ShortWrite, OfTheStubLibraryFailsTheWrite)
{
    char limitText[16];
    ASSERT_NE(0u, GetEnvironmentVariableA("TQ_FILE_SIZE_LIMIT_KIB", limitText, sizeof limitText));
    const size_t limit = (size_t)atoi(limitText) * 1024;
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::vector<unsigned char> large = ReadWholeBytes(self);
    ASSERT_GT(large.size(), limit);
    StubData = large.data();
    StubSize = (DWORD)large.size();

    ScratchFolder scratch;
    lstrcpyA(InstallFolder, scratch.Path().c_str());
    Traced.clear();
    SetTraceSink(RecordTrace);
    EXPECT_EQ(0, WriteStub());
    SetTraceSink(nullptr);
    EXPECT_EQ((std::vector<std::string>{ "Extracting stub DLL to " + scratch.File("TQSHLSTB.DLL"),
                                         "Failed to write to file for stub DLL." }),
              Traced);
    EXPECT_EQ(limit, ReadWholeBytes(scratch.File("TQSHLSTB.DLL")).size());
    StubData = nullptr;
    StubSize = 0;
}
