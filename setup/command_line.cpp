// The command tail that the C runtime start-up hands to the program: the process command line
// without the program's own name and the blanks after it.
#include "setup/setup.h"

// The runtime start-up rule: skip the program name (a quoted one up to and including the next
// double quote, or to the end; otherwise up to the first character of code 32 or below), then
// every following character of code 1 to 32.
char* SkipProgramName(char* line)
{
    unsigned char* p = (unsigned char*)line;
    if (*p == '"') {
        ++p;
        while (*p != '\0' && *p != '"')
            ++p;
        if (*p == '"')
            ++p;
    } else {
        while (*p > ' ')
            ++p;
    }
    while (*p != '\0' && *p <= ' ')
        ++p;
    return (char*)p;
}
