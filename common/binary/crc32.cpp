#include "common/binary/crc32.h"

#include <array>
#include <cstring>

namespace pelorin::common {

namespace {

// Eight tables, so that eight bytes are folded per step (textures run to tens of megabytes).
using Tables = std::array<std::array<std::uint32_t, 256>, 8>;

constexpr Tables makeTables() {
    Tables tables{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t value = i;
        for (int bit = 0; bit < 8; ++bit)
            value = (value >> 1) ^ (0xEDB88320u & (0u - (value & 1u)));
        tables[0][i] = value;
    }
    for (std::size_t i = 0; i < 256; ++i) {
        for (std::size_t t = 1; t < 8; ++t) {
            tables[t][i] = (tables[t - 1][i] >> 8) ^ tables[0][tables[t - 1][i] & 0xFF];
        }
    }
    return tables;
}

constexpr Tables tables = makeTables();

}  // namespace

std::uint32_t crc32(std::span<const std::uint8_t> bytes, std::uint32_t crc) {
    crc = ~crc;
    const std::uint8_t* p = bytes.data();
    std::size_t left = bytes.size();
    while (left >= 8) {
        std::uint32_t low, high;
        std::memcpy(&low, p, 4);
        std::memcpy(&high, p + 4, 4);
        low ^= crc;
        crc = tables[7][low & 0xFF] ^ tables[6][(low >> 8) & 0xFF] ^ tables[5][(low >> 16) & 0xFF] ^
              tables[4][low >> 24] ^ tables[3][high & 0xFF] ^ tables[2][(high >> 8) & 0xFF] ^
              tables[1][(high >> 16) & 0xFF] ^ tables[0][high >> 24];
        p += 8;
        left -= 8;
    }
    while (left-- > 0) crc = (crc >> 8) ^ tables[0][(crc ^ *p++) & 0xFF];
    return ~crc;
}

}  // namespace pelorin::common
