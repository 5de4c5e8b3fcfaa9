// The decoder against every compressor at hand, at volume: generated data in the shapes that
// reach the decoder's edge states (data_shapes.h), compressed by zlib with settings drawn from
// its whole parameter space, by libdeflate at every level and by our own writers, in archives of
// our ZIP writer, some entries encrypted; and, where they are installed, whole archives written
// by Info-ZIP zip, 7z and bsdtar. Each archive goes through ExtractArchive (walk, decryption,
// output, CRC check), and every file that comes out must hold its data byte for byte.
//
// TQ_DIFF_VOLUME_MB sets the output of a run (30 MB natively, 4 under Wine), TQ_DIFF_ENTRY_MB
// the largest entry (2 MB); TQ_TEST_SEED repeats a run. scripts/fuzz.sh long sweeps hundreds of
// MB with entries up to 8 MB.
#include "harness.h"
#include "data_shapes.h"

#include <stdio.h>
#include <stdlib.h>

#ifdef TQ_TESTS_HAVE_PEERS
#include "peer_deflate.h"
#endif
#ifndef _WIN32
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

constexpr size_t MB = 1 << 20;
constexpr size_t WindowSize = 32768;
#ifdef _WIN32
constexpr size_t DefaultVolumeMB = 4;      // under Wine
#else
constexpr size_t DefaultVolumeMB = 30;
#endif
constexpr size_t DefaultEntryMB = 2;
constexpr size_t ArchiveBytes = 8 * MB;    // an archive is closed once its data reach this
constexpr size_t ArchiveEntries = 12;

size_t MegabytesFromEnvironment(const char* name, size_t fallback)
{
    const char* text = getenv(name);
    size_t value = text != nullptr ? (size_t)strtoul(text, nullptr, 10) : 0;
    return value > 0 ? value : fallback;
}

// One entry's data and how it was made, for the failure message.
struct Planned {
    std::string Name;
    Bytes Data;
    std::string How;
};

struct PlannedArchive {
    std::string Maker;             // "writer" (ours) or the tool's name
    std::vector<Planned> Entries;
    Bytes Built;                   // ours: the archive's bytes; tools write their own file
    std::string Options;           // a tool's options, for the failure message
};

// Sizes spread over every order of magnitude up to the largest entry, three in four past the
// window, so that most entries wrap it several times.
size_t DrawSize(ShapeSource& source, size_t largest)
{
    size_t low = source.Below(4) == 0 ? 1 : WindowSize + 1;
    if (low >= largest)
        low = 1;
    unsigned lowBits = 0, highBits = 0;
    while (((size_t)1 << (lowBits + 1)) <= low)
        ++lowBits;
    while (((size_t)1 << (highBits + 1)) <= largest)
        ++highBits;
    unsigned bits = source.Between(lowBits, highBits);
    size_t size = ((size_t)1 << bits) + source.Below((uint32_t)(((size_t)1 << bits) - 1));
    return size < low ? low : size > largest ? largest : size;
}

// The first two entries of a run are records against 32 window ends, the state that takes most
// data to reach; the rest are drawn.
Planned MakeData(ShapeSource& source, size_t largest, size_t index)
{
    Shape shape = index < 2 ? Shape::WindowEnds : (Shape)source.Below(ShapeCount);
    size_t size = index < 2 ? std::min(largest, 32 * WindowSize) : DrawSize(source, largest);
    Planned planned;
    planned.Name = "e" + std::to_string(index);
    planned.Data = MakeShape(shape, size, source);
    planned.How = std::string(ShapeName(shape)) + ", " + std::to_string(size) + " bytes";
    return planned;
}

// The entry as our ZIP writer writes it: compressed by a peer or by our own writers, encrypted
// one time in four with the built-in password (a request without a password uses it).
ZipEntry CompressEntry(Planned& planned, ShapeSource& source)
{
    ZipEntry entry = Entry(planned.Name, planned.Data, 8);
    unsigned writer = source.Below(16);
    std::string how;
#ifdef TQ_TESTS_HAVE_PEERS
    std::string failure;
    if (writer < 9) {
        ZlibSettings settings = DrawZlibSettings(source.Next(), source.Next(), planned.Data.size());
        EXPECT_TRUE(ZlibDeflate(planned.Data, settings, &entry.Compressed, &failure)) << failure;
        how = Describe(settings);
    } else if (writer < 14) {
        int level = (int)source.Below(13);
        EXPECT_TRUE(LibdeflateDeflate(planned.Data, level, &entry.Compressed, &failure)) << failure;
        how = "libdeflate level " + std::to_string(level);
    }
#endif
    if (how.empty() && writer % 3 == 0) {
        entry.Compressed = DeflateFixed(planned.Data);
        how = "our fixed-code writer";
    } else if (how.empty() && writer % 3 == 1) {
        entry.Compressed = DeflateStored(planned.Data);
        how = "our stored-block writer";
    } else if (how.empty()) {
        entry.Method = 0;
        how = "stored";
    }
    if (source.Below(4) == 0) {
        entry.Encrypt = true;
        entry.Password = TestDefaultPassword;
        how += ", encrypted";
        if (source.Below(2) == 0) {   // streamed: the check byte from the time (APPNOTE 6.1.6)
            entry.CheckByTime = true;
            entry.DataDescriptor = Descriptor::WithSignature;
            how += " with a data descriptor";
        }
    }
    planned.How += ", " + how;
    return entry;
}

