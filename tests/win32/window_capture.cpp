#include "window_capture.h"

#include <cstdio>
#include <cstring>

namespace capture {

Picture CaptureWindow(HWND window, bool wholeWindow)
{
    Picture picture;
    RECT area;
    if (wholeWindow) {
        GetWindowRect(window, &area);
        OffsetRect(&area, -area.left, -area.top);
    } else {
        GetClientRect(window, &area);
    }
    if (area.right <= 0 || area.bottom <= 0)
        return picture;
    HDC source = wholeWindow ? GetWindowDC(window) : GetDC(window);
    HDC memory = CreateCompatibleDC(source);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = area.right;
    info.bmiHeader.biHeight = -area.bottom;   // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap && bits) {
        HGDIOBJ previous = SelectObject(memory, bitmap);
        if (BitBlt(memory, 0, 0, area.right, area.bottom, source, 0, 0, SRCCOPY)) {
            GdiFlush();
            picture.width = area.right;
            picture.height = area.bottom;
            picture.pixels.resize(static_cast<std::size_t>(area.right) * area.bottom);
            const auto* words = static_cast<const std::uint32_t*>(bits);
            for (std::size_t i = 0; i < picture.pixels.size(); ++i)
                picture.pixels[i] = words[i] & 0x00FFFFFF;
        }
        SelectObject(memory, previous);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(window, source);
    return picture;
}

void Paste(const Picture& part, int x, int y, Picture* into)
{
    for (int row = 0; row < part.height; ++row)
        for (int column = 0; column < part.width; ++column) {
            int targetX = x + column;
            int targetY = y + row;
            if (targetX >= 0 && targetY >= 0 && targetX < into->width && targetY < into->height)
                into->pixels[static_cast<std::size_t>(targetY) * into->width + targetX] = part.At(column, row);
        }
}

bool WriteBmp(const Picture& picture, const std::string& path)
{
    const int stride = (picture.width * 3 + 3) & ~3;
    const std::uint32_t imageSize = static_cast<std::uint32_t>(stride) * picture.height;
    BITMAPFILEHEADER file = {};
    BITMAPINFOHEADER info = {};
    file.bfType = 0x4D42;   // "BM"
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + imageSize;
    info.biSize = sizeof info;
    info.biWidth = picture.width;
    info.biHeight = picture.height;   // bottom-up rows
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biSizeImage = imageSize;
    FILE* out = std::fopen(path.c_str(), "wb");
    if (!out)
        return false;
    bool written = std::fwrite(&file, sizeof file, 1, out) == 1 && std::fwrite(&info, sizeof info, 1, out) == 1;
    std::vector<unsigned char> row(stride, 0);
    for (int y = picture.height - 1; written && y >= 0; --y) {
        for (int x = 0; x < picture.width; ++x) {
            std::uint32_t pixel = picture.At(x, y);
            row[x * 3] = pixel & 0xFF;
            row[x * 3 + 1] = (pixel >> 8) & 0xFF;
            row[x * 3 + 2] = (pixel >> 16) & 0xFF;
        }
        written = std::fwrite(row.data(), row.size(), 1, out) == 1;
    }
    return std::fclose(out) == 0 && written;
}

}  // namespace capture
