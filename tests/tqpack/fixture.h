// Shared fixture of the tqpack tests: a scratch folder with a setup.exe whose time has a
// sub-microsecond part, the seven text files and a small mixed payload, and a way to run the
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