#ifndef _WIN32
// Runs a tool in folder, its output in log; true when it exits with 0.
bool RunTool(const std::string& folder, const std::vector<std::string>& arguments,
             const std::string& log)
{
    pid_t child = fork();
    if (child == 0) {
        int output = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (output < 0 || chdir(folder.c_str()) != 0)
            _exit(126);
        dup2(output, 1);
        dup2(output, 2);
        std::vector<char*> argv;
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

uint32_t Little32(const Bytes& bytes, size_t at)
{
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | (uint32_t)bytes[at + 3] << 24;
}

// Streaming writers (bsdtar) leave the CRC and the compressed size of a local header at 0 and
// give them in a data descriptor; the engine, walking local headers, takes those for an entry
// that cannot be read (an error, as the output tests show). Copied in from the central
// directory (APPNOTE 4.3.12), as a writer that can seek would have written them, the archive is
// otherwise the tool's: its extra fields, its descriptors, its Deflate streams.
void FillStreamedSizes(Bytes& archive)
{
    ASSERT_GE(archive.size(), 22u);
    size_t end = archive.size() - 22;     // an end record without a comment
    ASSERT_EQ(0x06054b50u, Little32(archive, end));
    size_t at = Little32(archive, end + 16);
    for (unsigned count = archive[end + 10] | archive[end + 11] << 8; count > 0; --count) {
        ASSERT_EQ(0x02014b50u, Little32(archive, at));
        size_t local = Little32(archive, at + 42);
        ASSERT_EQ(0x04034b50u, Little32(archive, local));
        if ((archive[local + 6] & 8) != 0)
            std::copy(archive.begin() + at + 16, archive.begin() + at + 28, archive.begin() + local + 14);
        at += 46 + (archive[at + 28] | archive[at + 29] << 8) + (archive[at + 30] | archive[at + 31] << 8) +
              (archive[at + 32] | archive[at + 33] << 8);
    }
}

bool ToolInstalled(const char* name)
{
    std::string command = std::string("command -v ") + name + " >/dev/null 2>&1";
    return system(command.c_str()) == 0;
}

// A tool's command line for an archive "tool.zip" of the files names, its settings drawn.
std::vector<std::string> ToolCommand(const std::string& tool, ShapeSource& source, bool encrypt)
{
    std::string level = std::to_string(source.Below(10));
    if (tool == "zip") {
        std::vector<std::string> command = {"zip", "-q", "-X", "-" + level};
        if (encrypt)
            command.insert(command.end(), {"-P", TestDefaultPassword});
        return command;
    }
    if (tool == "7z") {
        // 7-Zip's own Deflate encoder: its fast-bytes and pass counts give other block choices
        // (beyond three passes it grows slow and finds little new).
        std::vector<std::string> command = {"7z", "a", "-tzip", "-bd", "-y", "-mm=Deflate",
                                            "-mx=" + level};
        if (level != "0")
            command.insert(command.end(), {"-mfb=" + std::to_string(source.Between(3, 258)),
                                           "-mpass=" + std::to_string(source.Between(1, 3))});
        if (encrypt)
            command.insert(command.end(), {std::string("-p") + TestDefaultPassword, "-mem=ZipCrypto"});
        return command;
    }
    // bsdtar streams its entries: sizes and CRCs come in data descriptors.
    std::string options = "zip:compression=deflate,zip:compression-level=" + level;
    if (encrypt)
        options += ",zip:encryption=traditional";
    std::vector<std::string> command = {"bsdtar", "--format", "zip", "--options", options};
    if (encrypt)
        command.insert(command.end(), {"--passphrase", TestDefaultPassword});
    command.push_back("-cf");
    return command;
}
#endif

class DifferentialTest : public EngineTest {
protected:
    // Extracts the archive at ArchivePath and checks every entry's file.
    void ExtractAndCompare(const PlannedArchive& archive, uint32_t seed)
    {
        FreshOutput();
        ExtractRequest request = NewRequest();
        ExtractArchive(&request);
        std::string where = archive.Maker + (archive.Options.empty() ? "" : " " + archive.Options) +
                            ", seed " + std::to_string(seed);
        // TQ_DIFF_KEEP names a folder that takes a copy of every archive that fails.
        const char* keep = getenv("TQ_DIFF_KEEP");
        struct Keeper {
            const char* Folder;
            const std::string& Archive;
            int Failures;
            ~Keeper()
            {
                if (Folder != nullptr && ::testing::Test::HasFailure() && Failures == 0)
                    WriteWholeFile(JoinPath(Folder, "failed-" + std::to_string(Crc32(ReadWholeBytes(Archive))) + ".zip"),
                                   ReadWholeBytes(Archive));
            }
        } keeper{keep, ArchivePath, HasFailure() ? 1 : 0};
        EXPECT_EQ(0, request.Result) << where;
        EXPECT_TRUE(Boxes().empty()) << (Boxes().empty() ? "" : Boxes()[0].Text) << "; " << where;
        for (const Planned& planned : archive.Entries) {
            Bytes out = OutputFile(planned.Name);
            if (out == planned.Data)
                continue;
            size_t at = 0;
            while (at < out.size() && at < planned.Data.size() && out[at] == planned.Data[at])
                ++at;
            ADD_FAILURE() << planned.Name << " (" << planned.How << ") differs from byte " << at
                          << " (" << out.size() << " bytes out); " << where;
        }
    }
};

}

TEST_F(DifferentialTest, EveryCompressorAgreesWithTheEngine)
{
    uint32_t seed = TestSeed();
    ShapeSource source(seed);
    size_t volume = MegabytesFromEnvironment("TQ_DIFF_VOLUME_MB", DefaultVolumeMB) * MB;
    size_t largest = MegabytesFromEnvironment("TQ_DIFF_ENTRY_MB", DefaultEntryMB) * MB;
    std::vector<std::string> tools;
#ifndef _WIN32
    for (const char* tool : {"zip", "7z", "bsdtar"})
        if (ToolInstalled(tool))
            tools.push_back(tool);
#endif
    // Our writer's archives take half the volume and the tools share the other half, their
    // archives small enough that each tool writes at least one.
    size_t ours = tools.empty() ? volume : volume / 2;
    size_t toolBytes = tools.empty() ? 0 : std::min(ArchiveBytes, (volume - ours) / tools.size());
    size_t done = 0, entries = 0, archives = 0, toolArchives = 0;
    while (done < volume && !HasFailure()) {
        PlannedArchive archive;
        size_t bytes = 0;
        archive.Maker = done < ours ? "writer" : tools[toolArchives++ % tools.size()];
        size_t limit = done < ours ? ArchiveBytes : toolBytes;
        while (bytes < limit && archive.Entries.size() < ArchiveEntries && done + bytes < volume) {
            archive.Entries.push_back(MakeData(source, largest, entries++));
            bytes += archive.Entries.back().Data.size();
        }
        if (archive.Maker == "writer") {
            ZipArchive zip;
            for (Planned& planned : archive.Entries)
                zip.Entries.push_back(CompressEntry(planned, source));
            WriteArchive(zip);
        }
#ifndef _WIN32
        else {
            // The tool writes the archive from files of a staging folder beside it.
            std::string staging = JoinPath(Folder, "in");
            RemoveScratchFolder(staging);
            ASSERT_TRUE(MakeFolder(staging));
            bool encrypt = source.Below(3) == 0;
            std::vector<std::string> command = ToolCommand(archive.Maker, source, encrypt);
            for (size_t i = 1; i < command.size(); ++i)
                archive.Options += (i > 1 ? " " : "") + command[i];
            remove(ArchivePath.c_str());
            command.push_back(ArchivePath);
            for (const Planned& planned : archive.Entries) {
                ASSERT_TRUE(WriteWholeFile(JoinPath(staging, planned.Name), planned.Data));
                command.push_back(planned.Name);
            }
            std::string log = JoinPath(Folder, "tool.log");
            ASSERT_TRUE(RunTool(staging, command, log))
                << archive.Maker << " " << archive.Options << ": " << ReadWholeFile(log);
            if (archive.Maker == "bsdtar") {
                Bytes written = ReadWholeBytes(ArchivePath);
                FillStreamedSizes(written);
                WriteArchiveBytes(written);
            }
        }
#endif
        ExtractAndCompare(archive, seed);
        done += bytes;
        ++archives;
    }
    std::string makers = "our writer";
    for (const std::string& tool : tools)
        makers += ", " + tool;
    printf("%zu entries, %.1f MB, in %zu archives by %s\n", entries, (double)done / MB, archives,
           makers.c_str());
}
