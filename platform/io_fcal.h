// Factory calibration of the base unit's four analog inputs: a service mode
// in which a test station, through registers, captures two reference points
// per input and range, and the constants are kept in FRAM.
//
// Registers: %SR84 mode key (0x71D4 enters, 0x39A6 while the mode lasts),
// %SR85 / %SR86 inputs whose current / voltage constants differ from the
// defaults; %R9001 input 1-4, %R9002 range (1 0-20 mA, 2 4-20 mA, 3 0-10 V),
// %R9003 the captured reading (full scale 32000), %R9005 capture command
// (0xAAAA low point, 0xCCCC high point; back to 0 when taken), %R9006 0xEEEE
// saves, %R9007 0x7777 restores defaults (all inputs when %R9001 is 0).
#pragma once
#include "platform/io_analog.h"

#include <cstdint>

constexpr int kCalInputs = 4;
constexpr int kCalTblWords = 24;

// Words of the factory table, each followed by one word per input.
namespace caltbl {
constexpr int kCurFlag = 0, kCurOffset = 4, kCurGain = 8;
constexpr int kVoltFlag = 12, kVoltOffset = 16, kVoltGain = 20;
constexpr uint16_t kCurGainDefault = 33350, kVoltGainDefault = 33250;
} // namespace caltbl

// The factory table (what the base unit's inputs use), its working copy
// while calibrating, and the defaults.
extern uint16_t ram_calib_tbl[kCalTblWords];
extern uint16_t loc_calib_tbl[kCalTblWords];
extern const uint16_t def_calib_tbl[kCalTblWords];
// Per input: low and high point captured, for ranges 1, 2 and 3.
extern uint8_t Ch_Flag[kCalInputs][6];

// The calibration block of a factory table: input n's voltage pair in
// gain[2n] / offset[2n], its current pair in gain[2n + 1] / offset[2n + 1].
void cal_GetTbl(const uint16_t tbl[kCalTblWords], CalBlock &out);
// The factory table from a calibration block (flags: gain not the default).
void cal_SetTbl(const CalBlock &b, uint16_t tbl[kCalTblWords]);
// The factory block (the second FRAM calibration block: the 48-byte factory
// table itself, not a calibration block) as a calibration block, marked
// valid; false when the block is not intact.
bool cal_ReadFactoryBlock(CalBlock &out);
// The factory table and its working copy from the calibration block of the
// on-board inputs (stored or loaded by the I/O driver).
void cal_RefreshTbl(const CalBlock &b);
// Loads the factory table: from the FRAM calibration block when it is intact
// and marked valid, else from the factory block in FRAM (then written as the
// new calibration block), else the defaults. Fills `out` with the block the
// base unit's inputs use; the working copy follows. 1 when the constants
// came from FRAM.
int cal_LoadTbl(CalBlock &out);
// %SR85 and %SR86 from the working copy.
void cal_Update_StatusReg();

void FactoryCal_Reset();
