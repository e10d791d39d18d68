#include "support/dib.h"

#include <algorithm>

namespace tarvisko::test {

Dib::Dib(int width, int height) : width_(std::max(1, width)), height_(std::max(1, height)) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width_;
    info.bmiHeader.biHeight = -height_;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    bitmap_ = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bits_ = static_cast<std::uint32_t*>(bits);
    dc_ = CreateCompatibleDC(nullptr);
    old_bitmap_ = SelectObject(dc_, bitmap_);
}

Dib::~Dib() {
    SelectObject(dc_, old_bitmap_);
    DeleteDC(dc_);
    DeleteObject(bitmap_);
}

namespace {

// In memory a pixel is B, G, R, unused; a COLORREF is 0x00BBGGRR.
COLORREF colour_of(std::uint32_t value) {
    return RGB((value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF);
}

}  // namespace

COLORREF Dib::pixel(int x, int y) const {
    if (bits_ == nullptr || x < 0 || y < 0 || x >= width_ || y >= height_) return CLR_INVALID;
    GdiFlush();
    return colour_of(bits_[static_cast<std::size_t>(y) * width_ + x]);
}

int Dib::count(COLORREF colour, RECT area) const {
    if (bits_ == nullptr) return 0;
    GdiFlush();  // once for the whole area, not per pixel
    int found = 0;
    for (int y = std::max(0L, area.top); y < std::min<long>(height_, area.bottom); ++y) {
        for (int x = std::max(0L, area.left); x < std::min<long>(width_, area.right); ++x) {
            if (colour_of(bits_[static_cast<std::size_t>(y) * width_ + x]) == colour) ++found;
        }
    }
    return found;
}

void Dib::fill(COLORREF colour) {
    if (bits_ == nullptr) return;  // the section could not be made; the test sees CLR_INVALID
    GdiFlush();
    const std::uint32_t value =
        (GetRValue(colour) << 16) | (GetGValue(colour) << 8) | GetBValue(colour);
    std::fill(bits_, bits_ + static_cast<std::size_t>(width_) * height_, value);
}

}  // namespace tarvisko::test
