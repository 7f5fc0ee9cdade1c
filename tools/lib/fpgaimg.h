// Images for the FPGA's programming engine, made for the board's FPGA model:
// the algorithm image (tagged header, then opcodes of SPI transactions,
// loops and waits), the configuration stream, the data image (a compression
// flag, then one frame that both the program and the verify pass read, stored
// or run-length coded) and the image file with its seven-line text header.
//
// The configuration stream: preamble 0xBD 0xB3, kFpgaBodyBytes bytes, the
// CRC-16 (0x1021, start 0xFFFF, high byte first) of the body.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace fpgaimg {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kBodyBytes = 4092;
constexpr uint32_t kStreamBytes = kBodyBytes + 4;

// A number: 7 bits a byte, least significant group first, bit 7 on all but the last.
void put_number(Bytes &out, uint32_t n);
uint16_t stream_crc(const uint8_t *p, size_t n);

// The algorithm for a stream of kStreamBytes bytes. `compression`: the flag
// the data image must carry; `checksum`: false writes 0xFF 0xFF.
Bytes algorithm(uint8_t compression, bool checksum = true);
// Preamble, body, CRC.
Bytes stream(const Bytes &body);
// Frame types: 0 stored, 1 runs of 0xFF, 2 runs of 0x00.
Bytes data_image(const Bytes &stream, uint8_t compression, int frame_type = 0);
// Seven CRLF lines, the third ending in the three-digit version, then the data.
Bytes image_file(const Bytes &data, int version);

} // namespace fpgaimg
