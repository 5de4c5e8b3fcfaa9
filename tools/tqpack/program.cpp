// Reads the headers of a Windows program file (Microsoft PE/COFF specification): the machine, the
// subsystem, whether it is a program rather than a library, where its certificate table lies, and
// its resource tree. tqpack uses them to refuse a file given as setup.exe that Windows would not
// run as setup, and to find a signature.
#include "tqpack.h"

#include "res/resource.h"
#include "util/bytes.h"

constexpr size_t NewHeaderPointerOffset = 0x3C;
constexpr size_t FileHeaderSize = 20;          // COFF file header, behind "PE\0\0"
constexpr size_t SectionHeaderSize = 40;
constexpr uint16_t MachineI386 = 0x14C;
constexpr uint16_t MachineAmd64 = 0x8664;
constexpr uint16_t CharacteristicExecutable = 0x0002;
constexpr uint16_t CharacteristicLibrary = 0x2000;
constexpr uint16_t Pe32Magic = 0x10B;
constexpr uint16_t Pe32PlusMagic = 0x20B;
constexpr size_t SubsystemOffset = 68;          // in the optional header, both widths
constexpr uint16_t SubsystemWindowsGui = 2;
constexpr uint16_t SubsystemWindowsConsole = 3;
constexpr size_t Pe32DirectoriesOffset = 96;
constexpr size_t Pe32PlusDirectoriesOffset = 112;
constexpr size_t ResourceDirectory = 2;
constexpr size_t CertificateDirectory = 4;
constexpr size_t ResourceDirectoryHeaderSize = 16; // before its entries, 8 bytes each
constexpr uint32_t ResourceSubdirectoryBit = 0x80000000;
constexpr uint32_t ResourceNameBit = 0x80000000;
constexpr int ResourceTypeVersion = 16;
constexpr int ResourceTypeDialog = 5;
constexpr int ResourceTypeString = 6;
constexpr int ResourceTypeManifest = 24;
constexpr int MaxSections = 96;

// The field at a position of the file's bytes; 0 where the file ends before it.
static uint32_t Get16(const std::vector<unsigned char>& bytes, size_t at)
{
    return at + 2 <= bytes.size() ? ReadLittle16(&bytes[at]) : 0;
}

static uint32_t Get32(const std::vector<unsigned char>& bytes, size_t at)
{
    return at + 4 <= bytes.size() ? ReadLittle32(&bytes[at]) : 0;
}

// The file offset of a relative virtual address, through the section that holds it; 0 when
// no section's raw data does.
static size_t FileOffsetOf(const std::vector<unsigned char>& bytes, const ProgramHeaders& headers, uint32_t rva)
{
    for (int i = 0; i < headers.Sections; i++) {
        size_t section = headers.SectionTable + static_cast<size_t>(i) * SectionHeaderSize;
        uint32_t virtualAddress = Get32(bytes, section + 12);
        uint32_t rawSize = Get32(bytes, section + 16);
        uint32_t rawStart = Get32(bytes, section + 20);
        if (rva >= virtualAddress && rva - virtualAddress < rawSize)
            return static_cast<size_t>(rawStart) + (rva - virtualAddress);
    }
    return 0;
}

bool ReadProgramHeaders(const std::vector<unsigned char>& bytes, ProgramHeaders& headers)
{
    headers = ProgramHeaders();
    if (bytes.size() < NewHeaderPointerOffset + 4 || bytes[0] != 'M' || bytes[1] != 'Z')
        return false;
    size_t pe = Get32(bytes, NewHeaderPointerOffset);
    if (pe + 4 + FileHeaderSize > bytes.size() || Get32(bytes, pe) != 0x00004550) // "PE\0\0"
        return false;
    size_t file = pe + 4;
    headers.Machine = static_cast<uint16_t>(Get16(bytes, file));
    headers.Sections = static_cast<int>(Get16(bytes, file + 2));
    size_t optionalSize = Get16(bytes, file + 16);
    headers.Characteristics = static_cast<uint16_t>(Get16(bytes, file + 18));
    size_t optional = file + FileHeaderSize;
    uint32_t magic = Get16(bytes, optional);
    if (magic != Pe32Magic && magic != Pe32PlusMagic)
        return false;
    headers.Wide = magic == Pe32PlusMagic;
    headers.Subsystem = static_cast<uint16_t>(Get16(bytes, optional + SubsystemOffset));
    headers.SectionTable = optional + optionalSize;
    if (headers.Sections <= 0 || headers.Sections > MaxSections
        || headers.SectionTable + headers.Sections * SectionHeaderSize > bytes.size())
        return false;
    for (int i = 0; i < headers.Sections; i++) {
        size_t section = headers.SectionTable + static_cast<size_t>(i) * SectionHeaderSize;
        uint64_t end = static_cast<uint64_t>(Get32(bytes, section + 20)) + Get32(bytes, section + 16);
        if (Get32(bytes, section + 16) != 0 && end > headers.SectionsEnd && end <= UINT32_MAX)
            headers.SectionsEnd = static_cast<uint32_t>(end);
    }
    size_t directories = optional + (headers.Wide ? Pe32PlusDirectoriesOffset : Pe32DirectoriesOffset);
    size_t directoryCount = Get32(bytes, directories - 4);
    auto directory = [&](size_t index, uint32_t& address, uint32_t& size) {
        size_t at = directories + 8 * index;
        bool there = index < directoryCount && at + 8 <= optional + optionalSize;
        address = there ? Get32(bytes, at) : 0;
        size = there ? Get32(bytes, at + 4) : 0;
    };
    directory(CertificateDirectory, headers.CertificateStart, headers.CertificateSize);
    headers.CertificateEntry = directories + 8 * CertificateDirectory;
    directory(ResourceDirectory, headers.ResourceRva, headers.ResourceSize);
    return true;
}

