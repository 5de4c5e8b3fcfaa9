// Authenticode signatures of setup.exe and of the download, made and checked by Debian's
// osslsigncode (and openssl for the certificates a signature carries).
//
// Signing: SHA-256, from a PKCS#12 file or a key and a certificate; the key's password is read
// by tqpack from a file or the environment and handed to osslsigncode on a pipe ("-readpass -"),
// so it never appears on a command line that other users can read in the process list.
//
// Checking answers two questions apart. Whether the signature holds: the digest osslsigncode
// computes over the file (everything but the checksum, the certificate directory entry and the
// certificate table) must equal the signed one, and the signature over it must verify with the
// signer's certificate; the certificates the signature carries are offered as roots for this
// run, so a vendor's test certificate does not make it fail. Whether the certificate chains to a
// root of the system's store: a second run with the store alone, reported beside the answer and
// never a failure. Revocation lists are not fetched, and a time stamp is not checked.
#include "tqpack.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

constexpr const char SignerProgram[] = "osslsigncode";
constexpr const char CertificateTool[] = "openssl";
// Debian's store of trusted roots (package ca-certificates), osslsigncode's default too.
constexpr const char SystemRoots[] = "/etc/ssl/certs/ca-certificates.crt";
constexpr int ProgramNotFound = 127; // the shell's status for a command that cannot be run
constexpr size_t CertificateTableAlignment = 8;

// Runs a program (found on PATH) with input on its standard input; its standard output and
// error together go to output. Returns its exit status, or -1 when it did not exit normally.
static int RunProgram(const std::vector<std::string>& arguments, const std::string& input, std::string& output)
{
    int toChild[2], fromChild[2];
    if (pipe(toChild) != 0)
        return -1;
    if (pipe(fromChild) != 0) {
        close(toChild[0]);
        close(toChild[1]);
        return -1;
    }
    pid_t child = fork();
    if (child == 0) {
        dup2(toChild[0], STDIN_FILENO);
        dup2(fromChild[1], STDOUT_FILENO);
        dup2(fromChild[1], STDERR_FILENO);
        close(toChild[0]);
        close(toChild[1]);
        close(fromChild[0]);
        close(fromChild[1]);
        std::vector<char*> argv;
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(ProgramNotFound);
    }
    close(toChild[0]);
    close(fromChild[1]);
    if (child > 0 && !input.empty()) {
        // The input is a password or nothing, far below a pipe's capacity. A program that ends
        // without reading it must not end tqpack with SIGPIPE.
        void (*previous)(int) = signal(SIGPIPE, SIG_IGN);
        ssize_t written = write(toChild[1], input.data(), input.size());
        (void)written;
        signal(SIGPIPE, previous);
    }
    close(toChild[1]);
    char buffer[4096];
    ssize_t count;
    while ((count = read(fromChild[0], buffer, sizeof buffer)) > 0 || (count < 0 && errno == EINTR))
        if (count > 0)
            output.append(buffer, static_cast<size_t>(count));
    close(fromChild[0]);
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

// The reason a program gives for failing: the text of its first "Error: " line, or else of the
// first line that names an error, or else its last line. (osslsigncode's report and OpenSSL's
// error queue come on two streams, so their order in output is not fixed.)
static std::string ErrorLine(const std::string& output)
{
    std::string last, stated, named;
    size_t start = 0;
    while (start < output.size()) {
        size_t end = output.find('\n', start);
        std::string line = output.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? output.size() : end + 1;
        size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos)
            continue;
        line = line.substr(first);
        last = line;
        if (line.compare(0, 7, "Error: ") == 0 && stated.empty())
            stated = line.substr(7);
        if (line.find("rror") != std::string::npos && named.empty())
            named = line;
    }
    return !stated.empty() ? stated : !named.empty() ? named : last;
}

// A private folder for the checks' files, removed by the caller.
static std::string MakeScratchFolder()
{
    const char* temporary = std::getenv("TMPDIR");
    std::string pattern = JoinPath(temporary && *temporary ? temporary : "/tmp", "tqpack-sign-XXXXXX");
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    return mkdtemp(name.data()) ? std::string(name.data()) : std::string();
}

static void RemoveScratchFiles(const std::string& folder, const std::vector<std::string>& names)
{
    for (const std::string& name : names)
        std::remove(JoinPath(folder, name).c_str());
    rmdir(folder.c_str());
}

