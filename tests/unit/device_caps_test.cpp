#include "device/device_caps.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <limits>

#include "test_support.h"

namespace kelvane {
namespace {

using test::QueryWritten;
using test::Spaces;
using Bytes = std::vector<std::uint8_t>;
using Fields = std::array<std::int32_t, 6>;

enum { kMidField, kPidField, kVersionField, kFormatsField, kChannelsField, kSupportField };

Fields NumericFields(const DeviceCaps& c) {
    return {c.wMid, c.wPid, c.vDriverVersion, c.dwFormats, c.wChannels, c.dwSupport};
}

// Bytes the fake platform writes: `field` at `offset`, zeros before it.
Bytes At(std::size_t offset, const Bytes& field) {
    Bytes written(offset, 0);
    written.insert(written.end(), field.begin(), field.end());
    return written;
}

TEST(QueryDevice0, AsksForDevice0With50BytesOfAZeroedRecord) {
    std::uint32_t seenId = 99, seenSize = 0;
    bool zeroed = false;
    const GetDevCaps platform = [&](std::uint32_t id, void* record, std::uint32_t size) {
        seenId = id;
        seenSize = size;
        auto* bytes = static_cast<std::uint8_t*>(record);
        zeroed = std::all_of(bytes, bytes + size, [](std::uint8_t b) { return b == 0; });
        // The reserved gap must not leak into the fields around it.
        bytes[46] = bytes[47] = 0xEE;
        return 7u;
    };
    const QueryResult result = QueryDevice0(platform, test::Cp936ToUtf16);
    EXPECT_EQ(seenId, 0u);
    EXPECT_EQ(seenSize, 50u);
    EXPECT_TRUE(zeroed);
    EXPECT_EQ(result.resultCode, 7u);
    EXPECT_EQ(NumericFields(result.caps), Fields{});
}

TEST(QueryDevice0, ReadsEachFieldSignedAtItsOffset) {
    struct Case {
        std::size_t offset;
        Bytes bytes;
        int field;
        std::int32_t expected;
    };
    const Case cases[] = {
        {0, {0x34, 0x12}, kMidField, 0x1234},
        {0, {0x00, 0x80}, kMidField, -32768},
        {2, {0xFF, 0xFF}, kPidField, -1},
        {2, {0x00, 0x80}, kPidField, -32768},
        {2, {0xFF, 0x7F}, kPidField, 32767},
        {4, {0x03, 0x01, 0x00, 0x00}, kVersionField, 259},
        {4, {0x00, 0x00, 0x00, 0x80}, kVersionField, std::numeric_limits<std::int32_t>::min()},
        {40, {0x09, 0x08, 0x00, 0x00}, kFormatsField, 0x0809},
        {40, {0xFF, 0xFF, 0xFF, 0xFF}, kFormatsField, -1},
        {44, {0x0C, 0x00}, kChannelsField, 12},
        {44, {0xFF, 0xFF}, kChannelsField, -1},
        {48, {0x1C, 0x00}, kSupportField, 28},
        // Only the low half is requested, so the upper half stays zero.
        {48, {0x00, 0x80}, kSupportField, 0x8000},
    };
    for (const Case& c : cases) {
        Fields expected{};
        expected[c.field] = c.expected;
        EXPECT_EQ(NumericFields(QueryWritten(At(c.offset, c.bytes)).caps), expected)
            << "offset " << c.offset;
    }
}

TEST(QueryDevice0, KeepsWhateverAFailedOrShortCallLeft) {
    const QueryResult none = QueryWritten({}, 2);
    EXPECT_EQ(none.resultCode, 2u);
    EXPECT_EQ(ProductNameField(none.caps), Spaces(32));

    EXPECT_EQ(NumericFields(none.caps), Fields{});

    const QueryResult part = QueryWritten({0x07, 0x00, 0x09, 0x00, 0x03, 0x01}, 0);
    EXPECT_EQ(NumericFields(part.caps), (Fields{7, 9, 259, 0, 0, 0}));
}

TEST(ProductNameField, NameUpToItsFirstNulPaddedTo32Characters) {
    std::string sixteenWide;
    while (sixteenWide.size() < 32) sixteenWide += "\xC9\xF9";  // 声
    struct Case {
        std::string bytes;
        std::u16string expected;
    };
    const Case cases[] = {
        {"Speakers", u"Speakers" + Spaces(24)},
        {"", Spaces(32)},
        {" a ", u" a " + Spaces(29)},
        {std::string(31, 'x'), std::u16string(31, u'x') + Spaces(1)},
        {std::string("AB\0CD\xFF", 6), u"AB" + Spaces(30)},
        // A faulty driver that leaves no NUL: the whole field is the name.
        {std::string(32, 'y'), std::u16string(32, u'y')},
        {"\xC1\xA2\xCC\xE5\xC9\xF9\xD1\xEF\xC9\xF9\xC6\xF7", u"立体声扬声器" + Spaces(26)},
        {sixteenWide, std::u16string(16, u'声') + Spaces(16)},
    };
    for (const Case& c : cases) {
        const Bytes name(c.bytes.begin(), c.bytes.end());
        EXPECT_EQ(ProductNameField(QueryWritten(At(exchange::kName, name)).caps), c.expected);
    }
}

TEST(Version, MajorAndMinorTruncateTowardZeroWithoutMasking) {
    struct Case {
        std::int32_t version, major, minor;
    };
    const Case cases[] = {
        {1280, 5, 0}, {259, 1, 3}, {65792, 257, 0}, {-255, 0, -255}, {-257, -1, -1}, {0, 0, 0},
    };
    for (const Case& c : cases) {
        DeviceCaps caps;
        caps.vDriverVersion = c.version;
        EXPECT_EQ(VersionMajor(caps), c.major) << c.version;
        EXPECT_EQ(VersionMinor(caps), c.minor) << c.version;
    }
}

}  // namespace
}  // namespace kelvane
