// Models of the local I/O modules (see io_modules.h).
#include "host/io_modules.h"

#include "host/clock.h"
#include "host/config.h"
#include "host/ctl.h"
#include "host/fpga.h"
#include "host/i2c.h"
#include "host/io_meter_slave.h"
#include "host/root.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace host {

namespace {

constexpr int kChannels = 16;
constexpr double kFullScale = 32000.0; // register value of 10 V or 20 mA

// Injected inputs of a slot, kept apart from the bus so that they survive a
// new bus and apply to a module plugged in later.
struct SlotInputs {
    uint32_t bits = 0;
    int32_t raw[kChannels] = {};
    double mv[kChannels] = {}; // millivolt inputs of the thermocouple board
    bool is_mv[kChannels] = {};
};
struct State {
    SlotInputs in[2];
    bool loaded[2] = {};
};
State g;

enum class Family {
    None,
    Expander,
    ThermoBoard,
    SixInputs,
    Protected,
    AnalogOut,
    Base,
    Meter,
    BusSlave
};

uint16_t slot_id(int slot) {
    std::string v = config(slot == 0 ? "io.slot0" : "io.slot1");
    return uint16_t(std::strtoul(v.c_str(), nullptr, 0));
}

Family family(uint16_t id) {
    switch (id) {
    case 0x0100:
    case 0xA60F:
    case 0xA00F:
    case 0xA40F:
        return Family::Expander;
    case 0xA20F:
        return Family::ThermoBoard;
    case 0xDF0E:
        return Family::SixInputs;
    case 0x7F0E:
        return Family::Protected;
    case 0x8F0F:
    case 0x0F0F:
        return Family::AnalogOut;
    case 0xEF0E:
        return Family::Base;
    case 0x500F:
    case 0x520F:
        return Family::Meter;
    case 0x9F0F:
        return Family::BusSlave;
    default:
        return Family::None;
    }
}

// ----------------------------------------------------------------- devices

// The board with six converted inputs: a command byte, then data. 0x40
// then a read: the digital inputs; 0x40 and two bytes: the outputs; 0x20 +
// channel then a read: that input's converter value; 0x30 + channel and two
// bytes: an analog output. Words travel low byte first. Its analog front
// end: 0x50 + channel and two bytes: the channel's setting (taken 2 ms
// later: status 0x10 bit 0), 0x11 and 0x12 its identity words, 0x13-0x1A
// diagnostic words (fixed values of a healthy board).
class SixInputBoard : public I2cDevice {
public:
    explicit SixInputBoard(int slot) : slot_(slot) {}
    bool start(uint8_t address) override {
        writing_ = !(address & 1);
        index_ = 0;
        data_.clear();
        return true;
    }
    bool write(uint8_t byte) override {
        if (index_++ == 0) {
            cmd_ = byte;
            return true;
        }
        data_.push_back(byte);
        if (data_.size() == 2) {
            uint16_t w = uint16_t(data_[0] | data_[1] << 8);
            if (cmd_ == 0x40) {
                q = w;
            } else if ((cmd_ & 0xF0) == 0x30) {
                aq[cmd_ & 0x0F] = w;
            } else if ((cmd_ & 0xF0) == 0x50) {
                setting[cmd_ & 0x0F] = w;
                set_at_ = mono_ns();
            }
            data_.clear();
        }
        return true;
    }
    uint8_t read() override {
        uint16_t w = 0;
        if (cmd_ == 0x40)
            w = uint16_t(g.in[slot_].bits);
        else if ((cmd_ & 0xF0) == 0x20)
            w = uint16_t(g.in[slot_].raw[cmd_ & 0x0F]);
        else if (cmd_ == 0x10)
            w = mono_ns() - set_at_ >= 2'000'000 ? 1 : 0;
        else if (cmd_ >= 0x11 && cmd_ <= 0x1A)
            w = kFrontEndWords[cmd_ - 0x11];
        return uint8_t(index_++ % 2 == 0 ? w : w >> 8);
    }
    uint16_t q = 0;
    uint16_t aq[16] = {};
    uint16_t setting[16] = {};