bool SigningWanted(const SigningOptions& options)
{
    return !options.Pkcs12Path.empty() || !options.KeyPath.empty() || !options.CertificatePath.empty()
           || !options.PasswordFile.empty() || !options.PasswordVariable.empty() || !options.TimestampUrl.empty();
}

std::string CheckSigningOptions(const SigningOptions& options)
{
    bool pkcs12 = !options.Pkcs12Path.empty();
    bool pair = !options.KeyPath.empty() || !options.CertificatePath.empty();
    if (pkcs12 && pair)
        return "--sign-pkcs12 or --sign-key with --sign-cert, not both";
    if (!pkcs12 && (options.KeyPath.empty() || options.CertificatePath.empty()))
        return pair ? "--sign-key and --sign-cert go together"
                    : "signing needs --sign-pkcs12, or --sign-key with --sign-cert";
    if (!options.PasswordFile.empty() && !options.PasswordVariable.empty())
        return "--sign-pass-file or --sign-pass-env, not both";
    return std::string();
}

// The key's password: the first line of the file, or the variable's value; empty for none.
static bool ReadPassword(const SigningOptions& options, std::string& password, Problems& problems)
{
    password.clear();
    if (!options.PasswordVariable.empty()) {
        const char* value = std::getenv(options.PasswordVariable.c_str());
        if (!value) {
            problems.push_back("the environment variable " + options.PasswordVariable + " (--sign-pass-env) is not set");
            return false;
        }
        password = value;
    } else if (!options.PasswordFile.empty()) {
        std::vector<unsigned char> bytes;
        if (!ReadWholeFile(options.PasswordFile, bytes, problems))
            return false;
        password.assign(bytes.begin(), bytes.end());
        password = password.substr(0, password.find_first_of("\r\n"));
    }
    return true;
}

bool SignProgram(const SigningOptions& options, const std::string& inPath, const std::string& outPath,
                 Problems& problems)
{
    std::string wrong = CheckSigningOptions(options);
    if (!wrong.empty()) {
        problems.push_back(wrong);
        return false;
    }
    std::string password;
    if (!ReadPassword(options, password, problems))
        return false;
    // osslsigncode will not write over its input, and a failed run must not leave half a file.
    std::string signedPath = outPath + ".signing";
    std::vector<std::string> arguments = {SignerProgram, "sign"};
    if (!options.Pkcs12Path.empty())
        arguments.insert(arguments.end(), {"-pkcs12", options.Pkcs12Path});
    else
        arguments.insert(arguments.end(), {"-certs", options.CertificatePath, "-key", options.KeyPath});
    if (!password.empty())
        arguments.insert(arguments.end(), {"-readpass", "-"});
    arguments.insert(arguments.end(), {"-h", "sha256"});
    if (!options.TimestampUrl.empty())
        arguments.insert(arguments.end(), {"-ts", options.TimestampUrl});
    arguments.insert(arguments.end(), {"-in", inPath, "-out", signedPath});
    std::remove(signedPath.c_str());
    std::string output;
    int status = RunProgram(arguments, password, output);
    if (status == ProgramNotFound) {
        problems.push_back("cannot sign " + inPath + ": osslsigncode is not installed (Debian package osslsigncode)");
        return false;
    }
    if (status != 0 || !IsRegularFile(signedPath)) {
        std::remove(signedPath.c_str());
        problems.push_back("osslsigncode could not sign " + inPath + ": " + ErrorLine(output));
        return false;
    }
    if (std::rename(signedPath.c_str(), outPath.c_str()) != 0) {
        std::remove(signedPath.c_str());
        problems.push_back("cannot write the signed " + outPath);
        return false;
    }
    return true;
}

