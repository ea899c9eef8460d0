#include "report/watermark.h"

#include <gtest/gtest.h>

namespace kelvane {
namespace {

constexpr Rgb kBlack = {0, 0, 0}, kWhite = {255, 255, 255};

TEST(Watermark, ContrastRatioMatchesTheWcagReferencePoints) {
    const struct {
        Rgb a, b;
        double ratio;
    } cases[] = {
        {kBlack, kWhite, 21.0},          {kWhite, kBlack, 21.0}, {kWhite, kWhite, 1.0},
        {{118, 118, 118}, kWhite, 4.54},  // the classic lightest grey that passes on white
        {{119, 119, 119}, kWhite, 4.48},  // and the first that fails
        {{0, 0, 255}, kWhite, 8.59},
    };
    for (const auto& c : cases) {
        EXPECT_NEAR(ContrastRatio(c.a, c.b), c.ratio, 0.01);
    }
}

// Whatever the icon holds, a pixel of it blended at the returned weight keeps
// 4.5:1 with the text; one step more and some icon colour would not.
TEST(Watermark, AlphaKeepsEveryIconColourLegibleAndIsTheLargestThatDoes) {
    const struct {
        const char* scheme;
        Rgb surface, text;
    } cases[] = {
        {"light grey face, black text", {240, 240, 240}, kBlack},
        {"classic grey face, black text", {192, 192, 192}, kBlack},
        {"high contrast black", kBlack, kWhite},
        {"high contrast white", kWhite, kBlack},
        {"dark blue face, yellow text", {0, 0, 128}, {255, 255, 0}},
    };
    const auto blend = [](Rgb icon, Rgb surface, int w) {
        const auto mix = [w](int a, int b) {
            return static_cast<std::uint8_t>((a * w + b * (255 - w) + 127) / 255);
        };
        return Rgb{mix(icon.r, surface.r), mix(icon.g, surface.g), mix(icon.b, surface.b)};
    };
    const Rgb icons[] = {kBlack, kWhite, {0, 0, 255}, {255, 0, 0}, {0, 255, 0}, {40, 90, 200}};
    for (const auto& c : cases) {
        const int alpha = WatermarkAlpha(c.surface, c.text);
        EXPECT_GE(alpha, 80) << c.scheme << ": the icon must stay visible";
        double worstNext = 21;
        for (const Rgb icon : icons) {
            EXPECT_GE(ContrastRatio(blend(icon, c.surface, alpha), c.text), 4.5)
                << c.scheme << ", icon " << int(icon.r) << "," << int(icon.g) << "," << int(icon.b);
            worstNext =
                std::min(worstNext, ContrastRatio(blend(icon, c.surface, alpha + 1), c.text));
        }
        EXPECT_LT(worstNext, 4.7) << c.scheme << ": a stronger icon would still pass";
    }
}

TEST(Watermark, NoIconWhenTheSurfaceItselfIsIllegible) {
    EXPECT_EQ(WatermarkAlpha({128, 128, 128}, {100, 100, 100}), 0);
    EXPECT_EQ(WatermarkAlpha(kWhite, kWhite), 0);
}

}  // namespace
}  // namespace kelvane
