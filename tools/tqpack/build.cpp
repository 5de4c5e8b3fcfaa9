// `tqpack build`: checks the inputs, then writes the distribution folder: setup.exe with its
// own time, the payload archive made from the payload folder, and the seven text files, which
// setup accepts only when they carry exactly setup.exe's last-write time.
#include "tqpack.h"

#include <cctype>
#include <map>

static std::string Upper(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// Canonical form of a folder that may not exist yet: the nearest existing ancestor resolved,
// the rest appended as given.
static std::string CanonicalTarget(const std::string& path)
{
    std::string existing = path;
    std::string rest;
    while (!existing.empty() && !IsDirectory(existing)) {
        std::string::size_type slash = existing.find_last_of('/');
        std::string last = slash == std::string::npos ? existing : existing.substr(slash + 1);
        if (last != "." && !last.empty())
            rest = rest.empty() ? last : last + "/" + rest;
        existing = slash == std::string::npos ? std::string() : existing.substr(0, slash);
        if (slash == 0)
            existing = "/";
    }
    std::string base = CanonicalFolder(existing.empty() ? "." : existing);
    return rest.empty() ? base : JoinPath(base, rest);
}

static bool IsSameOrInside(const std::string& inner, const std::string& outer)
{
    return inner == outer || (inner.size() > outer.size() && inner.compare(0, outer.size(), outer) == 0
                              && (outer.back() == '/' || inner[outer.size()] == '/'));
}

// Collects the payload files with the names they get in the archive. The main program may be
// given as "tessel32.ex_" (stored as it is) or as "TESSEL32.EXE" (stored as "tessel32.ex_"),
// in any letter case, but not both.
static bool CollectPayload(const std::string& folder, std::vector<PayloadFile>& files, Problems& problems)
{
    std::vector<std::string> names;
    if (!ListDirectory(folder, names)) {
        problems.push_back("cannot read the payload folder " + folder);
        return false;
    }
    size_t problemsBefore = problems.size();
    std::map<std::string, std::string> byUpperName; // Windows names ignore letter case
    std::string mainSource;
    for (const std::string& name : names) {
        std::string path = JoinPath(folder, name);
        if (name.back() == '/') {
            problems.push_back("payload folder holds the folder " + name + ": setup writes every entry "
                               "into the install folder itself, so the payload must be flat");
            continue;
        }
        if (!IsRegularFile(path)) {
            problems.push_back("payload " + name + " is not a regular file");
            continue;
        }
        std::string stored = name;
        std::string upper = Upper(name);
        if (upper == InstalledMainProgram || upper == Upper(PayloadMainProgram)) {
            if (!mainSource.empty()) {
                problems.push_back("payload holds the main program twice (" + mainSource + " and " + name
                                   + "); give either tessel32.ex_ or TESSEL32.EXE");
                continue;
            }
            mainSource = name;
            stored = PayloadMainProgram;
            upper = Upper(stored);
        }
        std::string reason = CheckPayloadName(stored);
        if (!reason.empty()) {
            problems.push_back("payload file name \"" + name + "\" cannot be extracted safely: " + reason);
            continue;
        }
        for (const char* text : TextFileNames)
            if (upper == text)
                reason = "setup copies the text file of that name over it";
        if (upper == "TQSHLSTB.DLL")
            reason = "setup writes its shell-extension stub under that name";
        if (!reason.empty()) {
            problems.push_back("payload file " + name + " would be lost: " + reason);
            continue;
        }
        auto known = byUpperName.find(upper);
        if (known != byUpperName.end()) {
            problems.push_back("payload files " + known->second + " and " + name
                               + " have the same name on Windows");
            continue;
        }
        byUpperName[upper] = name;
        files.push_back({stored, path});
    }
    if (mainSource.empty())
        problems.push_back("payload folder " + folder + " holds no main program (tessel32.ex_ or TESSEL32.EXE)");
    return problems.size() == problemsBefore;
}

static bool CopyWithTime(const std::string& source, const std::string& destination, int64_t ticks,
                         Problems& problems)
{
    std::vector<unsigned char> data;
    if (!ReadWholeFile(source, data, problems) || !WriteWholeFile(destination, data, problems))
        return false;
    if (!SetFileTime100ns(destination, ticks)) {
        problems.push_back("cannot set the time of " + destination);
        return false;
    }
    return true;
}

bool BuildDistribution(const BuildOptions& options, PackStats& stats, Problems& problems)
{
    size_t problemsBefore = problems.size();
    if (!IsRegularFile(options.SetupPath)) {
        problems.push_back("setup program " + options.SetupPath + " not found");
    } else {
        std::string reason = CheckSetupProgram(options.SetupPath);
        if (!reason.empty())
            problems.push_back("setup program " + options.SetupPath + " " + reason);
    }
    if (SigningWanted(options.Signing)) {
        std::string wrong = CheckSigningOptions(options.Signing);
        if (!wrong.empty())
            problems.push_back(wrong);
    }
    bool payloadThere = IsDirectory(options.PayloadFolder);
    if (!payloadThere)
        problems.push_back("payload folder " + options.PayloadFolder + " not found");
    if (!IsDirectory(options.TextsFolder)) {
        problems.push_back("text folder " + options.TextsFolder + " not found");
    } else {
        for (const char* name : TextFileNames)
            if (!IsRegularFile(JoinPath(options.TextsFolder, name)))
                problems.push_back("text file " + std::string(name) + " missing from " + options.TextsFolder);
    }
    std::vector<PayloadFile> files;
    if (payloadThere) {
        std::string payload = CanonicalFolder(options.PayloadFolder);
        std::string out = CanonicalTarget(options.OutFolder);
        if (IsSameOrInside(out, payload))
            problems.push_back("output folder " + options.OutFolder + " is the payload folder or lies "
                               "inside it");
        else
            CollectPayload(options.PayloadFolder, files, problems);
    }
    if (problems.size() != problemsBefore)
        return false;

    int64_t setupTicks = 0;
    if (!GetFileTime100ns(options.SetupPath, setupTicks)) {
        problems.push_back("cannot read the time of " + options.SetupPath);
        return false;
    }
    if (!MakeDirectory(options.OutFolder)) {
        problems.push_back("cannot create the output folder " + options.OutFolder);
        return false;
    }
    // Signing writes setup.exe anew, so it comes first: the signed file's time is the one the
    // text files must carry.
    std::string setup = JoinPath(options.OutFolder, SetupProgramName);
    if (SigningWanted(options.Signing)) {
        if (!SignProgram(options.Signing, options.SetupPath, setup, problems) || !GetFileTime100ns(setup, setupTicks))
            return false;
    } else if (!CopyWithTime(options.SetupPath, setup, setupTicks, problems)) {
        return false;
    }
    // Every file that setup compares carries setupTicks to the 100-ns tick.
    for (const char* name : TextFileNames)
        if (!CopyWithTime(JoinPath(options.TextsFolder, name), JoinPath(options.OutFolder, name),
                          setupTicks, problems))
            return false;
    std::string archive = JoinPath(options.OutFolder, PayloadArchiveName);
    ProgressBar bar;
    StartProgress(bar, stderr, FilesSize(files), options.ShowProgress);
    ArchiveOptions archiveOptions;
    archiveOptions.Password = options.Password;
    archiveOptions.UseCompressor = options.UseCompressor;
    if (!WriteArchive(archive, files, archiveOptions, stats, problems, &bar))
        return false;
    SetFileTime100ns(archive, setupTicks); // not checked by setup; keeps the folder uniform
    return true;
}
