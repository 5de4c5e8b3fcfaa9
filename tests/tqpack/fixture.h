// Shared fixture of the tqpack tests: a scratch folder with a setup.exe (a small Windows program
// with setup's resources) whose time has a sub-microsecond part, the seven text files and a small mixed payload, and a way to run the
// tqpack program itself and read its exit status and output.
#ifndef TQ_TESTS_TQPACK_FIXTURE_H
#define TQ_TESTS_TQPACK_FIXTURE_H

#include "files.h"
#include "tqpack.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

struct CommandResult {
    int Status;         // exit status, or -1 when the program did not exit normally
    std::string Output; // standard output and standard error together
};

// Runs a shell command line; arguments must already be quoted with Quote.
CommandResult RunCommand(const std::string& commandLine);
std::string Quote(const std::string& text);
CommandResult RunTqpack(const std::string& arguments);

void WriteText(const std::string& path, const std::string& text);
void SetMtime(const std::string& path, long long seconds, long nanoseconds);
long long MtimeNanoseconds(const std::string& path); // seconds * 10^9 + nanoseconds
// Little-endian fields written into a file image being built (PE headers, resource trees).
void Put16(std::vector<unsigned char>& bytes, size_t at, uint32_t value);
void Put32(std::vector<unsigned char>& bytes, size_t at, uint32_t value);

// A Windows program as far as tqpack reads it (PE/COFF): a code section and a resource section
// whose tree holds the listed resources, one language each. A resource is named by a number
// (Type or Id) or, when TypeName or Name is set, by a text.
struct ProgramResource {
    int Type;
    const char* TypeName;
    int Id;
    const char* Name;
};
struct ProgramSpec {
    bool Wide = false;             // PE32+ for x86-64, else PE32 for i386
    uint16_t Subsystem = 2;        // Windows GUI
    bool Library = false;
    std::vector<ProgramResource> Resources;
};
// setup.exe's resources: both dialogs, a string block, the stub library, version and manifest.
std::vector<ProgramResource> SetupResources();
std::vector<unsigned char> MakeWindowsProgram(const ProgramSpec& spec);

// A throw-away code-signing certificate made by openssl in folder: key.pem (encrypted with
// Password), cert.pem, and signer.p12 holding both under the same password.
struct TestCertificate {
    std::string Key;
    std::string Certificate;
    std::string Pkcs12;
    std::string PasswordFile;  // holds Password and a newline
    static constexpr const char* Password = "throw away";
};
bool MakeTestCertificate(const std::string& folder, TestCertificate& made);

class TqpackTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Runs `tqpack build` on the fixture's inputs into Dist (or the given folder).
    CommandResult Build(const std::string& extra = std::string(), const std::string& out = std::string());

    std::string Root;    // scratch folder, removed afterwards
    std::string Setup;   // Root/in/setup.exe
    std::string Payload; // Root/payload
    std::string Texts;   // Root/texts
    std::string Dist;    // Root/dist
};

// setup.exe's time in the fixture: 2026-03-14 15:09:26 UTC and 535897932 ns.
constexpr long long SetupSeconds = 1773500966;
constexpr long SetupNanoseconds = 535897932;

#endif
