// The engine on a full disk under Windows. The group runs under a file-size limit (see
// file-size-limit.sh): a write that crosses the limit comes back short, as on a disk that fills
// up. The entry being written is reported with text 1036 and deleted; earlier files stay.
#include "harness.h"

#include <stdlib.h>

class DiskFullTest : public EngineTest {};

TEST_F(DiskFullTest, ShortWriteIsReportedAndThePartialFileDeleted)
{
    char limitText[16];
    ASSERT_NE(0u, GetEnvironmentVariableA("TQ_FILE_SIZE_LIMIT_KIB", limitText, sizeof limitText))
        << "run this group through file-size-limit.sh";
    const size_t limit = (size_t)atoi(limitText) * 1024;
    ASSERT_NE(0u, limit % 28672) << "the limit must fall inside a block to give a short write";

    ZipArchive archive;
    archive.Entries.push_back(Entry("done.bin", RandomBytes(1000, 1)));
    archive.Entries.push_back(Entry("big.txt", TextBytes(limit + 40000, 2), 8));
    Bytes bytes = archive.Build();
    ASSERT_LT(bytes.size(), limit);
    WriteArchiveBytes(bytes);

    ExtractRequest request = NewRequest();
    EXPECT_EQ(1, ExtractArchive(&request));
    EXPECT_EQ(2, request.Result);
    EXPECT_EQ("Error writing to " + ShownPath("big.txt") + ".  Possible cause: disk full",
              OnlyBoxText());
    EXPECT_EQ((std::vector<std::string>{"done.bin"}), OutputNames());
    EXPECT_EQ(RandomBytes(1000, 1), OutputFile("done.bin"));
}
