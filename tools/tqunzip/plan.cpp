// What tqunzip decides before the engine runs. The engine extracts every entry whose name is on
// the request's list and creates each output file over whatever stands there; it neither makes
// folders nor matches patterns. So the tool reads the central directory and each chosen entry's
// local header (the engine's view of the entry), matches the NAMEs, leaves out what the engine
// cannot extract faithfully (other methods, streamed entries), works out each output path by the
// engine's own rules, applies the overwrite policy and only then creates folders.
#include "tools/tqunzip/tqunzip.h"
#include "util/bytes.h"

#include "unzip/unzip.h"

#include <ctype.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <set>

constexpr uint32_t LocalHeaderSignature = 0x04034b50;
constexpr size_t LocalHeaderSize = 30;        // signature included, APPNOTE 4.3.7
constexpr uint16_t FlagStrongEncryption = 1 << 6;
constexpr size_t ShownClashes = 10;           // clashes named before "and N more"
constexpr uint64_t DataDescriptorSize = 16;   // with its signature, APPNOTE 4.3.9
constexpr uint64_t DescriptorSignature = 4;

static bool Exists(const std::string& path)
{
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

static bool IsFolderEntry(const std::string& name)
{
    return !name.empty() && (name.back() == '/' || name.back() == '\\');
}

std::string EngineBaseName(const std::string& name)
{
    size_t at = name.find_last_of("/\\");
    return at == std::string::npos || at == 0 ? name : name.substr(at + 1);
}

static std::string Slashed(std::string path)
{
    for (char& c : path)
        if (c == '\\')
            c = '/';
    return path;
}

// Creates path and every missing folder above it (mkdir -p). False with errno set on failure.
static bool MakeFolders(const std::string& path)
{
    for (size_t at = 1; at <= path.size(); ++at) {
        if (at < path.size() && path[at] != '/')
            continue;
        std::string part = path.substr(0, at);
        struct stat info;
        if (stat(part.c_str(), &info) == 0) {
            if (!S_ISDIR(info.st_mode)) {
                errno = ENOTDIR;
                return false;
            }
        } else if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) {
            return false;
        }
    }
    return true;
}

// The archive as given, else with .zip, else with .ZIP added.
static bool FindArchive(const std::string& given, std::string& found)
{
    for (const char* extension : {"", ".zip", ".ZIP"}) {
        found = given + extension;
        if (Exists(found))
            return true;
    }
    return false;
}

// Reads the local header of entry: the name, flags, CRC and sizes that the engine will use.
// next receives where the record behind the entry starts when a data descriptor, if any, has
// its signature (the 16 bytes the engine passes over).
static bool ReadLocalHeader(FILE* file, const ArchiveEntry& central, ArchiveEntry& local, uint64_t& next)
{
    unsigned char fixed[LocalHeaderSize];
    if (fseeko(file, (off_t)central.HeaderOffset, SEEK_SET) != 0
        || fread(fixed, 1, sizeof fixed, file) != sizeof fixed || ReadLittle32(fixed) != LocalHeaderSignature)
        return false;
    local = central;
    local.Flags = ReadLittle16(fixed + 6);
    local.Method = ReadLittle16(fixed + 8);
    local.Crc = ReadLittle32(fixed + 14);
    local.CompressedSize = ReadLittle32(fixed + 18);
    local.UncompressedSize = ReadLittle32(fixed + 22);
    local.Name.assign(ReadLittle16(fixed + 26), '\0');
    next = central.HeaderOffset + LocalHeaderSize + local.Name.size() + ReadLittle16(fixed + 28) + local.CompressedSize
        + ((local.Flags & FlagDataDescriptor) ? DataDescriptorSize : 0);
    return local.Name.empty() || fread(&local.Name[0], 1, local.Name.size(), file) == local.Name.size();
}

