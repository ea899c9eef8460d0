// Fixed-width integers in the little-endian byte order of the exchange form.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kelvane {

template <typename T, typename Bytes>
T ReadLe(const Bytes& bytes, std::size_t offset) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        value |= std::uint32_t{bytes[offset + i]} << (8 * i);
    }
    return static_cast<T>(value);
}

template <typename T, typename Bytes>
void WriteLe(Bytes& bytes, std::size_t offset, T value) {
    const auto bits = static_cast<std::uint32_t>(value);
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        bytes[offset + i] = static_cast<std::uint8_t>(bits >> (8 * i));
    }
}

}  // namespace kelvane
