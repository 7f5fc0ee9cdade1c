// Little-endian accessors for everything stored, sent or shared by offset:
// never cast a pointer to a structure over such bytes.
#pragma once
#include <cstdint>
#include <cstring>

inline uint16_t le16(const void *p) {
    const uint8_t *b = static_cast<const uint8_t *>(p);
    return uint16_t(b[0] | (b[1] << 8));
}
inline uint32_t le32(const void *p) {
    const uint8_t *b = static_cast<const uint8_t *>(p);
    return uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24);
}
inline uint64_t le64(const void *p) {
    const uint8_t *b = static_cast<const uint8_t *>(p);
    return uint64_t(le32(b)) | (uint64_t(le32(b + 4)) << 32);
}
inline void put_le16(void *p, uint16_t v) {
    uint8_t *b = static_cast<uint8_t *>(p);
    b[0] = uint8_t(v);
    b[1] = uint8_t(v >> 8);
}
inline void put_le32(void *p, uint32_t v) {
    uint8_t *b = static_cast<uint8_t *>(p);
    b[0] = uint8_t(v);
    b[1] = uint8_t(v >> 8);
    b[2] = uint8_t(v >> 16);
    b[3] = uint8_t(v >> 24);
}
inline void put_le64(void *p, uint64_t v) {
    put_le32(p, uint32_t(v));
    put_le32(static_cast<uint8_t *>(p) + 4, uint32_t(v >> 32));
}
