// Models of the AC metering module's chip and the bus-slave module's memory
// window (see io_meter_slave.h).
#include "host/io_meter_slave.h"

#include "host/config.h"
#include "host/i2c.h"
#include "host/io_modules.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace host {

namespace {

// One injected quantity: a physical value (with its unit) or plain counts.
struct Quantity {
    double v = 0;
    bool physical = false;
};

struct MeterInputs {
    Quantity volts[3], amps[3], hz, vpeak, apeak;
    int32_t ea[3] = {}, er[3] = {};
    uint32_t bits = 0;
    std::vector<std::pair<uint8_t, uint32_t>> writes; // register writes received
    uint32_t events = 0;                              // 0x1A commands
};

constexpr size_t kWritesKept = 512;
constexpr uint32_t kWindow = 0x400;
struct SlaveWindow {
    uint8_t mem[kWindow] = {};
    bool fresh = true; // not set up yet
};

struct State {
    MeterInputs meter[2];
    SlaveWindow slave[2];
    bool loaded[2] = {};
};
State g;

const char *slot_key(int slot) {
    return slot == 0 ? "io.slot0." : "io.slot1.";
}

bool parse_int(const std::string &text, long lo, long hi, long *v) {
    if (text.empty()) return false;
    char *end = nullptr;
    errno = 0;
    *v = std::strtol(text.c_str(), &end, 0);
    return !*end && errno != ERANGE && *v >= lo && *v <= hi;
}

// "230V", "5A", "50Hz" or plain counts; `unit` is the one the value may carry.
bool parse_quantity(const std::string &text, const char *unit, Quantity *q, std::string *error) {
    const char *s = text.c_str();
    char *end = nullptr;
    errno = 0;
    const double v = std::strtod(s, &end);
    if (end == s || errno == ERANGE || !std::isfinite(v)) {
        *error = "not a value: '" + text + "'";
        return false;
    }
    std::string u;
    for (const char *p = end; *p; ++p)
        u += char(std::tolower(static_cast<unsigned char>(*p)));
    std::string want;
    for (const char *p = unit; *p; ++p)
        want += char(std::tolower(static_cast<unsigned char>(*p)));
    if (!u.empty() && u != want) {
        *error = "unit '" + u + "' not known here (" + unit + " or plain counts)";
        return false;
    }
    if (v < 0) {
        *error = "a negative reading";
        return false;
    }
    q->v = v;
    q->physical = !u.empty();
    return true;
}

// ----------------------------------------------------------- metering chip

constexpr double kVolts = 0.000419504, kAmps = 3.077192e-06, kHz = 0.0625;
constexpr double kVoltPeak = 4.1947, kAmpPeak = 0.0345036, kLpf = 0.000240385;

uint32_t counts(const Quantity &q, double per_count, uint32_t max) {
    const double c = q.physical ? q.v / per_count : q.v;
    return uint32_t(std::lround(std::fmin(c, double(max))));
}

class MeterChip : public I2cDevice {
public:
    explicit MeterChip(int slot) : slot_(slot) {}
    bool start(uint8_t address) override {
        if (!(address & 1)) {
            index_ = 0;
        } else {
            read_at_ = 0;
        }
        return true;
    }
    bool write(uint8_t byte) override {
        MeterInputs &in = g.meter[slot_];
        if (index_ == 0) {
            cmd_ = byte;
            if (byte == 0x1A) ++in.events;
        } else if (index_ == 1) {
            reg_ = byte;
            value_ = 0;
        } else if (cmd_ == 2 && index_ <= 4) {
            value_ = value_ << 8 | byte;
            if (index_ == 4) {
                // The latest writes are kept, so a long run does not grow the record.
                if (in.writes.size() >= kWritesKept) in.writes.erase(in.writes.begin());
                in.writes.emplace_back(reg_, value_);
            }
        }
        ++index_;
        return true;
    }
    uint8_t read() override {
        uint32_t v = 0;
        int width = 0;
        if (cmd_ == 0x19) {
            v = g.meter[slot_].bits & 0xFFFFF;
            width = 3;
        } else if (cmd_ == 1) {
            width = reg(reg_, &v);
        }
        const int i = read_at_++;
        if (i >= width) return 0;
        return uint8_t(v >> (8 * (width - 1 - i)));
    }

private:
    // A register's value and width in bytes.
    int reg(uint8_t r, uint32_t *v) const {
        const MeterInputs &in = g.meter[slot_];
        const uint32_t f = counts(in.hz, kHz, 0xFFF);
        const double lpf1 = std::sqrt(1.0 + (f * kLpf) * (f * kLpf));
        if (r >= 0x01 && r <= 0x03) {
            *v = uint16_t(int16_t(in.ea[r - 0x01]));
            return 3;
        }
        if (r >= 0x04 && r <= 0x06) {
            *v = uint16_t(int16_t(in.er[r - 0x04]));
            return 3;
        }
        if (r >= 0x0A && r <= 0x0C) {
            *v = counts(in.amps[r - 0x0A], kAmps, 0xFFFFFFFF);
            return 4;
        }
        if (r >= 0x0D && r <= 0x0F) {
            *v = counts(in.volts[r - 0x0D], kVolts * lpf1, 0xFFFFFFFF);
            return 4;
        }
        if (r == 0x10) {
            *v = f;
            return 3;
        }
        if (r == 0x21) {
            *v = counts(in.vpeak, kVoltPeak * lpf1, 0xFFFF);
            return 2;
        }
        if (r == 0x22) {
            *v = counts(in.apeak, kAmpPeak, 0xFFFF);
            return 2;
        }
        *v = 0;
        return 0;
    }

