#include "app/twips.h"

#include <gtest/gtest.h>

namespace {

struct TwipsCase {
    int twips, dpi, pixels;
};

// The form's layout at the DPIs Windows offers; 96 DPI must be exactly 15
// twips per pixel, the others round to the nearest pixel.
TEST(TwipsToPixels, LayoutAtCommonDpis) {
    const TwipsCase cases[] = {
        {4680, 96, 312},  {5775, 96, 385},  {240, 96, 16},    {4095, 96, 273},  {4815, 96, 321},
        {1440, 96, 96},   {5280, 96, 352},  {1335, 96, 89},   {375, 96, 25},    {5775, 120, 481},
        {1335, 120, 111}, {375, 120, 31},   {4815, 144, 482}, {1335, 144, 134}, {375, 144, 38},
        {4680, 192, 624}, {5775, 192, 770}, {0, 192, 0},      {-240, 120, -20}, {-9, 96, -1},
    };
    for (const TwipsCase& c : cases) {
        EXPECT_EQ(kelvane::TwipsToPixels(c.twips, c.dpi), c.pixels)
            << c.twips << " twips at " << c.dpi << " DPI";
    }
}

}  // namespace
