// Sine, cosine and logarithm from their series. Kelvane links no maths library, to keep its
// import table as it is; these are exact to double precision over the ranges the sound checks use.
#pragma once

namespace kelvane {

constexpr double kPi = 3.14159265358979323846;

double Sine(double x);
double Cosine(double x);
// Base-10 logarithm of a positive number; zero, negatives and NaN give -1000, far below any level
// a 16-bit recording can hold, so callers that clamp to a floor need no special case.
double Log10(double x);

}  // namespace kelvane
