// The tqpack tests' fixture and process helpers; Windows programs as tqpack reads them, and
// certificates to sign them with.
#include "fixture.h"

#include <cstdio>
#include <cstring>
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
    ProgramSpec setup;
    setup.Resources = SetupResources();
    ASSERT_TRUE(WriteWholeFile(Setup, MakeWindowsProgram(setup)));
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

void Put16(std::vector<unsigned char>& bytes, size_t at, uint32_t value)
{
    bytes[at] = static_cast<unsigned char>(value);
    bytes[at + 1] = static_cast<unsigned char>(value >> 8);
}

void Put32(std::vector<unsigned char>& bytes, size_t at, uint32_t value)
{
    Put16(bytes, at, value & 0xFFFF);
    Put16(bytes, at + 2, value >> 16);
}

namespace {

// The resource tree (PE/COFF 6.9): a directory of types, below each a directory of names,
// below each a directory of one language pointing at a data entry; names as counted UTF-16
// strings; all offsets relative to the section, data addresses relative to the image.
std::vector<unsigned char> ResourceTree(const std::vector<ProgramResource>& resources, uint32_t sectionRva)
{
    struct Type {
        int Id;
        const char* Name;
        std::vector<const ProgramResource*> Members;
    };
    std::vector<Type> types;
    for (const ProgramResource& resource : resources) {
        Type* type = nullptr;
        for (Type& known : types)
            if (known.Id == resource.Type && (known.Name == resource.TypeName
                                              || (known.Name && resource.TypeName
                                                  && std::string(known.Name) == resource.TypeName)))
                type = &known;
        if (!type) {
            types.push_back({resource.Type, resource.TypeName, {}});
            type = &types.back();
        }
        type->Members.push_back(&resource);
    }
    constexpr size_t header = 16, entry = 8, dataEntry = 16, dataSize = 16;
    size_t size = header + entry * types.size();
    for (const Type& type : types)
        size += header + entry * type.Members.size() + type.Members.size() * (header + entry + dataEntry + dataSize);
    size_t strings = size;
    for (const ProgramResource& resource : resources)
        for (const char* text : {resource.TypeName, resource.Name})
            size += text ? 2 + 2 * std::string(text).size() : 0;
    std::vector<unsigned char> tree(size, 0);
    auto putName = [&](size_t at, int id, const char* name) {
        if (!name) {
            Put32(tree, at, static_cast<uint32_t>(id));
            return;
        }
        Put32(tree, at, 0x80000000u | static_cast<uint32_t>(strings));
        Put16(tree, strings, static_cast<uint32_t>(std::string(name).size()));
        for (size_t c = 0; name[c]; c++)
            Put16(tree, strings + 2 + 2 * c, static_cast<unsigned char>(name[c]));
        strings += 2 + 2 * std::string(name).size();
    };
    auto putDirectory = [&](size_t at, size_t named, size_t numbered) {
        Put16(tree, at + 12, static_cast<uint32_t>(named));
        Put16(tree, at + 14, static_cast<uint32_t>(numbered));
    };
    size_t next = header + entry * types.size();
    size_t namedTypes = 0;
    for (const Type& type : types)
        namedTypes += type.Name ? 1 : 0;
    putDirectory(0, namedTypes, types.size() - namedTypes);
    for (size_t t = 0; t < types.size(); t++) {
        size_t names = next;
        putName(header + entry * t, types[t].Id, types[t].Name);
        Put32(tree, header + entry * t + 4, 0x80000000u | static_cast<uint32_t>(names));
        size_t namedMembers = 0;
        for (const ProgramResource* member : types[t].Members)
            namedMembers += member->Name ? 1 : 0;
        putDirectory(names, namedMembers, types[t].Members.size() - namedMembers);
        next = names + header + entry * types[t].Members.size();
        for (size_t m = 0; m < types[t].Members.size(); m++) {
            const ProgramResource* member = types[t].Members[m];
            size_t languages = next;
            putName(names + header + entry * m, member->Id, member->Name);
            Put32(tree, names + header + entry * m + 4, 0x80000000u | static_cast<uint32_t>(languages));
            putDirectory(languages, 0, 1);
            Put32(tree, languages + header, 0x409);
            size_t data = languages + header + entry;
            Put32(tree, languages + header + 4, static_cast<uint32_t>(data));
            Put32(tree, data, sectionRva + static_cast<uint32_t>(data + dataEntry));
            Put32(tree, data + 4, dataSize);
            next = data + dataEntry + dataSize;
        }
    }
    return tree;
}

} // namespace

std::vector<ProgramResource> SetupResources()
{
    return {{5, nullptr, 100, nullptr}, {5, nullptr, 300, nullptr}, {6, nullptr, 63, nullptr},
            {0, "TQSHLEXT", 0, "TQ_SHL"}, {16, nullptr, 1, nullptr}, {24, nullptr, 1, nullptr}};
}

