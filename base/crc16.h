// CRC-16 of every checked structure (FRAM blocks, application blocks, register
// files, serial frames): reflected polynomial 0xA001, initial value 0xFFFF, no
// final XOR. The CRC of "123456789" is 0x4B37; the CRC of no bytes is 0xFFFF.
#pragma once
#include <cstddef>
#include <cstdint>

extern const uint16_t CrcTab[256];

uint16_t crc16(const uint8_t *buffer, size_t length);
// Continues a CRC over further bytes from a running value.
uint16_t crc16_next(const uint8_t *buffer, size_t length, uint16_t crc);
