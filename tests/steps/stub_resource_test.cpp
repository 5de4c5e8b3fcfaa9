// The stub library that setup carries as resource "TQSHLEXT"/"TQ_SHL": written out, it loads as
// a library of this machine, and the platform reads the version record that setup compares.
#include "res/resource.h"
#include "res/stub/stub_version.h"
#include "tests/support/win_test.h"

#include <gtest/gtest.h>

typedef DWORD (*StubFileVersionMSProc)(void);

TEST(StubResource, WrittenOutItLoadsAndCarriesItsVersion)
{
    HMODULE self = GetModuleHandleA(nullptr);
    HRSRC resource = FindResourceA(self, STUB_RESOURCE_NAME, STUB_RESOURCE_TYPE);
    ASSERT_NE(nullptr, resource);
    DWORD size = SizeofResource(self, resource);
    const char* bytes = (const char*)LockResource(LoadResource(self, resource));
    ASSERT_NE(nullptr, bytes);
    ASSERT_GT(size, 1024u);
    EXPECT_EQ('M', bytes[0]);
    EXPECT_EQ('Z', bytes[1]);

    ScratchFolder scratch;
    std::string path = scratch.File("TQSHLSTB.DLL");
    ASSERT_TRUE(WriteWholeFile(path, std::string(bytes, size)));

    DWORD handle = 0;
    DWORD infoSize = GetFileVersionInfoSizeA(path.c_str(), &handle);
    ASSERT_NE(0u, infoSize);
    std::string info(infoSize, '\0');
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, infoSize, &info[0]));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    ASSERT_TRUE(VerQueryValueA(&info[0], "\\", (void**)&fixed, &fixedSize));
    EXPECT_EQ(0xFEEF04BDu, fixed->dwSignature);
    EXPECT_EQ(MAKELONG(StubVersionMinor, StubVersionMajor), fixed->dwFileVersionMS);
    EXPECT_EQ(fixed->dwFileVersionMS, fixed->dwProductVersionMS);
    EXPECT_EQ(fixed->dwFileVersionLS, fixed->dwProductVersionLS);
    for (DWORD half : { fixed->dwFileVersionMS, fixed->dwFileVersionLS })
        EXPECT_TRUE(HIWORD(half) <= 20 && LOWORD(half) <= 20) << std::hex << half;

    HMODULE stub = LoadLibraryA(path.c_str());
    ASSERT_NE(nullptr, stub) << GetLastError();
    auto version = (StubFileVersionMSProc)(void*)GetProcAddress(stub, "StubFileVersionMS");
    ASSERT_NE(nullptr, version);
    EXPECT_EQ(fixed->dwFileVersionMS, version());
    FreeLibrary(stub);
}
