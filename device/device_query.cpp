#include "device/device_query.h"

namespace {

std::u16string AnsiToUtf16(const char* bytes, std::size_t count) {
    const int length = MultiByteToWideChar(CP_ACP, 0, bytes, static_cast<int>(count), nullptr, 0);
    std::u16string text(static_cast<std::size_t>(length > 0 ? length : 0), u'\0');
    if (length > 0) {
        MultiByteToWideChar(CP_ACP, 0, bytes, static_cast<int>(count),
                            reinterpret_cast<wchar_t*>(text.data()), length);
    }
    return text;
}

}  // namespace

kelvane::DeviceCaps QueryDevice0(Module1& winmm) {
    const auto getDevCaps = [&winmm](std::uint32_t id, void* record, std::uint32_t size) {
        return static_cast<std::uint32_t>(winmm.waveOutGetDevCapsA(id, record, size));
    };
    // The result code is deliberately unused: a failed call leaves a zeroed
    // record, which the report shows as such.
    return kelvane::QueryDevice0(getDevCaps, AnsiToUtf16).caps;
}
