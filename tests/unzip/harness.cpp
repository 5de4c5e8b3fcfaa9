// The platform-independent half of the engine test harness.
#include "harness.h"

#include "res/resource.h"
#include "unzip/engine.h"

#include <stdio.h>
#include <string.h>

std::vector<RecordedMessage> Messages;
int CancelAtReport = -1;
std::function<void(int)> OnProgress;
static int ReportIndex;

void ClearRecords()
{
    ClearBoxes();
    Messages.clear();
    CancelAtReport = -1;
    OnProgress = nullptr;
    ReportIndex = 0;
}

LRESULT RecordMessage(UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_SETUP_FILENAME) {
        Messages.push_back({msg, wParam, (const char*)lParam});
        return 0;
    }
    if (msg != WM_SETUP_PROGRESS)
        return 0;
    Messages.push_back({msg, wParam, ""});
    int index = ReportIndex++;
    if (OnProgress)
        OnProgress(index);
    return index == CancelAtReport ? 1 : 0;
}

int InflateStream(const Bytes& stream)
{
    static unsigned char window[WindowAllocSize];
    static unsigned char output[IoBufferSize];
    memset(window, 0, sizeof window);
    InflateWindow = window;
    OutputBuffer = output;
    TestOnly = 1;
    Encrypted = 0;
    RemainingCompressed = 0;
    InputNext = stream.data();
    InputCount = (unsigned)stream.size();
    int result = Inflate();
    InflateWindow = nullptr;
    OutputBuffer = nullptr;
    InputCount = 0;
    return result;
}

void EngineTest::SetUp()
{
    InstallEngineSeams();
    Folder = MakeScratchFolder();
    Dest = JoinPath(Folder, "out");
    ASSERT_TRUE(MakeFolder(Dest));
    ArchivePath = JoinPath(Folder, "test.zip");
}

void EngineTest::TearDown()
{
    ClearRecords();
    ReleaseEngineSeams();
    RemoveScratchFolder(Folder);
}

void EngineTest::FreshOutput()
{
    ClearRecords();
    RemoveScratchFolder(Dest);
    ASSERT_TRUE(MakeFolder(Dest));
}

void EngineTest::WriteArchive(const ZipArchive& archive)
{
    WriteArchiveBytes(archive.Build());
}

void EngineTest::WriteArchiveBytes(const Bytes& bytes)
{
    ASSERT_TRUE(WriteWholeFile(ArchivePath, bytes));
}

ExtractRequest EngineTest::NewRequest(bool testRun)
{
    ExtractRequest request;
    memset(&request, 0, sizeof request);
    request.ReportCrcErrors = 1;
    request.ArchivePath = ArchivePath.c_str();
    request.DestFolder = testRun ? nullptr : Dest.c_str();
    request.OwnerWindow = TestOwnerWindow();
    return request;
}

Bytes EngineTest::OutputFile(const std::string& name)
{
    Bytes bytes;
    ReadWholeFile(JoinPath(Dest, name), &bytes);
    return bytes;
}

bool EngineTest::OutputExists(const std::string& name)
{
    return FileExists(JoinPath(Dest, name));
}

std::vector<std::string> EngineTest::OutputNames()
{
    return ListFolder(Dest);
}

std::string EngineTest::OnlyBoxText()
{
    EXPECT_EQ(1u, Boxes().size());
    if (Boxes().empty())
        return std::string();
    // Every engine box: owned by the request's window, no caption of its own, error icon.
    EXPECT_EQ(TestOwnerWindow(), Boxes()[0].Owner);
    EXPECT_TRUE(Boxes()[0].DefaultCaption);
    EXPECT_EQ((UINT)MB_ICONERROR, Boxes()[0].Type);
    return Boxes()[0].Text;
}

std::vector<WPARAM> EngineTest::ProgressReports()
{
    std::vector<WPARAM> reports;
    for (const RecordedMessage& message : Messages)
        if (message.Msg == WM_SETUP_PROGRESS)
            reports.push_back(message.WParam);
    return reports;
}

std::vector<std::string> EngineTest::ReportedNames()
{
    std::vector<std::string> names;
    for (const RecordedMessage& message : Messages)
        if (message.Msg == WM_SETUP_FILENAME)
            names.push_back(message.Name);
    return names;
}

// The engine writes "\\" between all names of an output path, the folder's included.
std::string EngineTest::ShownPath(const std::string& relative)
{
    std::string path = Dest + "\\" + relative;
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}