// Why the engine cannot extract this entry faithfully, or empty. central and local describe the
// same entry; the engine reads only the local header.
static std::string CannotExtract(const ArchiveEntry& central, const ArchiveEntry& local, bool ignoreCrc)
{
    if (local.Method != MethodStored && local.Method != MethodDeflated)
        return "compression method " + std::to_string(local.Method)
            + " is not supported (only stored and deflated)";
    if (local.Flags & FlagStrongEncryption)
        return "strong encryption is not supported (only the traditional ZIP encryption)";
    if (!(local.Flags & FlagDataDescriptor))
        return std::string();
    if (local.CompressedSize == 0 && central.CompressedSize != 0)
        return "streamed entry: its sizes are only in the data descriptor after the data, which this "
               "extractor does not read";
    if (local.Crc == 0 && central.Crc != 0 && !ignoreCrc)
        return "streamed entry: its CRC-32 is only in the data descriptor after the data, which this "
               "extractor does not read (-i extracts it unchecked)";
    return std::string();
}

// Entries the NAMEs choose (all when none is given); each NAME that matches nothing is reported.
static std::vector<bool> ChooseEntries(
    const Options& options, const std::vector<ArchiveEntry>& entries, int& status)
{
    std::vector<bool> chosen(entries.size(), options.Names.empty());
    for (const std::string& pattern : options.Names) {
        bool matched = false;
        for (size_t i = 0; i < entries.size(); ++i)
            if (NameMatches(entries[i].Name, pattern))
                chosen[i] = matched = true;
        if (!matched) {
            Report(options.Archive, pattern, "no entry matches this name");
            status = WorseStatus(status, ExitNoMatch);
        }
    }
    return chosen;
}

static int OpenDirectory(const Options& options, const std::string& path, std::vector<ArchiveEntry>& entries,
                         uint64_t* directoryStart = nullptr)
{
    std::string reason;
    DirectoryStatus read = ReadCentralDirectory(path, entries, reason, directoryStart);
    if (read == DirectoryStatus::Read)
        return -1;
    Report(options.Archive, "", reason);
    return read == DirectoryStatus::Damaged ? ExitSevere : ExitNotFound;
}

int ListEntries(const Options& options)
{
    std::string path;
    if (!FindArchive(options.Archive, path)) {
        Report(options.Archive, "", "no such file (nor with .zip or .ZIP)");
        return ExitNotFound;
    }
    std::vector<ArchiveEntry> entries;
    int failed = OpenDirectory(options, path, entries);
    if (failed != -1)
        return failed;
    int status = ExitSuccess;
    std::vector<bool> chosen = ChooseEntries(options, entries, status);
    std::vector<ArchiveEntry> listed;
    for (size_t i = 0; i < entries.size(); ++i)
        if (chosen[i])
            listed.push_back(entries[i]);
    PrintListing(stdout, listed, options.Verbose, options.Quiet);
    return status;
}

// Applies the overwrite policy to the planned entries. Returns false when the run must stop;
// links receives the symbolic links that -o replaces.
static bool ApplyPolicy(const Options& options, Plan& plan, std::vector<std::string>& links)
{
    std::vector<PlannedEntry> kept;
    std::map<std::string, std::string> landedBy;   // output path -> the entry that lands there first
    size_t stopped = 0;
    bool clash = false;
    for (PlannedEntry& planned : plan.Run) {
        const std::string& name = planned.Entry.Name;
        auto first = landedBy.find(planned.Target);
        bool exists = Exists(planned.Target);
        std::string problem = first != landedBy.end()
            ? "lands on " + planned.Target + " like " + first->second
            : exists ? planned.Target + " exists" : std::string();
        if (problem.empty() || options.Policy == OverwritePolicy::Overwrite) {
            if (!problem.empty() && first != landedBy.end()) {
                Report(options.Archive, name, "replaces " + first->second + " at " + planned.Target);
                plan.Status = WorseStatus(plan.Status, ExitWarning);
            }
            struct stat info;
            if (exists && first == landedBy.end() && lstat(planned.Target.c_str(), &info) == 0
                && S_ISLNK(info.st_mode))
                links.push_back(planned.Target);
            landedBy.emplace(planned.Target, name);
            kept.push_back(planned);
        } else if (options.Policy == OverwritePolicy::Never) {
            Report(options.Archive, name, "skipped: " + problem);
            plan.Status = WorseStatus(plan.Status, ExitWarning);
        } else {
            // The first lines name the problem; a whole archive over its own earlier copy would
            // otherwise bury the hint.
            if (++stopped <= ShownClashes)
                Report(options.Archive, name, problem);
            clash = clash || first != landedBy.end();
        }
    }
    if (stopped > ShownClashes)
        Report(options.Archive, "", "and " + std::to_string(stopped - ShownClashes) + " more");
    if (stopped != 0) {
        fprintf(stderr, "tqunzip: nothing extracted: -o overwrites, -n keeps existing files%s\n",
                clash && !options.KeepPaths ? ", -k keeps the entries' folders apart" : "");
        plan.Status = WorseStatus(plan.Status, ExitWarning);
        return false;
    }
    plan.WholeArchive = plan.WholeArchive && kept.size() == plan.Run.size();
    plan.Run = kept;
    return true;
}

