// The command tail of the program entry: the program name, quoted or not, and every following
// character of code 1 to 32 are skipped; the rest is passed on as it stands.
#include "setup/setup.h"

#include <gtest/gtest.h>
#include <string.h>

struct TailCase {
    const char* line;
    size_t tailStart; // offset of the tail in line
};

TEST(CommandTail, SkipsTheProgramNameAndTheBlanksAfterIt)
{
    const TailCase cases[] = {
        { "setup.exe -argv0 C:\\dist\\setup.exe", 10 },
        { "\"C:\\Program Files\\setup.exe\"   -argv0 x", 31 },
        { "\"C:\\dist\\setup.exe\"-argv0", 19 },         // no blank needed after a quoted name
        { "\"C:\\no closing quote -argv0 x", 29 },       // an open quote runs to the end
        { "\"\" tail", 3 },
        { "setup.exe\t\x01\x1F \tx  y ", 14 },            // codes 1 to 32 are all skipped
        { "set\"up.exe tail", 11 },                       // a quote inside an unquoted name
        { "setup\xE9\x95\x5C.exe tail", 13 },             // bytes above 127 belong to the name
        { "setup.exe", 9 },
        { "setup.exe    ", 13 },
        { "", 0 },
        { " leading", 1 },                                // an empty name, then the blank
    };
    for (const TailCase& c : cases) {
        char line[128];
        memset(line, 0x55, sizeof line);
        lstrcpyA(line, c.line);
        char* tail = SkipProgramName(line);
        EXPECT_EQ(line + c.tailStart, tail) << c.line;
        EXPECT_STREQ(c.line, line) << "the line is not changed";
    }
}