// The entry of a resource directory whose ID or name matches; 0 when there is none, otherwise
// its OffsetToData (relative to the resource section).
static uint32_t FindResourceEntry(const std::vector<unsigned char>& bytes, size_t root, size_t directory,
                                  int id, const char* name)
{
    size_t named = Get16(bytes, directory + 12);
    size_t numbered = Get16(bytes, directory + 14);
    for (size_t i = 0; i < named + numbered; i++) {
        size_t entry = directory + ResourceDirectoryHeaderSize + 8 * i;
        if (entry + 8 > bytes.size())
            return 0;
        uint32_t key = Get32(bytes, entry);
        bool match = false;
        if (!(key & ResourceNameBit)) {
            match = !name && static_cast<int>(key) == id;
        } else if (name) {
            // A counted UTF-16 string, compared with an ASCII name.
            size_t text = root + (key & ~ResourceNameBit);
            size_t length = Get16(bytes, text);
            match = length == std::string(name).size();
            for (size_t c = 0; match && c < length; c++)
                match = Get16(bytes, text + 2 + 2 * c) == static_cast<unsigned char>(name[c]);
        }
        if (match)
            return Get32(bytes, entry + 4);
    }
    return 0;
}

// Whether the resource tree holds the resource: a type entry, a name entry below it, and at
// least one language below that. id is used when name is null; a null name with id -1 asks for
// any resource of the type.
static bool HasResource(const std::vector<unsigned char>& bytes, size_t root, int type, const char* typeName,
                        int id, const char* name)
{
    uint32_t types = FindResourceEntry(bytes, root, root, type, typeName);
    if (!(types & ResourceSubdirectoryBit))
        return false;
    size_t names = root + (types & ~ResourceSubdirectoryBit);
    if (id == -1 && !name)
        return Get16(bytes, names + 12) + Get16(bytes, names + 14) > 0;
    uint32_t languages = FindResourceEntry(bytes, root, names, id, name);
    if (!(languages & ResourceSubdirectoryBit))
        return false;
    size_t languageDirectory = root + (languages & ~ResourceSubdirectoryBit);
    return Get16(bytes, languageDirectory + 12) + Get16(bytes, languageDirectory + 14) > 0;
}

std::string CheckSetupProgram(const std::string& path, bool* wide)
{
    std::vector<unsigned char> bytes;
    Problems unread;
    if (!ReadWholeFile(path, bytes, unread))
        return "cannot be read";
    ProgramHeaders headers;
    if (!ReadProgramHeaders(bytes, headers))
        return "is not a Windows program (no PE image)";
    if (headers.Machine != MachineI386 && headers.Machine != MachineAmd64)
        return "is a program for another processor (machine " + std::to_string(headers.Machine) + ")";
    if ((headers.Machine == MachineI386) == headers.Wide)
        return "has an optional header of the other width than its processor";
    if (wide)
        *wide = headers.Wide;
    if ((headers.Characteristics & CharacteristicLibrary) || !(headers.Characteristics & CharacteristicExecutable))
        return "is a library, not a program";
    if (headers.Subsystem != SubsystemWindowsGui)
        return headers.Subsystem == SubsystemWindowsConsole ? "is a console program, not a Windows GUI program"
                                                            : "is not a Windows GUI program (subsystem "
                                                                  + std::to_string(headers.Subsystem) + ")";
    size_t root = headers.ResourceRva ? FileOffsetOf(bytes, headers, headers.ResourceRva) : 0;
    if (root == 0 || root + ResourceDirectoryHeaderSize > bytes.size())
        return "carries no resources, so it is not setup";
    struct Needed {
        int Type;
        const char* TypeName;
        int Id;
        const char* Name;
        const char* What;
    };
    const Needed needed[] = {
        {ResourceTypeDialog, nullptr, IDD_INSTALL_FOLDER, nullptr, "the install-folder dialog"},
        {ResourceTypeDialog, nullptr, IDD_PROGRESS, nullptr, "the progress dialog"},
        {ResourceTypeString, nullptr, -1, nullptr, "the message texts"},
        {0, STUB_RESOURCE_TYPE, 0, STUB_RESOURCE_NAME, "the shell-extension stub library"},
        {ResourceTypeVersion, nullptr, 1, nullptr, "the version record"},
        {ResourceTypeManifest, nullptr, 1, nullptr, "the manifest"},
    };
    std::string missing;
    for (const Needed& resource : needed)
        if (!HasResource(bytes, root, resource.Type, resource.TypeName, resource.Id, resource.Name))
            missing += (missing.empty() ? "" : ", ") + std::string(resource.What);
    if (!missing.empty())
        return "lacks setup's resources (" + missing + "), so it is not setup";
    return std::string();
}
