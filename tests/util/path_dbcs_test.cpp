// Path helpers under a double-byte ANSI code page. This group runs with LANG=ja_JP.UTF-8, which
// gives the Wine program code page 932 (Shift JIS). There the character U+8868 is the two bytes
// 0x95 0x5C: its trail byte has the code of "\", and a scan that looked at every byte would take
// it for a separator. Half-width katakana (0xA1 to 0xDF) are single bytes.
#include "mkdir_seam.h"
#include "tests/support/win_test.h"
#include "util/path.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>

#define TRAIL_5C "\x95\x5C" // one double-byte character whose trail byte is 0x5C

class DoubleByteCodePage : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(932u, GetACP()) << "run with LANG=ja_JP.UTF-8"; }
};

TEST_F(DoubleByteCodePage, TrailByteIsNoSeparator)
{
    const char* name = TRAIL_5C "abc";
    EXPECT_EQ(name + 5, FindNextSeparator(name));
    EXPECT_EQ(nullptr, FindLastSeparator(name));

    const char* path = "C:\\" TRAIL_5C "\\" TRAIL_5C;
    EXPECT_EQ(path + 2, FindNextSeparator(path));
    EXPECT_EQ(path + 5, FindNextSeparator(path + 3));
    EXPECT_EQ(path + 5, FindLastSeparator(path));
    EXPECT_EQ(path + 6, LastChar(path)); // the lead byte of the last character
}

TEST_F(DoubleByteCodePage, LeadAndTrailBytesNeverMatch)
{
    const char* text = "a" TRAIL_5C "\xB1" TRAIL_5C "z";
    EXPECT_EQ(text + 7, FindChar(text, 0x5C));   // only trail bytes have that code
    EXPECT_EQ(text + 7, FindChar(text, 0x95));   // a lead byte is never found
    EXPECT_EQ(nullptr, FindLastChar(text, 0x5C));
    EXPECT_EQ(nullptr, FindLastChar(text, 0x95));
    EXPECT_EQ(text + 3, FindChar(text, 0xB1));   // half-width katakana: a single byte
    EXPECT_EQ(text + 3, FindLastChar(text, 0xB1));
    EXPECT_EQ(text + 6, FindLastChar(text, 'z'));
}

TEST_F(DoubleByteCodePage, AppendBackslashAfterADoubleByteCharacter)
{
    char folder[16] = "C:\\" TRAIL_5C;
    AppendBackslash(folder);
    EXPECT_STREQ("C:\\" TRAIL_5C "\\", folder);
    AppendBackslash(folder);
    EXPECT_STREQ("C:\\" TRAIL_5C "\\", folder);
}

// Wine can only make file names that its Unix locale can spell, and the ja_JP locale is not
// installed here, so these folders cannot really be made; every attempt fails, and the order of
// the attempts shows where the path was cut.
TEST_F(DoubleByteCodePage, CutsFolderPathsAtRealSeparatorsOnly)
{
    MkdirCalls.clear();
    MkdirAlwaysFails = true;
    std::string top = "C:\\" TRAIL_5C;
    std::string target = top + "\\sub" TRAIL_5C "\\x";
    char path[MAX_PATH];
    lstrcpyA(path, target.c_str());
    EXPECT_EQ(-1, CreateFolderPath(path));
    MkdirAlwaysFails = false;
    EXPECT_STREQ(target.c_str(), path);
    EXPECT_EQ((std::vector<std::string>{ target, top + "\\sub" TRAIL_5C, top, "C:" }), MkdirCalls);
}
