// The extraction engine's test run over a payload archive, as setup's request would run it but
// with nothing written: the built-in password, and a CRC mismatch (or Deflate data that does
// not decode to its end) reported, so a damaged or wrongly encrypted payload is found.
#include "tqpack.h"

#ifdef TQPACK_WITH_ENGINE
#include "unzip/posix/sink.h"
#include "unzip/unzip.h"

// The engine's error boxes of the current run; the native layer hands them here.
static Problems* EngineMessages;

static int CollectEngineMessage(HWND, const char* text, const char*, UINT)
{
    if (EngineMessages)
        EngineMessages->push_back(std::string("extraction engine: ") + text);
    return IDOK;
}
#endif

bool TestArchiveWithEngine(const std::string& archivePath, Problems& problems)
{
#ifdef TQPACK_WITH_ENGINE
    ExtractRequest request{};
    request.ReportCrcErrors = 1;
    request.ArchivePath = archivePath.c_str();
    request.DestFolder = nullptr; // test run
    size_t problemsBefore = problems.size();
    EngineMessages = &problems;
    SetMessageBoxSink(CollectEngineMessage);
    int ran = ExtractArchive(&request);
    SetMessageBoxSink(nullptr);
    EngineMessages = nullptr;
    if (ran != 1) {
        problems.push_back("the extraction engine refused the test run");
        return false;
    }
    if (request.Result != 0 || problems.size() != problemsBefore) {
        problems.push_back("the extraction engine's test run of " + archivePath + " ended with result "
                           + std::to_string(request.Result) + " (setup would fail to install)");
        return false;
    }
    return true;
#else
    problems.push_back("this tqpack was built without the extraction engine, so " + archivePath
                       + " was not test-run");
    return false;
#endif
}