    int slot_;
    int index_ = 0, read_at_ = 0;
    uint8_t cmd_ = 0, reg_ = 0;
    uint32_t value_ = 0;
};

void load_meter_config(int slot) {
    std::string err;
    for (const std::string &n : meter_names()) {
        if (n == "writes" || n == "events") continue;
        if (std::string v = config(slot_key(slot) + n); !v.empty()) meter_set(slot, n, v, &err);
    }
}

// ------------------------------------------------------------ slave window

class SlaveDevice : public I2cDevice {
public:
    explicit SlaveDevice(int slot) : slot_(slot) {}
    bool start(uint8_t address) override {
        if (!(address & 1)) address_bytes_ = 0;
        return true;
    }
    bool write(uint8_t byte) override {
        // One or two address bytes (high first), then data.
        if (address_bytes_ == 0) {
            pointer_ = byte;
        } else if (address_bytes_ == 1) {
            pointer_ = (pointer_ << 8 | byte) % kWindow;
        } else {
            g.slave[slot_].mem[pointer_] = byte;
            pointer_ = (pointer_ + 1) % kWindow;
        }
        ++address_bytes_;
        return true;
    }
    uint8_t read() override {
        const uint8_t b = g.slave[slot_].mem[pointer_];
        pointer_ = (pointer_ + 1) % kWindow;
        return b;
    }

private:
    int slot_;
    int address_bytes_ = 2;
    uint32_t pointer_ = 0;
};

uint16_t word_at(const SlaveWindow &w, uint32_t at) {
    return uint16_t(w.mem[at] | w.mem[at + 1] << 8);
}
void put_word_at(SlaveWindow &w, uint32_t at, uint16_t v) {
    w.mem[at] = uint8_t(v);
    w.mem[at + 1] = uint8_t(v >> 8);
}

} // namespace

// ---------------------------------------------------------------- metering

void meter_plug(I2cBus &bus, int slot, uint16_t id) {
    bus.attach(id == 0x520F ? 0x52 : 0x50, std::make_shared<MeterChip>(slot));
    // The module's memory for its calibration constants.
    bus.attach(0xAA, std::make_shared<I2cEeprom>(0xAA, 256, 16, 5000, "/dev/eeprom_aa"));
    if (!g.loaded[slot]) {
        g.loaded[slot] = true;
        load_meter_config(slot);
    }
}

