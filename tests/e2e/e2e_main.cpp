// The whole-installation test program. Without arguments (or with GoogleTest's) it runs the
// installations; with --report FOLDER it only prints what an installation left in FOLDER, the
// registry and the stand-in's record, which the demo uses after a person has clicked through.
#include "e2e.h"

#include <gtest/gtest.h>

#include <string.h>

int main(int argc, char** argv)
{
    if (argc == 3 && strcmp(argv[1], "--report") == 0) {
        E2eConfig config;
        LoadE2eConfig(&config);
        std::string folder = argv[2];
        if (!folder.empty() && folder.back() != '\\')
            folder += '\\';
        PrintInstallReport(config, folder, nullptr);
        return 0;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
