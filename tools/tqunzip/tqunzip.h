// tqunzip: the setup program's extraction engine as a command-line tool. The listing reads the
// archive's central directory itself; extracting and testing go through ExtractArchive.
#ifndef TQ_TOOLS_TQUNZIP_H
#define TQ_TOOLS_TQUNZIP_H

// Exit statuses besides the engine's results (0, 2 and 99).
constexpr int ExitRefused = 1;     // ExtractArchive refused the request
constexpr int ExitFailed = 2;      // the run, or the listing, failed
constexpr int ExitUsage = 64;      // bad command line (EX_USAGE of sysexits.h)

// Prints the entries of the archive at path whose names match one of names (all entries when
// count is 0). Returns 0, or ExitFailed after printing the reason to standard error.
int ListArchive(const char* path, char** names, int count, int quiet);

// Case-insensitive comparison of a stored name with a requested one, "\" counting as "/",
// the way the engine selects entries.
int NamesMatch(const char* stored, const char* requested);

#endif
