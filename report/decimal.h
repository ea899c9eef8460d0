// Whole numbers as the report writes them: a sign position (space or "-")
// followed by the decimal digits. No locale, no streams.
#pragma once

#include <cstdint>
#include <string>

namespace kelvane {

std::u16string SignedDecimal(std::int32_t value);

}  // namespace kelvane
