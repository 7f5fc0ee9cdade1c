// The I/O-module driver's own state and the helpers its files share: the
// per-slot record, the configuration copied from the application, the FPGA
// register map of the counters and pulse outputs.
#pragma once
#include "platform/io.h"
#include "platform/io_analog.h"

#include <cstdint>

// Module types: rows of io_ident.
namespace iorow {
constexpr int kV1 = 0, kV2 = 1, kV3 = 2, kV4 = 3, kV5 = 4, kComm5 = 5, kProtected = 7;
constexpr int kBusSlave = 13, kGeneric1 = 14, kGeneric2 = 15, kMeter1 = 16, kMeter2 = 17;
constexpr int kAq4 = 18, kAq2 = 19, kHsc = 20, kV6 = 21, kBase = 22;
constexpr uint16_t kNone = 0xFFFF;
} // namespace iorow

// State flags of a slot.
namespace ioflag {
constexpr uint16_t kValid = 0x0001;   // calibration constants valid
constexpr uint16_t kCal = 0x0002;     // calibration in progress
constexpr uint16_t kRestart = 0x0004; // the next input pass seeds its filters
} // namespace ioflag

// Feature flags of the configuration block.
namespace iofeat {
constexpr uint16_t kInverted = 0x0080, kAqFromReg = 0x0800, kProtection = 0x8000;
} // namespace iofeat

// Register references of the configuration block (bytes 92-115), in order.
namespace ioref {
constexpr int kCntStatus = 0, kCntLoad = 1, kCntValues = 2, kCntPreset = 3, kPulse = 4,
              kPulseStatus = 5;
} // namespace ioref

constexpr int kPulseRegs = 8; // 0x44, 0x48, 0x4C, 0x50, 0x54, 0x58/0x5A, 0x5C, 0x60

struct IoSlotState {
    uint16_t type = iorow::kNone;
    CalBlock cal{};
    uint16_t flags = 0;
    AiFilter filter[6]{};
    uint8_t mode[12]{};
    uint16_t features = 0;
    uint8_t filter_shift = 0;
    int32_t comp[8]{}; // cold-junction terms

    // Output image and stop settings.
    uint8_t out[4]{};
    uint16_t dstop_mask = 0, dstop_values = 0;
    uint8_t aq_stop_mask = 0;
    uint32_t aq_stop[4]{};
    uint16_t last_aq[4]{};
    uint8_t last_q_mode = 0xFF; // mode of the previous output write

    // Counters and pulse outputs.
    uint32_t cnt_setting[4]{}, cnt_limit[4]{};
    bool cnt34 = false;
    uint32_t refs[6]{};
    uint32_t aq_ref = 0;
    uint32_t protect_ref = 0;
    uint8_t clock_select = 0;
    uint16_t prescaler = 0;
    bool counters_running = false;
    bool pulse_active = false;
    uint8_t fpga_mirror[2] = {0xFF, 0xFF}; // last levels written to 0x40 / 0x80
    uint32_t pulse_last[2][kPulseRegs + 1]{};
    bool pulse_written[2][kPulseRegs + 1]{};
    uint32_t cnt_last[4][3]{};
    bool cnt_written[4][3]{};

    // Thermocouple board: ADC cycle and junction sensor.
    int adc_state = 0, adc_channel = 0;
    uint32_t adc_since = 0;
    int32_t raw[8]{};
    bool fresh[8]{};
    bool unseeded[8]{}; // the channel's next reading seeds its filter
    uint32_t cj_read_at = 0;
    bool cj_read_once = false;
    int16_t cj_reading = 0;
    bool cj_present = false;

    // Protected-output module: scaled channel values and the protection.
    int32_t value[5]{};
    uint32_t trip_ms[5]{};
    double overload = 0;
    uint32_t protect_at = 0;
    bool protect_started = false;

