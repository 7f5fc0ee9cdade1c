// Device models of the emulated board behind "/dev/mem": the pin controller
// with its GPIO banks, the SSP ports with the devices on their chip selects,
// the FRAM, the persistent registers of the clock block, and the power block.
#pragma once
#include "host/devmem.h"

#include <cstdint>
#include <functional>
#include <string>

namespace host {

// Physical addresses of the blocks modelled here.
namespace soc {
constexpr uint32_t kPinctrl = 0x80018000, kClkctrl = 0x80040000, kPower = 0x80044000;
constexpr uint32_t kRtc = 0x80056000, kAdc = 0x80050000;
constexpr uint32_t kSsp1 = 0x80012000, kSsp2 = 0x80014000, kSsp3 = 0x80016000;
constexpr uint32_t kBlockSize = 0x2000;
// Pin controller registers of GPIO bank n: output, input, output enable.
constexpr uint32_t dout(int bank) {
    return 0x700 + 0x10 * uint32_t(bank);
}
constexpr uint32_t din(int bank) {
    return 0x900 + 0x10 * uint32_t(bank);
}
constexpr uint32_t doe(int bank) {
    return 0xB00 + 0x10 * uint32_t(bank);
}
// Clock block: persistent registers 0..5; power block: battery monitor, reset.
constexpr uint32_t rtc_persistent(int n) {
    return 0x60 + 0x10 * uint32_t(n);
}
constexpr uint32_t kPowerBattMonitor = 0xE0, kPowerReset = 0x100;
// On-chip converter: control 0 bit n schedules a conversion of channel n,
// control 1 bit n is set when it is done; channel n's result (bits 0-17).
constexpr uint32_t kAdcCtrl0 = 0x00, kAdcCtrl1 = 0x10;
constexpr uint32_t adc_result(int ch) {
    return 0x50 + 0x10 * uint32_t(ch);
}
// The base unit's I/O on the processor's pins, all in bank 3: its four
// digital inputs on pins 10-13, the selector of the analog input that the
// converter's channel 0 sees on pins 4-5 (input 1 both high, 2 pin 5, 3 pin
// 4, 4 neither).
constexpr int kBaseBank = 3;
constexpr uint32_t kBaseInputPins = 0x3C00, kBaseSelectPins = 0x30;
} // namespace soc

struct ShiftChainState;

// The pin controller: GPIO outputs, inputs and listeners on output changes.
// A pin that is not driven (output enable clear) reads high (pull-up).
class PinctrlModel : public SctRegBlock {
public:
    PinctrlModel();
    // Called with the bank's pin levels before and after a change of its
    // output or output-enable register.
    using Listener = std::function<void(uint32_t old_level, uint32_t new_level)>;
    void on_output(int bank, Listener fn);
    // Level of an input pin as the device driving it sets it.
    void set_input(int bank, int bit, bool high);
    bool output(int bank, int bit); // level of the pin
    bool driven(int bank, int bit); // output enable set
    uint32_t level(int bank);       // levels of the bank's pins

protected:
    uint32_t load(uint32_t reg) override;
    void stored(uint32_t reg, uint32_t old, uint32_t now) override;
    // Levels that outside devices drive onto the bank's pins.
    virtual uint32_t inputs(int bank) { return inputs_[bank]; }

private:
    std::vector<std::pair<int, Listener>> listeners_;
    uint32_t inputs_[5] = {};
};

// A device on an SPI bus: one byte in, one byte out, per clocked byte.
class SpiSlave {
public:
    virtual ~SpiSlave() = default;
    virtual void select(bool on) = 0;
    virtual uint8_t exchange(uint8_t out) = 0;
    // `count` 16-bit items clocked in one go, most significant byte first on
    // the wire; `words` holds them little-endian. A read clocks out ones and
    // stores what comes back. By default one byte at a time through exchange.
    virtual void exchange_words(uint8_t *words, uint32_t count, bool read);
};

// The FRAM behind SSP3: a 16 KiB image file "dev/fram" in the root folder,
// mapped shared so that every completed write survives a kill of the process.
class FramDevice : public SpiSlave {
public:
    static constexpr uint32_t kSize = 16384;
    FramDevice();
    ~FramDevice() override;
    void select(bool on) override;
    uint8_t exchange(uint8_t out) override;
    // Moves a block between the array and memory at once, honouring the
    // power-loss knob word by word as the byte path does.
    void exchange_words(uint8_t *words, uint32_t count, bool read) override;
    // Power-loss knob: after `words` more 16-bit words reach the array, further
    // writes are dropped (< 0: never). Also set at start by "fram_drop_after_words".
    void drop_after_words(long words);
    bool dropping() const;
    uint64_t words_written() const { return bytes_written_ / 2; }

private:
    uint8_t *image_ = nullptr;
    enum class State { Command, AddrHigh, AddrLow, Data, Idle } state_ = State::Idle;
    uint8_t command_ = 0;
    uint16_t address_ = 0;
    bool write_enabled_ = false;
    uint64_t bytes_written_ = 0;
    long long drop_at_bytes_ = -1; // byte count from which writes are dropped
};

// The FRAM of the board (created with the SSP3 block).
FramDevice *fram_device();
// Name of the FRAM image under the root folder.
constexpr const char *kFramImage = "/dev/fram";

// The shift-register chain on SSP2's pins (see Ssp2_Xch): records the bits
// clocked out to each of its three devices and drives the data-in pin from a
// word per device, for tests of the exchange.
struct ShiftChainState {
    uint32_t shifted[3];  // last word shifted into each device
    uint32_t bits[3];     // number of bits of that word
    uint32_t readback[3]; // what each device shifts back (most significant first)
};
ShiftChainState &shift_chain();

// Factories of the board table (devmem.cpp).
std::shared_ptr<RegBlock> board_make_pinctrl();
std::shared_ptr<RegBlock> board_make_power();
std::shared_ptr<RegBlock> board_make_rtc();
std::shared_ptr<RegBlock> board_make_ssp(int port);
std::shared_ptr<RegBlock> board_make_adc();

} // namespace host
