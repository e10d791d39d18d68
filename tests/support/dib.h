#pragma once
// A bitmap for pixel probes: the painting under test draws into its DC and the test reads the
// pixels back as COLORREF values.
// clang-format off
#include <windows.h>
// clang-format on

#include <cstdint>

namespace tarvisko::test {

// A 32-bit top-down DIB section with a memory DC selected into it.
class Dib {
  public:
    Dib(int width, int height);
    ~Dib();
    Dib(const Dib&) = delete;
    Dib& operator=(const Dib&) = delete;
    HDC dc() const { return dc_; }
    int width() const { return width_; }
    int height() const { return height_; }
    // The pixel as a COLORREF (RGB), or CLR_INVALID outside the bitmap.
    COLORREF pixel(int x, int y) const;
    // How many pixels of the rectangle have exactly this colour.
    int count(COLORREF colour, RECT area) const;
    void fill(COLORREF colour);

  private:
    int width_;
    int height_;
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ old_bitmap_ = nullptr;
    std::uint32_t* bits_ = nullptr;
};

}  // namespace tarvisko::test
