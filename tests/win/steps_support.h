// Shared by the steps test groups: files with given bytes and times (scratch folders, registry
// keys and the message-box recorder come from tests/support/win_test.h).
#ifndef TQ_TESTS_WIN_STEPS_SUPPORT_H
#define TQ_TESTS_WIN_STEPS_SUPPORT_H

#include <windows.h>

#include <string>
#include <vector>

void WriteBytes(const std::string& path, const std::vector<unsigned char>& bytes);
std::vector<unsigned char> ReadBytes(const std::string& path);
std::vector<unsigned char> PatternBytes(size_t count, unsigned seed);
void SetAllTimes(const std::string& path, const FILETIME& time);
bool GetTimes(const std::string& path, FILETIME* creation, FILETIME* access, FILETIME* write);
bool FileExists(const std::string& path);
bool SameTime(const FILETIME& a, const FILETIME& b);
FILETIME MakeFileTime(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second);

#endif
