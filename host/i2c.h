// The board's I2C bus (I2C0) and the devices on it: module EEPROMs, port
// expanders, DACs and ADCs, metering chips, temperature sensors and the
// battery-backed clock chip. The bus is reached two ways, as on the board:
// through the controller's registers behind "/dev/mem" (the block at kI2c0)
// or through the kernel's I2C service (i2c_kernel_call).
//
// What is plugged in comes from host.conf, one key per bus address (the 8-bit
// write address, hexadecimal):
//
//   i2c.0x64 = clock                  clock chip (fitted by default; "none" removes it)
//   i2c.0xA0 = eeprom 256 [page [ms]] serial EEPROM of that many bytes; up to 2048
//                                     bytes it takes one address byte and one bus
//                                     address per 256 bytes (0xA0, 0xA2, ...),
//                                     above that two address bytes; page size
//                                     (default 16, or 32 with two address bytes)
//                                     and write-cycle time (default 5 ms)
//   i2c.0x4C = regs [b0 b1 ...]       register device: a pointer byte, then 256
//                                     registers with auto-increment (expanders,
//                                     DACs, ADCs, metering chips)
//   i2c.0x96 = lm92 31.5              temperature sensor, 13-bit reading
//   i2c.0x9E = tmp 25                 temperature sensor whose resolution follows
//                                     its configuration register (12-bit at 0x60)
//   i2c.0x4E = expander 0x7FFF        16-bit quasi-bidirectional port expander:
//                                     the levels its pins are driven to from
//                                     outside (a written 1 lets a pin follow them)
//
// The local I/O rack: "io.slot0 = 0xDF0E", "io.slot1 = 0x500F" plug in what
// the module of that identity shows on the bus: an expander at 0x4C (slot 0)
// or 0x4E (slot 1) whose upper pins carry the identity's high byte when its
// low byte is the slot's expander suffix (0x0E, 0x0F), else a register device
// at the identity's high byte (the module's own address).
//
// Memories and the clock chip keep their contents in files under "/dev" of the
// root folder ("/dev/eeprom_a0", "/dev/rtc_chip"), so they survive a restart;
// a test may write such a file before the bus is first used. A new clock
// chip holds cleared registers (an invalid calendar) until it is set.
#pragma once
#include "host/devmem.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace host {

// A device on the bus. Addresses are bus address bytes: the 7-bit address
// shifted left, bit 0 set for a read.
class I2cDevice {
public:
    virtual ~I2cDevice() = default;
    // A start (or repeated start) addressed to the device; false: no acknowledge.
    virtual bool start(uint8_t address) = 0;
    // A byte from the master; false: not acknowledged.
    virtual bool write(uint8_t byte) = 0;
    // A byte to the master.
    virtual uint8_t read() = 0;
    // The stop that ends the device's transfer.
    virtual void stop() {}
};

// One addressed transfer as a recorder on the bus sees it.
struct I2cTransfer {
    uint8_t address; // with the read bit
    bool acked;      // the device answered its address
    std::vector<uint8_t> bytes;
    bool nacked = false; // a written byte was not acknowledged
    uint32_t hz = 0;     // bus speed
};

class I2cBus {
public:
    I2cBus();
    // Plugs a device in at a bus address (the read bit is ignored).
    void attach(uint8_t address, std::shared_ptr<I2cDevice> device);
    void detach(uint8_t address);
    I2cDevice *device(uint8_t address) const;
    template <class T> T *model(uint8_t address) const {
        return dynamic_cast<T *>(device(address));
    }

    // Master side. A start while a transfer is open is a repeated start.
    bool start(uint8_t address);
    bool write(uint8_t byte);
    uint8_t read();
    void stop();
    // Bit rate of the following transfers.
    void set_speed(uint32_t hz);
    uint32_t speed() const { return speed_hz_; }
    // Lets the time that the transfers since the last call took pass (the
    // virtual clock moves on; real time is slept).
    void settle();

    // Test aids: the next `count` addressings of a device are not acknowledged;
    // a record of every transfer while recording is on.
    void refuse(uint8_t address, int count);
    void record(bool on);
    const std::vector<I2cTransfer> &transfers() const { return log_; }
    void clear_transfers() { log_.clear(); }

private:
    void owe_bits(unsigned bits);
    std::shared_ptr<I2cDevice> devices_[128];
    int refuse_[128] = {};
    I2cDevice *active_ = nullptr;
    bool open_ = false;
    uint32_t speed_hz_ = 100000;
    uint64_t owed_ns_ = 0;
    bool recording_ = false;
    std::vector<I2cTransfer> log_;
};

// The board's bus, with the devices of host.conf, created on first use.
I2cBus &i2c_bus();
// Forgets the bus and its devices (test fixtures; device files stay).
void i2c_reset();

