#include "test_support.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace kelvane::test {
namespace {

// Undecodable input is replaced unit by unit instead of aborting, as the
// system converters do: bytes after a name's NUL may be anything.
std::string Convert(const char* to, const char* from, std::string input, std::size_t unit,
                    const std::string& replacement) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        throw std::runtime_error(std::string("iconv cannot convert ") + from + " to " + to);
    }
    std::string output;
    char* in = input.data();
    std::size_t inLeft = input.size();
    while (inLeft > 0) {
        char buffer[256];
        char* out = buffer;
        std::size_t outLeft = sizeof buffer;
        const bool failed = iconv(cd, &in, &inLeft, &out, &outLeft) == static_cast<std::size_t>(-1);
        output.append(buffer, out);
        if (failed && errno != E2BIG) {
            const std::size_t skip = std::min(unit, inLeft);
            in += skip;
            inLeft -= skip;
            output += replacement;
        }
    }
    iconv_close(cd);
    return output;
}

}  // namespace

// The host is little-endian like the target, so UTF-16LE bytes are char16_t
// units as they lie in memory.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__);

std::u16string Cp936ToUtf16(const char* bytes, std::size_t count) {
    const std::string le =
        Convert("UTF-16LE", "CP936", std::string(bytes, count), 1, std::string("?\0", 2));
    std::u16string text(le.size() / 2, u'\0');
    std::memcpy(text.data(), le.data(), text.size() * 2);
    return text;
}

std::string Utf16ToCp936(const std::u16string& text) {
    const std::string le(reinterpret_cast<const char*>(text.data()), text.size() * 2);
    return Convert("CP936", "UTF-16LE", le, 2, "?");
}

QueryResult QueryWritten(const std::vector<std::uint8_t>& written, std::uint32_t resultCode) {
    const GetDevCaps platform = [&](std::uint32_t, void* record, std::uint32_t size) {
        const std::size_t count = std::min<std::size_t>(size, written.size());
        std::copy_n(written.begin(), count, static_cast<std::uint8_t*>(record));
        return resultCode;
    };
    return QueryDevice0(platform, Cp936ToUtf16);
}

std::vector<std::uint8_t> Packed(const DeviceCaps& caps) {
    const ExchangeForm form = PackExchange(caps, Utf16ToCp936);
    return {form.begin(), form.end()};
}

}  // namespace kelvane::test