    // Board with six converted inputs: its front end's gain codes, the
    // registers of its identity and diagnostic words, settings taken.
    uint8_t v6_gain[6]{};
    uint32_t v6_id_ref = 0, v6_diag_ref = 0;
    bool v6_ready = false;

    // Generic I2C module: its header, memory address and transfer mode.
    uint8_t gen_hdr[16]{};
    char gen_name[9]{};
    uint32_t gen_base = 0;
    int gen_alg = 0;
    bool gen_ok = false;
};

struct IoDriverState {
    IoSlotState slot[2];
};
extern IoDriverState io_drv;

// Configuration mode bits 8-9 of the flags.
inline int io_mode_bits(const IoSlotState &s) {
    return (s.flags >> 8) & 3;
}
inline bool io_has_fpga_pulse(const IoSlotState &s) {
    return s.type < kIoIdentRows && (io_ident[s.type].features & 1);
}
inline bool io_has_fpga_counters(const IoSlotState &s) {
    return s.type < kIoIdentRows && (io_ident[s.type].features & 2);
}
// Converted analog input channels of a module, and all its input channels.
int io_ai_converted(int type);

// FPGA registers of counter i (0-3).
inline uint16_t cnt_base(int i) {
    return uint16_t(0xC0 + 0x20 * i);
}

// Passes of the analog side (io_scan.cpp).
void input_ais(IoSlotState &s, IoMsg *msg);
void output_aqx(IoSlotState &s, IoMsg *msg, int slot);
void io_counters_start(IoSlotState &s);
void io_counters_stop(IoSlotState &s);
void io_counters_copy(IoSlotState &s);
void io_counter_status(IoSlotState &s);
void io_pulse_update(IoSlotState &s);
// Ramp registers of a pulse profile for a period difference d (counts of the
// 10 MHz clock) over a pulses: the step register and its 16-bit companion.
struct PulseRamp {
    uint32_t step;
    uint16_t spread;
};
PulseRamp pulse_ramp(uint32_t d, uint32_t a);

// Generic I2C modules (io_generic.cpp): the header read at configuration, the
// exchange of each service call, the control byte at stop.
inline bool io_is_generic(const IoSlotState &s) {
    return s.type == iorow::kGeneric1 || s.type == iorow::kGeneric2;
}
void io_get_gen_cfg(IoSlotState &s, int slot);
void io_gen2xfer(IoSlotState &s, int slot);
void io_gen_control(IoSlotState &s, uint8_t value);

// Analog front end of the board with six converted inputs (io_v6.cpp): its
// settings from the configuration block at configuration, and the
// diagnostic words asked for, after its sixth channel's reading.
constexpr int kV6DiagWords = 7;
void io_v6_configure(IoSlotState &s, const uint8_t *cfg, uint32_t n);
void io_v6_diagnostics(IoSlotState &s);

// Output protection of the protected-output module, after its input pass.
void protect_Q4K(IoSlotState &s);

// The base unit's processor pins (io_base.cpp): its four digital input pins
// made inputs, and their levels (false when the registers are not mapped).
void io_base_enable_inputs();
bool io_base_inputs(uint8_t *bits);

// Output image to the hardware (io_driver.cpp).
void io_q_put(int slot, int mode);

// Calibration constants (io_calconst.cpp).
void io_get_cal_const(IoSlotState &s, int slot);
void io_put_cal_const(IoSlotState &s, int slot, uint16_t sub);
void io_put_ee_word(IoSlotState &s, uint16_t value, int offset, int slot, uint16_t sub);

// True while the IEC runtime owns the I/O (its I/O configuration loaded and
// its variables enumerated): status bits then go out one byte per bit.
bool io_iec_owns_io();

// Register helpers: read and write whole words of a register reference; a
// reference of 0 or outside the image does nothing (reads give 0).
uint32_t io_reg_get32(uint32_t ref);
uint16_t io_reg_get16(uint32_t ref);
void io_reg_put32(uint32_t ref, uint32_t v);
void io_reg_put16(uint32_t ref, uint16_t v);