    // Identity (0x11, 0x12), then diagnostics 0x13-0x1A: supply in mV, board
    // temperature in 1/10 degree, reference in mV, (0x16 none), fault bits,
    // open inputs, conversions per second, firmware revision.
    static constexpr uint16_t kFrontEndWords[10] = {0x6A06, 0x0103, 24000, 312, 2500,
                                                    0,      0,      0,     200, 0x0102};

private:
    uint64_t set_at_ = 0;
    int slot_;
    bool writing_ = false;
    int index_ = 0;
    uint8_t cmd_ = 0;
    std::vector<uint8_t> data_;
};

// The external converter of the expander boards: a configuration byte
// selects the channel (0x40 + 0x20 x channel) and the gain (1 << bits 0-1),
// a read gives the value high byte first and a status byte whose bit 7 clear
// means ready.
class ExtAdc : public I2cDevice {
public:
    explicit ExtAdc(int slot) : slot_(slot) {}
    bool start(uint8_t) override {
        index_ = 0;
        return true;
    }
    bool write(uint8_t byte) override {
        channel_ = ((byte - 0x40) >> 5) & 7;
        gain_ = 1 << (byte & 3);
        return true;
    }
    uint8_t read() override {
        const uint16_t v = uint16_t(counts());
        switch (index_++) {
        case 0:
            return uint8_t(v >> 8);
        case 1:
            return uint8_t(v);
        default:
            return 0;
        }
    }

private:
    // A millivolt input: 256 counts per millivolt at gain 1, as the
    // thermocouple inputs' default constant (31426 of 32768) reads them.
    int32_t counts() const {
        const SlotInputs &in = g.in[slot_];
        if (!in.is_mv[channel_]) return in.raw[channel_];
        const double c = in.mv[channel_] * 256.0 * gain_ * 32768.0 / kTcDefaultGain;
        return int32_t(std::lround(std::clamp(c, -32768.0, 32767.0)));
    }
    static constexpr double kTcDefaultGain = 31426.0;
    int slot_;
    int index_ = 0;
    int channel_ = 0;
    int gain_ = 1;
};

// A 12-bit converter: three-byte frames {0x30 + channel, value << 4 high
// byte first} (two channels), or, with `two_byte`, {value high, value low}.
class Dac : public I2cDevice {
public:
    explicit Dac(bool two_byte) : two_byte_(two_byte) {}
    bool start(uint8_t) override {
        bytes_.clear();
        return true;
    }
    bool write(uint8_t byte) override {
        bytes_.push_back(byte);
        if (two_byte_ && bytes_.size() == 2) {
            value[0] = uint16_t((bytes_[0] << 8 | bytes_[1]) & 0xFFF);
            bytes_.clear();
        } else if (!two_byte_ && bytes_.size() == 3) {
            value[bytes_[0] & 1] = uint16_t((bytes_[1] << 8 | bytes_[2]) >> 4);
            bytes_.clear();
        }
        return true;
    }
    uint8_t read() override { return 0xFF; }
    uint16_t value[2] = {};

private:
    bool two_byte_;
    std::vector<uint8_t> bytes_;
};

// ------------------------------------------------------- board memories

// The factory constants of the six-input board (unity gains, marker), put
// into its memory file the first time the module is seen.
void factory_memory(I2cBus &bus, const char *file, uint8_t bus_address) {
    const std::string p = path(file);
    if (::access(p.c_str(), F_OK) != 0) {
        uint8_t img[256];
        std::memset(img, 0xFF, sizeof img);
        for (int i = 0; i < 16; ++i) {
            img[2 * i] = 0x00; // gain 16384
            img[2 * i + 1] = 0x40;
            img[32 + 2 * i] = 0;
            img[33 + 2 * i] = 0;
        }
        img[0x40] = 0x9E;
        img[0x41] = 0xF1;
        make_dirs("/dev");
        int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ssize_t n = ::write(fd, img, sizeof img);
            (void)n;
            ::close(fd);
        }
    }
    bus.attach(bus_address, std::make_shared<I2cEeprom>(bus_address, 256, 16, 5000, file));
}

// --------------------------------------------------------------- values

