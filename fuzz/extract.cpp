// Fuzzes whole archives: the input is written to a file in a scratch folder and run twice, as a
// test run that reports CRC errors and as an extraction into the scratch folder that ignores
// them (so later entries are reached). Stored paths are not kept, so nothing lands outside it.
// Then once more with placed entries, as a tool places them: one at each local header
// signature of the input, in file order, with the header's own size and CRC-32, under names of
// their own, and the first few once more behind them (back to where the run has been); the
// placed run reads the archive ahead in blocks, and the input's sizes make it step over, into,
// back and beyond what it holds.
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
#include <vector>

constexpr uint32_t LocalHeaderSignature = 0x04034b50;   // APPNOTE 4.3.7
constexpr size_t CompressedSizeField = 18;               // from the signature
constexpr size_t CrcField = 14;
constexpr size_t MostPlaced = 64;
constexpr size_t PlacedAgain = 4;

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

    auto little32 = [&](size_t at) {
        return (uint32_t)data[at] | (uint32_t)data[at + 1] << 8 | (uint32_t)data[at + 2] << 16
            | (uint32_t)data[at + 3] << 24;
    };
    std::vector<PlacedEntry> placed;
    std::vector<std::string> names;
    names.reserve(MostPlaced);
    for (size_t at = 0; at + CompressedSizeField + 4 <= size && placed.size() < MostPlaced; ++at)
        if (little32(at) == LocalHeaderSignature) {
            names.push_back("e" + std::to_string(placed.size()));
            PlacedEntry entry;
            memset(&entry, 0, sizeof entry);
            entry.HeaderOffset = (uint32_t)at;
            entry.CompressedSize = little32(at + CompressedSizeField);
            entry.Crc = little32(at + CrcField);
            entry.OutputName = names.back().c_str();
            entry.LastWrite.dwLowDateTime = (DWORD)at;   // now and then none: the header's time
            placed.push_back(entry);
        }
    for (size_t again = 0, found = placed.size(); again < PlacedAgain && again < found; ++again)
        placed.push_back(placed[again]);
    if (!placed.empty()) {
        for (const char* destination : {(const char*)nullptr, output.c_str()}) {
            ExtractRequest request;
            memset(&request, 0, sizeof request);
            request.ReportCrcErrors = destination == nullptr ? 1 : 0;
            request.ArchivePath = archive.c_str();
            request.DestFolder = destination;
            request.Placed = placed.data();
            request.PlacedCount = (unsigned)placed.size();
            RunChecked(&request);
        }
        ClearOutput();
    }
    return 0;
}
