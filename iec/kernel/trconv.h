// Conversions between the IEC elementary types (type codes: 1 BOOL, 2 DINT,
// 3 REAL, 4 TIME, 5 STRING, 10 SINT, 11 INT, 12 LINT, 13 LREAL, 14 USINT,
// 15 UINT, 16 UDINT, 17 ULINT): the conversion instruction, raw values in
// memory, and numbers to and from text. One rule set for all: an integer
// keeps the low bits that fit (no saturation); a REAL or LREAL becomes an
// integer by truncation toward zero.
#pragma once
#include <cstdint>

// args: four little-endian words: destination index, source index,
// destination type, source type (STRING included).
void TrVMCnv_Convert(uint8_t *db, const uint8_t *args);
// Writes 1, 2, 4 or 8 bytes at dst; STRING and unknown types write nothing.
void TrVMCnv_ConvBin(void *dst, const void *src, uint16_t dst_type, uint16_t src_type);
// text: at least 32 characters.
void TrVMCnv_NumToSZPtr(const void *value, uint16_t type, char *text);
void TrVMCnv_SZToNumPtr(void *value, uint16_t type, const char *text);
void TrVMCnv_NumToSZ(uint8_t *db, uint16_t type, uint32_t index, char *text);
void TrVMCnv_SZToNum(uint8_t *db, uint16_t type, uint32_t index, const char *text);
