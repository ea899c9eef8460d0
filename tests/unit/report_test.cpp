#include "app/report_content.h"

#include <gtest/gtest.h>

#include "app/descriptions.h"
#include "test_support.h"

namespace kelvane {
namespace {

using test::Spaces;

// Indexed by bit number: the line drawn for flag 1 << index.
const std::u16string kFormatTexts[] = {
    u"11.025Khz,Mono,8bit,11Kb/Ps",  u"11.025Khz,Stereo,8bit,22Kb/Ps",
    u"11.025Khz,Mono,16bit,22Kb/Ps", u"11.025Khz,Stereo,16bit,43Kb/Ps",
    u"22.05Khz,Mono,8bit,22Kb/Ps",   u"22.05Khz,Stereo,8bit,43Kb/Ps",
    u"22.05Khz,Mono,16bit,43Kb/Ps",  u"22.05Khz,Stereo,16bit,86Kb/Ps",
    u"44.1Khz,Mono,8bit,43Kb/Ps",    u"44.1Khz,Stereo,8bit,86Kb/Ps",
    u"44.1Khz,Mono,16bit,86Kb/Ps",   u"44.1Khz,Stereo,16bit,172Kb/Ps",
};
const std::u16string kFeatureTexts[] = {
    u"Support Pitch",           u"Support Playback",
    u"Support Volume Control",  u"Support Left-Right Channals",
    u"Support Synchronization",
};

TEST(Descriptions, EachSingleFlagHasItsLineAnythingElseIsEmpty) {
    for (int bit = 0; bit < 12; ++bit) {
        EXPECT_EQ(Listwaveformat(1 << bit), kFormatTexts[bit]) << "bit " << bit;
    }
    for (int bit = 0; bit < 5; ++bit) {
        EXPECT_EQ(Listwavesupport(1 << bit), kFeatureTexts[bit]) << "bit " << bit;
    }
    for (std::int32_t flag : {0, 3, 4096, -1, INT32_MIN}) {
        EXPECT_EQ(Listwaveformat(flag), u"") << "flag " << flag;
    }
    for (std::int32_t flag : {0, 3, 32, -1}) {
        EXPECT_EQ(Listwavesupport(flag), u"") << "flag " << flag;
    }
}

std::vector<std::u16string> AllFlagsReport() {
    std::vector<std::u16string> lines = {
        u"产品名称：Speakers" + Spaces(24), u"产品 Id： 100 ", u"驱动程序 Id： 1 ",
        u"驱动程序版本： 5 . 0 ",           u"输出声道： 2",   u"支持格式列表：",
    };
    lines.insert(lines.end(), std::begin(kFormatTexts), std::end(kFormatTexts));
    lines.push_back(u"扩展输出功能列表：");
    lines.insert(lines.end(), std::begin(kFeatureTexts), std::end(kFeatureTexts));
    return lines;
}

// End to end: the record travels through the byte form, the fake platform
// call and the code-page conversion before it is composed and drawn. Records
// are given in field order: wMid, wPid, version, name, formats, channels, support.
TEST(ComposeReport, DrawsTheQueriedRecord) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> written;
        std::uint32_t resultCode;
        std::vector<std::u16string> expected;
    };
    const Case cases[] = {
        {"worked example",
         test::Packed({1, 100, 1280, u"Speakers", 1 | 8, 2, 4 | 8}),
         0,
         {u"产品名称：Speakers" + Spaces(24), u"产品 Id： 100 ", u"驱动程序 Id： 1 ",
          u"驱动程序版本： 5 . 0 ", u"输出声道： 2", u"支持格式列表：",
          u"11.025Khz,Mono,8bit,11Kb/Ps", u"11.025Khz,Stereo,16bit,43Kb/Ps", u"扩展输出功能列表：",
          u"Support Volume Control", u"Support Left-Right Channals"}},
        {"failed call, nothing written",
         {},
         2,
         {u"产品名称：" + Spaces(32), u"产品 Id： 0 ", u"驱动程序 Id： 0 ",
          u"驱动程序版本： 0 . 0 ", u"输出声道： 0", u"支持格式列表：", u"扩展输出功能列表："}},
        {"every flag bit set", test::Packed({1, 100, 1280, u"Speakers", -1, 2, -1}), 0,
         AllFlagsReport()},
        {"negative values, wide name, only unknown flags",
         test::Packed({-1, -32768, -255, u"立体声扬声器", 4096 | 8192, 12, 32}),
         0,
         {u"产品名称：立体声扬声器" + Spaces(26), u"产品 Id：-32768 ", u"驱动程序 Id：-1 ",
          u"驱动程序版本： 0 .-255 ", u"输出声道： 12", u"支持格式列表：", u"扩展输出功能列表："}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::u16string> lines;
        for (const PrintStatement& statement :
             ComposeReport(test::QueryWritten(c.written, c.resultCode).caps)) {
            lines.push_back(RenderStatement(statement));
        }
        EXPECT_EQ(lines, c.expected);
    }
}

}  // namespace
}  // namespace kelvane
