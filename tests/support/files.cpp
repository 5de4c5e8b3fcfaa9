// The tests' file helpers; see files.h.
#include "files.h"

#include <stdio.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <sys/stat.h>
#endif

#include <algorithm>

template <typename Buffer> static bool WriteBuffer(const std::string& path, const Buffer& bytes)
{
    FILE* file = fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    // An empty vector's data() may be null, which fwrite must not be given even for no bytes.
    bool written = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return fclose(file) == 0 && written;
}

template <typename Buffer> static bool ReadBuffer(const std::string& path, Buffer* bytes)
{
    bytes->clear();
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr)
        return false;
    char piece[65536];
    size_t got;
    while ((got = fread(piece, 1, sizeof piece, file)) > 0)
        bytes->insert(bytes->end(), piece, piece + got);
    bool whole = ferror(file) == 0;
    fclose(file);
    return whole;
}

bool WriteWholeFile(const std::string& path, const std::string& bytes) { return WriteBuffer(path, bytes); }
bool WriteWholeFile(const std::string& path, const Bytes& bytes) { return WriteBuffer(path, bytes); }
bool ReadWholeFile(const std::string& path, std::string* bytes) { return ReadBuffer(path, bytes); }
bool ReadWholeFile(const std::string& path, Bytes* bytes) { return ReadBuffer(path, bytes); }

std::string ReadWholeFile(const std::string& path)
{
    std::string bytes;
    ReadBuffer(path, &bytes);
    return bytes;
}

Bytes ReadWholeBytes(const std::string& path)
{
    Bytes bytes;
    ReadBuffer(path, &bytes);
    return bytes;
}

// Under Windows through the attributes, which take a folder with its final "\" as well.
#ifdef _WIN32
bool FileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool FolderExists(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

static std::vector<std::string> ListFolderUnsorted(const std::string& folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do
        names.push_back(found.cFileName);
    while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}
#else
bool FileExists(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

bool FolderExists(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

static std::vector<std::string> ListFolderUnsorted(const std::string& folder)
{
    std::vector<std::string> names;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr)
        return names;
    while (struct dirent* entry = readdir(dir))
        names.push_back(entry->d_name);
    closedir(dir);
    return names;
}
#endif

std::vector<std::string> ListFolder(const std::string& folder)
{
    std::vector<std::string> names = ListFolderUnsorted(folder);
    names.erase(std::remove_if(names.begin(), names.end(),
                               [](const std::string& name) { return name == "." || name == ".."; }),
                names.end());
    std::sort(names.begin(), names.end());
    return names;
}

#ifdef _WIN32
std::vector<std::string> FindUnpackFolders()
{
    char temporary[MAX_PATH];
    DWORD length = GetTempPathA(sizeof temporary, temporary);
    std::vector<std::string> folders;
    if (length == 0 || length >= sizeof temporary)
        return folders;
    WIN32_FIND_DATAA record;
    HANDLE search = FindFirstFileA((std::string(temporary) + "tqsfx-*").c_str(), &record);
    if (search == INVALID_HANDLE_VALUE)
        return folders;
    do
        folders.push_back(std::string(temporary) + record.cFileName);
    while (FindNextFileA(search, &record));
    FindClose(search);
    return folders;
}
#endif
