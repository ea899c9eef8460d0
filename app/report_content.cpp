#include "app/report_content.h"

#include "app/descriptions.h"
#include "report/decimal.h"

namespace kelvane {
namespace {

constexpr int kFormatBits = 12;
constexpr int kFeatureBits = 5;

// One statement per set flag, in ascending flag order.
void PrintFlagList(std::vector<PrintStatement>& report, std::int32_t flags, int bits,
                   std::u16string (*describe)(std::int32_t)) {
    for (std::int16_t counter = 0; counter < bits; ++counter) {
        const std::int32_t flag = std::int32_t{1} << counter;
        if ((flag & flags) != 0) {
            report.push_back({describe(flag)});
        }
    }
}

}  // namespace

std::vector<PrintStatement> ComposeReport(const DeviceCaps& caps) {
    std::vector<PrintStatement> report = {
        {u"产品名称：", ProductNameField(caps)},
        {u"产品 Id：", caps.wPid},
        {u"驱动程序 Id：", caps.wMid},
        {u"驱动程序版本：", VersionMajor(caps), u".", VersionMinor(caps)},
        {u"输出声道：", SignedDecimal(caps.wChannels)},
        {u"支持格式列表："},
    };
    PrintFlagList(report, caps.dwFormats, kFormatBits, Listwaveformat);
    report.push_back({u"扩展输出功能列表："});
    PrintFlagList(report, caps.dwSupport, kFeatureBits, Listwavesupport);
    return report;
}

}  // namespace kelvane
