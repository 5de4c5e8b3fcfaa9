// What tqunzip decides before the engine runs. The engine extracts every entry whose name is on
// the request's list and creates each output file over whatever stands there; it neither makes
// folders nor matches patterns. So the tool reads the central directory and each chosen entry's
// local header (the engine's view of the entry), matches the NAMEs, leaves out what the engine
// cannot extract faithfully (other methods, streamed entries), works out each output path by the
// engine's own rules, applies the overwrite policy and only then creates folders.
//
// An archive of thousands of small entries in a few hundred folders costs the plan little per
// entry: the local headers come in reads of many at once, names and output files are looked up
// in hash tables, and each folder is looked at once (FolderCache): a file below a folder that
// does not exist yet needs no look of its own, and a folder known to stand no second one.
#include "tools/tqunzip/tqunzip.h"
#include "util/bytes.h"

#include "unzip/unzip.h"

#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <unordered_map>

constexpr uint32_t LocalHeaderSignature = 0x04034b50;
constexpr size_t LocalHeaderSize = 30;        // signature included, APPNOTE 4.3.7
constexpr size_t ShownClashes = 10;           // clashes named before "and N more"
constexpr uint64_t DataDescriptorSize = 16;   // with its signature, APPNOTE 4.3.9
constexpr uint64_t DescriptorSignature = 4;
constexpr size_t HeaderSpan = 262144;         // local headers read together at most this far apart

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

