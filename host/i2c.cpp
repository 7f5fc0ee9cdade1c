#include "host/i2c.h"

#include "host/clock.h"
#include "host/config.h"
#include "host/io_modules.h"
#include "host/root.h"

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sstream>

namespace host {

// ------------------------------------------------------------------ bus

I2cBus::I2cBus() = default;

void I2cBus::attach(uint8_t address, std::shared_ptr<I2cDevice> device) {
    devices_[address >> 1] = std::move(device);
}

void I2cBus::detach(uint8_t address) {
    if (active_ == devices_[address >> 1].get()) active_ = nullptr;
    devices_[address >> 1].reset();
}

I2cDevice *I2cBus::device(uint8_t address) const {
    return devices_[address >> 1].get();
}

void I2cBus::owe_bits(unsigned bits) {
    owed_ns_ += uint64_t(bits) * 1'000'000'000ull / speed_hz_;
}

bool I2cBus::start(uint8_t address) {
    I2cDevice *dev = devices_[address >> 1].get();
    if (active_ && active_ != dev) active_->stop();
    open_ = true;
    owe_bits(10); // start condition, address byte, acknowledge
    bool ack = false;
    if (refuse_[address >> 1] > 0)
        --refuse_[address >> 1];
    else if (dev)
        ack = dev->start(address);
    active_ = ack ? dev : nullptr;
    if (recording_ && log_.size() < 100000) log_.push_back({address, ack, {}, false, speed_hz_});
    return ack;
}

bool I2cBus::write(uint8_t byte) {
    owe_bits(9);
    bool ack = active_ && active_->write(byte);
    if (recording_ && active_ && !log_.empty()) {
        log_.back().bytes.push_back(byte);
        if (!ack) log_.back().nacked = true;
    }
    return ack;
}

uint8_t I2cBus::read() {
    owe_bits(9);
    uint8_t b = active_ ? active_->read() : 0xFF; // nobody drives the lines: pulled high
    if (recording_ && active_ && !log_.empty()) log_.back().bytes.push_back(b);
    return b;
}

void I2cBus::stop() {
    if (active_) active_->stop();
    active_ = nullptr;
    if (open_) owe_bits(1);
    open_ = false;
}

void I2cBus::set_speed(uint32_t hz) {
    speed_hz_ = hz ? hz : 100000;
}

void I2cBus::settle() {
    uint64_t ns = owed_ns_;
    owed_ns_ = 0;
    if (ns >= 1000) sleep_us(unsigned(ns / 1000));
}

void I2cBus::refuse(uint8_t address, int count) {
    refuse_[address >> 1] = count;
}

void I2cBus::record(bool on) {
    recording_ = on;
}

// ------------------------------------------------------------- the board

namespace {

std::unique_ptr<I2cBus> g_bus;

std::string device_file(const char *name, uint8_t address) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "/dev/%s_%02x", name, address);
    return buf;
}

// One device line of host.conf: "kind arg arg ...".
void plug(I2cBus &bus, uint8_t address, const std::string &line) {
    std::istringstream in(line);
    std::string kind;
    in >> kind;
    if (kind == "none" || kind.empty()) {
        bus.detach(address);
    } else if (kind == "clock") {
        bus.attach(address, std::make_shared<I2cClockChip>("/dev/rtc_chip"));
    } else if (kind == "eeprom") {
        long size = 256, page = 0, cycle_ms = 5;
        in >> size;
        if (!(in >> page)) page = 0;
        if (!(in >> cycle_ms)) cycle_ms = 5;
        if (size < 1 || size > 65536) size = 256;
        bool one_byte = size <= 2048;
        if (page <= 0) page = one_byte ? 16 : 32;
        auto dev =
            std::make_shared<I2cEeprom>(address, uint32_t(size), uint32_t(page),
                                        uint32_t(cycle_ms * 1000), device_file("eeprom", address));
        int blocks = one_byte ? int((size + 255) / 256) : 1;
        for (int b = 0; b < blocks && address + 2 * b < 256; ++b)
            bus.attach(uint8_t(address + 2 * b), dev);
    } else if (kind == "regs") {
        std::vector<uint8_t> init;
        std::string v;
        while (in >> v)
            init.push_back(uint8_t(std::strtoul(v.c_str(), nullptr, 0)));
        bus.attach(address, std::make_shared<I2cRegDevice>(init));
    } else if (kind == "expander") {
        std::string v = "0xFFFF";
        in >> v;
        bus.attach(address,
                   std::make_shared<I2cExpander>(uint16_t(std::strtoul(v.c_str(), nullptr, 0))));
    } else if (kind == "lm92" || kind == "tmp") {
        double c = 25.0;
        in >> c;
        bus.attach(address, std::make_shared<I2cTempSensor>(kind == "lm92", c));
    }
}

