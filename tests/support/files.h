// The tests' file helpers, the same for native and Windows test programs: C stdio, so that a
// Windows path is read in the ANSI code page, as the program's own calls read it.
#ifndef TQ_TESTS_SUPPORT_FILES_H
#define TQ_TESTS_SUPPORT_FILES_H

#include "archive_writer.h"

#include <string>
#include <vector>

// Whole files, created or replaced; a read fails when the file cannot be opened.
bool WriteWholeFile(const std::string& path, const std::string& bytes);
bool WriteWholeFile(const std::string& path, const Bytes& bytes);
bool ReadWholeFile(const std::string& path, std::string* bytes);
bool ReadWholeFile(const std::string& path, Bytes* bytes);
std::string ReadWholeFile(const std::string& path);   // "" when it cannot be read
Bytes ReadWholeBytes(const std::string& path);        // empty when it cannot be read

bool FileExists(const std::string& path);             // a file or a folder
bool FolderExists(const std::string& path);
std::vector<std::string> ListFolder(const std::string& folder);   // names but "." and "..", sorted

#ifdef _WIN32
// The self-extractor's unpack folders ("tqsfx-*") in the temporary folder: none may outlive it.
std::vector<std::string> FindUnpackFolders();
#endif

#endif
