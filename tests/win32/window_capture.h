// Reads back what a window shows, through GDI: its client area or the whole
// window, as 0x00RRGGBB pixels. Works on other processes' windows too.
#ifndef STUBKIT_WINDOW_CAPTURE_H
#define STUBKIT_WINDOW_CAPTURE_H

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace capture {

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;   // rows top to bottom, 0x00RRGGBB

    std::uint32_t At(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

inline std::uint32_t Rgb(int red, int green, int blue)
{
    return static_cast<std::uint32_t>(red << 16 | green << 8 | blue);
}

// The window's client area (or, with `wholeWindow`, its frame too). Empty
// when the window has no area or cannot be read.
Picture CaptureWindow(HWND window, bool wholeWindow = false);

// Copies `part` into `into` with its top-left corner at x, y, clipped.
void Paste(const Picture& part, int x, int y, Picture* into);

// Writes a 24-bit BMP file; false when it cannot be written.
bool WriteBmp(const Picture& picture, const std::string& path);

}  // namespace capture

#endif
