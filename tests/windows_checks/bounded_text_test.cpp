// Bounded composition: results that do not fit are cut, terminated, reported.
#include <gtest/gtest.h>

#include <cstring>

#include "common/bounded_text.h"

namespace {

struct ComposeCase {
    const char* first;
    const char* second;
    unsigned capacity;
    const char* expected;
    bool fits;
};

void PrintTo(const ComposeCase& c, std::ostream* out)
{
    *out << '"' << c.first << "\" + \"" << c.second << "\" in " << c.capacity << " bytes";
}

class Compose : public ::testing::TestWithParam<ComposeCase> {};

TEST_P(Compose, CopiesAndAppendsWithinCapacity)
{
    const ComposeCase& c = GetParam();
    char buffer[32];
    std::memset(buffer, '#', sizeof buffer);
    const bool copied = TextCopy(buffer, c.capacity, c.first);
    const bool appended = copied && TextAppend(buffer, c.capacity, c.second);
    EXPECT_EQ(copied && appended, c.fits);
    EXPECT_STREQ(buffer, c.expected);
    for (unsigned i = c.capacity; i < sizeof buffer; ++i)
        ASSERT_EQ(buffer[i], '#') << "wrote past the capacity at " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Compose,
    ::testing::Values(ComposeCase{"Error: ", "abc", 16, "Error: abc", true},
                      ComposeCase{"Error: ", "abcdefgh", 16, "Error: abcdefgh", true},
                      ComposeCase{"Error: ", "abcdefghi", 16, "Error: abcdefgh", false},
                      ComposeCase{"0123456789abcdefXYZ", "", 16, "0123456789abcde", false},
                      ComposeCase{"", "", 1, "", true}));

TEST(TextAppend, RefusesABufferWithoutTerminator)
{
    char buffer[4] = {'a', 'b', 'c', 'd'};
    EXPECT_FALSE(TextAppend(buffer, sizeof buffer, "x"));
    EXPECT_EQ(std::memcmp(buffer, "abcd", 4), 0);
}

TEST(TextCopyCount, StopsAtTheCountOrTheTerminator)
{
    char buffer[16];
    EXPECT_TRUE(TextCopyCount(buffer, sizeof buffer, "abcdef", 3));
    EXPECT_STREQ(buffer, "abc");
    EXPECT_TRUE(TextCopyCount(buffer, sizeof buffer, "ab", 10));
    EXPECT_STREQ(buffer, "ab");
}

TEST(TextEquals, ComparesEveryByte)
{
    EXPECT_TRUE(TextEquals("C:\\Program Files", "C:\\Program Files"));
    EXPECT_TRUE(TextEquals("", ""));
    for (const char* other : {"C:\\program files", "C:\\Program Files\xAD", "C:\\Program File", ""})
        EXPECT_FALSE(TextEquals("C:\\Program Files", other)) << other;
}

TEST(TextEndsWithIgnoringCase, ComparesLettersWithoutCase)
{
    EXPECT_TRUE(TextEndsWithIgnoringCase("C:\\setup.EXE", ".exe"));
    EXPECT_TRUE(TextEndsWithIgnoringCase("setup.Exe", ".exe"));
    EXPECT_FALSE(TextEndsWithIgnoringCase("setup", ".exe"));
    EXPECT_FALSE(TextEndsWithIgnoringCase("exe", ".exe"));
    EXPECT_FALSE(TextEndsWithIgnoringCase("setup.exe.txt", ".exe"));
}

}  // namespace