// A module of the local I/O rack, as its identity shows on the bus.
void plug_module(I2cBus &bus, int slot, const std::string &line) {
    uint16_t id = uint16_t(std::strtoul(line.c_str(), nullptr, 0));
    if (line.empty() || id == 0 || id == 0xFF) return;
    const uint8_t expander = slot == 0 ? 0x4C : 0x4E, suffix = slot == 0 ? 0x0E : 0x0F;
    if ((id & 0xFF) == suffix)
        bus.attach(expander, std::make_shared<I2cExpander>(uint16_t(id | 0xFF)));
    else
        bus.attach(uint8_t(id >> 8), std::make_shared<I2cRegDevice>());
    io_modules_plug(bus, slot, id);
}

void populate(I2cBus &bus) {
    plug(bus, 0x64, "clock");
    plug_module(bus, 0, config("io.slot0"));
    plug_module(bus, 1, config("io.slot1"));
    io_modules_memories(bus);
    for (int a = 0; a < 256; a += 2) {
        char upper[16], lower[16];
        std::snprintf(upper, sizeof upper, "i2c.0x%02X", a);
        std::snprintf(lower, sizeof lower, "i2c.0x%02x", a);
        std::string line = config(upper);
        if (line.empty()) line = config(lower);
        if (!line.empty()) plug(bus, uint8_t(a), line);
    }
}

} // namespace

I2cBus &i2c_bus() {
    if (!g_bus) {
        g_bus = std::make_unique<I2cBus>();
        populate(*g_bus);
    }
    return *g_bus;
}

void i2c_reset() {
    g_bus.reset();
}

long i2c_kernel_call(I2cKernelCmd *cmd) {
    if (!cmd || config_int("i2c_kernel", 1) == 0) return -1;
    I2cBus &bus = i2c_bus();
    uint32_t t = cmd->timing;
    bus.set_speed(t == 1 ? 100000 : t == 2 ? 400000 : 3125u << ((t >> 8) & 0xF));
    bool ok = bus.start(uint8_t(cmd->address));
    for (uint32_t i = 0; ok && i < cmd->count; ++i) {
        if (cmd->direction == 1)
            cmd->buffer[i] = bus.read();
        else
            ok = bus.write(cmd->buffer[i]);
    }
    bus.stop();
    bus.settle();
    cmd->result = ok ? 0 : 5; // EIO
    return 0;
}

// ------------------------------------------------------ the controller

