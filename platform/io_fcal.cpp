#include "platform/io_fcal.h"

#include "base/le.h"
#include "base/trace.h"
#include "platform/fram.h"
#include "platform/i2c.h"
#include "platform/io.h"
#include "platform/io_drv.h"
#include "regs/plc_reg.h"

#include <algorithm>
#include <cmath>
#include <cstring>

using namespace caltbl;

uint16_t ram_calib_tbl[kCalTblWords];
uint16_t loc_calib_tbl[kCalTblWords];
uint8_t Ch_Flag[kCalInputs][6];

// clang-format off
const uint16_t def_calib_tbl[kCalTblWords] = {
    0, 0, 0, 0,                 0, 0, 0, 0,
    33350, 33350, 33350, 33350, 0, 0, 0, 0,
    0, 0, 0, 0,                 33250, 33250, 33250, 33250,
};
// clang-format on

namespace {

constexpr uint16_t kCaptureLow = 0xAAAA, kCaptureHigh = 0xCCCC;
constexpr uint16_t kSave = 0xEEEE, kDefaults = 0x7777;
constexpr uint8_t kFrontEnd = 0x4C; // expander of the inputs' current/voltage switches
constexpr uint8_t kVoltageInputs = 0x1E;
constexpr int kRing = 16;

// Registers %R9000-%R9007.
enum {
    kR9000 = 9000,
    kChannel = 9001,
    kRange = 9002,
    kReading = 9003,
    kR9004 = 9004,
    kCommand = 9005,
    kSaveCmd = 9006,
    kDefaultsCmd = 9007
};

struct State {
    uint16_t last_range; // %R9002 at the previous pass
    uint16_t ring[kRing];
    int samples; // conversions since the selection changed
    int sel_ch, sel_range;
    bool reading_ok;                 // `reading` belongs to the present selection
    int32_t reading;                 // scaled reading, 32000 = full scale
    int32_t point[kCalInputs][3][2]; // captured readings, low and high, by range
    bool started;                    // the first pass since start-up is done
};
State st;

uint16_t r_get(int n) {
    return le16(plc_reg + reg::kR + 2u * unsigned(n - 1));
}
void r_put(int n, uint16_t v) {
    put_le16(plc_reg + reg::kR + 2u * unsigned(n - 1), v);
}
void clear_registers() {
    for (int n = kR9000; n <= kDefaultsCmd; ++n)
        r_put(n, 0);
}

bool current_range(int range) {
    return range != 3;
}
int gain_word(int range, int ch) {
    return (current_range(range) ? kCurGain : kVoltGain) + ch;
}
int offset_word(int range, int ch) {
    return (current_range(range) ? kCurOffset : kVoltOffset) + ch;
}

void write_fram() {
    CalBlock b;
    cal_GetTbl(ram_calib_tbl, b);
    uint8_t bytes[kCalBlockBytes];
    cal_pack(b, bytes);
    FRAM_XChange_cal_Data(bytes, kCalBlockBytes, 0);
}

// The working copy follows the factory table.
void reload() {
    std::memcpy(loc_calib_tbl, ram_calib_tbl, sizeof loc_calib_tbl);
}

void clear_flags() {
    std::memset(Ch_Flag, 0, sizeof Ch_Flag);
}

// The inputs' front end: current for ranges 1-2, voltage for range 3.
void front_end(int range) {
    uint8_t port[2] = {0xFF, 0xFF};
    I2C_read_io(kFrontEnd, port, 1, 2);
    if (range == 3)
        port[0] = kVoltageInputs;
    else if (range == 1 || range == 2)
        port[0] = uint8_t(port[0] & ~kVoltageInputs);
    else
        return;
    I2C_write_io(kFrontEnd, port, 1, 2);
}

// One conversion into the ring; every 16th one gives a reading: the sum of
// the ring (the scale of the inputs' raw values) through the channel's
// present pair.
void cal_Adc(int range, int ch) {
    if (ch != st.sel_ch || range != st.sel_range) {
        // Samples of another input or range must not reach this one's points.
        st.sel_ch = ch;
        st.sel_range = range;
        st.samples = 0;
        st.reading_ok = false;
    }
    st.ring[st.samples % kRing] = uint16_t(IoBaseAdc(ch) & 0xFFF);
    if (++st.samples % kRing != 0) return;
    int32_t s = 0;
    for (uint16_t v : st.ring)
        s += v;
    s &= ~0xF;
    const int64_t gain = loc_calib_tbl[gain_word(range, ch)];
    const int64_t offset = int16_t(loc_calib_tbl[offset_word(range, ch)]);
    const int64_t v = gain * (s + offset) / 65536;
    st.reading = v < 0 ? 0 : int32_t(v);
    st.reading_ok = true;
}

// Reference points of the ranges, in mA or V.
struct Nominal {
    double low, high;
};
constexpr Nominal kNominal[3] = {{1.0, 18.0}, {4.0, 18.0}, {0.5, 9.0}};

// Constants that make the channel read the range's nominal points at the
// captured readings L and H. False (nothing changed) when the points do not
// give constants that fit their words: equal points would divide by zero,
// and a falling pair gives a negative gain.
bool do_cal(int32_t low, int32_t high, int range, int ch) {
    if (high == low) return false;
    // Readings and the pair in one unit: full scale 32000 is 20 mA or 10 V.
    const double unit = current_range(range) ? 20.0 / 32000 : 10.0 / 32000;
    const double L = low * unit, H = high * unit;
    const Nominal n = kNominal[range - 1];
    const double span = n.high - n.low;
    const double g = loc_calib_tbl[gain_word(range, ch)];
    const double o = int16_t(loc_calib_tbl[offset_word(range, ch)]);
    if (g == 0) return false;
    // What one count of the raw sum reads at the present gain.
    const double k = g * unit / 65536;
    const double gain = std::floor(g * span / (H - L) + 0.5);
    const double offset = std::floor((n.low * H - n.high * L) / (span * k) + o + 0.5);
    if (gain < 1 || gain > 65535 || offset < -32768 || offset > 32767) return false;
    loc_calib_tbl[gain_word(range, ch)] = uint16_t(gain);
    loc_calib_tbl[offset_word(range, ch)] = uint16_t(int16_t(offset));
    loc_calib_tbl[(current_range(range) ? kCurFlag : kVoltFlag) + ch] = 1;
    return true;
}

// The capture command of the selected input and range. A high point is
// taken only after a low point, and only when the pair gives constants: a
// command not taken stays in %R9005.
void cal_highlow_verify(uint8_t *flags, int range, int ch) {
    const uint16_t cmd = r_get(kCommand);
    if (cmd != kCaptureLow && cmd != kCaptureHigh) return;
    if (!st.reading_ok) return; // wait for the first reading of this selection
    const int i = (range - 1) * 2;
    if (cmd == kCaptureLow) {
        st.point[ch][range - 1][0] = st.reading;
        flags[i] = 1;
    } else {
        if (!flags[i]) return;
        if (!do_cal(st.point[ch][range - 1][0], st.reading, range, ch)) return;
        st.point[ch][range - 1][1] = st.reading;
        // The pair is used up: its low point was read with the old constants.
        flags[i] = 0;
        flags[i + 1] = 1;
    }
    r_put(kReading, uint16_t(std::min<int32_t>(st.reading, 0xFFFF)));
    r_put(kCommand, 0);
}

void cal_DefltLoad(int range, int ch) {
    if (current_range(range)) {
        loc_calib_tbl[kCurGain + ch] = def_calib_tbl[kCurGain + ch];
        loc_calib_tbl[kCurOffset + ch] = def_calib_tbl[kCurOffset + ch];
        std::memset(Ch_Flag[ch], 0, 4);
    } else {
        loc_calib_tbl[kVoltGain + ch] = def_calib_tbl[kVoltGain + ch];
        loc_calib_tbl[kVoltOffset + ch] = def_calib_tbl[kVoltOffset + ch];
        Ch_Flag[ch][4] = Ch_Flag[ch][5] = 0;
    }
    std::memcpy(ram_calib_tbl, loc_calib_tbl, sizeof ram_calib_tbl);
    r_put(kReading, 0);
    r_put(kR9004, 0);
    r_put(kDefaultsCmd, 0);
    write_fram();
    cal_Update_StatusReg();
}

// Slot 0 holds a module other than the base unit's own I/O.
bool another_module_in_slot0() {
    const uint16_t type = io_drv.slot[0].type;
    return type != iorow::kNone && type != iorow::kBase;
}

} // namespace

