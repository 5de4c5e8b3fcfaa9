// Screenshots of windows for the record: the window's pixels as on screen, written as a 24-bit
// .bmp into the folder named by TQ_SCREENSHOT_DIR (the build tree's screenshots folder).
#ifndef TQ_TESTS_WIN_SCREENSHOT_H
#define TQ_TESTS_WIN_SCREENSHOT_H

#include <windows.h>

#include <string>

// Returns the path written, or an empty string when nothing could be written.
std::string SaveWindowScreenshot(HWND window, const char* name);

#endif