// Headers in the first 0x200 bytes, code at 0x200 (image address 0x1000), resources at 0x400
// (image address 0x2000), file alignment 0x200, section alignment 0x1000.
std::vector<unsigned char> MakeWindowsProgram(const ProgramSpec& spec)
{
    constexpr uint32_t fileAlignment = 0x200, sectionAlignment = 0x1000, resourceRva = 0x2000;
    std::vector<unsigned char> resources = ResourceTree(spec.Resources, resourceRva);
    uint32_t resourceRaw = static_cast<uint32_t>((resources.size() + fileAlignment - 1) / fileAlignment * fileAlignment);
    std::vector<unsigned char> bytes(0x400 + resourceRaw, 0);
    bytes[0] = 'M';
    bytes[1] = 'Z';
    constexpr size_t pe = 0x80;
    Put32(bytes, 0x3C, pe);
    std::memcpy(&bytes[pe], "PE\0\0", 4);
    size_t file = pe + 4;
    const size_t optionalSize = spec.Wide ? 240 : 224;
    Put16(bytes, file, spec.Wide ? 0x8664 : 0x14C);
    Put16(bytes, file + 2, 2);
    Put16(bytes, file + 16, static_cast<uint32_t>(optionalSize));
    Put16(bytes, file + 18, (spec.Wide ? 0x0022 : 0x0102) | (spec.Library ? 0x2000 : 0));
    size_t optional = file + 20;
    Put16(bytes, optional, spec.Wide ? 0x20B : 0x10B);
    Put32(bytes, optional + 16, 0x1000); // entry point
    if (spec.Wide)
        Put32(bytes, optional + 28, 0x1); // image base 0x140000000
    else
        Put32(bytes, optional + 28, 0x400000);
    Put32(bytes, optional + 32, sectionAlignment);
    Put32(bytes, optional + 36, fileAlignment);
    Put16(bytes, optional + 40, 4); // operating system version 4.0
    Put16(bytes, optional + 48, 4); // subsystem version 4.0
    Put32(bytes, optional + 56, resourceRva + sectionAlignment); // size of image
    Put32(bytes, optional + 60, 0x200);                          // size of headers
    Put16(bytes, optional + 68, spec.Subsystem);
    size_t directories = optional + (spec.Wide ? 112 : 96);
    Put32(bytes, directories - 4, 16);
    if (!spec.Resources.empty()) {
        Put32(bytes, directories + 8 * 2, resourceRva);
        Put32(bytes, directories + 8 * 2 + 4, static_cast<uint32_t>(resources.size()));
    }
    size_t sections = optional + optionalSize;
    const struct {
        const char* Name;
        uint32_t Rva, Raw, Size, Characteristics;
    } table[] = {{".text", 0x1000, 0x200, 0x200, 0x60000020},
                 {".rsrc", resourceRva, 0x400, resourceRaw, 0x40000040}};
    for (size_t i = 0; i < 2; i++) {
        size_t header = sections + 40 * i;
        std::memcpy(&bytes[header], table[i].Name, std::strlen(table[i].Name));
        Put32(bytes, header + 8, table[i].Size);
        Put32(bytes, header + 12, table[i].Rva);
        Put32(bytes, header + 16, table[i].Size);
        Put32(bytes, header + 20, table[i].Raw);
        Put32(bytes, header + 36, table[i].Characteristics);
    }
    bytes[0x200] = 0xC3; // ret
    std::copy(resources.begin(), resources.end(), bytes.begin() + 0x400);
    return bytes;
}

bool MakeTestCertificate(const std::string& folder, TestCertificate& made)
{
    made.Key = folder + "/key.pem";
    made.Certificate = folder + "/cert.pem";
    made.Pkcs12 = folder + "/signer.p12";
    made.PasswordFile = folder + "/password.txt";
    if (!WriteWholeFile(made.PasswordFile, std::string(TestCertificate::Password) + "\n"))
        return false;
    // openssl takes a second password from a file's second line, so both come from the
    // environment here.
    const std::string environment = "TQ_TEST_KEY_PASSWORD=" + Quote(TestCertificate::Password) + " ";
    const std::string pass = "env:TQ_TEST_KEY_PASSWORD";
    CommandResult request = RunCommand(
        environment + "openssl req -x509 -newkey rsa:2048 -days 2 -subj '/CN=Tessel Test Vendor/O=Tessel Tests' "
        "-addext extendedKeyUsage=codeSigning -keyout " + Quote(made.Key) + " -out " + Quote(made.Certificate)
        + " -passout " + pass);
    if (request.Status != 0)
        return false;
    CommandResult pack = RunCommand(environment + "openssl pkcs12 -export -inkey " + Quote(made.Key) + " -in "
                                    + Quote(made.Certificate) + " -out " + Quote(made.Pkcs12) + " -passin " + pass
                                    + " -passout " + pass);
    return pack.Status == 0;
}