// The folder that holds path: "." for a bare name, "/" for one at the root.
static std::string ParentFolder(const std::string& path)
{
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// What stands at a folder path, each path looked at once. Below a path where no folder stands,
// nothing can stand either: that needs no look (the system resolves "a/.." through "a" too).
enum class Standing : uint8_t { Missing, Folder, Made, Other };   // Made: a folder this run made
using FolderCache = std::unordered_map<std::string, Standing>;

static bool IsFolder(Standing standing)
{
    return standing == Standing::Folder || standing == Standing::Made;
}

static Standing FolderStanding(FolderCache& cache, const std::string& path)
{
    auto known = cache.find(path);
    if (known != cache.end())
        return known->second;
    Standing standing;
    std::string parent = ParentFolder(path);
    if (parent != path && parent != "." && !IsFolder(FolderStanding(cache, parent))) {
        standing = Standing::Missing;
    } else {
        struct stat info;
        standing = stat(path.c_str(), &info) != 0 ? Standing::Missing
            : S_ISDIR(info.st_mode)                ? Standing::Folder
                                                   : Standing::Other;
    }
    cache.emplace(path, standing);
    return standing;
}

// Creates path and every missing folder above it (mkdir -p). False with errno set on failure.
static bool MakeFolders(FolderCache& cache, const std::string& path)
{
    Standing standing = FolderStanding(cache, path);
    if (IsFolder(standing))
        return true;
    if (standing == Standing::Other) {
        errno = ENOTDIR;
        return false;
    }
    std::string parent = ParentFolder(path);
    if (parent != path && parent != "." && !MakeFolders(cache, parent))
        return false;
    if (mkdir(path.c_str(), 0777) != 0) {
        // Another name of a folder made already, on a file system that ignores letter case, is
        // that folder; a link that leads nowhere is no folder.
        if (errno != EEXIST)
            return false;
        struct stat info;
        if (stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
            errno = EEXIST;
            return false;
        }
        cache[path] = Standing::Folder;
        return true;
    }
    cache[path] = Standing::Made;
    return true;
}

// Whether files created in folder take their mode from a default access list (POSIX.1e ACL)
// instead of the umask. A folder this run made has the list of the folder above it, if any;
// another one is asked once.
static bool HasDefaultAcl(FolderCache& folders, std::unordered_map<std::string, bool>& known,
                          const std::string& folder)
{
    auto found = known.find(folder);
    if (found != known.end())
        return found->second;
    std::string parent = ParentFolder(folder);
    bool has;
    if (FolderStanding(folders, folder) == Standing::Made && parent != folder)
        has = HasDefaultAcl(folders, known, parent);
    else
        has = getxattr(folder.c_str(), "system.posix_acl_default", nullptr, 0) >= 0
            || (errno != ENODATA && errno != ENOTSUP);
    known.emplace(folder, has);
    return has;
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

// The fixed parts of the local headers, read in file order: a header comes in one read with
// those behind it that start within HeaderSpan bytes of it, so that the headers of small
// entries cost a read per span, those of large ones a read of their own.
struct HeaderReader {
    int File = -1;
    std::vector<unsigned char> Bytes;
    uint64_t Start = 0;   // the file position of Bytes[0]
};

// The fixed part of the local header at offsets[k]; offsets are in file order. Null where the
// file ends before it.
static const unsigned char* HeaderBytes(HeaderReader& reader, const std::vector<uint64_t>& offsets, size_t k)
{
    uint64_t at = offsets[k];
    if (at < reader.Start || at + LocalHeaderSize > reader.Start + reader.Bytes.size()) {
        uint64_t end = at + LocalHeaderSize;
        for (size_t j = k + 1; j < offsets.size() && offsets[j] + LocalHeaderSize - at <= HeaderSpan; ++j)
            end = std::max(end, offsets[j] + LocalHeaderSize);
        reader.Bytes.resize((size_t)(end - at));
        ssize_t got = pread(reader.File, reader.Bytes.data(), reader.Bytes.size(), (off_t)at);
        reader.Bytes.resize(got < 0 ? 0 : (size_t)got);
        reader.Start = at;
        if (reader.Bytes.size() < LocalHeaderSize)
            return nullptr;
    }
    return reader.Bytes.data() + (at - reader.Start);
}

// Reads the local header of entry (offsets[k]): the flags and method that the engine will use.
// Name, sizes and CRC-32 stay the central directory's, which the engine is given. next receives
// where the record behind the entry starts when a data descriptor, if any, has its signature.
static bool ReadLocalHeader(HeaderReader& reader, const std::vector<uint64_t>& offsets, size_t k,
                            const ArchiveEntry& central, ArchiveEntry& local, uint64_t& next)
{
    const unsigned char* fixed = HeaderBytes(reader, offsets, k);
    if (fixed == nullptr || ReadLittle32(fixed) != LocalHeaderSignature)
        return false;
    local = central;
    local.Flags = ReadLittle16(fixed + 6);
    local.Method = ReadLittle16(fixed + 8);
    next = central.HeaderOffset + LocalHeaderSize + ReadLittle16(fixed + 26) + ReadLittle16(fixed + 28)
        + central.CompressedSize + ((local.Flags & FlagDataDescriptor) ? DataDescriptorSize : 0);
    return true;
}

// The entries a NAME matches, by their index. A NAME without "*", "?" or "[" matches the names
// equal to it but for "\\" as "/" (and letter case under -C): those are looked up in a table of
// the names, made on the first such NAME, so that a long list of names costs no scan per name.
struct NameIndex {
    bool Made = false;
    std::unordered_multimap<std::string, size_t> Entries;
};

static std::vector<size_t> Matching(const Options& options, const std::vector<ArchiveEntry>& entries,
                                    NameIndex& index, const std::string& pattern)
{
    std::vector<size_t> found;
    if (pattern.find_first_of("*?[") != std::string::npos) {
        for (size_t i = 0; i < entries.size(); ++i)
            if (NameMatches(entries[i].Name, pattern, options.IgnoreCase))
                found.push_back(i);
        return found;
    }
    auto key = [&](const std::string& name) { return options.IgnoreCase ? FoldedName(name) : Slashed(name); };
    if (!index.Made) {
        index.Entries.reserve(entries.size());
        for (size_t i = 0; i < entries.size(); ++i)
            index.Entries.emplace(key(entries[i].Name), i);
        index.Made = true;
    }
    auto range = index.Entries.equal_range(key(pattern));
    for (auto at = range.first; at != range.second; ++at)
        found.push_back(at->second);
    return found;
}

// Entries the NAMEs choose (all when none is given) less those an exclusion matches; each NAME
// that matches nothing is reported.
static std::vector<bool> ChooseEntries(
    const Options& options, const std::vector<ArchiveEntry>& entries, int& status)
{
    std::vector<bool> chosen(entries.size(), options.Names.empty());
    NameIndex index;
    for (const std::string& pattern : options.Names) {
        std::vector<size_t> found = Matching(options, entries, index, pattern);
        for (size_t i : found)
            chosen[i] = true;
        if (found.empty()) {
            Report(options.Archive, pattern, "no entry matches this name");
            status = WorseStatus(status, ExitNoMatch);
        }
    }
    for (const std::string& pattern : options.Exclusions)
        for (size_t i : Matching(options, entries, index, pattern))
            chosen[i] = false;
    return chosen;
}

static int OpenDirectory(const Options& options, const std::string& path, std::vector<ArchiveEntry>& entries,
                         ArchiveLayout* layout = nullptr)
{
    std::string reason;
    DirectoryStatus read = ReadCentralDirectory(path, entries, reason, layout);
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
    ArchiveLayout layout;
    int failed = OpenDirectory(options, path, entries, &layout);
    if (failed != -1)
        return failed;
    int status = ExitSuccess;
    std::vector<bool> chosen = ChooseEntries(options, entries, status);
    // Where the entries' offsets begin to count from, when something stands in front.
    if (options.Verbose && options.Quiet == 0 && layout.Prefix != 0)
        printf("Archive at offset %llu, behind other data (a program, for instance)\n",
               (unsigned long long)layout.Prefix);
    std::vector<ArchiveEntry> listed;
    for (size_t i = 0; i < entries.size(); ++i)
        if (chosen[i])
            listed.push_back(entries[i]);
    PrintListing(stdout, listed, options.Verbose, options.Quiet > 0, MethodBzip2);
    return status;
}

std::string FoldedName(const std::string& name)
{
    std::string folded = Slashed(name);
    for (char& c : folded)
        c = (char)tolower((unsigned char)c);
    return folded;
}

std::string LandingKey(const std::string& target, bool foldCase)
{
    std::string key;
    key.reserve(target.size());
    size_t start = 0;
    if (!target.empty() && target[0] == '/')
        key = "/";
    while (start <= target.size()) {
        size_t end = target.find('/', start);
        if (end == std::string::npos)
            end = target.size();
        size_t length = end - start;
        if (length != 0 && !(length == 1 && target[start] == '.')) {
            if (!key.empty() && key.back() != '/')
                key += '/';
            key.append(target, start, length);
        }
        start = end + 1;
    }
    if (key.empty())
        key = ".";
    if (foldCase)
        for (char& c : key)
            c = (char)tolower((unsigned char)c);
    return key;
}

// Whether the file system under path (the nearest folder of it that exists) takes names without
// regard to letter case: a probe file made there is looked up in the other case.
static bool FoldsCase(const std::string& path)
{
    std::string folder = path.empty() ? "." : path;
    struct stat info;
    while (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        size_t slash = folder.find_last_of('/');
        folder = slash == std::string::npos ? "." : slash == 0 ? "/" : folder.substr(0, slash);
    }
    std::string probe = JoinPath(folder, "tqunzip-case-probe-XXXXXX");
    int file = mkstemp(&probe[0]);
    if (file < 0)
        return false;
    close(file);
    std::string other = probe;
    for (size_t i = probe.size() - 6; i < probe.size(); ++i)
        other[i] = islower((unsigned char)probe[i]) ? (char)toupper((unsigned char)probe[i])
                                                   : (char)tolower((unsigned char)probe[i]);
    // "tqunzip-case-probe" is lower case, so the name differs even when the random part has no letter.
    for (size_t i = probe.size() - 24; i < probe.size() - 7; ++i)
        other[i] = (char)toupper((unsigned char)other[i]);
    bool folds = stat(other.c_str(), &info) == 0;
    unlink(probe.c_str());
    return folds;
}

// Applies the overwrite policy to the planned entries: to files already present and to entries
// that land on one output file (by LandingKey) or on a folder another entry needs. Returns false
// when the run must stop; links receives the symbolic links that -o replaces. folders learns
// what stands at the folders of the output files.
static bool ApplyPolicy(const Options& options, Plan& plan,
                        const std::vector<std::pair<std::string, std::string>>& folderEntries,
                        std::vector<std::string>& links, FolderCache& folders)
{
    bool foldCase = plan.FoldsCase = FoldsCase(options.Destination);
    std::vector<std::string> keys(plan.Run.size());
    for (size_t i = 0; i < plan.Run.size(); ++i)
        keys[i] = LandingKey(plan.Run[i].Target, foldCase);
    // Every folder some entry needs: those above each file and the folder entries, each with the
    // first entry that needs it. A key's folders go in from the deepest up: one found already
    // was entered with all those above it, by the same entry or an earlier one.
    std::unordered_map<std::string, std::string> neededBy;   // folder key -> entry name
    auto need = [&](const std::string& key, const std::string& name) {
        for (size_t slash = key.rfind('/'); slash != std::string::npos && slash != 0; slash = key.rfind('/', slash - 1)) {
            std::string folder = key.substr(0, slash);
            if (neededBy.count(folder) != 0)
                break;
            neededBy.emplace(std::move(folder), name);
        }
    };
    for (size_t i = 0; i < plan.Run.size(); ++i)
        need(keys[i], plan.Run[i].Entry.Name);
    for (const auto& folder : folderEntries)
        need(LandingKey(folder.first, foldCase) + "/", folder.second);

    std::vector<PlannedEntry> kept;
    std::vector<std::string> keptKeys;
    std::unordered_map<std::string, std::string> landedBy;   // output key -> the entry that lands there first
    size_t stopped = 0;
    bool clash = false, shared = false;   // shared: some entries kept land on one file
    for (size_t i = 0; i < plan.Run.size(); ++i) {
        PlannedEntry& planned = plan.Run[i];
        const std::string& name = planned.Entry.Name;
        const std::string& key = keys[i];
        auto folder = neededBy.find(key);
        if (folder != neededBy.end()) {
            // Neither -o nor -n makes one path a file and a folder.
            std::string problem = planned.Target + " would be a folder for " + folder->second;
            if (options.Policy == OverwritePolicy::Stop) {
                if (++stopped <= ShownClashes)
                    Report(options.Archive, name, problem);
                clash = true;
            } else {
                ReportWarning(options.Archive, name, "skipped: " + problem);
                plan.Status = WorseStatus(plan.Status, ExitWarning);
            }
            continue;
        }
        auto first = landedBy.find(key);
        struct stat info;
        // Nothing stands below a folder that does not exist yet.
        bool exists = IsFolder(FolderStanding(folders, ParentFolder(planned.Target)))
            && lstat(planned.Target.c_str(), &info) == 0;
        std::string problem = first != landedBy.end()
            ? "lands on " + planned.Target + " like " + first->second
            : exists ? planned.Target + " exists" : std::string();
        if (problem.empty() || options.Policy == OverwritePolicy::Overwrite) {
            if (!problem.empty() && first != landedBy.end()) {
                ReportWarning(options.Archive, name, "replaces " + first->second + " at " + planned.Target);
                plan.Status = WorseStatus(plan.Status, ExitWarning);
            }
            if (exists && first == landedBy.end() && S_ISLNK(info.st_mode))
                links.push_back(planned.Target);
            shared = shared || first != landedBy.end();
            if (first == landedBy.end())
                landedBy.emplace(key, name);
            planned.Replaces = exists;
            kept.push_back(std::move(planned));
            keptKeys.push_back(std::move(keys[i]));
        } else if (options.Policy == OverwritePolicy::Never) {
            // As unzip -n: what exists, or was written first, stays, without a word.
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
                clash && !options.KeepPaths ? ", without -j the entries' folders stay apart" : "");
        plan.Status = WorseStatus(plan.Status, ExitWarning);
        return false;
    }
    size_t plannedCount = plan.Run.size();
    plan.Run.clear();
    if (!shared) {
        for (PlannedEntry& each : kept) {
            each.Fresh = !each.Replaces;   // the engine creates the file afresh: the mode is the one of creation
            plan.Run.push_back(std::move(each));
        }
        plan.WholeArchive = plan.WholeArchive && plan.Run.size() == plannedCount;
        return true;
    }
    // Under -o only the last entry on a file needs writing: the earlier ones would be replaced
    // (the engine writes the entries it is given, whatever their names). That one makes its
    // file afresh unless a file stood there.
    std::unordered_map<std::string, size_t> lastOnKey;
    for (size_t i = 0; i < kept.size(); ++i)
        lastOnKey[keptKeys[i]] = i;
    for (size_t i = 0; i < kept.size(); ++i)
        if (lastOnKey[keptKeys[i]] == i) {
            kept[i].Fresh = !kept[i].Replaces;
            plan.Run.push_back(std::move(kept[i]));
        }
    plan.WholeArchive = plan.WholeArchive && plan.Run.size() == plannedCount;
    return true;
}

int MakePlan(const Options& options, Plan& plan)
{
    std::string path;
    if (!FindArchive(options.Archive, path)) {
        // "-j 2" of earlier versions: the number is now taken for the archive.
        bool number = !options.KeepPaths && options.Archive.find_first_not_of("0123456789") == std::string::npos;
        Report(options.Archive, "", std::string("no such file (nor with .zip or .ZIP)")
                                        + (number ? "; -j junks folders, --jobs=N runs N processes" : ""));
        return ExitNotFound;
    }
    ArchiveLayout layout;
    int failed = OpenDirectory(options, path, plan.Entries, &layout);
    uint64_t directoryStart = layout.DirectoryStart;
    if (failed != -1)
        return failed;
    // The engine adds ".ZIP" to a path without any dot; a "./" or "/." in front keeps the name.
    plan.EnginePath = path.find('.') != std::string::npos ? path : path[0] == '/' ? "/." + path : "./" + path;

    if (plan.Entries.empty()) {
        Report(options.Archive, "", "the archive holds no entries");
        return ExitWarning;
    }
    std::vector<bool> chosen = ChooseEntries(options, plan.Entries, plan.Status);
    HeaderReader reader;
    int file = reader.File = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (file < 0) {
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
    std::vector<uint64_t> offsets(order.size());
    for (size_t k = 0; k < order.size(); ++k)
        offsets[k] = plan.Entries[order[k]].HeaderOffset;
    for (size_t k = 0; k < order.size(); ++k) {
        size_t i = order[k];
        const ArchiveEntry& central = plan.Entries[i];
        if (central.HeaderOffset < (uint64_t)options.StartOffset) {
            beforeOffset += chosen[i];
            continue;
        }
        ArchiveEntry local;
        uint64_t next = 0;
        // An entry beyond what the engine addresses is refused by its central header alone.
        bool beyond = central.HeaderOffset + central.CompressedSize > (uint64_t)INT32_MAX;
        if (beyond)
            local = central;
        else if (!ReadLocalHeader(reader, offsets, k, central, local, next)) {
            close(file);
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
        candidates.push_back(std::move(local));
        candidateIndex.push_back(i);
    }
    close(file);
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
        int refused = ExitSuccess;
        std::string why = EntryRefusal(plan.Entries[candidateIndex[i]], entry.Method, entry.Flags, refused);
        if (!why.empty()) {
            Report(options.Archive, entry.Name, "skipped: " + why);
            plan.Status = WorseStatus(plan.Status, refused);
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
        plan.Run.push_back(std::move(planned));
    }
    plan.WholeArchive = !skipped && tiled;
    if (!extract)
        return -1;

    // The folders of the chosen folder entries, kept with the entries' folders; every one of
    // them passed the containment rule.
    std::vector<std::pair<std::string, std::string>> folderTargets;   // output path, entry
    if (options.KeepPaths)
        for (const std::string& folder : folders) {
            std::string below = Slashed(folder.substr(folder[0] == '/' || folder[0] == '\\'));
            if (CheckOutputName(nullptr, below.c_str()) == OutputNameSafe)
                folderTargets.push_back({JoinPath(options.Destination, below.substr(0, below.size() - 1)), folder});
        }
    std::vector<std::string> links;
    FolderCache standing;
    if (!ApplyPolicy(options, plan, folderTargets, links, standing))
        return plan.Status;
    // A link is replaced by the file, never written through to where it points.
    for (const std::string& link : links)
        unlink(link.c_str());

    if (plan.Run.empty() && folderTargets.empty())
        return -1;
    // Folders: the destination with its parents, then each entry's folders below it and the
    // folder entries chosen.
    auto make = [&](const std::string& folder) {
        if (MakeFolders(standing, folder))
            return true;
        Report(options.Archive, "", "cannot create the folder " + folder + ": " + strerror(errno));
        return false;
    };
    if (options.HasDestination && !make(options.Destination))
        return WorseStatus(plan.Status, ExitDiskFull);
    for (const PlannedEntry& planned : plan.Run) {
        size_t slash = planned.Target.find_last_of('/');
        if (options.KeepPaths && slash != std::string::npos && slash != 0 && !make(planned.Target.substr(0, slash)))
            return WorseStatus(plan.Status, ExitDiskFull);
    }
    for (const auto& folder : folderTargets)
        if (!make(folder.first))
            return WorseStatus(plan.Status, ExitDiskFull);
    // A new file under a default access list has that list's mode, not the one of creation.
    std::unordered_map<std::string, bool> acl;
    for (PlannedEntry& planned : plan.Run)
        if (planned.Fresh && HasDefaultAcl(standing, acl, ParentFolder(planned.Target)))
            planned.Fresh = false;
    return -1;
}
