#include "host/board.h"

#include "host/config.h"
#include "host/fpga.h"
#include "host/io_modules.h"
#include "host/power.h"
#include "host/root.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <deque>

namespace host {

// ---------------------------------------------------------------- pins

PinctrlModel::PinctrlModel() : SctRegBlock(soc::kBlockSize) {}

void PinctrlModel::on_output(int bank, Listener fn) {
    listeners_.emplace_back(bank, std::move(fn));
}

void PinctrlModel::set_input(int bank, int bit, bool high) {
    if (bank < 0 || bank > 4) return;
    if (high)
        inputs_[bank] |= 1u << bit;
    else
        inputs_[bank] &= ~(1u << bit);
}

uint32_t PinctrlModel::level(int bank) {
    uint32_t out = *slot(soc::dout(bank)), oe = *slot(soc::doe(bank));
    return (out & oe) | ~oe;
}

bool PinctrlModel::output(int bank, int bit) {
    return (level(bank) >> bit) & 1;
}
bool PinctrlModel::driven(int bank, int bit) {
    return (*slot(soc::doe(bank)) >> bit) & 1;
}

uint32_t PinctrlModel::load(uint32_t reg) {
    for (int bank = 0; bank < 5; ++bank)
        if (reg == soc::din(bank))
            return (level(bank) & *slot(soc::doe(bank))) | (inputs(bank) & ~*slot(soc::doe(bank)));
    return SctRegBlock::load(reg);
}

void PinctrlModel::stored(uint32_t reg, uint32_t old, uint32_t now) {
    for (int bank = 0; bank < 5; ++bank) {
        uint32_t out = *slot(soc::dout(bank)), oe = *slot(soc::doe(bank));
        uint32_t before;
        if (reg == soc::dout(bank))
            before = (old & oe) | ~oe;
        else if (reg == soc::doe(bank))
            before = (out & old) | ~old;
        else
            continue;
        uint32_t after = (out & oe) | ~oe;
        (void)now;
        if (before == after) return;
        for (auto &l : listeners_)
            if (l.first == bank) l.second(before, after);
        return;
    }
}

namespace {

// ------------------------------------------------- shift-register chain

// Pins of the chain: bank 2 clock 16, data out 17, data in 18; selects: device
// 0 bank 4 bit 5 (active high), device 1 bank 2 bit 19 and device 2 bank 2 bit
// 21 (active low).
class ShiftChain {
public:
    explicit ShiftChain(PinctrlModel *pins) : pins_(pins) {}
    ShiftChainState state{};

