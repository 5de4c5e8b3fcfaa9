// The native half of the engine test harness: the POSIX layer's sinks record boxes and
// messages, and its write limit stands in for a full disk.
#ifndef _WIN32
#include "harness.h"

#include "base/posix/sink.h"

#include <dirent.h>
#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <algorithm>

static std::vector<EngineBox> Recorded;

static int BoxSink(HWND owner, const char* text, const char* caption, UINT type)
{
    Recorded.push_back({owner, text != nullptr ? text : "", caption == nullptr, type});
    return IDOK;
}

const std::vector<EngineBox>& Boxes()
{
    return Recorded;
}

void ClearBoxes()
{
    Recorded.clear();
}

void ReleaseEngineSeams()
{
    SetMessageBoxSink(nullptr);
    SetMessageSink(nullptr);
}

static LRESULT MessageSinkProc(HWND, UINT msg, WPARAM wParam, LPARAM lParam)
{
    return RecordMessage(msg, wParam, lParam);
}

void InstallEngineSeams()
{
    SetMessageBoxSink(BoxSink);
    SetMessageSink(MessageSinkProc);
    SetWriteLimit(-1);
    ClearRecords();
}

HWND TestOwnerWindow()
{
    static int owner;
    return (HWND)&owner;   // any handle: messages go to the sink
}

void FailWritesAfter(long long bytes)
{
    SetWriteLimit(bytes);
}

std::string MakeScratchFolder()
{
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : P_tmpdir)
        + "/tqengine-XXXXXX";
    std::vector<char> folder(pattern.begin(), pattern.end());
    folder.push_back('\0');
    if (mkdtemp(folder.data()) == nullptr)
        abort();
    return folder.data();
}

static int RemoveEntry(const char* path, const struct stat*, int, struct FTW*)
{
    return remove(path);
}

void RemoveScratchFolder(const std::string& folder)
{
    nftw(folder.c_str(), RemoveEntry, 8, FTW_DEPTH | FTW_PHYS);
}

std::string JoinPath(const std::string& folder, const std::string& name)
{
    return folder + "/" + name;
}

bool MakeFolder(const std::string& path)
{
    return mkdir(path.c_str(), 0777) == 0;
}

long long FileModificationTime(const std::string& path)
{
    struct stat status;
    return stat(path.c_str(), &status) == 0 ? (long long)status.st_mtime : -1;
}
#endif