void cal_GetTbl(const uint16_t tbl[kCalTblWords], CalBlock &out) {
    std::memset(&out, 0, sizeof out);
    for (int n = 0; n < kCalInputs; ++n) {
        out.gain[2 * n] = tbl[kVoltGain + n];
        out.gain[2 * n + 1] = tbl[kCurGain + n];
        out.offset[2 * n] = tbl[kVoltOffset + n];
        out.offset[2 * n + 1] = tbl[kCurOffset + n];
    }
    out.marker = kCalMarker;
}

void cal_SetTbl(const CalBlock &b, uint16_t tbl[kCalTblWords]) {
    for (int n = 0; n < kCalInputs; ++n) {
        tbl[kVoltGain + n] = b.gain[2 * n];
        tbl[kCurGain + n] = b.gain[2 * n + 1];
        tbl[kVoltOffset + n] = b.offset[2 * n];
        tbl[kCurOffset + n] = b.offset[2 * n + 1];
        tbl[kCurFlag + n] = tbl[kCurGain + n] != kCurGainDefault;
        tbl[kVoltFlag + n] = tbl[kVoltGain + n] != kVoltGainDefault;
    }
}

bool cal_ReadFactoryBlock(CalBlock &out) {
    uint8_t factory[2 * kCalTblWords];
    if (!FRAM_XChange_cal_Data1(factory, sizeof factory, 1)) return false;
    uint16_t tbl[kCalTblWords];
    for (int i = 0; i < kCalTblWords; ++i)
        tbl[i] = le16(factory + 2 * i);
    cal_GetTbl(tbl, out);
    return true;
}

