// The window driver itself, proved on a trivial program: if these fail, every
// GUI test built on the driver is meaningless.
#include <gtest/gtest.h>

#include "test_paths.h"
#include "window_driver.h"

namespace {

std::string ProbeCommand(const std::string& arguments)
{
    return testpaths::Quoted(testpaths::OwnFolder() + "message_box_probe.exe") + " " + arguments;
}

struct BoxAnswerCase {
    int button;
};

class MessageBoxAnswer : public ::testing::TestWithParam<BoxAnswerCase> {};

TEST_P(MessageBoxAnswer, ReadsCaptionTextAndButtonsAndPressesTheChosenOne)
{
    driver::StartedProcess probe;
    ASSERT_TRUE(driver::Start(ProbeCommand("box \"Probe caption\" \"Line one\""), &probe));
    driver::SeenBox seen;
    bool answered = driver::AnswerMessageBox(probe.id, GetParam().button, &seen);
    if (!answered)
        driver::Kill(&probe);
    ASSERT_TRUE(answered);
    EXPECT_EQ(seen.caption, "Probe caption");
    EXPECT_EQ(seen.text, "Line one");
    EXPECT_EQ(seen.buttons.size(), 3u);
    DWORD exitCode = 0;
    ASSERT_TRUE(driver::WaitForExit(&probe, &exitCode));
    EXPECT_EQ(exitCode, static_cast<DWORD>(GetParam().button));
}

INSTANTIATE_TEST_SUITE_P(EachButton, MessageBoxAnswer,
                         ::testing::Values(BoxAnswerCase{IDYES}, BoxAnswerCase{IDNO},
                                           BoxAnswerCase{IDCANCEL}));

TEST(WindowDriver, SetsAnEditTextThatTheProgramReadsBack)
{
    driver::StartedProcess probe;
    ASSERT_TRUE(driver::Start(ProbeCommand("edit \"C:\\Some Folder\""), &probe));
    HWND window = driver::WaitForWindow(probe.id, "EditProbe", "Edit probe");
    if (!window)
        driver::Kill(&probe);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(driver::SetControlText(window, 100, "C:\\Some Folder"));
    EXPECT_TRUE(driver::PressButton(window, IDOK));
    DWORD exitCode = 0;
    ASSERT_TRUE(driver::WaitForExit(&probe, &exitCode));
    EXPECT_EQ(exitCode, 42u);
}

TEST(WindowDriver, GivesUpOnAMissingWindowAtItsDeadline)
{
    const DWORD start = GetTickCount();
    EXPECT_EQ(driver::WaitForWindow(0, nullptr, "No such window caption", 300), nullptr);
    const DWORD waited = GetTickCount() - start;
    EXPECT_GE(waited, 250u);
    EXPECT_LT(waited, 5000u);
}

}  // namespace
