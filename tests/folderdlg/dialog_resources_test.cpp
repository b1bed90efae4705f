// The dialog template and the tree's bitmap as the shipped stub carries them,
// read from its file without running it.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "test_paths.h"

namespace {

// Reads a classic dialog template, field by field.
class TemplateReader {
public:
    explicit TemplateReader(const BYTE* start) : base_(start), position_(start) {}
    DWORD Dword() { DWORD value; memcpy(&value, position_, 4); position_ += 4; return value; }
    WORD Word() { WORD value; memcpy(&value, position_, 2); position_ += 2; return value; }
    short Short() { return static_cast<short>(Word()); }
    std::string Text()
    {
        std::string text;
        for (WORD c; (c = Word()) != 0;)
            text += static_cast<char>(c);
        return text;
    }
    // A name or ordinal: "" for none, "#<n>" for an ordinal.
    std::string NameOrOrdinal()
    {
        return *reinterpret_cast<const WORD*>(position_) == 0xFFFF ? (Word(), "#" + std::to_string(Word())) : Text();
    }
    void AlignToDword() { position_ += (4 - (position_ - base_) % 4) % 4; }

private:
    const BYTE* base_;
    const BYTE* position_;
};

struct Control {
    int id;
    std::string windowClass;
    std::string text;
    std::vector<short> frame;   // x, y, width, height
    DWORD style;
};

const BYTE* StubResource(HMODULE stub, LPCSTR name, LPCSTR type)
{
    HRSRC found = FindResourceA(stub, name, type);
    return found ? static_cast<const BYTE*>(LockResource(LoadResource(stub, found))) : nullptr;
}

class StubResources : public ::testing::Test {
protected:
    void SetUp() override
    {
        stub_ = LoadLibraryExA(testpaths::BuildTreeFile("installer\\setup-stub.exe").c_str(), nullptr,
                               LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(stub_, nullptr);
    }
    void TearDown() override { FreeLibrary(stub_); }
    HMODULE stub_ = nullptr;
};

TEST_F(StubResources, DialogTemplateHasTheStylesFontControlsAndTabOrder)
{
    const BYTE* base = StubResource(stub_, "DIRSELECTDIALOG", MAKEINTRESOURCEA(5));   // RT_DIALOG
    ASSERT_NE(base, nullptr);
    TemplateReader in(base);
    EXPECT_EQ(in.Dword(), static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER |
                                             DS_SETFONT));
    EXPECT_EQ(in.Dword(), 0u);   // no extended style
    WORD count = in.Word();
    EXPECT_EQ(count, 4);
    EXPECT_EQ(std::vector<short>({in.Short(), in.Short(), in.Short(), in.Short()}), (std::vector<short>{0, 0, 200, 220}));
    EXPECT_EQ(in.NameOrOrdinal(), "");   // no menu
    EXPECT_EQ(in.NameOrOrdinal(), "");   // the standard dialog class
    in.Text();                           // caption, replaced when the dialog opens
    EXPECT_EQ(in.Word(), 8);
    EXPECT_EQ(in.Text(), "Helv");

    const DWORD child = WS_CHILD | WS_VISIBLE;
    const std::vector<Control> expected = {
        {2005, "#130", "Specify where you want to install the program.", {10, 10, 180, 12}, child | WS_GROUP | SS_LEFT},
        {2006, "#129", "", {10, 30, 180, 12}, child | WS_BORDER | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL},
        {2007, "#128", "OK", {10, 200, 50, 14}, child | WS_TABSTOP | BS_DEFPUSHBUTTON},
        {2008, "#128", "Cancel", {70, 200, 50, 14}, child | WS_TABSTOP | BS_PUSHBUTTON},
    };
    for (std::size_t i = 0; i < expected.size() && i < count; ++i) {
        in.AlignToDword();
        Control seen;
        seen.style = in.Dword();
        EXPECT_EQ(in.Dword(), 0u) << "control " << i << " has an extended style";
        seen.frame = {in.Short(), in.Short(), in.Short(), in.Short()};
        seen.id = in.Word();
        seen.windowClass = in.NameOrOrdinal();
        seen.text = in.NameOrOrdinal();
        EXPECT_EQ(in.Word(), 0) << "control " << i << " has creation data";
        const Control& want = expected[i];
        EXPECT_EQ(seen.id, want.id) << "tab order, place " << i;
        EXPECT_EQ(seen.windowClass + "|" + seen.text, want.windowClass + "|" + want.text) << want.id;
        EXPECT_EQ(seen.frame, want.frame) << want.id;
        EXPECT_EQ(seen.style, want.style) << want.id;
    }
}

// 80 x 14 at 8 bits with a palette; pure green (the mask) is the background
// and no drawn pixel shares it; each 16-pixel picture has something drawn.
TEST_F(StubResources, TreeBitmapHoldsFivePicturesOnAPureGreenMask)
{
    const BYTE* bitmap = StubResource(stub_, MAKEINTRESOURCEA(2001), MAKEINTRESOURCEA(2));   // RT_BITMAP
    ASSERT_NE(bitmap, nullptr);
    BITMAPINFOHEADER header;
    memcpy(&header, bitmap, sizeof header);
    EXPECT_EQ(header.biWidth, 80);
    EXPECT_EQ(header.biHeight, 14);
    EXPECT_EQ(header.biBitCount, 8);
    EXPECT_EQ(header.biCompression, static_cast<DWORD>(BI_RGB));
    const DWORD colours = header.biClrUsed ? header.biClrUsed : 256;
    EXPECT_EQ(colours, 256u) << "a full 256-colour palette";
    const auto* palette = reinterpret_cast<const RGBQUAD*>(bitmap + header.biSize);
    const BYTE* pixels = reinterpret_cast<const BYTE*>(palette + colours);
    auto isGreen = [&](BYTE index) {
        return index < colours && palette[index].rgbRed == 0 && palette[index].rgbGreen == 255 &&
               palette[index].rgbBlue == 0;
    };
    const int topRow = header.biHeight - 1;   // rows are stored bottom-up
    EXPECT_TRUE(isGreen(pixels[topRow * 80])) << "the top-left pixel sets the mask colour";
    const BYTE background = pixels[topRow * 80];
    for (int picture = 0; picture < 5; ++picture) {
        int drawn = 0;
        for (int y = 0; y < 14; ++y)
            for (int x = picture * 16; x < picture * 16 + 16; ++x) {
                BYTE index = pixels[y * 80 + x];
                ASSERT_LT(index, colours);
                if (index != background) {
                    ++drawn;
                    EXPECT_FALSE(isGreen(index)) << "a drawn pixel would be transparent";
                }
            }
        EXPECT_GT(drawn, 0) << "picture " << picture << " is empty";
    }
}

}  // namespace