    int selected() {
        if (pins_->driven(4, 5) && pins_->output(4, 5)) return 0;
        if (pins_->driven(2, 19) && !pins_->output(2, 19)) return 1;
        if (pins_->driven(2, 21) && !pins_->output(2, 21)) return 2;
        return -1;
    }
    void changed(int bank, uint32_t before, uint32_t after) {
        int dev = selected();
        if (dev != current_) {
            current_ = dev;
            if (dev >= 0) {
                state.shifted[dev] = 0;
                state.bits[dev] = 0;
                present(dev);
            }
        }
        if (bank != 2 || dev < 0) return;
        bool rise = !(before & kClock) && (after & kClock);
        bool fall = (before & kClock) && !(after & kClock);
        uint32_t bit = (after & kDataOut) ? 1 : 0;
        if (dev == 2 && rise) {
            // Least significant bit first, taken on the rising edge.
            if (state.bits[2] < 32) state.shifted[2] |= bit << state.bits[2];
            ++state.bits[2];
        } else if (dev < 2 && fall) {
            state.shifted[dev] = (state.shifted[dev] << 1) | bit;
            ++state.bits[dev];
            present(dev);
        }
    }

private:
    static constexpr uint32_t kClock = 1u << 16, kDataOut = 1u << 17;
    void present(int dev) {
        int n = 15 - int(state.bits[dev]);
        pins_->set_input(2, 18, n >= 0 && ((state.readback[dev] >> n) & 1));
    }
    PinctrlModel *pins_;
    int current_ = -1;
};

class BoardPinctrl : public PinctrlModel {
public:
    BoardPinctrl() : chain(this) {
        on_output(2, [this](uint32_t b, uint32_t a) { chain.changed(2, b, a); });
        on_output(4, [this](uint32_t b, uint32_t a) { chain.changed(4, b, a); });
    }
    ShiftChain chain;

protected:
    // The base unit's digital inputs arrive on bank 3.
    uint32_t inputs(int bank) override {
        uint32_t v = PinctrlModel::inputs(bank);
        if (bank == soc::kBaseBank)
            v = (v & ~soc::kBaseInputPins) | (io_base_pins() << 10 & soc::kBaseInputPins);
        return v;
    }
};

// ------------------------------------------------ on-chip converter

// A scheduled conversion ends at once. Channel 0 measures the base unit's
// analog input that the selector pins choose; the other channels read 0.
class AdcModel : public SctRegBlock {
public:
    AdcModel() : SctRegBlock(soc::kBlockSize) {}

protected:
    void stored(uint32_t reg, uint32_t, uint32_t now) override {
        if (reg != soc::kAdcCtrl0 || !(now & 0xFF)) return;
        for (int ch = 0; ch < 8; ++ch) {
            if (!(now & (1u << ch))) continue;
            uint32_t *r = slot(soc::adc_result(ch));
            *r = (*r & ~0x3FFFFu) | (ch == 0 ? selected_input() : 0);
            *slot(soc::kAdcCtrl1) |= 1u << ch;
        }
        *slot(soc::kAdcCtrl0) &= ~0xFFu;
    }

private:
    static uint32_t selected_input() {
        auto pins = devmem_model<PinctrlModel>(soc::kPinctrl);
        if (!pins) return 0;
        const uint32_t sel = pins->level(soc::kBaseBank) & soc::kBaseSelectPins;
        const int input = sel == 0x30 ? 0 : sel == 0x20 ? 1 : sel == 0x10 ? 2 : 3;
        return io_base_adc(input) & 0xFFF;
    }
};

// ------------------------------------------------------------ SSP port

// SSP register offsets and CTRL0 bits.
constexpr uint32_t kCtrl0 = 0x00, kXferSize = 0x30, kTiming = 0x70, kCtrl1 = 0x80;
constexpr uint32_t kData = 0x90, kStatus = 0x100, kVersion = 0x130;
constexpr uint32_t kSftrst = 1u << 31, kClkgate = 1u << 30, kRun = 1u << 29;
constexpr uint32_t kRead = 1u << 25, kDataXfer = 1u << 24;
constexpr uint32_t kStatusFifoEmpty = 1u << 5, kStatusFifoFull = 1u << 8;

struct Wired {
    int bank, bit;
    bool active_low;
    SpiSlave *slave;
};

class SspModel : public SctRegBlock {
public:
    explicit SspModel(int port) : SctRegBlock(soc::kBlockSize) {
        *slot(kCtrl0) = kSftrst | kClkgate;
        if (port == 3) {
            fram_ = std::make_unique<FramDevice>();
            attach(2, 27, true, fram_.get());
        }
        if (port == 1 && config("fpga") != "none") {
            fpga_ = std::make_unique<FpgaModel>();
            attach(2, 15, true, fpga_->config_port());
            attach(2, 5, true, fpga_->register_port());
        }
    }
    FramDevice *fram() { return fram_.get(); }
    FpgaModel *fpga() { return fpga_.get(); }

protected:
    bool plain(uint32_t reg) const override {
        return reg == kXferSize || reg == kTiming || reg == kData || reg == kStatus ||
               reg == kVersion;
    }
    uint32_t load(uint32_t reg) override {
        switch (reg) {
        case kData: {
            if (rx_.empty()) return 0;
            uint32_t v = rx_.front();
            rx_.pop_front();
            return v;
        }
        case kStatus:
            return (rx_.empty() ? kStatusFifoEmpty : 0) | (rx_.size() >= 16 ? kStatusFifoFull : 0);
        case kVersion:
            return 0x01010000;
        default:
            return SctRegBlock::load(reg);
        }
    }
    void stored(uint32_t reg, uint32_t old, uint32_t now) override {
        if (reg == kData) {
            tx_.push_back(now);
            maybe_transfer();
        } else if (reg == kCtrl0) {
            if (now & kSftrst) {
                // Soft reset: the block gates its clock and drops its FIFOs.
                *slot(kCtrl0) = now | kClkgate;
                tx_.clear();
                rx_.clear();
                return;
            }
            (void)old;
            maybe_transfer();
        }
    }

private:
    void attach(int bank, int bit, bool active_low, SpiSlave *slave) {
        wired_.push_back({bank, bit, active_low, slave});
        auto pins = devmem_model<PinctrlModel>(soc::kPinctrl);
        if (!pins) return;
        pins_ = pins.get();
        pins->on_output(bank, [bank, bit, active_low, slave](uint32_t before, uint32_t after) {
            (void)bank;
            bool was = ((before >> bit) & 1) != active_low;
            bool is = ((after >> bit) & 1) != active_low;
            if (was != is) slave->select(is);
        });
    }
    SpiSlave *selected() {
        if (!pins_) return nullptr;
        for (Wired &w : wired_)
            if (pins_->driven(w.bank, w.bit) && pins_->output(w.bank, w.bit) != w.active_low)
                return w.slave;
        return nullptr;
    }
    unsigned word_bits() { return ((*slot(kCtrl1) >> 4) & 0xF) == 15 ? 16 : 8; }
    // The DMA channel of the data register: 16-bit items between memory and
    // the selected device, started by the run bit, which it clears at the end.
    bool dma(uint32_t offset, uint8_t *buffer, uint32_t bytes, bool read) override {
        if (offset != kData || bytes % 2 || word_bits() != 16) return false;
        uint32_t ctrl = *slot(kCtrl0);
        if (bool(ctrl & kRead) != read) return false;
        if ((ctrl & (kRun | kClkgate)) != kRun) return true; // a stopped port moves nothing
        tx_.clear();
        if (SpiSlave *s = selected())
            s->exchange_words(buffer, bytes / 2, read);
        else if (read)
            std::memset(buffer, 0xFF, bytes);
        *slot(kCtrl0) &= ~kRun;
        return true;
    }
    uint32_t exchange_item(uint32_t out) {
        SpiSlave *s = selected();
        unsigned bits = word_bits();
        uint32_t in = 0;
        // Most significant byte first on the wire.
        for (int shift = int(bits) - 8; shift >= 0; shift -= 8) {
            uint8_t b = s ? s->exchange(uint8_t(out >> shift)) : 0xFF;
            in = (in << 8) | b;
        }
        return in;
    }
    void maybe_transfer() {
        uint32_t ctrl = *slot(kCtrl0);
        if ((ctrl & (kRun | kDataXfer | kClkgate)) != (kRun | kDataXfer)) return;
        uint32_t count = *slot(kXferSize);
        if (count == 0) count = 1;
        if (ctrl & kRead) {
            tx_.clear();
            for (uint32_t i = 0; i < count; ++i)
                rx_.push_back(exchange_item(0xFFFF));
        } else {
            if (tx_.size() < count) return; // waits for its data
            for (uint32_t i = 0; i < count; ++i) {
                exchange_item(tx_.front());
                tx_.pop_front();
            }
        }
        *slot(kCtrl0) &= ~kRun;
    }

