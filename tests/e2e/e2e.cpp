// Configuration, distribution variants, the stand-in window and the Meter spy of the
// whole-installation tests.
#include "e2e.h"

#include "archive_writer.h"
#include "driver.h"
#include "meter_spy.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

const char BigPayloadName[] = "BIGDATA.BIN";

static std::string Environment(const char* name)
{
    const char* value = getenv(name);
    return value != nullptr ? value : "";
}

// Paths reach the tests as host paths in the environment; Wine shows the host's root as Z:.
static std::string HostPath(const std::string& path)
{
    return !path.empty() && path[0] == '/' ? UnixToWindowsPath(path.c_str()) : path;
}

bool LoadE2eConfig(E2eConfig* config)
{
    config->Dist = HostPath(Environment("TQ_SETUP_DIST"));
    config->Bundle = HostPath(Environment("TQ_SETUP_BUNDLE"));
    config->BundleSigned = Environment("TQ_BUNDLE_SIGNED") == "1";
    config->Screenshots = HostPath(Environment("TQ_SCREENSHOTS"));
    if (config->Screenshots.empty())
        config->Screenshots = "e2e-screenshots";
    config->LaunchLog = Environment("TQ_LAUNCH_LOG");
    if (config->LaunchLog.empty())
        config->LaunchLog = "C:\\install-record.txt";
    SetEnvironmentVariableA("TQ_INSTALL_RECORD", config->LaunchLog.c_str()); // inherited by setup
    char program[MAX_PATH];
    GetModuleFileNameA(nullptr, program, sizeof program);
    char* separator = strrchr(program, '\\');
    if (separator != nullptr)
        separator[1] = '\0';
    config->SpyLibrary = std::string(program) + "tqmeterspy.dll";
    return !config->Dist.empty() && FolderExists(config->Dist);
}

// The lines of a log the stand-ins write, without their line ends (CR LF or LF).
static std::vector<std::string> TextLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(at, end - at));
        if (!lines.back().empty() && lines.back().back() == '\r')
            lines.back().pop_back();
        at = end + 1;
    }
    return lines;
}

// The stand-in writes its record afresh at each start: "CommandLine=", "CurrentFolder=" and
// "ProgramFile=" lines. Setup starts it a second time only when the first start failed, and
// then the first start has written nothing, so one record is one start.
std::vector<LaunchRecord> ReadLaunchRecords(const E2eConfig& config)
{
    std::vector<LaunchRecord> records;
    std::string text;
    if (!ReadWholeFile(config.LaunchLog, &text) || text.empty())
        return records;
    LaunchRecord record;
    for (const std::string& line : TextLines(text)) {
        if (line.compare(0, 12, "CommandLine=") == 0)
            record.CommandLine = line.substr(12);
        else if (line.compare(0, 14, "CurrentFolder=") == 0)
            record.CurrentFolder = line.substr(14);
    }
    records.push_back(record);
    return records;
}

static unsigned int Read16(const std::string& bytes, size_t at)
{
    return (unsigned char)bytes[at] | (unsigned)(unsigned char)bytes[at + 1] << 8;
}

static unsigned int Read32(const std::string& bytes, size_t at)
{
    return Read16(bytes, at) | Read16(bytes, at + 2) << 16;
}

static void Put16(std::string* bytes, unsigned int value)
{
    bytes->push_back((char)(value & 0xFF));
    bytes->push_back((char)(value >> 8 & 0xFF));
}

static void Put32(std::string* bytes, unsigned int value)
{
    Put16(bytes, value & 0xFFFF);
    Put16(bytes, value >> 16);
}

static void Patch32(std::string* bytes, size_t at, unsigned int value)
{
    for (int i = 0; i < 4; ++i)
        (*bytes)[at + i] = (char)(value >> (8 * i) & 0xFF);
}

