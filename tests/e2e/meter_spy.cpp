// The Meter spy: a WH_CALLWNDPROC hook procedure that the system loads into every process of the
// desktop. Each MTR_SETRANGE and MTR_SETPOS sent to a window of class "Meter" is appended as one
// line ("range N" or "pos N") to the spy's log, whose path is fixed so that the library needs
// nothing from the process it is loaded into.
#include "meter_spy.h"

#include <stdio.h>
#include <string.h>

static void AppendLine(const char* line)
{
    HANDLE log = CreateFileA(MeterSpyLogPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(log, line, (DWORD)strlen(line), &written, nullptr);
    CloseHandle(log);
}

extern "C" __declspec(dllexport) LRESULT CALLBACK MeterSpyProc(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HC_ACTION) {
        const CWPSTRUCT* call = (const CWPSTRUCT*)lParam;
        if (call->message == MeterSetRange || call->message == MeterSetPos) {
            char className[16] = "";
            GetClassNameA(call->hwnd, className, sizeof className);
            if (_stricmp(className, "Meter") == 0) {
                char line[48];
                snprintf(line, sizeof line, "%s %lu\n", call->message == MeterSetRange ? "range" : "pos",
                         (unsigned long)call->wParam);
                AppendLine(line);
            }
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
