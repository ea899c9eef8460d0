// Host stand-ins for what the Windows build takes from the system: the ANSI
// code page (fixed to 936 here, so double-byte names are exercised) and the
// capability call.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/device_caps.h"

namespace kelvane::test {

std::u16string Cp936ToUtf16(const char* bytes, std::size_t count);
std::string Utf16ToCp936(const std::u16string& text);

// Like the real call, the fake writes no more than the size it is asked for,
// so bytes past the requested size are never seen by the core.
QueryResult QueryWritten(const std::vector<std::uint8_t>& written, std::uint32_t resultCode = 0);

std::vector<std::uint8_t> Packed(const DeviceCaps& caps);

inline std::u16string Spaces(std::size_t count) {
    return std::u16string(count, u' ');
}

}  // namespace kelvane::test
