// One line of text for one capability flag of the report's two lists.
#pragma once

#include <cstdint>
#include <string>

namespace kelvane {

// Exact match against a single flag; zero, combinations and unknown flags
// give the empty text.
std::u16string Listwaveformat(std::int32_t Aboutwave);
std::u16string Listwavesupport(std::int32_t Aboutwave);

}  // namespace kelvane
