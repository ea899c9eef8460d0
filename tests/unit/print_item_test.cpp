#include "report/print_item.h"

#include <gtest/gtest.h>

#include <limits>

#include "report/decimal.h"

namespace kelvane {
namespace {

using I16 = std::int16_t;
using I32 = std::int32_t;

TEST(RenderStatement, TextAsIsNumbersWithSignPositionAndTrailingSpaceNoGaps) {
    struct Case {
        PrintStatement statement;
        std::u16string expected;
    };
    const Case cases[] = {
        {{u"  spaced  "}, u"  spaced  "},
        {{u""}, u""},
        {{I32{5}}, u" 5 "},
        {{I32{100}}, u" 100 "},
        {{I32{-3}}, u"-3 "},
        {{I32{0}}, u" 0 "},
        {{std::numeric_limits<I32>::min()}, u"-2147483648 "},
        {{std::numeric_limits<I32>::max()}, u" 2147483647 "},
        {{I16{5}}, u" 5 "},
        {{I16{-1}}, u"-1 "},
        {{std::numeric_limits<I16>::min()}, u"-32768 "},
        {{std::numeric_limits<I16>::max()}, u" 32767 "},
        {{u"A", I32{5}, u".", I32{0}}, u"A 5 . 0 "},
        {{I16{-7}, I32{8}}, u"-7  8 "},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RenderStatement(c.statement), c.expected);
    }
}

TEST(SignedDecimal, ChannelCountsWithSignPositionAndNoTrailingSpace) {
    struct Case {
        std::int16_t channels;
        std::u16string expected;
    };
    const Case cases[] = {{1, u" 1"}, {2, u" 2"}, {12, u" 12"}, {-1, u"-1"}, {0, u" 0"}};
    for (const Case& c : cases) {
        EXPECT_EQ(SignedDecimal(c.channels), c.expected);
    }
}

}  // namespace
}  // namespace kelvane