std::vector<std::string> meter_names() {
    return {"v1",  "v2",  "v3",  "a1",  "a2",    "a3",    "hz", "ea1",    "ea2",
            "ea3", "er1", "er2", "er3", "vpeak", "apeak", "i",  "writes", "events"};
}

bool meter_set(int slot, const std::string &name, const std::string &value, std::string *error) {
    MeterInputs &in = g.meter[slot];
    int n = 0;
    long v = 0;
    if (io_index_of(name, "v", 1, 3, &n))
        return parse_quantity(value, "V", &in.volts[n - 1], error);
    if (io_index_of(name, "a", 1, 3, &n)) return parse_quantity(value, "A", &in.amps[n - 1], error);
    if (name == "hz") return parse_quantity(value, "Hz", &in.hz, error);
    if (name == "vpeak") return parse_quantity(value, "V", &in.vpeak, error);
    if (name == "apeak") return parse_quantity(value, "A", &in.apeak, error);
    if (io_index_of(name, "ea", 1, 3, &n) || io_index_of(name, "er", 1, 3, &n)) {
        if (!parse_int(value, -32768, 32767, &v)) {
            *error = "energy counts lie in -32768..32767";
            return false;
        }
        (name[1] == 'a' ? in.ea : in.er)[n - 1] = int32_t(v);
        return true;
    }
    if (name == "i") {
        if (!parse_int(value, 0, 0xFFFFF, &v)) {
            *error = "the 20 inputs take 0..0xFFFFF";
            return false;
        }
        in.bits = uint32_t(v);
        return true;
    }
    if (io_index_of(name, "i", 1, 20, &n)) {
        if (value != "0" && value != "1") {
            *error = "a digital input takes 0 or 1";
            return false;
        }
        const uint32_t bit = 1u << (n - 1);
        in.bits = value == "1" ? (in.bits | bit) : (in.bits & ~bit);
        return true;
    }
    *error = "no input '" + name + "' (vN, aN, hz, eaN, erN, vpeak, apeak, i, iN)";
    return false;
}

bool meter_get(int slot, const std::string &name, std::string *out) {
    const MeterInputs &in = g.meter[slot];
    auto q = [](const Quantity &x, const char *unit) {
        char b[48];
        std::snprintf(b, sizeof b, "%g%s", x.v, x.physical ? unit : " counts");
        return std::string(b);
    };
    int n = 0;
    if (name == "writes") {
        out->clear();
        for (const auto &[reg, value] : in.writes) {
            char b[32];
            std::snprintf(b, sizeof b, "%s0x%02X=0x%06X", out->empty() ? "" : " ", reg, value);
            *out += b;
        }
    } else if (name == "events") {
        *out = std::to_string(in.events);
    } else if (io_index_of(name, "v", 1, 3, &n)) {
        *out = q(in.volts[n - 1], "V");
    } else if (io_index_of(name, "a", 1, 3, &n)) {
        *out = q(in.amps[n - 1], "A");
    } else if (name == "hz") {
        *out = q(in.hz, "Hz");
    } else if (name == "vpeak") {
        *out = q(in.vpeak, "V");
    } else if (name == "apeak") {
        *out = q(in.apeak, "A");
    } else if (io_index_of(name, "ea", 1, 3, &n)) {
        *out = std::to_string(in.ea[n - 1]);
    } else if (io_index_of(name, "er", 1, 3, &n)) {
        *out = std::to_string(in.er[n - 1]);
    } else if (name == "i") {
        *out = std::to_string(in.bits);
    } else {
        return false;
    }
    return true;
}

// --------------------------------------------------------------- bus slave

