// Layout is given in twips (1/1440 inch) and placed at the window's real DPI.
#pragma once

namespace kelvane {

// Rounded to the nearest pixel, halves away from zero, as MulDiv does.
constexpr int TwipsToPixels(int twips, int dpi) {
    const long long scaled = static_cast<long long>(twips) * dpi;
    return static_cast<int>((scaled + (scaled >= 0 ? 720 : -720)) / 1440);
}

struct TwipRect {
    int left, top, width, height;
};

}  // namespace kelvane
