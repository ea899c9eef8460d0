#include "signal/series_math.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace kelvane {
namespace {

TEST(SeriesMath, AgreesWithTheHostLibraryOverTheRangesTheChecksUse) {
    // Levels run from a 16-bit step's square (1e-10 of full scale squared) up past full scale;
    // phases reach a few hundred thousand radians over a recording of several seconds.
    for (const double x : {1e-10, 3.3e-5, 0.001, 0.5, 1.0, 1.999999, 2.0, 10.0, 32767.0, 1e9}) {
        EXPECT_NEAR(Log10(x), std::log10(x), 1e-12) << x;
    }
    for (const double x : {0.0, -1.0, std::numeric_limits<double>::quiet_NaN()}) {
        EXPECT_EQ(Log10(x), -1000) << x;
    }
    for (const double x : {0.0, 1.0, -2.5, kPi, 100.0, -16600.3, 250000.7}) {
        EXPECT_NEAR(Sine(x), std::sin(x), 1e-9) << x;
        EXPECT_NEAR(Cosine(x), std::cos(x), 1e-9) << x;
    }
}

}  // namespace
}  // namespace kelvane
