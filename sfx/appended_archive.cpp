// Finds the archive appended to a program file. The program never scans its own code for a ZIP
// signature: the archive begins exactly where the PE image ends, which its own headers tell
// (Microsoft PE/COFF specification): the MS-DOS header gives the offset of the "PE\0\0"
// signature at 0x3C; the COFF file header behind it the number of sections and the size of the
// optional header; the section table behind that, for each section, where its raw data lies in
// the file. A signed program carries its certificate table (data directory 4, whose address is
// a file offset) behind its sections: a program signed before the archive was appended has it
// between its sections and the archive, and a download signed afterwards, by any signer, behind
// the archive, at the end of the file (after up to 7 bytes of padding to an 8-byte boundary).
// So the archive begins behind the sections, or behind a certificate table that starts there,
// and ends at a certificate table that starts behind it, or at the end of the file.
#include "sfx/sfx.h"
#include "util/bytes.h"

constexpr LONG NewHeaderPointerOffset = 0x3C;
constexpr DWORD PeSignature = 0x00004550;        // "PE\0\0"
constexpr int FileHeaderSize = 20;               // COFF file header
constexpr int SectionCountOffset = 2;            // in the file header
constexpr int OptionalHeaderSizeOffset = 16;
constexpr int SectionHeaderSize = 40;
constexpr int RawDataSizeOffset = 16;            // in a section header
constexpr int RawDataPointerOffset = 20;
constexpr int MaxSections = 96;                  // the loader's limit
constexpr WORD Pe32Magic = 0x10B;
constexpr WORD Pe32PlusMagic = 0x20B;
constexpr int Pe32DirectoriesOffset = 96;        // data directories in the optional header
constexpr int Pe32PlusDirectoriesOffset = 112;
constexpr int CertificateDirectory = 4;
constexpr int OptionalHeaderReadSize = Pe32PlusDirectoriesOffset + 8 * (CertificateDirectory + 1);
constexpr DWORD LocalHeaderSignature = 0x04034b50; // APPNOTE 4.3.7
constexpr DWORD LargestStart = 0x7FFFFFFF;       // the engine's StartOffset is an int
constexpr DWORD CertificateAlignment = 8;        // a signer pads the file to it first

static int ReadAt(HFILE file, DWORD offset, void* buffer, UINT count)
{
    if (offset > LargestStart || _llseek(file, (LONG)offset, FILE_BEGIN) != (LONG)offset)
        return 0;
    return _lread(file, buffer, count) == count;
}

// Where the program's sections end in the file, and its certificate table (Start and Size 0
// when it is not signed).
struct ImageLayout {
    DWORD SectionsEnd;
    DWORD CertificateStart;
    DWORD CertificateSize;
};

// 0 when the headers do not describe a PE image.
static int ReadImageLayout(HFILE file, ImageLayout* layout)
{
    unsigned char bytes[OptionalHeaderReadSize];
    if (!ReadAt(file, NewHeaderPointerOffset, bytes, 4))
        return 0;
    DWORD peOffset = ReadLittle32(bytes);
    if (!ReadAt(file, peOffset, bytes, 4 + FileHeaderSize) || ReadLittle32(bytes) != PeSignature)
        return 0;
    int sections = ReadLittle16(bytes + 4 + SectionCountOffset);
    DWORD optionalSize = ReadLittle16(bytes + 4 + OptionalHeaderSizeOffset);
    if (sections == 0 || sections > MaxSections)
        return 0;
    DWORD optionalStart = peOffset + 4 + FileHeaderSize;
    DWORD end = 0;
    for (int i = 0; i < sections; ++i) {
        if (!ReadAt(file, optionalStart + optionalSize + (DWORD)i * SectionHeaderSize, bytes, SectionHeaderSize))
            return 0;
        DWORD rawStart = ReadLittle32(bytes + RawDataPointerOffset);
        DWORD rawSize = ReadLittle32(bytes + RawDataSizeOffset);
        if (rawSize != 0 && rawStart + rawSize > end && rawStart + rawSize >= rawStart)
            end = rawStart + rawSize;
    }
    DWORD readSize = optionalSize < sizeof bytes ? optionalSize : sizeof bytes;
    if (!ReadAt(file, optionalStart, bytes, readSize))
        return 0;
    WORD magic = ReadLittle16(bytes);
    DWORD directories = magic == Pe32Magic ? Pe32DirectoriesOffset
                      : magic == Pe32PlusMagic ? Pe32PlusDirectoriesOffset : 0;
    if (directories == 0)
        return 0;
    layout->SectionsEnd = end;
    layout->CertificateStart = 0;
    layout->CertificateSize = 0;
    DWORD certificate = directories + 8 * CertificateDirectory;
    if (certificate + 8 <= readSize) {
        DWORD certificateStart = ReadLittle32(bytes + certificate);
        DWORD certificateSize = ReadLittle32(bytes + certificate + 4);
        if (certificateSize != 0 && certificateStart + certificateSize > certificateStart) {
            layout->CertificateStart = certificateStart;
            layout->CertificateSize = certificateSize;
        }
    }
    return 1;
}

// A certificate table that begins at the end of the sections, or in the padding behind them.
static int CertificateFollowsSections(const ImageLayout& layout)
{
    return layout.CertificateSize != 0 && layout.CertificateStart >= layout.SectionsEnd
           && layout.CertificateStart - layout.SectionsEnd < CertificateAlignment;
}

// The end of the program's own bytes: its sections, and a certificate table right behind them.
static DWORD ImageEnd(const ImageLayout& layout)
{
    if (CertificateFollowsSections(layout))
        return layout.CertificateStart + layout.CertificateSize;
    return layout.SectionsEnd;
}

DWORD GetImageEnd(const char* programPath)
{
    HFILE file = _lopen(programPath, OF_READ | OF_SHARE_DENY_WRITE);
    if (file == HFILE_ERROR)
        return 0;
    ImageLayout layout;
    DWORD end = ReadImageLayout(file, &layout) ? ImageEnd(layout) : 0;
    _lclose(file);
    return end;
}

int FindAppendedArchive(const char* programPath, AppendedArchive* archive)
{
    HFILE file = _lopen(programPath, OF_READ | OF_SHARE_DENY_WRITE);
    if (file == HFILE_ERROR)
        return 0;
    ImageLayout layout;
    int isImage = ReadImageLayout(file, &layout);
    DWORD start = isImage ? ImageEnd(layout) : 0;
    LONG fileSize = _llseek(file, 0, FILE_END);
    DWORD end = fileSize == HFILE_ERROR ? 0 : (DWORD)fileSize;
    // A download signed after the archive was appended: the table closes the archive.
    if (isImage && !CertificateFollowsSections(layout) && layout.CertificateSize != 0
        && layout.CertificateStart > start && layout.CertificateStart < end)
        end = layout.CertificateStart;
    unsigned char signature[4];
    int found = start != 0 && end > start && end - start >= sizeof signature
                && ReadAt(file, start, signature, sizeof signature)
                && ReadLittle32(signature) == LocalHeaderSignature;
    _lclose(file);
    if (!found)
        return 0;
    archive->Start = start;
    archive->Size = end - start;
    return 1;
}