namespace {

// Register offsets and bits of the I2C controller.
constexpr uint32_t kCtrl0 = 0x00, kTiming0 = 0x10, kTiming1 = 0x20, kCtrl1 = 0x40;
constexpr uint32_t kStat = 0x50, kData = 0xA0, kVersion = 0xD0;
constexpr uint32_t kSftrst = 1u << 31, kClkgate = 1u << 30, kRun = 1u << 29;
constexpr uint32_t kPostSendStop = 1u << 20, kPreSendStart = 1u << 19, kDirection = 1u << 16;
constexpr uint32_t kClrGotANak = 1u << 28, kBusFreeIrq = 1u << 7, kCompleteIrq = 1u << 6;
constexpr uint32_t kNoSlaveAckIrq = 1u << 5;
constexpr uint32_t kStatGotANak = 1u << 28, kStatMasterPresent = 1u << 31;

// The data engine runs a programmed transfer at once when RUN is set, so the
// status bits the driver polls are never busy when it looks.
class I2cController : public SctRegBlock {
public:
    I2cController() : SctRegBlock(0x2000) {
        *slot(kCtrl0) = kSftrst | kClkgate;
        *slot(kTiming0) = 0x00780030;
        *slot(kTiming1) = 0x00800030;
    }

protected:
    bool plain(uint32_t reg) const override {
        return reg == kData || reg == kStat || reg == kVersion;
    }
    uint32_t load(uint32_t reg) override {
        switch (reg) {
        case kData: {
            if (rx_.empty()) return 0;
            uint32_t v = rx_.front();
            rx_.erase(rx_.begin());
            return v;
        }
        case kStat:
            return kStatMasterPresent | (nak_ ? kStatGotANak : 0);
        case kVersion:
            return 0x01020000;
        default:
            return SctRegBlock::load(reg);
        }
    }
    void stored(uint32_t reg, uint32_t, uint32_t now) override {
        switch (reg) {
        case kData:
            tx_.push_back(now);
            break;
        case kCtrl0:
            if (now & kSftrst) {
                *slot(kCtrl0) = now | kClkgate;
                tx_.clear();
                rx_.clear();
                nak_ = false;
                i2c_bus().stop();
            } else if ((now & (kRun | kClkgate)) == kRun) {
                run();
            }
            break;
        case kCtrl1:
            if (now & kClrGotANak) {
                nak_ = false;
                *slot(kCtrl1) &= ~kClrGotANak;
            }
            break;
        case kTiming0:
        case kTiming1: {
            uint32_t counts = ((*slot(kTiming0) >> 16) & 0x3FF) + ((*slot(kTiming1) >> 16) & 0x3FF);
            speed_ = counts ? 24'000'000u / counts : 100000;
            break;
        }
        default:
            break;
        }
    }

private:
    void run() {
        I2cBus &bus = i2c_bus();
        bus.set_speed(speed_);
        uint32_t ctrl = *slot(kCtrl0);
        uint32_t count = ctrl & 0xFFFF;
        bool acked = true;
        if (ctrl & kDirection) {
            // Transmit: the bytes come from the words written to DATA, low byte first.
            std::vector<uint8_t> bytes;
            size_t words = (count + 3) / 4;
            for (size_t w = 0; w < words && w < tx_.size(); ++w)
                for (int b = 0; b < 4 && bytes.size() < count; ++b)
                    bytes.push_back(uint8_t(tx_[w] >> (8 * b)));
            tx_.erase(tx_.begin(), tx_.begin() + long(std::min(words, tx_.size())));
            for (size_t i = 0; i < bytes.size() && acked; ++i)
                acked =
                    i == 0 && (ctrl & kPreSendStart) ? bus.start(bytes[0]) : bus.write(bytes[i]);
        } else {
            rx_.clear();
            for (uint32_t i = 0; i < count; ++i) {
                if (i % 4 == 0) rx_.push_back(0);
                rx_.back() |= uint32_t(bus.read()) << (8 * (i % 4));
            }
        }
        uint32_t irq = kCompleteIrq;
        if (!acked) {
            // No acknowledge: the engine ends the transfer and reports it.
            nak_ = true;
            irq |= kNoSlaveAckIrq;
        }
        if (!acked || (ctrl & kPostSendStop)) {
            bus.stop();
            irq |= kBusFreeIrq;
        }
        bus.settle();
        *slot(kCtrl1) |= irq;
        *slot(kCtrl0) &= ~kRun;
    }

    std::vector<uint32_t> tx_, rx_;
    bool nak_ = false;
    uint32_t speed_ = 100000;
};

} // namespace

std::shared_ptr<RegBlock> board_make_i2c0() {
    return std::make_shared<I2cController>();
}

// ----------------------------------------------------------- device files