I2cExpander *expander(uint8_t address) {
    return i2c_bus().model<I2cExpander>(address);
}

// Pushes the digital inputs of a slot into the expanders that carry them.
void apply_bits(int slot) {
    const uint32_t b = g.in[slot].bits;
    switch (family(slot_id(slot))) {
    case Family::Expander:
    case Family::ThermoBoard:
        if (auto *e = expander(0x40)) e->pins = uint16_t(0xFF00 | (b & 0xFF));
        if (auto *e = expander(0x44)) e->pins = uint16_t(0xFFF0 | ((b >> 16) & 0x0F));
        break;
    case Family::Protected:
        if (auto *e = expander(0x4C)) e->pins = uint16_t((e->pins & 0xFFF0) | (b & 0x0F));
        break;
    default:
        break;
    }
}

// Parses "12mA", "5V", "100ohm", "1234": the value and its unit.
bool parse_quantity(const std::string &text, double *v, std::string *unit) {
    const char *s = text.c_str();
    char *end = nullptr;
    errno = 0;
    *v = std::strtod(s, &end);
    if (end == s || errno == ERANGE || !std::isfinite(*v)) return false;
    unit->clear();
    for (const char *p = end; *p; ++p)
        *unit += char(std::tolower(static_cast<unsigned char>(*p)));
    return true;
}

// The converter counts of an analog input for a physical value.
bool to_raw(Family f, double v, const std::string &unit, int32_t *raw, std::string *error) {
    double reg; // the register value the module's constants make of it
    if (unit == "v") {
        reg = v / 10.0 * kFullScale;
    } else if (unit == "ma") {
        reg = v / 20.0 * kFullScale;
    } else if (unit.empty()) {
        *raw = int32_t(std::lround(v));
        if (f == Family::Base && (v < 0 || v > 4095)) {
            *error = "counts of the on-chip converter must lie in 0..4095";
            return false;
        }
        if (v < -32768 || v > 65535) {
            *error = "counts must lie in -32768..65535";
            return false;
        }
        return true;
    } else if (unit == "ohm" && f == Family::ThermoBoard) {
        // Pt100 span of the resistance input, linear over 16384 steps.
        const double lo = 15.919, hi = 392.527;
        const double step = (v - lo) / (hi - lo) * 16384.0;
        reg = step * 65536.0 / 30695.0; // the default constant of that input
        *raw = int32_t(std::lround(std::clamp(reg, -32768.0, 32767.0)));
        return true;
    } else {
        *error = "unit '" + unit + "' not known for this module (V, mA" +
                 std::string(f == Family::ThermoBoard ? ", mV, ohm" : "") + " or plain counts)";
        return false;
    }
    double counts = reg;
    switch (f) {
    case Family::Expander: // default constants 8771 (volts), 13213 (current)
        counts = reg * 16384.0 / (unit == "v" ? 8771.0 : 13213.0);
        break;
    case Family::Protected: // one default constant of 8771 per channel
        counts = reg * 16384.0 / 8771.0;
        break;
    case Family::ThermoBoard: // default constants 39226 (volts), 32783 (current)
        counts = reg * 8192.0 / (unit == "v" ? 39226.0 : 32783.0);
        break;
    case Family::Base: // 12-bit counts, shifted left 4, x 33250 (volts) or 33350 (current) / 65536
        *raw = int32_t(std::lround(
            std::clamp(reg * 65536.0 / (unit == "v" ? 33250.0 : 33350.0) / 16.0, 0.0, 4095.0)));
        return true;
    default: // unity constants
        break;
    }
    *raw = int32_t(std::lround(std::clamp(counts, -32768.0, 65535.0)));
    return true;
}

uint32_t fpga_word(uint16_t reg, int bytes) {
    FpgaModel *m = fpga_model();
    uint32_t v = 0;
    for (int i = 0; m && i < bytes; ++i)
        v |= uint32_t(m->reg(uint16_t(reg + i))) << (8 * i);
    return v;
}

