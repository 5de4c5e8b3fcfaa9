// File access for tqpack on POSIX systems: whole-file reads and writes, folder listings, and
// file times in the units Windows uses, so that what this tool stamps is what setup compares.
#include "tqpack.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

// Seconds from 1601-01-01 (the FILETIME epoch) to 1970-01-01 (the Unix epoch).
constexpr int64_t EpochDifferenceSeconds = 11644473600LL;
constexpr int64_t TicksPerSecond = 10000000;
constexpr int64_t NanosecondsPerTick = 100;

const char* const TextFileNames[7] = {
    "README.TXT", "TESSEL.TXT", "LICENSE.TXT", "VENDOR.TXT",
    "WHATSNEW.TXT", "FILE_ID.DIZ", "ORDER.TXT",
};

static std::string ErrnoText(const std::string& what, const std::string& path)
{
    return what + " " + path + ": " + std::strerror(errno);
}

bool ReadWholeFile(const std::string& path, std::vector<unsigned char>& data, Problems& problems)
{
    data.clear();
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        problems.push_back(ErrnoText("cannot open", path));
        return false;
    }
    unsigned char block[65536];
    size_t count;
    while ((count = std::fread(block, 1, sizeof block, file)) > 0)
        data.insert(data.end(), block, block + count);
    bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed)
        problems.push_back(ErrnoText("cannot read", path));
    return !failed;
}

bool WriteWholeFile(const std::string& path, const std::vector<unsigned char>& data, Problems& problems)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        problems.push_back(ErrnoText("cannot create", path));
        return false;
    }
    bool written = data.empty() || std::fwrite(data.data(), 1, data.size(), file) == data.size();
    if (std::fclose(file) != 0)
        written = false;
    if (!written)
        problems.push_back(ErrnoText("cannot write", path));
    return written;
}

bool GetFileTime100ns(const std::string& path, int64_t& ticks)
{
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
        return false;
    // Wine: ticks = (seconds + epoch difference) * 10^7 + nanoseconds / 100.
    ticks = (static_cast<int64_t>(info.st_mtim.tv_sec) + EpochDifferenceSeconds) * TicksPerSecond
          + info.st_mtim.tv_nsec / NanosecondsPerTick;
    return true;
}

bool SetFileTime100ns(const std::string& path, int64_t ticks)
{
    int64_t unixTicks = ticks - EpochDifferenceSeconds * TicksPerSecond;
    int64_t seconds = unixTicks / TicksPerSecond;
    int64_t rest = unixTicks % TicksPerSecond;
    if (rest < 0) {
        rest += TicksPerSecond;
        seconds -= 1;
    }
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT; // the last-access time is left alone
    times[1].tv_sec = static_cast<time_t>(seconds);
    times[1].tv_nsec = static_cast<long>(rest * NanosecondsPerTick);
    return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

uint64_t FilesSize(const std::vector<PayloadFile>& files)
{
    uint64_t total = 0;
    for (const PayloadFile& file : files) {
        struct stat info;
        if (stat(file.SourcePath.c_str(), &info) == 0)
            total += static_cast<uint64_t>(info.st_size);
    }
    return total;
}

bool IsRegularFile(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool IsDirectory(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool MakeDirectory(const std::string& path)
{
    if (IsDirectory(path))
        return true;
    std::string::size_type slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !MakeDirectory(path.substr(0, slash)))
        return false;
    return mkdir(path.c_str(), 0777) == 0 || errno == EEXIST;
}

bool ListDirectory(const std::string& path, std::vector<std::string>& names)
{
    names.clear();
    DIR* folder = opendir(path.c_str());
    if (!folder)
        return false;
    while (struct dirent* item = readdir(folder)) {
        std::string name = item->d_name;
        if (name == "." || name == "..")
            continue;
        names.push_back(IsDirectory(JoinPath(path, name)) ? name + "/" : name);
    }
    closedir(folder);
    std::sort(names.begin(), names.end());
    return true;
}

std::string CanonicalFolder(const std::string& path)
{
    char resolved[PATH_MAX];
    if (!realpath(path.c_str(), resolved))
        return std::string();
    return resolved;
}

uint32_t DosDateTimeFromTicks(int64_t ticks)
{
    // MS-DOS format (APPNOTE 4.4.6): time = hour << 11 | minute << 5 | second / 2;
    // date = (year - 1980) << 9 | month << 5 | day. The fields hold the local clock.
    time_t seconds = static_cast<time_t>(ticks / TicksPerSecond - EpochDifferenceSeconds);
    struct tm local;
    if (!localtime_r(&seconds, &local) || local.tm_year < 80)
        return (1u << 5 | 1u) << 16; // 1980-01-01 00:00:00
    if (local.tm_year > 80 + 127) // the last time the format holds: 2107-12-31 23:59:58
        return (127u << 9 | 12u << 5 | 31u) << 16 | (23u << 11 | 59u << 5 | 29u);
    int second = local.tm_sec > 59 ? 59 : local.tm_sec; // a leap second
    uint32_t time = static_cast<uint32_t>(local.tm_hour << 11 | local.tm_min << 5 | second / 2);
    uint32_t date = static_cast<uint32_t>((local.tm_year - 80) << 9 | (local.tm_mon + 1) << 5 | local.tm_mday);
    return date << 16 | time;
}
