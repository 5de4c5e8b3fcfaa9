// The command-line pieces both tools share.
#include "tools/common/cli.h"

#include <stdio.h>

int UsageError(const std::string& who, const std::string& problem)
{
    fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", who.c_str(), problem.c_str(), who.c_str());
    return ExitUsage;
}

int PrintVersion(const char* tool)
{
    printf("%s (Tessel tools) %s\n", tool, TQ_TOOLS_VERSION);
    return ExitSuccess;
}