// Values read back from the module's devices.
bool output(int slot, const std::string &name, std::string *out) {
    const Family f = family(slot_id(slot));
    I2cBus &bus = i2c_bus();
    int n = 0;
    if (name == "q") {
        uint32_t q = 0;
        if (f == Family::SixInputs) {
            if (auto *b = bus.model<SixInputBoard>(0x40)) q = b->q;
        } else if (f == Family::Expander || f == Family::ThermoBoard) {
            const uint16_t id = slot_id(slot);
            const bool two = id == 0xA00F || id == 0xA40F || id == 0xA20F;
            if (auto *e = expander(0x40)) q = uint8_t(~(e->latch >> 8)) & (two ? 0xFD : 0x7F);
            if (two)
                if (auto *e = expander(0x42))
                    q |= uint32_t(uint8_t(~e->latch) & (id == 0xA20F ? 0x7F : 0xFF)) << 8;
        } else if (f == Family::Protected) {
            if (auto *e = expander(0x4C)) q = (~e->latch >> 4) & 0x0F;
        } else if (f == Family::Base) {
            // Output 1 on bit 7 of the first byte, outputs 2-4 on bits 0-2 of the second.
            if (auto *e = expander(0x4C))
                q = ((e->latch >> 7) & 1 ? 0 : 1) | ((~e->latch >> 8) & 7) << 1;
        }
        *out = std::to_string(q);
        return true;
    }
    if (io_index_of(name, "aq", 1, 14, &n)) {
        uint32_t v = 0;
        if (f == Family::SixInputs) {
            if (auto *b = bus.model<SixInputBoard>(0x40)) v = b->aq[n - 1];
        } else if (f == Family::AnalogOut && n <= 4) {
            if (auto *d = bus.model<Dac>(n <= 2 ? 0x20 : 0x22)) v = d->value[(n - 1) & 1];
        } else if (f == Family::ThermoBoard && n <= 2) {
            if (auto *d = bus.model<Dac>(n == 1 ? 0x98 : 0x9A)) v = d->value[0];
        } else {
            return false;
        }
        *out = std::to_string(v);
        return true;
    }
    if (f == Family::SixInputs && io_index_of(name, "fe", 1, 6, &n)) {
        // The front end's setting of an input: mode, then gain code.
        uint16_t v = 0;
        if (auto *b = bus.model<SixInputBoard>(0x40)) v = b->setting[n - 1];
        char buf[32];
        std::snprintf(buf, sizeof buf, "mode=%u gain=%u", v & 0xFF, v >> 8);
        *out = buf;
        return true;
    }
    if (slot == 0 && io_index_of(name, "pulse", 1, 2, &n)) {
        const uint16_t base = uint16_t(0x40 * n);
        char buf[96];
        std::snprintf(buf, sizeof buf, "on=%u mode=0x%02X period=%u duty=%u", fpga_word(base, 1),
                      fpga_word(uint16_t(base + 1), 1), fpga_word(uint16_t(base + 8), 3),
                      fpga_word(uint16_t(base + 4), 3));
        *out = buf;
        return true;
    }
    if (slot == 0 && io_index_of(name, "cnt", 1, 4, &n)) {
        *out = std::to_string(fpga_word(uint16_t(0xD8 + 0x20 * (n - 1)), 4));
        return true;
    }
    if (name == "i") {
        *out = std::to_string(g.in[slot].bits);
        return true;
    }
    if (io_index_of(name, "ai", 1, kChannels, &n)) {
        if (g.in[slot].is_mv[n - 1]) {
            char buf[32];
            std::snprintf(buf, sizeof buf, "%.3f mV", g.in[slot].mv[n - 1]);
            *out = buf;
        } else {
            *out = std::to_string(g.in[slot].raw[n - 1]) + " counts";
        }
        return true;
    }
    return false;
}

void load_config(int slot) {
    if (g.loaded[slot]) return;
    g.loaded[slot] = true;
    const std::string base = slot == 0 ? "io.slot0." : "io.slot1.";
    std::string err;
    for (const char *name : {"i"})
        if (std::string v = config(base + name); !v.empty()) io_set(slot, name, v, &err);
    for (int n = 1; n <= kChannels; ++n) {
        const std::string name = "ai" + std::to_string(n);
        if (std::string v = config(base + name); !v.empty()) io_set(slot, name, v, &err);
    }
}

} // namespace

