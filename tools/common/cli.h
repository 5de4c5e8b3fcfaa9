// The command-line pieces both tools share: the exit statuses every tool gives, the one form of
// a usage error, and the version line.
#ifndef TQ_TOOLS_COMMON_CLI_H
#define TQ_TOOLS_COMMON_CLI_H

#include <string>

// Exit statuses common to the tools; each tool adds its own between them.
enum ToolExit : int {
    ExitSuccess = 0,
    ExitUsage = 64,   // bad command line (EX_USAGE of sysexits.h)
};

// Writes "WHO: PROBLEM" and a pointer to "WHO --help" on standard error; returns ExitUsage.
// who is the tool's name, or the tool and its command ("tqpack build").
int UsageError(const std::string& who, const std::string& problem);

// Writes "TOOL (Tessel tools) VERSION" on standard output; returns ExitSuccess.
int PrintVersion(const char* tool);

#endif
