// Helpers shared by the ladder's data, timer, shift and LREAL instruction
// families: bounded access to the register area, typed entries of the data
// stack, and conversions between floating-point values and integers that are
// defined for every input (the board's conversions saturate; C++ leaves an
// out-of-range conversion undefined).
#pragma once
#include "base/le.h"
#include "plc/ladder.h"
#include "regs/plc_reg.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

// The bytes a ladder program addresses: %IG up to the end of %ESR. The
// controller data and the battery marker behind %ESR are never reachable.
constexpr uint32_t kLadAreaEnd = reg::kESR + 0x200;
// End of the ordinary register areas (everything before %ET).
constexpr uint32_t kLadOrdinaryEnd = reg::kET;

// Image offset of the word or byte a decoded reference names.
inline uint64_t LadNum_WordOffset(uint32_t ref) {
    return uint64_t((ref - 1024u) >> 4) * 2;
}
inline uint64_t LadNum_ByteOffset(uint32_t ref) {
    return (ref - 1024u) >> 3;
}

// End of the area that holds image byte `offset`: the ordinary areas end at
// %ET, then %ET, %EM and %ESR each end where the next begins. An operand's
// bytes must lie in the area of its first byte, as every register access.
inline uint64_t LadNum_AreaEnd(uint64_t offset) {
    return offset < reg::kET    ? reg::kET
           : offset < reg::kEM  ? reg::kEM
           : offset < reg::kESR ? reg::kESR
                                : kLadAreaEnd;
}

// `bytes` bytes from the word (or byte) of an operand reference, or null with
// lad_fault set when they leave their area: an operand that names memory
// outside the image is a fault of the program, which stops the scan.
inline uint8_t *LadNum_At(uint32_t ref, uint64_t offset, uint64_t bytes) {
    if (ref < 1024 || offset + bytes > LadNum_AreaEnd(offset)) {
        lad_fault = 1;
        return nullptr;
    }
    return plc_reg + offset;
}
inline uint8_t *LadNum_AtWord(uint32_t ref, uint64_t bytes) {
    return LadNum_At(ref, LadNum_WordOffset(ref), bytes);
}
inline uint8_t *LadNum_AtByte(uint32_t ref, uint64_t bytes) {
    return LadNum_At(ref, LadNum_ByteOffset(ref), bytes);
}

// Typed entries of the data stack (little-endian, as the registers).
inline void LadNum_Push16(uint16_t v) {
    uint8_t b[2];
    put_le16(b, v);
    Lad_WPush(b, 2);
}
inline void LadNum_Push32(uint32_t v) {
    uint8_t b[4];
    put_le32(b, v);
    Lad_WPush(b, 4);
}
inline void LadNum_Push64(uint64_t v) {
    uint8_t b[8];
    put_le64(b, v);
    Lad_WPush(b, 8);
}
inline uint16_t LadNum_Pop16() {
    uint8_t b[2];
    Lad_WPop(b, 2);
    return le16(b);
}
inline uint32_t LadNum_Pop32() {
    uint8_t b[4];
    Lad_WPop(b, 4);
    return le32(b);
}
inline uint64_t LadNum_Pop64() {
    uint8_t b[8];
    Lad_WPop(b, 8);
    return le64(b);
}
inline void LadNum_PushF(float v) {
    LadNum_Push32(std::bit_cast<uint32_t>(v));
}
inline float LadNum_PopF() {
    return std::bit_cast<float>(LadNum_Pop32());
}

// Infinity and NaN: the exponent bits all ones.
inline bool LadNum_FiniteF(float v) {
    return (std::bit_cast<uint32_t>(v) & 0x7F800000u) != 0x7F800000u;
}
inline bool LadNum_Finite(double v) {
    return (std::bit_cast<uint64_t>(v) & 0x7FF0000000000000ull) != 0x7FF0000000000000ull;
}

// A double rounded to single precision; beyond the float range the result is
// the infinity of its sign (IEEE overflow), NaN stays NaN.
inline float LadNum_ToFloat(double v) {
    if (std::isnan(v)) return std::numeric_limits<float>::quiet_NaN();
    if (v > double(std::numeric_limits<float>::max()))
        return std::numeric_limits<float>::infinity();
    if (v < -double(std::numeric_limits<float>::max()))
        return -std::numeric_limits<float>::infinity();
    return float(v);
}

// Truncation toward zero to a 64-bit integer, saturating beyond its range, NaN
// giving 0. The instructions then cut the value to their width, so an
// out-of-range conversion pushes the low bits of the truncated value.
inline int64_t LadNum_Trunc64(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 9223372036854775808.0) return std::numeric_limits<int64_t>::max();
    if (v <= -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
    return int64_t(v); // in range: truncates toward zero
}

// The moves, typed loads and indexed and pointer accesses of the data family
// (program counter after the opcode word); false for a code that is not one
// of them.
bool LadMove_Exec(uint16_t op);
