// Round trip through setup's own extraction engine: what tqpack packs, the engine extracts
// with its built-in password into the same bytes, the main program as tessel32.ex_, each file
// with the time it had in the payload folder (to the even second).
#include "fixture.h"

#include "unzip/unzip.h"

TEST_F(TqpackTest, EngineExtractsWhatTqpackPacked)
{
    ASSERT_EQ(Build().Status, 0);
    std::string out = Root + "/installed";
    ASSERT_TRUE(MakeDirectory(out));
    std::string destination = out + "/";
    ExtractRequest request{};
    std::string archive = Dist + "/setup.tq";
    request.ArchivePath = archive.c_str();
    request.DestFolder = destination.c_str();
    request.ReportCrcErrors = 1;
    ASSERT_EQ(ExtractArchive(&request), 1);
    ASSERT_EQ(request.Result, 0);

    EXPECT_EQ(ReadWholeBytes(out + "/tessel32.ex_"), ReadWholeBytes(Payload + "/TESSEL32.EXE"));
    for (const char* name : {"tessel.hlp", "TQSOUNDS.DAT", "TQFAVS.LST"})
        EXPECT_EQ(ReadWholeBytes(out + "/" + name), ReadWholeBytes(Payload + "/" + name)) << name;
    // MS-DOS times hold even seconds of the local clock: 12:00:00 stays, 12:00:01.999 becomes
    // 12:00:00.
    EXPECT_EQ(MtimeNanoseconds(out + "/tessel.hlp"), 1780315200LL * 1000000000LL);
    EXPECT_EQ(MtimeNanoseconds(out + "/TQSOUNDS.DAT"), 1780315200LL * 1000000000LL);
}
