// What the engine tests need around a run: the engine's error boxes and window messages
// recorded (natively through the POSIX layer's sinks, on Windows through a real owner window
// and the test support's message-box recorder), a scratch folder, files, a way to make writes
// fail, and a direct call of the Deflate decoder.
#ifndef TQ_TESTS_ENGINE_HARNESS_H
#define TQ_TESTS_ENGINE_HARNESS_H

#include "archive_writer.h"
#include "files.h"
#include "unzip/unzip.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

struct EngineBox {
    HWND Owner;
    std::string Text;
    bool DefaultCaption;    // no caption of its own
    UINT Type;
};

struct RecordedMessage {
    UINT Msg;
    WPARAM WParam;
    std::string Name;   // WM_SETUP_FILENAME's text
};

const std::vector<EngineBox>& Boxes();    // the boxes shown since the records were cleared
extern std::vector<RecordedMessage> Messages;
extern int CancelAtReport;                 // index of the progress report answered with 1; -1 none
extern std::function<void(int)> OnProgress; // runs inside each progress report, with its index

void InstallEngineSeams();                 // at the start of a test; clears the records
void ReleaseEngineSeams();                 // at its end
HWND TestOwnerWindow();
void ClearRecords();
void ClearBoxes();                         // platform part of ClearRecords

// Shared by the platform files: record a message and return the answer.
LRESULT RecordMessage(UINT msg, WPARAM wParam, LPARAM lParam);

std::string MakeScratchFolder();
void RemoveScratchFolder(const std::string& folder);
std::string JoinPath(const std::string& folder, const std::string& name);
bool MakeFolder(const std::string& path);
long long FileModificationTime(const std::string& path);   // seconds since 1970, UTC

// Native builds: writes fail like a full disk once this many bytes are written; a negative
// count lifts the limit. (Under Windows engine_disk_full_test runs under a file-size limit.)
void FailWritesAfter(long long bytes);

// The decoder on its own, the stream being the entry's whole data; returns Inflate's result.
int InflateStream(const Bytes& stream);

// Each test gets a scratch folder with an output folder "out" and writes its archive as
// "test.zip" beside it.
class EngineTest : public ::testing::Test {
protected:
    std::string Folder;
    std::string Dest;
    std::string ArchivePath;

    void SetUp() override;
    void TearDown() override;
    void WriteArchive(const ZipArchive& archive);
    void WriteArchiveBytes(const Bytes& bytes);
    void FreshOutput();   // an empty output folder, nothing recorded
    ExtractRequest NewRequest(bool testRun = false);   // ReportCrcErrors 1, owner recorded
    Bytes OutputFile(const std::string& name);         // contents of out/<name>; empty if absent
    bool OutputExists(const std::string& name);
    std::vector<std::string> OutputNames();
    std::string OnlyBoxText();                          // the one box shown; fails otherwise
    std::vector<WPARAM> ProgressReports();
    std::string ShownPath(const std::string& relative); // an output path as messages show it
    std::vector<std::string> ReportedNames();
};

#endif
