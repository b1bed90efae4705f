// The application manifest of both shipped programs as the system's own
// manifest reader sees it: highest available rights without UI access, five
// supported systems, system DPI awareness.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "test_paths.h"

namespace {

struct ManifestContext {
    HANDLE handle = INVALID_HANDLE_VALUE;
    explicit ManifestContext(const std::string& program)
    {
        ACTCTXA context = {};
        context.cbSize = sizeof context;
        context.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
        context.lpSource = program.c_str();
        context.lpResourceName = MAKEINTRESOURCEA(1);
        handle = CreateActCtxA(&context);
    }
    ~ManifestContext()
    {
        if (handle != INVALID_HANDLE_VALUE)
            ReleaseActCtx(handle);
    }
};

// Not declared by every SDK's headers; kernel32 has exported it since Windows 8.
using QueryActCtxSettingsFunction = BOOL(WINAPI*)(DWORD, HANDLE, const WCHAR*, const WCHAR*,
                                                  WCHAR*, SIZE_T, SIZE_T*);

class ProgramManifest : public ::testing::TestWithParam<const char*> {};

TEST_P(ProgramManifest, AsksForHighestRightsDeclaresFiveSystemsAndIsDpiAware)
{
    ManifestContext manifest(testpaths::BuildTreeFile(GetParam()));
    ASSERT_NE(manifest.handle, INVALID_HANDLE_VALUE)
        << GetParam() << ": no readable manifest, error " << GetLastError();

    ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION level = {};
    ASSERT_TRUE(QueryActCtxW(0, manifest.handle, nullptr, RunlevelInformationInActivationContext,
                             &level, sizeof level, nullptr));
    EXPECT_EQ(level.RunLevel, ACTCTX_RUN_LEVEL_HIGHEST_AVAILABLE);
    EXPECT_EQ(level.UiAccess, 0u);

    // A count followed by that many entries.
    DWORD compatibility[64] = {};
    ASSERT_TRUE(QueryActCtxW(0, manifest.handle, nullptr, CompatibilityInformationInActivationContext,
                             compatibility, sizeof compatibility, nullptr));
    EXPECT_EQ(compatibility[0], 5u);

    auto querySettings = reinterpret_cast<QueryActCtxSettingsFunction>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "QueryActCtxSettingsW"));
    ASSERT_NE(querySettings, nullptr);
    WCHAR dpiAware[16] = {};
    ASSERT_TRUE(querySettings(0, manifest.handle, nullptr, L"dpiAware", dpiAware, 16, nullptr));
    EXPECT_EQ(std::wstring(dpiAware), L"true");
}

INSTANTIATE_TEST_SUITE_P(Both, ProgramManifest,
                         ::testing::Values("installer\\setup-stub.exe", "uninstall\\davirado.exe"));

}  // namespace
