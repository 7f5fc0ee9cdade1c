// Analog conversion of the local I/O: the channel mode table, linearisation
// of thermocouples and resistance thermometers, cold-junction terms, the
// input filter, scaling of raw readings by calibration constants, the analog
// output conversion and the calibration block kept in module EEPROM and FRAM.
//
// These are pure computations: the driver owns the per-slot state and calls
// them each pass.
#pragma once
#include <cstdint>

// Channel mode of an analog input.
namespace aimode {
constexpr int kVolt = 0, kMa0_20 = 1, kMa4_20 = 2, kMillivolt = 8, kOff = 10, kRtd = 16;
constexpr int kTcFirst = 24, kTcLast = 31; // thermocouples J, R, K, T, S, E, N, B
} // namespace aimode

// Analog input mode table, indexed by the channel mode (0-31).
struct Ad5tRow {
    uint32_t settle; // program ticks to wait after selecting the channel
    uint32_t shift;
    uint32_t clamp; // full scale
    uint8_t adc;    // external ADC configuration byte
};
extern const Ad5tRow ad5t[32];

// Pt100 table: 257 entries in steps of 64 counts, temperatures in 1/20 degree
// plus 5600 (5600 = -280 degrees), -206 to 857 degrees.
constexpr int kRtdEntries = 257;
extern const uint16_t pt100e_tab[kRtdEntries];
extern const uint32_t kRtdMilliohmsLo, kRtdMilliohmsHi; // resistance at the first and last entry

// Thermocouple tables of modes 24-31: 513 entries in steps of 128 counts of
// the compensated input (0x8000 = 0 mV), same unit and offset as the Pt100
// table, generated from the types' reference functions at each mode's input
// gain (tools/gen_tc_table.py).
constexpr int kTcEntries = 513;
extern const uint16_t tctbl[8][kTcEntries];
extern const char kTcTypes[9];           // type letter of each mode, "JRKTSENB"
extern const uint16_t kTcCountsPerMv[8]; // input counts per millivolt of each mode
// Cold-junction constants of each mode's type at its input gain (see cj_comp).
extern const int32_t cjy[8], cjysq[8];

// Linear interpolation in a thermocouple table (v 0..0xFFFF) or the RTD table
// (v 0..16384); the result is in 1/20 degree Celsius. Inputs beyond the table
// give its end value.
int32_t tc_table(int32_t v, const uint16_t *table);
int32_t rtd_table(int32_t v, const uint16_t *table);

// Cold-junction terms of the eight thermocouple types (J, R, K, T, S, E, N,
// B) for a junction temperature t in 1/40 degree.
void cj_comp(int32_t t, int32_t comp[8]);

// First-order filter of weight 1/2^k; k = 0 passes each reading through.
struct AiFilter {
    int64_t acc;
    int32_t value;
};
int32_t ai_filter(AiFilter &f, int32_t raw, int k, bool restart);

// Scaling of a raw reading into the register word.
int32_t ai_scale(int32_t raw, uint16_t gain, uint16_t offset);      // plug-in modules
int32_t ai_scale_base(int32_t raw, uint16_t gain, uint16_t offset); // on-chip ADC of the base unit
int32_t ai_4_20(int32_t v); // 0..32000 of 0-20 mA to 4-20 mA (below 4 mA negative)
// The thermocouple board: the pair of the mode, the junction term of the
// mode's type and, for thermocouple modes, a table in place of the mode's own.
int32_t ai_scale_tc_board(int mode, int32_t raw, uint16_t gain, uint16_t offset, int32_t comp,
                          const uint16_t *tc = nullptr);

// Analog output value (0..0xFFF) of register word v for a channel mode, from
// the channel's three constant pairs (gain[3n..3n+2], offset[3n..3n+2]).
uint16_t aq_convert(int mode, uint16_t v, const uint16_t gain[3], const uint16_t offset[3]);
// The thermocouple board's outputs: one pair for mode 0, one for modes 1-2.
uint16_t aq_convert_board(int mode, uint16_t v, uint16_t gain, uint16_t offset);
// DAC of output channel ch (0-3) and its three-byte frame.
uint8_t aq_dac_addr(int ch);
void aq_dac_frame(int ch, uint16_t value, uint8_t frame[3]);

// Pulse output in PWM mode: FPGA period and duty registers (counts of the
// 10 MHz clock, minus 1) for a run frequency in Hz and a duty 0-32000.
// False for frequency 0 (no pulses).
struct PwmRegs {
    uint32_t period, duty;
};
bool pwm_regs(uint32_t freq, uint32_t duty, PwmRegs &out);

// Calibration block: the same 66-byte image in module EEPROM and FRAM.
constexpr int kCalBlockBytes = 66;
constexpr uint16_t kCalMarker = 0xF19E;
struct CalBlock {
    uint16_t gain[16];
    uint16_t offset[16]; // two's complement
    uint16_t marker;
};
void cal_unpack(const uint8_t *bytes, CalBlock &b);
void cal_pack(const CalBlock &b, uint8_t *bytes);
// EEPROM address of a module's block by its identity row, and the address
// its constants are loaded from.
uint16_t io_eeaddr(int row);
uint16_t io_cal_load_addr(int row);
