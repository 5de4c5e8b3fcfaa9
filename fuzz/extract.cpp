// Fuzzes whole archives: the input is written to a file in a scratch folder and run twice, as a
// test run that reports CRC errors and as an extraction into the scratch folder that ignores
// them (so later entries are reached). Stored paths are not kept, so nothing lands outside it.
#include "fuzz/run_checked.h"
#include "base/posix/sink.h"
#include "unzip/unzip.h"

#include <dirent.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

static int SilentBox(HWND, const char*, const char*, UINT) { return IDOK; }
static LRESULT SilentOwner(HWND, UINT, WPARAM, LPARAM) { return 0; }

static void Run(const char* archive, const char* destination, unsigned short reportCrcErrors)
{
    ExtractRequest request;
    memset(&request, 0, sizeof request);
    request.ReportCrcErrors = reportCrcErrors;
    request.ArchivePath = archive;
    request.DestFolder = destination;
    RunChecked(&request);
}

static std::string folder, archive, output;

static void ClearOutput(void)   // the extracted files of the last input
{
    DIR* list = opendir(output.c_str());
    while (dirent* entry = readdir(list))
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
            unlink((output + "/" + entry->d_name).c_str());
    closedir(list);
}

static void RemoveScratch(void)
{
    ClearOutput();
    rmdir(output.c_str());
    unlink(archive.c_str());
    rmdir(folder.c_str());
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (folder.empty()) {
        char pattern[] = "/tmp/tq-fuzz-extract-XXXXXX";
        if (mkdtemp(pattern) == nullptr)
            abort();
        folder = pattern;
        archive = folder + "/input.zip";
        output = folder + "/out";
        if (mkdir(output.c_str(), 0700) != 0)
            abort();
        SetMessageBoxSink(SilentBox);
        SetMessageSink(SilentOwner);
        atexit(RemoveScratch);
    }
    FILE* file = fopen(archive.c_str(), "wb");
    if (file == nullptr || fwrite(data, 1, size, file) != size)
        abort();
    fclose(file);

    Run(archive.c_str(), nullptr, 1);
    Run(archive.c_str(), output.c_str(), 0);
    ClearOutput();
    return 0;
}