// The kernel's I2C service (system call 366): one whole transfer, done
// synchronously. `timing` 1 is 100 kHz, 2 400 kHz, any other value 3125 x 2^n
// Hz with n in bits 8-11. A query has count 0 and direction 0. Kept in memory
// only, so the buffer is a native pointer.
struct I2cKernelCmd {
    uint32_t address; // bus address byte, read bit included
    uint8_t *buffer;
    uint32_t count;
    uint32_t timing;
    uint32_t direction; // 1 read, 0 write
    uint32_t result;    // written by the service: 0 success
};
// Returns 0 when the call was taken (the outcome is in cmd->result), -1 when
// the host has no kernel service ("i2c_kernel = 0" in host.conf).
long i2c_kernel_call(I2cKernelCmd *cmd);

// The controller's register block behind "/dev/mem".
constexpr uint32_t kI2c0 = 0x80058000;
std::shared_ptr<RegBlock> board_make_i2c0();

// ------------------------------------------------------------ device models

// Serial EEPROM with page writes and a write cycle during which it does not
// answer its address.
class I2cEeprom : public I2cDevice {
public:
    // `base`: the first bus address; `size` bytes; one address byte when
    // size <= 2048 (the block number in address bits 1-3), else two.
    I2cEeprom(uint8_t base, uint32_t size, uint32_t page, uint32_t cycle_us, std::string file);
    bool start(uint8_t address) override;
    bool write(uint8_t byte) override;
    uint8_t read() override;
    void stop() override;
    uint32_t size() const { return uint32_t(mem_.size()); }
    uint8_t *data() { return mem_.data(); }
    bool busy() const;

private:
    uint8_t base_;
    std::vector<uint8_t> mem_;
    uint32_t page_, cycle_us_;
    std::string file_;
    int address_bytes_;
    int pending_address_ = 0; // address bytes still to come
    uint32_t pointer_ = 0;
    std::vector<std::pair<uint32_t, uint8_t>> page_buf_; // bytes of the open write
    bool writing_ = false;
    uint64_t busy_until_ns_ = 0;
};

// Clock chip: registers 0-6 seconds, minutes, hours, day of week, day of
// month, month, two-digit year, in BCD; 7-15 plain storage. A pointer byte
// selects the register, reads and writes advance it. Writing the seconds
// restarts the chip's second.
class I2cClockChip : public I2cDevice {
public:
    explicit I2cClockChip(std::string file);
    bool start(uint8_t address) override;
    bool write(uint8_t byte) override;
    uint8_t read() override;
    // The registers as they stand now.
    void registers(uint8_t out[16]);
    void set_register(int reg, uint8_t value);

private:
    void advance();
    void save();
    std::string file_;
    uint8_t regs_[16] = {};
    int64_t second_ns_ = 0; // host time at which the registers were current
    uint8_t pointer_ = 0;
    bool first_byte_ = false;
};

// Register device: a pointer byte then data, auto-incrementing over 256
// registers. Written bytes land in the registers; a test or an input model
// sets what reads return.
class I2cRegDevice : public I2cDevice {
public:
    explicit I2cRegDevice(std::vector<uint8_t> initial = {});
    bool start(uint8_t address) override;
    bool write(uint8_t byte) override;
    uint8_t read() override;
    uint8_t regs[256] = {};
    uint8_t pointer = 0;

private:
    bool first_byte_ = false;
};

// Port expander: two bytes written set the output latches (low port first);
// a read returns the latches ANDed with the outside levels, low port first.
class I2cExpander : public I2cDevice {
public:
    explicit I2cExpander(uint16_t levels) : pins(levels) {}
    bool start(uint8_t address) override;
    bool write(uint8_t byte) override;
    uint8_t read() override;
    uint16_t latch = 0xFFFF;
    uint16_t pins;       // levels driven from outside
    uint16_t writes = 0; // words written so far

private:
    int phase_ = 0;
};

// Temperature sensor: pointer 0 temperature (two bytes, big-endian, left
// justified), pointer 1 configuration. `lm92`: always 13 bits (value << 3);
// otherwise 9 to 12 bits by configuration bits 5-6 (value << 4 at 12 bits).
class I2cTempSensor : public I2cDevice {
public:
    I2cTempSensor(bool lm92, double celsius);
    bool start(uint8_t address) override;
    bool write(uint8_t byte) override;
    uint8_t read() override;
    void set_celsius(double c) { celsius_ = c; }
    uint8_t config() const { return config_; }

private:
    uint16_t reading() const;
    bool lm92_;
    double celsius_;
    uint8_t config_ = 0;
    uint8_t pointer_ = 0;
    int phase_ = 0; // bytes of the current transfer
};

} // namespace host
