// The tqpack tests' fixture and process helpers.
#include "fixture.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

std::string Quote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

CommandResult RunCommand(const std::string& commandLine)
{
    CommandResult result{-1, std::string()};
    FILE* pipe = popen((commandLine + " 2>&1").c_str(), "r");
    if (!pipe)
        return result;
    char buffer[4096];
    size_t count;
    while ((count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        result.Output.append(buffer, count);
    int status = pclose(pipe);
    if (status != -1 && WIFEXITED(status))
        result.Status = WEXITSTATUS(status);
    return result;
}

CommandResult RunTqpack(const std::string& arguments)
{
    return RunCommand(Quote(TQPACK_PROGRAM) + " " + arguments);
}

void WriteText(const std::string& path, const std::string& text)
{
    ASSERT_TRUE(WriteWholeFile(path, text)) << path;
}

void SetMtime(const std::string& path, long long seconds, long nanoseconds)
{
    struct timespec times[2] = {{static_cast<time_t>(seconds), nanoseconds},
                                {static_cast<time_t>(seconds), nanoseconds}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

long long MtimeNanoseconds(const std::string& path)
{
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
        return -1;
    return static_cast<long long>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec;
}

void TqpackTest::SetUp()
{
    char pattern[] = "/tmp/tqpack-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    Root = pattern;
    Setup = Root + "/in/setup.exe";
    Payload = Root + "/payload";
    Texts = Root + "/texts";
    Dist = Root + "/dist";
    for (const std::string& folder : {Root + "/in", Payload, Texts})
        ASSERT_EQ(mkdir(folder.c_str(), 0777), 0);

    std::mt19937 random(20260314);
    std::string noise(70000, '\0');
    for (char& c : noise)
        c = static_cast<char>(random());
    WriteText(Setup, "MZ setup program stand-in" + noise.substr(0, 3000));
    SetMtime(Setup, SetupSeconds, SetupNanoseconds);
    for (const char* name : TextFileNames)
        WriteText(Texts + "/" + name, std::string("Text of ") + name + "\r\n");

    std::string prose;
    for (int i = 0; i < 4000; i++)
        prose += "Line " + std::to_string(i % 37) + " of the help text, repeated often.\r\n";
    WriteText(Payload + "/tessel.hlp", prose);        // deflates well
    WriteText(Payload + "/TQSOUNDS.DAT", noise);      // stays stored
    WriteText(Payload + "/TQFAVS.LST", "");           // empty
    WriteText(Payload + "/TESSEL32.EXE", "MZ main program stand-in " + prose.substr(0, 5000));
    SetMtime(Payload + "/tessel.hlp", 1780315200, 0);
    SetMtime(Payload + "/TQSOUNDS.DAT", 1780315201, 999999999);
}

void TqpackTest::TearDown()
{
    if (!Root.empty())
        RunCommand("rm -rf " + Quote(Root));
}

CommandResult TqpackTest::Build(const std::string& extra, const std::string& out)
{
    return RunTqpack("build --setup " + Quote(Setup) + " --payload " + Quote(Payload) + " --texts "
                     + Quote(Texts) + " --out " + Quote(out.empty() ? Dist : out) + " " + extra);
}