namespace {

std::vector<uint8_t> load_file(const std::string &board_path) {
    std::vector<uint8_t> out;
    int fd = ::open(path(board_path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return out;
    uint8_t buf[4096];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;)
        out.insert(out.end(), buf, buf + n);
    ::close(fd);
    return out;
}

// Writes `len` bytes at `offset` of the device file, creating it when needed.
void store_file(const std::string &board_path, const uint8_t *data, size_t len, off_t offset) {
    make_dirs("/dev");
    int fd = ::open(path(board_path).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return;
    while (len > 0) {
        ssize_t n = ::pwrite(fd, data, len, offset);
        if (n <= 0) break;
        data += n;
        len -= size_t(n);
        offset += n;
    }
    ::close(fd);
}

uint8_t to_bcd(int v) {
    return uint8_t(((v / 10) << 4) | (v % 10));
}
int from_bcd(uint8_t b) {
    return (b >> 4) * 10 + (b & 0xF);
}

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
int64_t days_from_civil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    int64_t era = (y >= 0 ? y : y - 399) / 400;
    int64_t yoe = y - era * 400;
    int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void civil_from_days(int64_t z, int64_t *y, int *m, int *d) {
    z += 719468;
    int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    int64_t doe = z - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    *d = int(doy - (153 * mp + 2) / 5 + 1);
    *m = int(mp < 10 ? mp + 3 : mp - 9);
    *y = yoe + era * 400 + (*m <= 2);
}

int64_t floor_div(int64_t a, int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

} // namespace

// ------------------------------------------------------------- EEPROM

I2cEeprom::I2cEeprom(uint8_t base, uint32_t size, uint32_t page, uint32_t cycle_us,
                     std::string file)
    : base_(uint8_t(base & 0xFE)), mem_(size, 0xFF), page_(page), cycle_us_(cycle_us),
      file_(std::move(file)), address_bytes_(size <= 2048 ? 1 : 2) {
    std::vector<uint8_t> stored = load_file(file_);
    for (size_t i = 0; i < stored.size() && i < mem_.size(); ++i)
        mem_[i] = stored[i];
}

bool I2cEeprom::busy() const {
    return mono_ns() < busy_until_ns_;
}

bool I2cEeprom::start(uint8_t address) {
    if (busy()) return false; // inside its write cycle it does not answer
    page_buf_.clear();        // a repeated start abandons an unfinished write
    writing_ = !(address & 1);
    if (writing_) {
        pending_address_ = address_bytes_;
        if (address_bytes_ == 1)
            pointer_ = uint32_t(((address & 0xFE) - base_) >> 1) * 256;
        else
            pointer_ = 0;
    }
    return true;
}

bool I2cEeprom::write(uint8_t byte) {
    uint32_t size = uint32_t(mem_.size());
    if (pending_address_ > 0) {
        if (address_bytes_ == 1)
            pointer_ = (pointer_ & ~0xFFu) | byte;
        else if (pending_address_ == 2)
            pointer_ = uint32_t(byte) << 8;
        else
            pointer_ |= byte;
        pointer_ %= size;
        --pending_address_;
        return true;
    }
    page_buf_.emplace_back(pointer_, byte);
    // Within a page the address wraps: bytes past its end overwrite its start.
    uint32_t page_start = pointer_ - pointer_ % page_;
    pointer_ = (page_start + (pointer_ + 1 - page_start) % page_) % size;
    return true;
}

uint8_t I2cEeprom::read() {
    uint8_t b = mem_[pointer_];
    pointer_ = (pointer_ + 1) % uint32_t(mem_.size());
    return b;
}

void I2cEeprom::stop() {
    if (writing_ && !page_buf_.empty()) {
        uint32_t lo = UINT32_MAX, hi = 0;
        for (auto &[at, b] : page_buf_) {
            mem_[at] = b;
            lo = std::min(lo, at);
            hi = std::max(hi, at);
        }
        store_file(file_, mem_.data() + lo, hi - lo + 1, off_t(lo));
        busy_until_ns_ = mono_ns() + uint64_t(cycle_us_) * 1000;
    }
    page_buf_.clear();
    writing_ = false;
}

// --------------------------------------------------------- clock chip

namespace {
constexpr int64_t kSecond = 1'000'000'000;
constexpr size_t kChipFileBytes = 16 + 8;
} // namespace

I2cClockChip::I2cClockChip(std::string file) : file_(std::move(file)) {
    std::vector<uint8_t> stored = load_file(file_);
    if (stored.size() >= kChipFileBytes) {
        std::copy(stored.begin(), stored.begin() + 16, regs_);
        uint64_t v = 0;
        for (int i = 0; i < 8; ++i)
            v |= uint64_t(stored[16 + i]) << (8 * i);
        second_ns_ = int64_t(v);
        return;
    }
    // A new chip whose backup supply was never connected: its registers are
    // cleared (month 0, an invalid calendar) until someone sets it.
    second_ns_ = host_time_ns();
}

void I2cClockChip::save() {
    uint8_t buf[kChipFileBytes];
    std::copy(regs_, regs_ + 16, buf);
    for (int i = 0; i < 8; ++i)
        buf[16 + i] = uint8_t(uint64_t(second_ns_) >> (8 * i));
    store_file(file_, buf, sizeof buf, 0);
}

// Counts the whole seconds since the registers were current into them, with
// the chip's own carries (the two-digit year taken as 2000-2099).
void I2cClockChip::advance() {
    int64_t now = host_time_ns();
    int64_t elapsed = floor_div(now - second_ns_, kSecond);
    if (elapsed <= 0) return;
    second_ns_ += elapsed * kSecond;
    int month = from_bcd(regs_[5] & 0x1F);
    if (month < 1 || month > 12) return; // garbage in the calendar stops the count
    int64_t days =
        days_from_civil(2000 + from_bcd(regs_[6]), month, 1) + from_bcd(regs_[4] & 0x3F) - 1;
    int64_t t = days * 86400 + from_bcd(regs_[2] & 0x3F) * 3600 + from_bcd(regs_[1] & 0x7F) * 60 +
                from_bcd(regs_[0] & 0x7F) + elapsed;
    int64_t new_days = floor_div(t, 86400), sod = t - new_days * 86400;
    int64_t y;
    int m, d;
    civil_from_days(new_days, &y, &m, &d);
    regs_[0] = to_bcd(int(sod % 60));
    regs_[1] = to_bcd(int(sod / 60 % 60));
    regs_[2] = to_bcd(int(sod / 3600));
    regs_[3] = uint8_t(((regs_[3] & 7) + 6 + (new_days - days) % 7) % 7 + 1);
    regs_[4] = to_bcd(d);
    regs_[5] = to_bcd(m);
    regs_[6] = to_bcd(int((y - 2000) % 100));
}

void I2cClockChip::registers(uint8_t out[16]) {
    advance();
    std::copy(regs_, regs_ + 16, out);
}

void I2cClockChip::set_register(int reg, uint8_t value) {
    advance();
    regs_[reg & 15] = value;
    if ((reg & 15) == 0) second_ns_ = host_time_ns(); // the divider restarts
    save();
}

bool I2cClockChip::start(uint8_t address) {
    first_byte_ = !(address & 1);
    return true;
}

bool I2cClockChip::write(uint8_t byte) {
    if (first_byte_) {
        pointer_ = byte & 15;
        first_byte_ = false;
        return true;
    }
    set_register(pointer_, byte);
    pointer_ = (pointer_ + 1) & 15;
    return true;
}

uint8_t I2cClockChip::read() {
    advance();
    uint8_t b = regs_[pointer_];
    pointer_ = (pointer_ + 1) & 15;
    return b;
}

// ------------------------------------------------------ register device

I2cRegDevice::I2cRegDevice(std::vector<uint8_t> initial) {
    for (size_t i = 0; i < initial.size() && i < 256; ++i)
        regs[i] = initial[i];
}

bool I2cRegDevice::start(uint8_t address) {
    first_byte_ = !(address & 1);
    return true;
}

bool I2cRegDevice::write(uint8_t byte) {
    if (first_byte_) {
        pointer = byte;
        first_byte_ = false;
    } else {
        regs[pointer++] = byte;
    }
    return true;
}

uint8_t I2cRegDevice::read() {
    return regs[pointer++];
}

// ------------------------------------------------------- port expander

bool I2cExpander::start(uint8_t) {
    phase_ = 0;
    return true;
}

bool I2cExpander::write(uint8_t byte) {
    if (phase_ == 0)
        latch = uint16_t((latch & 0xFF00) | byte);
    else
        latch = uint16_t((latch & 0x00FF) | (byte << 8));
    phase_ ^= 1;
    if (phase_ == 0) ++writes;
    return true;
}

uint8_t I2cExpander::read() {
    uint16_t v = uint16_t(latch & pins);
    uint8_t b = phase_ == 0 ? uint8_t(v) : uint8_t(v >> 8);
    phase_ ^= 1;
    return b;
}

// ----------------------------------------------------- temperature sensor

I2cTempSensor::I2cTempSensor(bool lm92, double celsius) : lm92_(lm92), celsius_(celsius) {}

uint16_t I2cTempSensor::reading() const {
    long sixteenths = std::lround(celsius_ * 16.0);
    if (lm92_) return uint16_t(sixteenths * 8);
    int bits = 9 + ((config_ >> 5) & 3);
    long kept = sixteenths >> (12 - bits);
    return uint16_t(kept * (1L << (16 - bits)));
}

bool I2cTempSensor::start(uint8_t) {
    phase_ = 0;
    return true;
}

bool I2cTempSensor::write(uint8_t byte) {
    if (phase_++ == 0)
        pointer_ = byte & 3;
    else if (pointer_ == 1)
        config_ = byte;
    return true;
}

uint8_t I2cTempSensor::read() {
    int n = phase_++;
    if (pointer_ == 1) return config_;
    if (pointer_ != 0) return 0;
    uint16_t v = reading();
    return n % 2 == 0 ? uint8_t(v >> 8) : uint8_t(v);
}

} // namespace host