// The engine selects names without regard to letter case: an entry left out must not share its
// name with one that runs, or the engine would write it all the same.
static bool CheckLeftOut(const Options& options, const std::vector<ArchiveEntry>& candidates, const Plan& plan)
{
    std::set<std::string> running, lowered;
    for (const PlannedEntry& planned : plan.Run) {
        running.insert(planned.Entry.Name);
        std::string folded = Slashed(planned.Entry.Name);
        for (char& c : folded)
            c = (char)tolower((unsigned char)c);
        lowered.insert(folded);
    }
    for (const ArchiveEntry& entry : candidates) {
        std::string folded = Slashed(entry.Name);
        for (char& c : folded)
            c = (char)tolower((unsigned char)c);
        if (!running.count(entry.Name) && lowered.count(folded)) {
            Report(options.Archive, entry.Name, "cannot be left out: another entry of the same name but for "
                                                "letter case is extracted, and the extractor takes both");
            return false;
        }
    }
    return true;
}

int MakePlan(const Options& options, Plan& plan)
{
    std::string path;
    if (!FindArchive(options.Archive, path)) {
        Report(options.Archive, "", "no such file (nor with .zip or .ZIP)");
        return ExitNotFound;
    }
    uint64_t directoryStart = 0;
    int failed = OpenDirectory(options, path, plan.Entries, &directoryStart);
    if (failed != -1)
        return failed;
    // The engine adds ".ZIP" to a path without any dot; a "./" or "/." in front keeps the name.
    plan.EnginePath = path.find('.') != std::string::npos ? path : path[0] == '/' ? "/." + path : "./" + path;

    if (plan.Entries.empty()) {
        Report(options.Archive, "", "the archive holds no entries");
        return ExitWarning;
    }
    std::vector<bool> chosen = ChooseEntries(options, plan.Entries, plan.Status);
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr) {
        Report(options.Archive, "", strerror(errno));
        return ExitNotFound;
    }
    // Candidates: what the engine decodes when asked for everything, in file order.
    std::vector<ArchiveEntry> candidates;
    std::vector<size_t> candidateIndex;   // the candidate's central directory entry
    std::vector<std::string> folders;
    unsigned beforeOffset = 0;
    // Whether the entries follow each other without a gap from the start offset to the central
    // directory, so that the engine's walk meets exactly them. Only then may a run over every
    // entry go without a name list: a record the directory does not know would be written too.
    uint64_t expected = (uint64_t)options.StartOffset, expectedShort = expected;
    bool tiled = true;
    std::vector<size_t> order(plan.Entries.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return plan.Entries[a].HeaderOffset < plan.Entries[b].HeaderOffset;
    });
    for (size_t i : order) {
        const ArchiveEntry& central = plan.Entries[i];
        if (central.HeaderOffset < (uint64_t)options.StartOffset) {
            beforeOffset += chosen[i];
            continue;
        }
        ArchiveEntry local;
        uint64_t next = 0;
        if (!ReadLocalHeader(file, central, local, next)) {
            fclose(file);
            Report(options.Archive, central.Name,
                "damaged: no local header at offset " + std::to_string(central.HeaderOffset));
            return ExitSevere;
        }
        tiled = tiled && (central.HeaderOffset == expected || central.HeaderOffset == expectedShort);
        expected = next;
        // A descriptor without its signature is 12 bytes; the engine finds the record behind it.
        expectedShort = (local.Flags & FlagDataDescriptor) ? next - DescriptorSignature : next;
        if (IsFolderEntry(local.Name)) {
            if (chosen[i])
                folders.push_back(local.Name);
            continue;
        }
        if (options.SkipEmpty && local.UncompressedSize == 0)
            continue;
        candidates.push_back(local);
        candidateIndex.push_back(i);
    }
    fclose(file);
    tiled = tiled && (directoryStart == expected || directoryStart == expectedShort);
    if (beforeOffset != 0) {
        Report(options.Archive, "", std::to_string(beforeOffset) + " chosen entries stand before --offset "
                                    + std::to_string(options.StartOffset) + " and are left out");
        plan.Status = WorseStatus(plan.Status, ExitWarning);
    }

    bool skipped = false;
    bool extract = options.Mode == RunMode::Extract;
    for (size_t i = 0; i < candidates.size(); ++i) {
        if (!chosen[candidateIndex[i]]) {
            skipped = true;
            continue;
        }
        const ArchiveEntry& entry = candidates[i];
        std::string why = CannotExtract(plan.Entries[candidateIndex[i]], entry, options.IgnoreCrc);
        if (!why.empty()) {
            Report(options.Archive, entry.Name, "skipped: " + why);
            plan.Status = WorseStatus(plan.Status, ExitUnsupported);
            skipped = true;
            continue;
        }
        PlannedEntry planned{entry, std::string()};
        if (extract) {
            std::string below = options.KeepPaths
                ? entry.Name.substr(entry.Name[0] == '/' || entry.Name[0] == '\\')
                : EngineBaseName(entry.Name);
            std::string refusal = OutputNameRefusal(options.Destination, below);
            if (!refusal.empty()) {
                Report(options.Archive, entry.Name, "refused: " + refusal);
                plan.Status = WorseStatus(plan.Status, ExitDamaged);
                skipped = true;
                continue;
            }
            planned.Target = JoinPath(options.Destination, Slashed(below));
        }
        plan.Run.push_back(planned);
    }
    plan.WholeArchive = !skipped && tiled;
    if (!extract)
        return -1;

    std::vector<std::string> links;
    if (!ApplyPolicy(options, plan, links))
        return plan.Status;
    if (!CheckLeftOut(options, candidates, plan))
        return WorseStatus(plan.Status, ExitDamaged);
    // A link is replaced by the file, never written through to where it points.
    for (const std::string& link : links)
        unlink(link.c_str());

    if (plan.Run.empty() && folders.empty())
        return -1;
    // Folders: the destination with its parents, then (with -k) each entry's folders below it,
    // and the folder entries chosen. Every one of them passed the containment rule.
    std::vector<std::string> made;
    if (options.HasDestination)
        made.push_back(options.Destination);
    if (options.KeepPaths) {
        for (const PlannedEntry& planned : plan.Run) {
            size_t slash = planned.Target.find_last_of('/');
            if (slash != std::string::npos && slash != 0)
                made.push_back(planned.Target.substr(0, slash));
        }
        for (const std::string& folder : folders) {
            std::string below = Slashed(folder.substr(folder[0] == '/' || folder[0] == '\\'));
            if (CheckOutputName(nullptr, below.c_str()) == OutputNameSafe)
                made.push_back(JoinPath(options.Destination, below.substr(0, below.size() - 1)));
        }
    }
    for (const std::string& folder : made) {
        if (!MakeFolders(folder)) {
            Report(options.Archive, "", "cannot create the folder " + folder + ": " + strerror(errno));
            return WorseStatus(plan.Status, ExitDiskFull);
        }
    }
    return -1;
}
