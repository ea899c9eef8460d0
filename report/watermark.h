// How strongly the icon may show through under the report: faint enough that
// every pixel of the surface keeps a 4.5:1 contrast with the text colour (the
// WCAG 2 AA level for normal text), whatever colours the user's scheme sets.
#pragma once

#include <cstdint>

namespace kelvane {

struct Rgb {
    std::uint8_t r, g, b;
};

// Relative luminance of an sRGB colour, 0 (black) to 1 (white).
double RelativeLuminance(Rgb colour);
// (lighter + 0.05) / (darker + 0.05): 1 for equal colours, 21 for black on white.
double ContrastRatio(Rgb a, Rgb b);

// The largest weight, 0 to 255, at which any icon pixel blended over the
// surface colour still leaves the text legible. 0 when the surface alone is
// already below the mark: the icon is then left out rather than make it worse.
std::uint8_t WatermarkAlpha(Rgb surface, Rgb text);

}  // namespace kelvane
