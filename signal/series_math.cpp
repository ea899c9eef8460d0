#include "signal/series_math.h"

namespace kelvane {

double Sine(double x) {
    // Bring x into [-pi, pi] first: the series converges fast only near zero.
    const double turns = static_cast<double>(static_cast<long long>(x / (2 * kPi)));
    x -= turns * 2 * kPi;
    if (x > kPi) {
        x -= 2 * kPi;
    } else if (x < -kPi) {
        x += 2 * kPi;
    }
    double term = x, sum = x;
    for (int n = 1; n < 20; ++n) {
        term *= -x * x / ((2 * n) * (2 * n + 1));
        sum += term;
    }
    return sum;
}

double Cosine(double x) {
    return Sine(x + kPi / 2);
}

double Log10(double x) {
    if (!(x > 0)) {
        return -1000;
    }
    constexpr double kLn2 = 0.69314718055994530942;
    constexpr double kLn10 = 2.30258509299404568402;
    int exponent = 0;
    while (x >= 2) {
        x /= 2;
        ++exponent;
    }
    while (x < 1) {
        x *= 2;
        --exponent;
    }
    // ln x = 2 atanh(z) with z = (x - 1) / (x + 1), below 1/3 for x in [1, 2).
    const double z = (x - 1) / (x + 1);
    double power = z, sum = 0;
    for (int k = 1; k < 60; k += 2) {
        sum += power / k;
        power *= z * z;
    }
    return (2 * sum + exponent * kLn2) / kLn10;
}

}  // namespace kelvane
