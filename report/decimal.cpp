#include "report/decimal.h"

#include <algorithm>

namespace kelvane {

std::u16string SignedDecimal(std::int32_t value) {
    // Widen first: the magnitude of INT32_MIN does not fit in 32 bits.
    std::int64_t magnitude = value < 0 ? -std::int64_t{value} : value;
    std::u16string digits;
    do {
        digits.push_back(static_cast<char16_t>(u'0' + magnitude % 10));
        magnitude /= 10;
    } while (magnitude != 0);
    digits.push_back(value < 0 ? u'-' : u' ');
    std::reverse(digits.begin(), digits.end());
    return digits;
}

}  // namespace kelvane
