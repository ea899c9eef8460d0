// Feeds arbitrary driver records, device counts, result codes and code-page
// conversions through everything the program does with them, and checks the
// report keeps its shape.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "app/presence.h"
#include "app/report_content.h"
#include "device/device_caps.h"
#include "report/print_item.h"

namespace {

void Require(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

}  // namespace

// Input: 52 record bytes, 4 count bytes, 4 result-code bytes; whatever follows
// is what the code-page converter claims the 32 name bytes decode to.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kHeader = kelvane::exchange::kSize + 8;
    if (size < kHeader) {
        return 0;
    }
    std::int32_t count = 0;
    std::uint32_t resultCode = 0;
    std::memcpy(&count, data + kelvane::exchange::kSize, 4);
    std::memcpy(&resultCode, data + kelvane::exchange::kSize + 4, 4);
    const kelvane::Presence presence = kelvane::DecidePresence(count);
    Require(presence.found == (count > 0));

    std::uint32_t requested = 0;
    const auto platform = [&](std::uint32_t, void* record, std::uint32_t bytes) {
        requested = bytes;
        std::memcpy(record, data, bytes);
        return resultCode;
    };
    const std::u16string decoded(reinterpret_cast<const char16_t*>(data + kHeader),
                                 (size - kHeader) / sizeof(char16_t));
    const auto converter = [&](const char*, std::size_t) { return decoded; };

    const kelvane::QueryResult query = kelvane::QueryDevice0(platform, converter);
    Require(requested == kelvane::exchange::kRequestedSize);
    Require(query.resultCode == resultCode);
    Require(query.caps.szPname.size() == kelvane::kNameChars);
    Require(kelvane::ProductNameField(query.caps).size() == kelvane::kNameChars);

    const auto report = kelvane::ComposeReport(query.caps);
    const int listed = __builtin_popcount(query.caps.dwFormats & 0xFFF) +
                       __builtin_popcount(query.caps.dwSupport & 0x1F);
    Require(report.size() == 7u + static_cast<unsigned>(listed));
    // The name line is always the label plus exactly 32 characters.
    Require(kelvane::RenderStatement(report.front()).size() == 5 + kelvane::kNameChars);
    for (const kelvane::PrintStatement& statement : report) {
        Require(!kelvane::RenderStatement(statement).empty());
    }
    return 0;
}
