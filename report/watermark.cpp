#include "report/watermark.h"

#include <algorithm>
#include <cmath>

namespace kelvane {

namespace {

// A little above 4.5, so that the blend's own rounding cannot take a pixel under it.
constexpr double kWantedContrast = 4.6;

double Linear(std::uint8_t channel) {
    const double c = channel / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

// What the blend draws: weight/255 of the icon pixel over the surface.
Rgb Blend(Rgb over, Rgb surface, int weight) {
    const auto mix = [weight](int top, int bottom) {
        return static_cast<std::uint8_t>((top * weight + bottom * (255 - weight) + 127) / 255);
    };
    return {mix(over.r, surface.r), mix(over.g, surface.g), mix(over.b, surface.b)};
}

}  // namespace

double RelativeLuminance(Rgb colour) {
    return 0.2126 * Linear(colour.r) + 0.7152 * Linear(colour.g) + 0.0722 * Linear(colour.b);
}

double ContrastRatio(Rgb a, Rgb b) {
    const double la = RelativeLuminance(a), lb = RelativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

std::uint8_t WatermarkAlpha(Rgb surface, Rgb text) {
    // Luminance grows with every channel, so black and white icon pixels are
    // the two extremes any blended pixel lies between. If both keep the
    // contrast on the surface's side of the text colour, every pixel between does.
    const double textLuminance = RelativeLuminance(text);
    const bool surfaceLighter = RelativeLuminance(surface) > textLuminance;
    const auto legible = [&](Rgb pixel) {
        return ContrastRatio(pixel, text) >= kWantedContrast &&
               (RelativeLuminance(pixel) > textLuminance) == surfaceLighter;
    };
    const Rgb black = {0, 0, 0}, white = {255, 255, 255};
    for (int weight = 255; weight > 0; --weight) {
        if (legible(Blend(black, surface, weight)) && legible(Blend(white, surface, weight))) {
            return static_cast<std::uint8_t>(weight);
        }
    }
    return 0;
}

}  // namespace kelvane
