// The wave-output capability record of one device, the 52-byte form the
// multimedia service fills in, and the values the report derives from it.
// Portable: the platform call and the code-page conversions are injected.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace kelvane {

constexpr std::size_t kNameChars = 32;

struct DeviceCaps {
    std::int16_t wMid = 0;
    std::int16_t wPid = 0;
    std::int32_t vDriverVersion = 0;
    std::u16string szPname = std::u16string(kNameChars, u'\0');  // always 32 characters
    std::int32_t dwFormats = 0;
    std::int16_t wChannels = 0;
    std::int32_t dwSupport = 0;
};

// Byte layout of the ANSI record the platform writes into (little-endian).
namespace exchange {
constexpr std::size_t kMid = 0, kPid = 2, kDriverVersion = 4, kName = 8, kFormats = 40,
                      kChannels = 44, kSupport = 48, kSize = 52;
constexpr std::size_t kNameBytes = 32;
// The record's declared length: the fields without the platform's 2-byte
// reserved gap. Bytes 50-51 are therefore never requested.
constexpr std::uint32_t kRequestedSize = 50;
}  // namespace exchange

using ExchangeForm = std::array<std::uint8_t, exchange::kSize>;

// Conversions between the system ANSI code page and UTF-16.
using AnsiToUtf16 = std::function<std::u16string(const char* bytes, std::size_t count)>;
using Utf16ToAnsi = std::function<std::string(const std::u16string& text)>;
// The platform's capability call: device id, record address, size -> result code.
using GetDevCaps = std::function<std::uint32_t(std::uint32_t id, void* record, std::uint32_t size)>;

ExchangeForm PackExchange(const DeviceCaps& caps, const Utf16ToAnsi& toAnsi);
DeviceCaps UnpackExchange(const ExchangeForm& form, const AnsiToUtf16& toUtf16);

struct QueryResult {
    DeviceCaps caps;
    std::uint32_t resultCode = 0;
};

// Reads the record of device 0 into a zeroed exchange form (what a zeroed
// record packs to). A failed call is not an error here: the record holds
// whatever the platform wrote (all zeros when it wrote nothing).
QueryResult QueryDevice0(const GetDevCaps& getDevCaps, const AnsiToUtf16& toUtf16);

std::int32_t VersionMajor(const DeviceCaps& caps);
std::int32_t VersionMinor(const DeviceCaps& caps);
// The name up to its first NUL (all of it when a faulty driver left none),
// filled with spaces to 32 characters.
std::u16string ProductNameField(const DeviceCaps& caps);

}  // namespace kelvane
