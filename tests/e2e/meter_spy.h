// The Meter spy library's interface: its hook procedure and its log.
#ifndef TQ_TESTS_E2E_METER_SPY_H
#define TQ_TESTS_E2E_METER_SPY_H

#include <windows.h>

constexpr char MeterSpyLogPath[] = "C:\\meter-spy.log";
constexpr char MeterSpyProcName[] = "MeterSpyProc";
constexpr UINT MeterSetRange = WM_USER;     // MTR_SETRANGE
constexpr UINT MeterSetPos = WM_USER + 2;   // MTR_SETPOS

#endif
