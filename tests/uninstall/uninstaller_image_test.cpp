// The uninstaller the installer carries is the built davirado.exe, byte for
// byte, and it survives the stub's link.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "installer/uninstaller_image.h"
#include "scratch_tree.h"
#include "test_paths.h"

namespace {

std::string BuiltFile(const char* relative)
{
    std::string bytes = scratch::ReadFile(testpaths::BuildTreeFile(relative));
    EXPECT_FALSE(bytes.empty()) << relative << " was not read";
    return bytes;
}

std::string CarriedBytes()
{
    return std::string(reinterpret_cast<const char*>(UninstallerImage), UninstallerImageSize);
}

TEST(UninstallerImage, HoldsExactlyTheBuiltUninstallerFile)
{
    const std::string built = BuiltFile("uninstall\\davirado.exe");
    EXPECT_EQ(UninstallerImageSize, built.size());
    EXPECT_TRUE(CarriedBytes() == built) << "the carried bytes differ from the built file";
}

TEST(UninstallerImage, IsKeptInTheInstallerStubWithItsLength)
{
    const std::string stub = BuiltFile("installer\\setup-stub.exe");
    const std::string built = BuiltFile("uninstall\\davirado.exe");
    const size_t at = stub.find(built);
    ASSERT_NE(at, std::string::npos) << "the stub does not carry the uninstaller";
    ASSERT_GE(at, 4u);
    unsigned int length = 0;
    std::memcpy(&length, stub.data() + at - 4, sizeof length);
    EXPECT_EQ(length, built.size());
}

}  // namespace