// A run of zero bytes as one fixed-code block (RFC 1951 3.2.6): the literal 0, then matches of
// length 258 at distance 1, then the end of the block. Each match costs 13 bits.
static std::string DeflateZeros(unsigned int matches, unsigned int* size)
{
    BitWriter bits;
    bits.PutBits(1, 1);    // BFINAL
    bits.PutBits(1, 2);    // BTYPE 01, fixed codes
    PutFixedLiteral(bits, 0);
    for (unsigned int i = 0; i < matches; ++i)
        PutFixedMatch(bits, 258, 1);
    PutFixedLiteral(bits, 256);
    *size = 1 + 258 * matches;
    return ToText(bits.Finish());
}

static bool FindEndRecord(const std::string& bytes, size_t* end)
{
    if (bytes.size() < 22)
        return false;
    for (size_t at = bytes.size() - 22;; --at) {
        if (Read32(bytes, at) == 0x06054b50) {
            *end = at;
            return true;
        }
        if (at == 0)
            return false;
    }
}

// Puts a local entry (header, name, data) in front of the central directory, so that it is the
// last entry the engine meets, and moves the directory's offset in the end record. The central
// directory does not list the new entry; the engine never reads the directory.
static bool InsertLastEntry(const std::string& archivePath, const std::string& name, unsigned short method,
                            unsigned int crc, unsigned int size, const std::string& data)
{
    std::string bytes;
    size_t end = 0;
    if (!ReadWholeFile(archivePath, &bytes) || !FindEndRecord(bytes, &end))
        return false;
    unsigned int directory = Read32(bytes, end + 16);
    std::string entry;
    Put32(&entry, 0x04034b50);
    Put16(&entry, 20);     // version needed
    Put16(&entry, 0);      // flags: not encrypted, no data descriptor
    Put16(&entry, method);
    Put16(&entry, 0x6000); // 12:00:00
    Put16(&entry, 0x5A21); // 2025-01-01
    Put32(&entry, crc);
    Put32(&entry, (unsigned int)data.size());
    Put32(&entry, size);
    Put16(&entry, (unsigned int)name.size());
    Put16(&entry, 0);
    entry += name;
    entry += data;
    bytes.insert(directory, entry);
    Patch32(&bytes, end + entry.size() + 16, directory + (unsigned int)entry.size());
    return WriteWholeFile(archivePath, bytes);
}

// An unencrypted deflated entry of about 1 GiB of zeros. Its 6.5 MB of compressed data take the
// engine long enough for a person (or this test) to press Cancel while it is being written.
bool AddBigEntry(const std::string& archivePath)
{
    unsigned int size = 0;
    std::string data = DeflateZeros(4161600, &size);
    return InsertLastEntry(archivePath, BigPayloadName, 8, 0 /* never reached: cancelled */, size, data);
}

bool AddStoredEntry(const std::string& archivePath, const std::string& name, const std::string& data)
{
    return InsertLastEntry(archivePath, name, 0, Crc32(data), (unsigned int)data.size(), data);
}

// Changes the low byte of the first entry's CRC in its local header. The high byte is the
// password check byte of an encrypted entry (APPNOTE 6.1.6) and stays as it is.
bool DamageFirstEntryCrc(const std::string& archivePath, std::string* entryName)
{
    std::string bytes;
    if (!ReadWholeFile(archivePath, &bytes) || bytes.size() < 30 || Read32(bytes, 0) != 0x04034b50)
        return false;
    bytes[14] = (char)(bytes[14] ^ 0x5A);
    std::string name = bytes.substr(30, Read16(bytes, 26));
    size_t cut = name.find_last_of("/\\");
    *entryName = cut == std::string::npos ? name : name.substr(cut + 1);
    return WriteWholeFile(archivePath, bytes);
}

// Renames an entry in its local and central headers (names of equal length). Names are not
// part of the encrypted data, so the entry stays intact.
bool RenamePayloadEntry(const std::string& archivePath, const char* from, const char* to)
{
    std::string bytes;
    if (!ReadWholeFile(archivePath, &bytes) || strlen(from) != strlen(to))
        return false;
    std::vector<ZipEntryInfo> entries;
    if (!ReadZipDirectory(bytes, &entries))
        return false;
    size_t end = 0;
    FindEndRecord(bytes, &end);
    size_t central = Read32(bytes, end + 16);
    bool renamed = false;
    for (const ZipEntryInfo& entry : entries) {
        size_t nameLength = Read16(bytes, central + 28);
        size_t next = central + 46 + nameLength + Read16(bytes, central + 30) + Read16(bytes, central + 32);
        if (_stricmp(entry.Name.c_str(), from) == 0) {
            bytes.replace(central + 46, nameLength, to);
            bytes.replace(entry.LocalHeaderOffset + 30, nameLength, to);
            renamed = true;
        }
        central = next;
    }
    return renamed && WriteWholeFile(archivePath, bytes);
}