    PinctrlModel *pins_ = nullptr;
    std::vector<Wired> wired_;
    std::unique_ptr<FramDevice> fram_;
    std::unique_ptr<FpgaModel> fpga_;
    std::deque<uint32_t> tx_, rx_;
};

// ------------------------------------------- clock block (persistent)

// The persistent registers live in "dev/rtc_persistent", like the board's
// registers kept alive by the backup supply across resets and power loss.
class RtcModel : public SctRegBlock {
public:
    RtcModel() : SctRegBlock(soc::kBlockSize) {
        make_dirs("/dev");
        int fd = ::open(path("/dev/rtc_persistent").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd >= 0 && ftruncate(fd, kBytes) == 0) {
            void *m = mmap(nullptr, kBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
            if (m != MAP_FAILED) file_ = static_cast<uint32_t *>(m);
        }
        if (fd >= 0) ::close(fd);
    }
    ~RtcModel() override {
        if (file_) munmap(file_, kBytes);
    }

protected:
    uint32_t *slot(uint32_t reg) override {
        if (file_ && reg >= soc::rtc_persistent(0) && reg <= soc::rtc_persistent(5) &&
            (reg & 0xF) == 0)
            return &file_[(reg - soc::rtc_persistent(0)) / 0x10];
        return SctRegBlock::slot(reg);
    }

private:
    static constexpr size_t kBytes = 6 * sizeof(uint32_t);
    uint32_t *file_ = nullptr;
};

// ------------------------------------------------------------- power

class PowerModel : public SctRegBlock {
public:
    PowerModel() : SctRegBlock(soc::kBlockSize) {
        // A charged backup battery: 3.7 V in 8 mV steps.
        *slot(soc::kPowerBattMonitor) = uint32_t(config_int("battery_8mv", 462)) << 16;
    }

protected:
    void stored(uint32_t reg, uint32_t, uint32_t now) override {
        // The unlock key with the power-down bit switches the board off.
        if (reg == soc::kPowerReset && (now >> 16) == 0x3E77 && (now & 1)) power_off();
    }
};

} // namespace

// ---------------------------------------------------------------- FRAM

FramDevice::FramDevice() {
    make_dirs("/dev");
    int fd = ::open(path(kFramImage).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) {
        struct stat st {};
        if (fstat(fd, &st) == 0 && st.st_size != off_t(kSize) && ftruncate(fd, kSize) != 0) {
        }
        void *m = mmap(nullptr, kSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (m != MAP_FAILED) image_ = static_cast<uint8_t *>(m);
        ::close(fd);
    }
    long drop = config_int("fram_drop_after_words", -1);
    if (drop >= 0) drop_after_words(drop);
}

FramDevice::~FramDevice() {
    if (image_) munmap(image_, kSize);
}

void FramDevice::drop_after_words(long words) {
    drop_at_bytes_ = words < 0 ? -1 : (long long)(bytes_written_ + 2 * uint64_t(words));
}

bool FramDevice::dropping() const {
    return drop_at_bytes_ >= 0 && bytes_written_ >= uint64_t(drop_at_bytes_);
}

void FramDevice::select(bool on) {
    if (on) {
        state_ = State::Command;
        return;
    }
    // A finished write transaction clears the write latch.
    if (command_ == 0x02 && state_ != State::Command) write_enabled_ = false;
    state_ = State::Idle;
    command_ = 0;
}

uint8_t FramDevice::exchange(uint8_t out) {
    switch (state_) {
    case State::Idle:
        return 0xFF;
    case State::Command:
        command_ = out;
        if (out == 0x06)
            write_enabled_ = true;
        else if (out == 0x04)
            write_enabled_ = false;
        if (out == 0x02 || out == 0x03)
            state_ = State::AddrHigh;
        else
            state_ = State::Idle;
        return 0xFF;
    case State::AddrHigh:
        address_ = uint16_t(out << 8);
        state_ = State::AddrLow;
        return 0xFF;
    case State::AddrLow:
        address_ = uint16_t(address_ | out);
        state_ = State::Data;
        return 0xFF;
    case State::Data:
        break;
    }
    uint32_t at = address_ % kSize;
    address_ = uint16_t(address_ + 1);
    if (!image_) return 0xFF;
    if (command_ == 0x03) return image_[at];
    if (command_ == 0x02 && write_enabled_) {
        if (!dropping()) image_[at] = out;
        ++bytes_written_;
    }
    return 0xFF;
}

void SpiSlave::exchange_words(uint8_t *words, uint32_t count, bool read) {
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t *w = words + 2 * i;
        uint8_t hi = exchange(read ? 0xFF : w[1]);
        uint8_t lo = exchange(read ? 0xFF : w[0]);
        if (read) {
            w[0] = lo;
            w[1] = hi;
        }
    }
}

void FramDevice::exchange_words(uint8_t *words, uint32_t count, bool read) {
    const uint32_t bytes = 2 * count;
    const uint32_t at = address_ % kSize;
    const bool reading = command_ == 0x03, writing = command_ == 0x02 && write_enabled_;
    // The byte path covers what the block path does not: other states and
    // commands, a wrap at the end of the array.
    if (state_ != State::Data || !image_ || (reading != read) || !(reading || writing) ||
        at + bytes > kSize) {
        SpiSlave::exchange_words(words, count, read);
        return;
    }
    address_ = uint16_t(address_ + bytes);
    if (read) {
        for (uint32_t i = 0; i < bytes; i += 2) {
            words[i] = image_[at + i + 1];
            words[i + 1] = image_[at + i];
        }
        return;
    }
    // Bytes that reach the array before the knob drops the rest.
    uint64_t kept = bytes;
    if (drop_at_bytes_ >= 0)
        kept = bytes_written_ >= uint64_t(drop_at_bytes_)
                   ? 0
                   : std::min<uint64_t>(bytes, uint64_t(drop_at_bytes_) - bytes_written_);
    const uint32_t n = uint32_t(kept);
    for (uint32_t i = 0; i + 1 < n; i += 2) {
        image_[at + i] = words[i + 1];
        image_[at + i + 1] = words[i];
    }
    if (n % 2) image_[at + n - 1] = words[n];
    bytes_written_ += bytes;
}

FramDevice *fram_device() {
    auto ssp = devmem_model<SspModel>(soc::kSsp3);
    return ssp ? ssp->fram() : nullptr;
}

FpgaModel *fpga_model() {
    auto ssp = devmem_model<SspModel>(soc::kSsp1);
    return ssp ? ssp->fpga() : nullptr;
}

ShiftChainState &shift_chain() {
    auto pins = devmem_model<BoardPinctrl>(soc::kPinctrl);
    return pins->chain.state;
}

std::shared_ptr<RegBlock> board_make_pinctrl() {
    return std::make_shared<BoardPinctrl>();
}
std::shared_ptr<RegBlock> board_make_power() {
    return std::make_shared<PowerModel>();
}
std::shared_ptr<RegBlock> board_make_rtc() {
    return std::make_shared<RtcModel>();
}
std::shared_ptr<RegBlock> board_make_ssp(int port) {
    return std::make_shared<SspModel>(port);
}
std::shared_ptr<RegBlock> board_make_adc() {
    return std::make_shared<AdcModel>();
}

} // namespace host
