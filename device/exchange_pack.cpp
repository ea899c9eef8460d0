// Packing is kept apart from the rest of the record: the program only ever
// hands the platform a zeroed form, so only tests and tools that build
// records link this (and the narrow-string code it brings along).
#include "device/device_caps.h"
#include "device/little_endian.h"

namespace kelvane {

ExchangeForm PackExchange(const DeviceCaps& caps, const Utf16ToAnsi& toAnsi) {
    ExchangeForm form{};
    WriteLe(form, exchange::kMid, caps.wMid);
    WriteLe(form, exchange::kPid, caps.wPid);
    WriteLe(form, exchange::kDriverVersion, caps.vDriverVersion);
    const std::string name = toAnsi(caps.szPname);
    for (std::size_t i = 0; i < name.size() && i < exchange::kNameBytes; ++i) {
        form[exchange::kName + i] = static_cast<std::uint8_t>(name[i]);
    }
    WriteLe(form, exchange::kFormats, caps.dwFormats);
    WriteLe(form, exchange::kChannels, caps.wChannels);
    WriteLe(form, exchange::kSupport, caps.dwSupport);
    return form;
}

}  // namespace kelvane
