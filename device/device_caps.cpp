#include "device/device_caps.h"

#include "device/little_endian.h"

namespace kelvane {
namespace {

// A fixed-length text field: cut to its length, or filled with spaces.
std::u16string FixedText(std::u16string text, std::size_t length) {
    text.resize(length, u' ');
    return text;
}

}  // namespace

DeviceCaps UnpackExchange(const ExchangeForm& form, const AnsiToUtf16& toUtf16) {
    DeviceCaps caps;
    caps.wMid = ReadLe<std::int16_t>(form, exchange::kMid);
    caps.wPid = ReadLe<std::int16_t>(form, exchange::kPid);
    caps.vDriverVersion = ReadLe<std::int32_t>(form, exchange::kDriverVersion);
    const auto* name = reinterpret_cast<const char*>(form.data() + exchange::kName);
    caps.szPname = FixedText(toUtf16(name, exchange::kNameBytes), kNameChars);
    caps.dwFormats = ReadLe<std::int32_t>(form, exchange::kFormats);
    caps.wChannels = ReadLe<std::int16_t>(form, exchange::kChannels);
    caps.dwSupport = ReadLe<std::int32_t>(form, exchange::kSupport);
    return caps;
}

QueryResult QueryDevice0(const GetDevCaps& getDevCaps, const AnsiToUtf16& toUtf16) {
    ExchangeForm form{};
    const std::uint32_t rc = getDevCaps(0, form.data(), exchange::kRequestedSize);
    return {UnpackExchange(form, toUtf16), rc};
}

std::int32_t VersionMajor(const DeviceCaps& caps) {
    return caps.vDriverVersion / 256;
}

std::int32_t VersionMinor(const DeviceCaps& caps) {
    return caps.vDriverVersion % 256;
}

std::u16string ProductNameField(const DeviceCaps& caps) {
    const std::size_t nul = caps.szPname.find(u'\0');
    return FixedText(caps.szPname.substr(0, nul), kNameChars);
}

}  // namespace kelvane