HWND CreateMainProgramWindow(void)
{
    static ATOM registered;
    if (registered == 0) {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = DefWindowProcA;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "Tessel2WClass";
        registered = RegisterClassA(&windowClass);
    }
    return CreateWindowA("Tessel2WClass", "Tessel", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                         GetModuleHandleA(nullptr), nullptr);
}

bool MeterSpy::Start(const E2eConfig& config)
{
    DeleteFileA(MeterSpyLogPath);
    Library = LoadLibraryA(config.SpyLibrary.c_str());
    if (Library == nullptr)
        return false;
    auto proc = (HOOKPROC)(void*)GetProcAddress(Library, MeterSpyProcName);
    if (proc == nullptr)
        return false;
    Hook = SetWindowsHookExA(WH_CALLWNDPROC, proc, Library, 0);
    return Hook != nullptr;
}

MeterTrace MeterSpy::Stop()
{
    if (Hook != nullptr)
        UnhookWindowsHookEx(Hook);
    Hook = nullptr;
    MeterTrace trace;
    std::string text;
    if (!ReadWholeFile(MeterSpyLogPath, &text))
        return trace;
    unsigned int lastPosition = 1;
    for (const std::string& line : TextLines(text)) {
        unsigned int value = (unsigned int)strtoul(line.c_str() + line.find(' ') + 1, nullptr, 10);
        if (line.compare(0, 6, "range ") == 0) {
            trace.Range = value;
            trace.ZeroBeforeRange = lastPosition == 0;
            trace.Positions.clear();
        } else if (line.compare(0, 4, "pos ") == 0) {
            trace.Positions.push_back(value);
            lastPosition = value;
        }
    }
    return trace;
}

MeterSpy::~MeterSpy()
{
    if (Hook != nullptr)
        UnhookWindowsHookEx(Hook);
}

void PrintInstallReport(const E2eConfig& config, const std::string& installFolder, const MeterTrace* meter)
{
    printf("\nInstall folder: %s\n", installFolder.c_str());
    for (const std::string& name : ListFolder(installFolder)) {
        FILETIME written{};
        DWORDLONG size = 0;
        GetFileTimes(installFolder + name, &written, &size);
        printf("  %-16s %10llu bytes  %s\n", name.c_str(), (unsigned long long)size, FormatFileTime(written).c_str());
    }
    int present = 0;
    for (const char* key : ShellExtensionKeys)
        present += KeyExists(HKEY_CLASSES_ROOT, key) ? 1 : 0;
    printf("Shell-extension keys under HKEY_CLASSES_ROOT: %d of 16 present\n", present);
    std::string shlExt;
    if (ReadStringValue(HKEY_CURRENT_USER, "Software\\Ostrel Computing\\Tessel\\fm", "shlExt", &shlExt))
        printf("HKEY_CURRENT_USER\\Software\\Ostrel Computing\\Tessel\\fm shlExt = \"%s\"\n", shlExt.c_str());
    else
        printf("HKEY_CURRENT_USER\\Software\\Ostrel Computing\\Tessel\\fm shlExt: not set (the shell extension was not turned off)\n");
    std::vector<LaunchRecord> launches = ReadLaunchRecords(config);
    printf("Main program started %u time(s)\n", (unsigned)launches.size());
    for (const LaunchRecord& launch : launches)
        printf("  command line: %s\n  current folder: %s\n", launch.CommandLine.c_str(), launch.CurrentFolder.c_str());
    if (meter != nullptr && !meter->Positions.empty())
        printf("Meter: range %u, %u positions set, last %u\n", meter->Range, (unsigned)meter->Positions.size(),
               meter->Positions.back());
    fflush(stdout);
}