void io_modules_plug(I2cBus &bus, int slot, uint16_t id) {
    switch (family(id)) {
    case Family::SixInputs:
        bus.attach(0x40, std::make_shared<SixInputBoard>(slot));
        break;
    case Family::Expander:
    case Family::ThermoBoard:
        bus.attach(0x40, std::make_shared<I2cExpander>(0xFFFF));
        bus.attach(0x42, std::make_shared<I2cExpander>(0xFFFF));
        bus.attach(0x44, std::make_shared<I2cExpander>(0xFFFF));
        bus.attach(0x9C, std::make_shared<ExtAdc>(slot));
        if (family(id) == Family::ThermoBoard) {
            bus.attach(0x98, std::make_shared<Dac>(true));
            bus.attach(0x9A, std::make_shared<Dac>(true));
        }
        break;
    case Family::Protected:
        bus.attach(0x90, std::make_shared<SixInputBoard>(slot));
        break;
    case Family::AnalogOut:
        bus.attach(0x20, std::make_shared<Dac>(false));
        if (id == 0x8F0F) bus.attach(0x22, std::make_shared<Dac>(false));
        break;
    case Family::Meter:
        meter_plug(bus, slot, id);
        break;
    case Family::BusSlave:
        slave_plug(bus, slot);
        break;
    default:
        break;
    }
    load_config(slot);
}

// The memories are plugged once the bus exists (they live on it too).
void io_modules_memories(I2cBus &bus) {
    for (int slot = 0; slot < 2; ++slot)
        if (family(slot_id(slot)) == Family::SixInputs) factory_memory(bus, "/dev/eeprom_a0", 0xA0);
    for (int slot = 0; slot < 2; ++slot)
        apply_bits(slot);
}

bool io_set(int slot, const std::string &name, const std::string &value, std::string *error) {
    if (slot < 0 || slot > 1) {
        *error = "slot must be 0 or 1";
        return false;
    }
    const Family f = family(slot_id(slot));
    if (f == Family::Meter) return meter_set(slot, name, value, error);
    if (f == Family::BusSlave) return slave_set(slot, name, value, error);
    if (f == Family::None) {
        *error = "slot " + std::to_string(slot) + " holds no I/O module with inputs";
        return false;
    }
    char *end = nullptr;
    int n = 0;
    if (name == "i") {
        errno = 0;
        unsigned long v = std::strtoul(value.c_str(), &end, 0);
        if (value.empty() || *end || errno == ERANGE || v > 0xFFFFFFFFul) {
            *error = "not a number: '" + value + "'";
            return false;
        }
        g.in[slot].bits = uint32_t(v);
    } else if (io_index_of(name, "i", 1, 32, &n)) {
        if (value != "0" && value != "1") {
            *error = "a digital input takes 0 or 1";
            return false;
        }
        const uint32_t bit = 1u << (n - 1);
        g.in[slot].bits = value == "1" ? (g.in[slot].bits | bit) : (g.in[slot].bits & ~bit);
    } else if (io_index_of(name, "ai", 1, kChannels, &n)) {
        double v;
        std::string unit;
        if (!parse_quantity(value, &v, &unit)) {
            *error = "not a value: '" + value + "'";
            return false;
        }
        if (unit == "mv" && f == Family::ThermoBoard) {
            if (std::fabs(v) > 1000) {
                *error = "millivolts must lie in -1000..1000";
                return false;
            }
            g.in[slot].mv[n - 1] = v;
            g.in[slot].is_mv[n - 1] = true;
        } else {
            int32_t raw;
            if (!to_raw(f, v, unit, &raw, error)) return false;
            g.in[slot].raw[n - 1] = raw;
            g.in[slot].is_mv[n - 1] = false;
        }
    } else if (slot == 0 && io_index_of(name, "cnt", 1, 4, &n)) {
        errno = 0;
        unsigned long v = std::strtoul(value.c_str(), &end, 0);
        FpgaModel *m = fpga_model();
        if (value.empty() || *end || errno == ERANGE || v > 0xFFFFFFFFul || !m) {
            *error = m ? "not a count: '" + value + "'" : "the board has no FPGA";
            return false;
        }
        for (int b = 0; b < 4; ++b)
            m->set_reg(uint16_t(0xD8 + 0x20 * (n - 1) + b), uint8_t(v >> (8 * b)));
    } else {
        *error = "no input '" + name + "' (i, iN, aiN, cntN)";
        return false;
    }
    apply_bits(slot);
    return true;
}

