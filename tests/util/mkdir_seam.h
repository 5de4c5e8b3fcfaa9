// Folder-creation attempts seen at the C runtime. A test executable that links mkdir_seam.cpp is
// linked with -Wl,--wrap=__imp__mkdir, so every _mkdir of the product code goes through the
// recorder: it notes the path and calls the real _mkdir, or, while MkdirAlwaysFails is set,
// fails as the runtime does for a folder that cannot be made (-1) without touching the disk.
#ifndef TQ_TESTS_WIN_MKDIR_SEAM_H
#define TQ_TESTS_WIN_MKDIR_SEAM_H

#include <string>
#include <vector>

extern std::vector<std::string> MkdirCalls;
extern bool MkdirAlwaysFails;

#endif
