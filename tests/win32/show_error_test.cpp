// ShowError's box, read from the screen: caption, text, button and icon.
#include <gtest/gtest.h>

#include <string>

#include "common/setup_globals.h"
#include "window_driver.h"

namespace {

DWORD WINAPI ShowErrorThread(LPVOID text)
{
    ShowError(static_cast<const char*>(text));
    return 0;
}

bool HasIcon(HWND box)
{
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (driver::WindowClass(child) == "Static" &&
            (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
            return true;
    return false;
}

// Shows the error on a second thread (the box is modal) and answers it here.
driver::SeenBox ShowAndAnswer(const std::string& text, bool* sawIcon)
{
    HANDLE thread = CreateThread(nullptr, 0, ShowErrorThread, const_cast<char*>(text.c_str()), 0, nullptr);
    driver::SeenBox seen;
    HWND box = driver::WaitForWindow(GetCurrentProcessId(), driver::kMessageBoxClass, nullptr);
    EXPECT_NE(box, nullptr);
    if (box)
        *sawIcon = HasIcon(box);
    EXPECT_TRUE(driver::AnswerMessageBox(GetCurrentProcessId(), IDOK, &seen));
    EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    CloseHandle(thread);
    return seen;
}

TEST(ShowError, ShowsErrorPrefixedTextCaptionedSetupWithOkAndStopIconAndCutsATextTooLongForItsBuffer)
{
    bool sawIcon = false;
    driver::SeenBox seen = ShowAndAnswer("Unconfigured installation file.", &sawIcon);
    EXPECT_EQ(seen.caption, "Setup");
    EXPECT_EQ(seen.text, "Error: Unconfigured installation file.");
    EXPECT_EQ(seen.buttons, std::vector<int>{IDOK});
    EXPECT_TRUE(sawIcon);
    EXPECT_EQ(ShowAndAnswer(std::string(400, 'x'), &sawIcon).text, "Error: " + std::string(259 - 7, 'x'));
}

}  // namespace