// The subject of the first signer's certificate in osslsigncode's verify report.
static std::string SignerSubject(const std::string& output)
{
    size_t signer = output.find("Signer's certificate:");
    size_t subject = output.find("Subject:", signer == std::string::npos ? 0 : signer);
    if (subject == std::string::npos)
        return std::string();
    size_t start = output.find_first_not_of(' ', subject + 8);
    size_t end = output.find('\n', start);
    return output.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

SignatureReport CheckSignature(const std::string& path)
{
    SignatureReport report;
    std::vector<unsigned char> bytes;
    Problems unread;
    ProgramHeaders headers;
    if (!ReadWholeFile(path, bytes, unread) || !ReadProgramHeaders(bytes, headers) || headers.CertificateSize == 0)
        return report;
    report.State = SignatureState::Broken;
    uint64_t tableEnd = static_cast<uint64_t>(headers.CertificateStart) + headers.CertificateSize;
    if (tableEnd > bytes.size()) {
        report.Reason = "its certificate table reaches past the end of the file (cut short?)";
        return report;
    }
    // The table ends the file, up to the padding of its last entry to 8 bytes.
    if (bytes.size() - tableEnd >= CertificateTableAlignment) {
        report.Reason = std::to_string(bytes.size() - tableEnd) + " bytes were added behind the certificate "
                        "table after signing";
        return report;
    }

    std::string scratch = MakeScratchFolder();
    if (scratch.empty()) {
        report.Reason = "not checked: no scratch folder for the signature's certificates";
        return report;
    }
    std::string signature = JoinPath(scratch, "signature.pem");
    std::string carried = JoinPath(scratch, "carried.pem");
    std::string roots = JoinPath(scratch, "roots.pem");
    std::string output;
    int extracted = RunProgram({SignerProgram, "extract-signature", "-pem", "-in", path, "-out", signature},
                               std::string(), output);
    if (extracted == ProgramNotFound) {
        report.Reason = "not checked: osslsigncode is not installed (Debian package osslsigncode)";
        RemoveScratchFiles(scratch, {});
        return report;
    }
    output.clear();
    int printed = extracted != 0 ? -1
                                 : RunProgram({CertificateTool, "pkcs7", "-in", signature, "-print_certs", "-out",
                                               carried}, std::string(), output);
    // The roots of this run: what the signature carries, and the system's store.
    std::vector<unsigned char> rootBytes, systemRoots;
    Problems ignored;
    if (printed == 0)
        ReadWholeFile(carried, rootBytes, ignored);
    if (ReadWholeFile(SystemRoots, systemRoots, ignored))
        rootBytes.insert(rootBytes.end(), systemRoots.begin(), systemRoots.end());
    WriteWholeFile(roots, rootBytes, ignored);

    output.clear();
    int verified = RunProgram({SignerProgram, "verify", "-ignore-cdp", "-ignore-timestamp", "-CAfile", roots, "-in",
                               path}, std::string(), output);
    report.Subject = SignerSubject(output);
    if (report.Subject.empty() && printed == 0) {
        // osslsigncode names no signer when the digest differs; the signature's first
        // certificate is the signer's as signers write it.
        std::vector<unsigned char> text;
        if (ReadWholeFile(carried, text, ignored)) {
            std::string certificates(text.begin(), text.end());
            size_t subject = certificates.find("subject=");
            if (subject != std::string::npos)
                report.Subject = certificates.substr(subject + 8, certificates.find('\n', subject) - subject - 8);
        }
    }
    if (verified == 0) {
        report.State = SignatureState::Intact;
    } else if (output.find("MISMATCH") != std::string::npos) {
        report.Reason = "the file's bytes changed after signing (the digest over them differs from the signed one)";
    } else if (extracted != 0 || output.find("No signature found") != std::string::npos) {
        report.Reason = "its certificate table holds no signature that osslsigncode can read";
    } else {
        report.Reason = "osslsigncode: " + ErrorLine(output);
    }
    if (report.State == SignatureState::Intact) {
        std::string trust;
        report.Trusted = RunProgram({SignerProgram, "verify", "-ignore-cdp", "-in", path}, std::string(), trust) == 0;
        if (!report.Trusted)
            report.TrustNote = ErrorLine(trust);
    }
    RemoveScratchFiles(scratch, {"signature.pem", "carried.pem", "roots.pem"});
    return report;
}

std::string DescribeSignature(const SignatureReport& report)
{
    if (report.State == SignatureState::Unsigned)
        return "not signed";
    std::string who = report.Subject.empty() ? "signed" : "signed by " + report.Subject;
    if (report.State == SignatureState::Broken)
        return who + ", signature broken: " + report.Reason;
    return who + ", the signature matches the file's bytes; "
           + (report.Trusted ? std::string("the certificate chains to a trusted root")
                             : "the certificate does not chain to a trusted root ("
                                   + (report.TrustNote.empty() ? std::string("no reason given") : report.TrustNote)
                                   + ")");
}