bool io_get(int slot, const std::string &name, std::string *out) {
    if (slot < 0 || slot > 1) return false;
    if (const Family f = family(slot_id(slot)); f == Family::Meter || f == Family::BusSlave) {
        const bool meter = f == Family::Meter;
        if (!name.empty()) return meter ? meter_get(slot, name, out) : slave_get(slot, name, out);
        out->clear();
        for (const std::string &n : meter ? meter_names() : slave_names()) {
            std::string v;
            if (meter ? meter_get(slot, n, &v) : slave_get(slot, n, &v))
                *out += n + " = " + v + "\n";
        }
        return true;
    }
    if (!name.empty()) return output(slot, name, out);
    out->clear();
    std::vector<std::string> names = {"q"};
    const Family f = family(slot_id(slot));
    const int aq = f == Family::SixInputs     ? 14
                   : f == Family::AnalogOut   ? (slot_id(slot) == 0x8F0F ? 4 : 2)
                   : f == Family::ThermoBoard ? 2
                                              : 0;
    for (int n = 1; n <= aq; ++n)
        names.push_back("aq" + std::to_string(n));
    if (slot == 0 && fpga_model())
        for (const char *p : {"pulse1", "pulse2", "cnt1", "cnt2", "cnt3", "cnt4"})
            names.push_back(p);
    names.push_back("i");
    for (const std::string &n : names) {
        std::string v;
        if (output(slot, n, &v)) *out += n + " = " + v + "\n";
    }
    return true;
}

std::string io_ctl(const std::vector<std::string> &a) {
    const char *usage = "error: usage: io set SLOT NAME VALUE | io get SLOT [NAME]";
    if (a.size() < 3 || (a[1] != "set" && a[1] != "get")) return usage;
    if (a[2] != "0" && a[2] != "1") return "error: slot must be 0 or 1";
    const int slot = a[2][0] - '0';
    if (a[1] == "set") {
        if (a.size() != 5) return usage;
        std::string err;
        if (!io_set(slot, a[3], a[4], &err)) return "error: " + a[3] + ": " + err;
        return "ok slot " + a[2] + " " + a[3] + " = " + a[4];
    }
    if (a.size() > 4) return usage;
    std::string out;
    const std::string name = a.size() == 4 ? a[3] : "";
    if (!io_get(slot, name, &out)) return "error: slot " + a[2] + " has no value '" + name + "'";
    if (name.empty()) return "ok\n" + out;
    return "ok " + name + " = " + out;
}

void io_ctl_register() {
    ctl_register("io", io_ctl);
}

uint32_t io_base_pins() {
    if (family(slot_id(0)) != Family::Base) return 0;
    uint32_t v = g.in[0].bits & 0x0F;
    // Bit 0 of the front-end expander turns the inputs' polarity round.
    if (auto *e = expander(0x4C); e && (e->latch & 1)) v ^= 0x0F;
    return v;
}

uint16_t io_base_adc(int input) {
    if (input < 0 || input > 3 || family(slot_id(0)) != Family::Base) return 0;
    return uint16_t(std::clamp(g.in[0].raw[input], 0, 4095));
}

void io_modules_reset() {
    g = State{};
    meter_slave_reset();
}

bool io_index_of(const std::string &name, const char *prefix, int lo, int hi, int *n) {
    const size_t len = std::strlen(prefix);
    if (name.compare(0, len, prefix) != 0 || name.size() == len) return false;
    for (size_t i = len; i < name.size(); ++i)
        if (!std::isdigit(static_cast<unsigned char>(name[i]))) return false;
    *n = std::atoi(name.c_str() + len);
    return *n >= lo && *n <= hi;
}

} // namespace host
