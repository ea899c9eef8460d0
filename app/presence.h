// What the presence check tells the user for a given wave-output device count.
#pragma once

#include <cstdint>

namespace kelvane {

inline constexpr const char16_t* kPresenceTitle = u"Find Sound Blaster Card";

struct Presence {
    bool found;
    const char16_t* prompt;
};

// The platform's unsigned count is read as signed: a count with the top bit
// set means no device.
Presence DecidePresence(std::int32_t deviceCount);

}  // namespace kelvane
