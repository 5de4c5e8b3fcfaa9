// `tqpack bundle`, and `verify` and `list` of a bundle: the one file a customer downloads, the
// self-extractor with a distribution folder appended as a ZIP archive. The archive begins where
// the program's PE image ends; the self-extractor's own code (sfx/appended_archive.cpp, built
// here natively) finds it for both.
//
// Times: setup compares the seven text files' times with its own once the self-extractor has
// unpacked them, and the engine stamps every file from its entry's MS-DOS time (local time, in
// 2-second steps). A distribution that verifies has one time on all those files, so they are
// stored with one MS-DOS time, and the engine gives them one time again. verify checks the
// stored times, then unpacks the bundle with the engine and verifies the result as a folder.
#include "tqpack.h"

#include "sfx/sfx.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

// setup.exe, setup.tq and the seven text files, in that order.
static std::vector<std::string> DistributionFileNames()
{
    std::vector<std::string> names = {SetupProgramName, PayloadArchiveName};
    for (const char* name : TextFileNames)
        names.push_back(name);
    return names;
}

static std::string Upper(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

bool BundleDistribution(const BundleOptions& options, PackStats& stats, Problems& problems)
{
    size_t problemsBefore = problems.size();
    if (!IsDirectory(options.DistFolder)) {
        problems.push_back("distribution folder " + options.DistFolder + " not found");
        return false;
    }
    if (SigningWanted(options.Signing)) {
        std::string wrong = CheckSigningOptions(options.Signing);
        if (!wrong.empty()) {
            problems.push_back(wrong);
            return false;
        }
    }
    if (!VerifyDistribution(options.DistFolder, problems)) {
        problems.insert(problems.begin() + static_cast<long>(problemsBefore),
                        options.DistFolder + " would not install, so it is not bundled:");
        return false;
    }
    const std::string& stub = options.StubPath;
    if (!IsRegularFile(stub)) {
        problems.push_back("self-extractor " + stub + " not found");
        return false;
    }
    ArchiveOptions archive;
    archive.Encrypt = false;
    archive.UseCompressor = options.UseCompressor;
    if (!ReadWholeFile(stub, archive.Prefix, problems))
        return false;
    DWORD imageEnd = GetImageEnd(stub.c_str());
    if (imageEnd == 0) {
        problems.push_back("self-extractor " + stub + " is not a Windows program");
        return false;
    }
    // A signed self-extractor's signature would sit inside the download, where no signer
    // leaves one and no check accepts one: it is left out, and the download is signed whole.
    ProgramHeaders headers;
    if (ReadProgramHeaders(archive.Prefix, headers) && headers.CertificateSize != 0 && imageEnd == archive.Prefix.size()
        && headers.CertificateStart >= headers.SectionsEnd) {
        archive.Prefix.resize(headers.SectionsEnd);
        std::fill(archive.Prefix.begin() + static_cast<long>(headers.CertificateEntry),
                  archive.Prefix.begin() + static_cast<long>(headers.CertificateEntry) + 8, 0);
        imageEnd = headers.SectionsEnd;
    }
    if (imageEnd != archive.Prefix.size()) {
        problems.push_back("self-extractor " + stub + " carries " + std::to_string(archive.Prefix.size() - imageEnd)
                           + " bytes behind its program image (a bundle already?)");
        return false;
    }
    std::vector<PayloadFile> files;
    for (const std::string& name : DistributionFileNames())
        files.push_back({name, JoinPath(options.DistFolder, name)});
    ProgressBar bar;
    StartProgress(bar, stderr, FilesSize(files), options.ShowProgress);
    if (!WriteArchive(options.OutFile, files, archive, stats, problems, &bar))
        return false;
    // The whole download is signed; the signature goes behind the archive, where the
    // self-extractor expects a certificate table.
    if (SigningWanted(options.Signing) && !SignProgram(options.Signing, options.OutFile, options.OutFile, problems)) {
        std::remove(options.OutFile.c_str());
        return false;
    }
    return true;
}

// The entries the self-extractor and setup need, with the times setup will compare.
static void CheckBundleEntries(const std::vector<ArchiveEntry>& entries, Problems& problems)
{
    std::vector<const ArchiveEntry*> found;
    for (const std::string& name : DistributionFileNames()) {
        const ArchiveEntry* match = nullptr;
        for (const ArchiveEntry& entry : entries)
            if (Upper(entry.Name) == Upper(name))
                match = &entry;
        if (!match)
            problems.push_back("the bundle holds no " + name);
        found.push_back(match);
    }
    for (const ArchiveEntry& entry : entries) {
        std::string reason = CheckPayloadName(entry.Name);
        if (!reason.empty())
            problems.push_back("bundle entry \"" + entry.Name + "\": " + reason);
        if (entry.Method != MethodStored && entry.Method != MethodDeflated)
            problems.push_back("bundle entry " + entry.Name + ": compression method " + std::to_string(entry.Method)
                               + " (the engine reads only 0 and 8)");
        if (entry.Flags & FlagEncrypted)
            problems.push_back("bundle entry " + entry.Name + " is encrypted (the self-extractor has no password)");
    }
    const ArchiveEntry* setup = found[0];
    for (size_t i = 2; setup && i < found.size(); i++) {
        const ArchiveEntry* text = found[i];
        if (text && (text->DosDate != setup->DosDate || text->DosTime != setup->DosTime))
            problems.push_back(text->Name + " is stored with the time " + FormatDosDateTime(text->DosDate, text->DosTime)
                               + ", setup.exe with " + FormatDosDateTime(setup->DosDate, setup->DosTime)
                               + " (once unpacked, setup stops with message 1023)");
    }
}

static void RemoveScratchFolder(const std::string& folder)
{
    std::vector<std::string> names;
    if (ListDirectory(folder, names))
        for (const std::string& name : names)
            std::remove(JoinPath(folder, name).c_str());
    rmdir(folder.c_str());
}

// The download's own signature: broken is a problem (Windows would refuse or warn), the rest a
// note.
static void CheckBundleSignature(const std::string& bundlePath, Problems& problems, Problems* notes)
{
    SignatureReport report = CheckSignature(bundlePath);
    std::string line = "the download " + bundlePath + ": " + DescribeSignature(report);
    if (report.State == SignatureState::Broken)
        problems.push_back(line);
    else if (notes)
        notes->push_back(line);
}

bool VerifyBundle(const std::string& bundlePath, Problems& problems, Problems* notes)
{
    size_t problemsBefore = problems.size();
    CheckBundleSignature(bundlePath, problems, notes);
    AppendedArchive archive;
    if (!FindAppendedArchive(bundlePath.c_str(), &archive)) {
        if (GetImageEnd(bundlePath.c_str()) == 0)
            problems.push_back(bundlePath + " is not a Windows program");
        else
            problems.push_back("no archive behind the program image of " + bundlePath
                               + " (the self-extractor would stop at once)");
        return false;
    }
    std::vector<ArchiveEntry> entries;
    if (ReadArchiveEntries(bundlePath, entries, problems, archive.Start))
        CheckBundleEntries(entries, problems);

    // What the self-extractor will do: unpack with the engine, then setup runs on the files.
    const char* temporary = std::getenv("TMPDIR");
    std::string pattern = JoinPath(temporary && *temporary ? temporary : "/tmp", "tqpack-bundle-XXXXXX");
    std::vector<char> scratch(pattern.begin(), pattern.end());
    scratch.push_back('\0');
    if (!mkdtemp(scratch.data())) {
        problems.push_back("cannot create a scratch folder to unpack " + bundlePath + " into");
        return false;
    }
    std::string folder = scratch.data();
    std::string destination = folder + "/";
    if (RunEngine(bundlePath, archive.Start, destination.c_str(), problems)) {
        Problems unpacked, unpackedNotes;
        if (!VerifyDistribution(folder, unpacked, &unpackedNotes))
            for (const std::string& problem : unpacked)
                problems.push_back("once unpacked: " + problem);
        if (notes)
            for (const std::string& note : unpackedNotes)
                notes->push_back("once unpacked: " + note);
    }
    RemoveScratchFolder(folder);
    return problems.size() == problemsBefore;
}

bool ListBundle(const std::string& bundlePath, bool verbose, Problems& problems)
{
    AppendedArchive archive;
    if (!FindAppendedArchive(bundlePath.c_str(), &archive)) {
        problems.push_back("no archive behind the program image of " + bundlePath);
        return false;
    }
    std::vector<ArchiveEntry> entries;
    if (!ReadArchiveEntries(bundlePath, entries, problems, archive.Start))
        return false;
    std::printf("self-extractor: %lu bytes, then an archive of %lu bytes\n", static_cast<unsigned long>(archive.Start),
                static_cast<unsigned long>(archive.Size));
    if (verbose)
        std::printf("signature: %s\n", DescribeSignature(CheckSignature(bundlePath)).c_str());
    PrintListing(stdout, entries, verbose, false);
    return true;
}
