#include "base/crc16.h"

#include "base/le.h"

#include <array>

namespace {
using Table = std::array<std::array<uint16_t, 256>, 8>;

// Slicing by eight: table k advances a byte that is followed by k more bytes.
constexpr Table make_tables() {
    Table t{};
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t c = uint16_t(i);
        for (int b = 0; b < 8; ++b)
            c = (c & 1) ? uint16_t((c >> 1) ^ 0xA001) : uint16_t(c >> 1);
        t[0][i] = c;
    }
    for (unsigned i = 0; i < 256; ++i)
        for (int k = 1; k < 8; ++k)
            t[k][i] = uint16_t((t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF]);
    return t;
}
constexpr Table kTables = make_tables();
} // namespace

const uint16_t CrcTab[256] = {
#define R(i) kTables[0][i]
#define R8(i) R(i), R(i + 1), R(i + 2), R(i + 3), R(i + 4), R(i + 5), R(i + 6), R(i + 7)
#define R64(i)                                                                                     \
    R8(i), R8(i + 8), R8(i + 16), R8(i + 24), R8(i + 32), R8(i + 40), R8(i + 48), R8(i + 56)
    R64(0), R64(64), R64(128), R64(192)
#undef R64
#undef R8
#undef R
};

uint16_t crc16_next(const uint8_t *p, size_t n, uint16_t crc) {
    while (n >= 8) {
        uint32_t lo = le32(p) ^ crc, hi = le32(p + 4);
        crc = uint16_t(kTables[7][lo & 0xFF] ^ kTables[6][(lo >> 8) & 0xFF] ^
                       kTables[5][(lo >> 16) & 0xFF] ^ kTables[4][lo >> 24] ^
                       kTables[3][hi & 0xFF] ^ kTables[2][(hi >> 8) & 0xFF] ^
                       kTables[1][(hi >> 16) & 0xFF] ^ kTables[0][hi >> 24]);
        p += 8;
        n -= 8;
    }
    while (n--)
        crc = uint16_t((crc >> 8) ^ CrcTab[(crc ^ *p++) & 0xFF]);
    return crc;
}

uint16_t crc16(const uint8_t *p, size_t n) {
    return crc16_next(p, n, 0xFFFF);
}
