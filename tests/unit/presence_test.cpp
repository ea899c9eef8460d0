#include "app/presence.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace kelvane {
namespace {

TEST(DecidePresence, OnlyAPositiveCountMeansACardWasFound) {
    const std::u16string found = u"已找到声卡\uFF0C声卡运行良好";
    const std::u16string missing = u"没找到声卡\uFF0C可能没安装驱动程序";
    struct Case {
        std::int32_t count;
        bool found;
    };
    const Case cases[] = {
        {1, true},
        {3, true},
        {std::numeric_limits<std::int32_t>::max(), true},
        {0, false},
        {-1, false},
        {std::numeric_limits<std::int32_t>::min(), false},
        // An unsigned platform count with the top bit set, as the core receives it.
        {static_cast<std::int32_t>(0x80000001u), false},
    };
    for (const Case& c : cases) {
        const Presence presence = DecidePresence(c.count);
        EXPECT_EQ(presence.found, c.found) << "count " << c.count;
        EXPECT_EQ(std::u16string(presence.prompt), c.found ? found : missing)
            << "count " << c.count;
    }
    EXPECT_EQ(std::u16string(kPresenceTitle), u"Find Sound Blaster Card");
}

}  // namespace
}  // namespace kelvane
