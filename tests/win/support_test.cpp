// The test support itself: the recorder answers boxes without a queued answer and flags an
// answer the box does not offer; scratch folders and registry keys leave nothing behind.
#include "tests/support/win_test.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

TEST(MessageBoxRecorder, FallsBackToTheBoxsOwnWayOut)
{
    MessageBoxRecorder boxes;
    EXPECT_EQ(IDOK, MessageBoxA(nullptr, "one", "caption", MB_OKCANCEL));
    EXPECT_EQ(IDCANCEL, MessageBoxA(nullptr, "two", "caption", MB_RETRYCANCEL));
    EXPECT_EQ(IDNO, MessageBoxA(nullptr, "three", "caption", MB_YESNO));
    ASSERT_EQ(3u, boxes.Boxes().size());
    EXPECT_EQ("caption", boxes.Boxes()[2].caption);
    EXPECT_EQ("three", boxes.Boxes()[2].shownText);
    EXPECT_EQ(IDNO, boxes.Boxes()[2].result);
}

TEST(MessageBoxRecorder, AnAnswerTheBoxLacksFailsTheTest)
{
    MessageBoxRecorder boxes;
    boxes.Answer(IDYES);
    int result = 0;
    EXPECT_NONFATAL_FAILURE(result = MessageBoxA(nullptr, "only OK", "caption", MB_OK), "has no button 6");
    EXPECT_EQ(IDOK, result);
    EXPECT_EQ(0u, boxes.UnusedAnswers());
}

TEST(ScratchFolder, RemovesItsWholeTree)
{
    std::string path;
    {
        ScratchFolder scratch;
        path = scratch.Path();
        ASSERT_EQ('\\', path.back());
        ASSERT_TRUE(CreateDirectoryA(scratch.File("sub").c_str(), nullptr));
        ASSERT_TRUE(WriteWholeFile(scratch.File("sub\\file.txt"), "abc"));
        EXPECT_EQ("abc", ReadWholeFile(scratch.File("sub\\file.txt")));
        ASSERT_TRUE(SetFileAttributesA(scratch.File("sub\\file.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    }
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(path.c_str()));
}

TEST(ScratchRegistryKey, DeletesItsKeyWithSubkeys)
{
    std::string path;
    {
        ScratchRegistryKey key;
        path = key.Path();
        HKEY child;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(key.Key(), "a\\b", &child));
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(child, "v", 0, REG_SZ, (const BYTE*)"1", 2));
        RegCloseKey(child);
    }
    HKEY gone;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &gone));
}