void cal_RefreshTbl(const CalBlock &b) {
    cal_SetTbl(b, ram_calib_tbl);
    reload();
}

int cal_LoadTbl(CalBlock &out) {
    uint8_t bytes[kCalBlockBytes];
    int from_fram = 1;
    if (FRAM_XChange_cal_Data(bytes, kCalBlockBytes, 1) &&
        (cal_unpack(bytes, out), out.marker == kCalMarker)) {
        cal_SetTbl(out, ram_calib_tbl);
    } else if (cal_ReadFactoryBlock(out)) {
        cal_SetTbl(out, ram_calib_tbl);
        write_fram();
    } else {
        std::memcpy(ram_calib_tbl, def_calib_tbl, sizeof ram_calib_tbl);
        cal_GetTbl(ram_calib_tbl, out);
        from_fram = 0;
    }
    reload();
    return from_fram;
}

void cal_Update_StatusReg() {
    uint16_t cur = 0, volt = 0;
    for (int n = 0; n < kCalInputs; ++n) {
        loc_calib_tbl[kCurFlag + n] = loc_calib_tbl[kCurGain + n] != kCurGainDefault;
        loc_calib_tbl[kVoltFlag + n] = loc_calib_tbl[kVoltGain + n] != kVoltGainDefault;
        cur = uint16_t(cur | (loc_calib_tbl[kCurFlag + n] << n));
        volt = uint16_t(volt | (loc_calib_tbl[kVoltFlag + n] << n));
    }
    sr_put(sr::kCalibCurrent, cur);
    sr_put(sr::kCalibVoltage, volt);
}

// Once per pass of the main loop. Outside the mode it only keeps the status
// registers: %R9000-%R9007 are ordinary registers of the application then.
void factory_calib() {
    host::trace("factory_calib");
    if (!st.started) {
        st.started = true;
        // The mode ends with a restart. %SR84 is saved with the registers,
        // so a mode left in the saved image would come back with the local
        // I/O off, and no register writer could end it.
        if (sr_get(sr::kCalibKey) == sr::kCalibActive) sr_put(sr::kCalibKey, 0);
    }
    if (sr_get(sr::kCalibKey) == sr::kCalibEnter && another_module_in_slot0()) {
        // Only the base unit's inputs are calibrated here; on another
        // module the range switch would write that module's expander (its
        // outputs, on the protected-output module). The key is not taken.
        sr_put(sr::kCalibKey, 0);
    }
    if (sr_get(sr::kCalibKey) == sr::kCalibEnter) {
        // The stored constants are what the station starts from.
        CalBlock stored;
        cal_LoadTbl(stored);
        sr_put(sr::kCalibKey, sr::kCalibActive);
        clear_registers();
        clear_flags();
        st.last_range = 0;
        st.sel_ch = st.sel_range = 0;
        cal_Update_StatusReg();
    }
    if (sr_get(sr::kCalibKey) != sr::kCalibActive) {
        cal_Update_StatusReg();
        return;
    }
    if (r_get(kSaveCmd) == kSave) {
        clear_registers();
        std::memcpy(ram_calib_tbl, loc_calib_tbl, sizeof ram_calib_tbl);
        write_fram();
        reload();
        clear_flags();
        cal_Update_StatusReg();
    }
    if (r_get(kChannel) == 0 && r_get(kDefaultsCmd) == kDefaults) {
        clear_registers();
        std::memcpy(ram_calib_tbl, def_calib_tbl, sizeof ram_calib_tbl);
        sr_put(sr::kCalibCurrent, 0);
        sr_put(sr::kCalibVoltage, 0);
        write_fram();
        reload();
        clear_flags();
        cal_Update_StatusReg();
    }
    const uint16_t range = r_get(kRange);
    if (range != st.last_range) {
        front_end(range);
        st.last_range = range;
    }
    const uint16_t ch = r_get(kChannel);
    if (ch < 1 || ch > kCalInputs || range < 1 || range > 3) return;
    cal_Adc(range, ch - 1);
    cal_highlow_verify(Ch_Flag[ch - 1], range, ch - 1);
    if (r_get(kDefaultsCmd) == kDefaults) cal_DefltLoad(range, ch - 1);
}

void FactoryCal_Reset() {
    std::memcpy(ram_calib_tbl, def_calib_tbl, sizeof ram_calib_tbl);
    reload();
    clear_flags();
    st = State{};
}
