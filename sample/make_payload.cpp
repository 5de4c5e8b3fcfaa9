// Makes the sample payload files (everything of the sample distribution's payload except the
// main program): a help file of text, a library-like file of code-like and table-like blocks,
// a large sound bank of noise, small settings files and an empty list. The content comes from
// a fixed-seed generator and every file gets the same fixed time, so two runs give the same
// bytes and the sample distribution is reproducible.
//   tqsamplegen DIR
#include <cstdint>
#include <cstdio>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <vector>

constexpr uint64_t Seed = 0x7E55E1;
constexpr time_t PayloadTime = 1780315200; // 2026-06-01 12:00:00 UTC

static uint64_t NextRandom(uint64_t& state)
{
    // xorshift64*
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    return state * 0x2545F4914F6CDD1Dull;
}

// Text of words from a small vocabulary, in lines and paragraphs: compresses like prose.
static std::vector<unsigned char> MakeText(uint64_t& state, size_t size)
{
    static const char* const words[] = {
        "archive", "file", "folder", "extract", "the", "a", "to", "of", "and", "select",
        "press", "window", "Tessel", "menu", "option", "list", "name", "size", "test",
        "password", "open", "new", "add", "delete", "view", "help", "setup", "disk",
        "compressed", "entries", "you", "can", "with", "from", "in", "is", "this", "for",
    };
    constexpr size_t wordCount = sizeof words / sizeof words[0];
    std::string text;
    size_t column = 0;
    while (text.size() < size) {
        std::string word = words[NextRandom(state) % wordCount];
        if (column + word.size() > 72) {
            text += (NextRandom(state) % 6 == 0) ? "\r\n\r\n" : "\r\n";
            column = 0;
        } else if (column > 0) {
            text += ' ';
            column++;
        }
        text += word;
        column += word.size();
    }
    text.resize(size);
    return std::vector<unsigned char>(text.begin(), text.end());
}

// Blocks like those of a program file: repeated instruction-like patterns with varying
// operands, tables of small numbers, runs of zeros, and now and then packed (random) data.
static std::vector<unsigned char> MakeBinary(uint64_t& state, size_t size)
{
    std::vector<unsigned char> data;
    while (data.size() < size) {
        size_t block = 512 + NextRandom(state) % 8192;
        switch (NextRandom(state) % 4) {
        case 0:
            for (size_t i = 0; i < block; i++)
                data.push_back(static_cast<unsigned char>((i % 7 == 3) ? NextRandom(state) : 0x8B + i % 5));
            break;
        case 1:
            for (size_t i = 0; i < block; i++)
                data.push_back(static_cast<unsigned char>(i % 4 == 0 ? NextRandom(state) % 64 : 0));
            break;
        case 2:
            data.insert(data.end(), block, 0);
            break;
        default:
            for (size_t i = 0; i < block; i++)
                data.push_back(static_cast<unsigned char>(NextRandom(state)));
        }
    }
    data.resize(size);
    return data;
}

static std::vector<unsigned char> MakeNoise(uint64_t& state, size_t size)
{
    std::vector<unsigned char> data(size);
    for (unsigned char& byte : data)
        byte = static_cast<unsigned char>(NextRandom(state) >> 56);
    return data;
}

static bool WriteFile(const std::string& folder, const char* name, const std::vector<unsigned char>& data)
{
    std::string path = folder + "/" + name;
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    bool ok = data.empty() || std::fwrite(data.data(), 1, data.size(), file) == data.size();
    ok = std::fclose(file) == 0 && ok;
    struct timespec times[2] = {{PayloadTime, 0}, {PayloadTime, 0}};
    return ok && utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: tqsamplegen DIR\n");
        return 64;
    }
    std::string folder = argv[1];
    mkdir(folder.c_str(), 0777);
    uint64_t state = Seed;
    std::string settings = "[Tessel]\r\nLanguage=English\r\nConfirmDelete=1\r\nTestBeforeExtract=0\r\n";
    bool ok = WriteFile(folder, "tessel.hlp", MakeText(state, 420 * 1024))
           && WriteFile(folder, "TQCORE.DLL", MakeBinary(state, 1536 * 1024))
           && WriteFile(folder, "TQSOUNDS.DAT", MakeNoise(state, 3 * 1024 * 1024))
           && WriteFile(folder, "tqlang.ini", MakeText(state, 6 * 1024))
           && WriteFile(folder, "DEFAULT.TQS", std::vector<unsigned char>(settings.begin(), settings.end()))
           && WriteFile(folder, "TQFAVS.LST", std::vector<unsigned char>());
    if (!ok) {
        std::perror(("tqsamplegen: " + folder).c_str());
        return 1;
    }
    return 0;
}
