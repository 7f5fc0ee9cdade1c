// FRAM store of the calibration constants, the retentive registers and the
// battery-backed memory image (the register blocks are laid out in plc/fram.h), as CRC-16-checked
// blocks on the FRAM's SPI port.
//
// Block: u16 CRC-16 of the data, u16 pass number, u32 data length, data. The
// pass number (the board's format leaves the word 0) tells which of the two
// banks was written last, and pairs the register block of a pass with its
// battery-backed block; a bank whose word is 0 in both blocks reads as before.
#pragma once
#include <cstdint>

extern uint8_t bbram[4096];
extern uint8_t Fram_temp[4096]; // work buffer of every block transfer

// FRAM addresses.
namespace fram {
constexpr uint32_t kCalHeader = 0, kCalData = 8, kCalMax = 248;     // ends before bank 1
constexpr uint32_t kCal1Header = 4, kCal1Data = 12, kCal1Max = 244; // read only
constexpr uint32_t kRegHeader1 = 256, kRegHeader2 = 3104, kRegLength = 2816;
constexpr uint32_t kBbrHeader1 = 5952, kBbrHeader2 = 10080, kBbrLength = 4096;
} // namespace fram

void FRAM_Init();
// One FRAM access of `words` 16-bit words at `address`: read != 0 reads.
int spi_RD_nWR_FRAM(uint8_t *buffer, uint32_t address, uint32_t words, int read);
int FRAM_BBRAM_XChange_Data(uint8_t *buffer, int length, int read, int bank);
int FRAM_XChange_cal_Data(uint8_t *buffer, int length, int read);
int FRAM_XChange_cal_Data1(uint8_t *buffer, int length, int read);

// The bank to read at start: the newest bank whose register block and
// battery-backed block are both intact and of the same pass (1 or 2); 0 when
// no bank holds such a pair, so the registers come from the file alone.
struct FramBanks {
    int reg_bank;
    int bbram_bank;
};
FramBanks FRAM_NewestBanks();

// One checked block: write_block stamps it with its CRC, pass number and
// length; read_block reads a block of exactly `length` bytes into Fram_temp
// and is false when its header says another length or its CRC does not match.
void Fram_WriteBlock(uint32_t header, const uint8_t *data, uint32_t length, uint16_t pass);
bool Fram_ReadBlock(uint32_t header, uint32_t length, uint16_t *pass = nullptr);
// The pass number of the next register block (the battery-backed block
// written after it in the same pass carries the same number).
uint16_t Fram_NextPass();

void Fram_Reset();