void slave_plug(I2cBus &bus, int slot) {
    // The module shows itself through its window, not through an expander.
    bus.detach(slot == 0 ? 0x4C : 0x4E);
    bus.attach(slot == 0 ? 0x1C : 0x1E, std::make_shared<SlaveDevice>(slot));
    SlaveWindow &w = g.slave[slot];
    if (w.fresh) {
        w.fresh = false;
        w.mem[8] = 0x9F;
        w.mem[1] = 0xE0;
        std::string err;
        for (const std::string &n : slave_names())
            if (std::string v = config(slot_key(slot) + n); !v.empty()) slave_set(slot, n, v, &err);
    }
}

std::vector<std::string> slave_names() {
    return {"status", "i", "word", "startword", "q", "control", "node", "sizes"};
}

bool slave_set(int slot, const std::string &name, const std::string &value, std::string *error) {
    SlaveWindow &w = g.slave[slot];
    int n = 0;
    long v = 0;
    if (name == "status") {
        if (!parse_int(value, 0, 255, &v)) {
            *error = "the status is a byte";
            return false;
        }
        w.mem[1] = uint8_t(v);
    } else if (name == "i") {
        if (!parse_int(value, 0, 0xFFFFFFFFL, &v)) {
            *error = "not a number: '" + value + "'";
            return false;
        }
        for (int b = 0; b < 4; ++b)
            w.mem[0x100 + b] = uint8_t(v >> (8 * b));
    } else if (io_index_of(name, "i", 1, 32, &n)) {
        if (value != "0" && value != "1") {
            *error = "a digital input takes 0 or 1";
            return false;
        }
        uint8_t &byte = w.mem[0x100 + (n - 1) / 8];
        const uint8_t bit = uint8_t(1u << ((n - 1) % 8));
        byte = value == "1" ? uint8_t(byte | bit) : uint8_t(byte & ~bit);
    } else if (io_index_of(name, "ai", 1, 128, &n) || name == "word" || name == "startword") {
        if (!parse_int(value, -32768, 65535, &v)) {
            *error = "a word takes -32768..65535";
            return false;
        }
        const uint32_t at = name == "word"        ? 0xFD
                            : name == "startword" ? 2
                                                  : uint32_t(0x200 + 2 * (n - 1));
        put_word_at(w, at, uint16_t(v));
    } else {
        *error = "no input '" + name + "' (status, i, iN, aiN, word, startword)";
        return false;
    }
    return true;
}

bool slave_get(int slot, const std::string &name, std::string *out) {
    const SlaveWindow &w = g.slave[slot];
    int n = 0;
    if (name == "status") {
        *out = std::to_string(w.mem[1]);
    } else if (name == "i") {
        *out = std::to_string(uint32_t(w.mem[0x100] | w.mem[0x101] << 8 | w.mem[0x102] << 16 |
                                       uint32_t(w.mem[0x103]) << 24));
    } else if (name == "q") {
        *out = std::to_string(uint32_t(w.mem[0x140] | w.mem[0x141] << 8 | w.mem[0x142] << 16 |
                                       uint32_t(w.mem[0x143]) << 24));
    } else if (io_index_of(name, "ai", 1, 128, &n)) {
        *out = std::to_string(word_at(w, uint32_t(0x200 + 2 * (n - 1))));
    } else if (io_index_of(name, "aq", 1, 128, &n)) {
        *out = std::to_string(word_at(w, uint32_t(0x300 + 2 * (n - 1))));
    } else if (name == "word") {
        *out = std::to_string(word_at(w, 0xFD));
    } else if (name == "startword") {
        *out = std::to_string(word_at(w, 2));
    } else if (name == "control") {
        *out = std::to_string(w.mem[0]);
    } else if (name == "node") {
        *out = std::to_string(w.mem[0xFC]);
    } else if (name == "sizes") {
        *out = std::to_string(w.mem[4]) + " " + std::to_string(w.mem[5]) + " " +
               std::to_string(w.mem[6]) + " " + std::to_string(w.mem[7]);
    } else {
        return false;
    }
    return true;
}

void meter_slave_reset() {
    g = State{};
}

} // namespace host
