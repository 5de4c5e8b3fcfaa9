// Shared by the steps test groups: file times (files, scratch folders, registry keys and the
// message-box recorder come from tests/support).
#ifndef TQ_TESTS_WIN_STEPS_SUPPORT_H
#define TQ_TESTS_WIN_STEPS_SUPPORT_H

#include "tests/support/win_test.h"

#include <windows.h>

#include <string>
#include <vector>

void SetAllTimes(const std::string& path, const FILETIME& time);
bool GetTimes(const std::string& path, FILETIME* creation, FILETIME* access, FILETIME* write);
bool SameTime(const FILETIME& a, const FILETIME& b);
FILETIME MakeFileTime(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second);

#endif
