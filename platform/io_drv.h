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

// AC metering module: the chip's filtered readings, the transformer ratios,
// the energy counters and the powers computed from them, and what the output
// pass last sent to the chip.
//
// The metering chip (I2C 0x50, or 0x52 for the second identity) answers
// register reads: the frame {1, register} (mode 0x105), then 4, 3 or 2 bytes,
// most significant first (modes 0x405, 0x305, 0x205). Registers 0x01-0x03 and
// 0x04-0x06 give the active and reactive energy since their last read (signed
// 16 bits, the low two bytes of three), 0x0A-0x0C the current RMS, 0x0D-0x0F
// the voltage RMS (32 bits), 0x10 the line frequency (12 bits, 1/16 Hz), 0x21
// and 0x22 the voltage and current peaks (16 bits). It takes register writes
// as {2, register, three data bytes, most significant first} (mode 0x405), and
// the one-byte commands 0x19 (then three bytes: the 20 digital inputs, most
// significant first) and 0x1A.
//
// Chip registers written by the driver: the start-up configuration (0x30 ...,
// kMeterConfig in io_meter.cpp), calibration gain n at 0x40 + n and offset n
// at 0x50 + n, the voltage transformer ratios at 0x60-0x62 and the current
// ratios at 0x63-0x65 (unsigned, 1/256 units), and from the analog output
// words 1-4 of the module (chip units): the sag threshold (0x68), the voltage
// and current peak thresholds (0x69, 0x6A) and the zero-crossing time-out
// (0x6B).
//
// Configuration block: channel mode 1 (byte 0) chooses the phase (0-2) whose
// ratios scale the peak readings; byte 8 is the filter shift of the RMS and
// frequency readings.
constexpr int kMeterSent = 10; // ratios 0-5, thresholds 6-8, time-out 9
struct MeterState {
    int64_t acc[7]{}, val[7]{}; // filters: voltage 0-2, current 3-5, frequency 6
    bool seeded[7]{};           // the filter took its first reading since the restart
    double vratio[3] = {1.0, 1.0, 1.0}, iratio[3] = {1.0, 1.0, 1.0};
    double lpf1 = 1.0;
    double energy[3]{}, renergy[3]{}, total = 0, rtotal = 0;
    double last_e[3]{}, last_r[3]{};
    double power[3]{}, rpower[3]{};
    uint32_t last_t = 0;
    bool started = false; // the first pass recorded the counters
    uint32_t sent[kMeterSent]{};
    bool sent_ok[kMeterSent]{};
};

// Bus-slave module: a fieldbus slave that the panel reaches through a memory
// window (I2C 0x1C in slot 0, 0x1E in slot 1, two address bytes, mode 3):
//   0       control: 1 exchange, 0 stopped (written at start and stop)
//   1       status: the data windows are valid while its high nibble is 0xE
//   2-3     u16 read once at start into a configured register
//   4-7     four sizes: input bytes, output bytes, input words, output words
//   8       identity byte (0x9F)
//   0xFC    node address (written at start when it differs)
//   0xFD    u16 copied to a configured register at every digital read
//   0xFE    1 written after a new node address
//   0x100   digital inputs, byte k at 0x100 + k
//   0x140   digital outputs
//   0x200   analog inputs, word k at 0x200 + 2k (low byte first)
//   0x300   analog outputs
// Configuration block of the module (little-endian, word n at byte 2n, like the
// other modules' blocks: the sizes where they keep the channel modes, the node
// address in the filter-shift byte, the registers among the register
// references):
//   0-7     u16[4]: digital input bits, digital output bits, analog input
//           words, analog output words (each at most the identity table's size)
//   8       u8 node address
//   92-95   u32 register reference that receives the word at 0xFD (0 none)
//   96-99   u32 register reference that receives the word at 2 at start (0 none)
namespace ioslave {
constexpr uint16_t kControl = 0, kStatus = 1, kStartWord = 2, kSizes = 4, kIdent = 8;
constexpr uint16_t kNode = 0xFC, kScanWord = 0xFD, kNodeNew = 0xFE;
constexpr uint16_t kDigIn = 0x100, kDigOut = 0x140, kAnIn = 0x200, kAnOut = 0x300;
} // namespace ioslave
struct SlaveState {
    uint16_t sizes[4]{}; // from the configuration (0 without one)
    uint8_t node = 0;
    uint32_t scan_ref = 0, start_ref = 0;
    uint8_t status = 0; // the status byte last read
};

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
    uint32_t trip_ticks[5]{}; // time above the pick-up, in program ticks
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

    MeterState meter;
    SlaveState slave;
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

// AC metering modules (io_meter.cpp).
inline bool io_is_meter(const IoSlotState &s) {
    return s.type == iorow::kMeter1 || s.type == iorow::kMeter2;
}
void input_acm(IoSlotState &s, IoMsg *msg);
void io_meter_config(IoSlotState &s);                // the chip's start-up words
void io_meter_send_cal(IoSlotState &s, int ch);      // constant pair ch to the chip
bool io_meter_inputs(IoSlotState &s, uint8_t in[3]); // command 0x19
void io_meter_q(IoSlotState &s);                     // output bits 6 and 7
void io_meter_aqx(IoSlotState &s);                   // ratios, thresholds, time-out
// Calibration sub-commands 1, 2 and 15 of a metering module: false when the
// sub-command is not one of them.
bool io_meter_cal(IoSlotState &s, IoMsg *msg);

// Bus-slave module (io_slave.cpp).
void io_slave_configure(IoSlotState &s, const uint8_t *block, uint32_t n);
void io_slave_read_inputs(IoSlotState &s, IoMsg *msg);
void io_slave_write_outputs(IoSlotState &s, IoMsg *msg);
void io_slave_read_analog(IoSlotState &s, IoMsg *msg);
void io_slave_write_analog(IoSlotState &s, IoMsg *msg);
void io_slave_stop(IoSlotState &s, int slot);
void io_slave_start(IoSlotState &s, int slot);

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
