// The board's FPGA behind SSP1: its register interface (chip select 2) and
// its configuration port (chip select 1).
//
// Register interface: a 4-byte command {1 read / 2 write, byte count 1-4,
// address high, address low}, then the data bytes, least significant first.
// Registers 1 presence, 2 version, 3 counters running, 5 mode; the four
// high-speed counters' accumulators at 0xD8, 0xF8, 0x118 and 0x138 count at
// the rates of host.conf while register 3 and the counter's control byte
// (0xC2, 0xE2, 0x102, 0x122) are non-zero. Every other register is storage.
//
// Configuration port, one command a select window, 4 command bytes:
//   0x98 0 0 0  then 4 bytes out: the identification, least significant first
//   0x0E 0 0 0  erase: the configuration is cleared; busy for two status reads
//   0x3C 0 0 0  then 4 bytes out: status, most significant byte first:
//               bit 0 configured, bit 1 busy, bit 2 erased, bit 3 stream error
//   0x70 0 0 0  then the bitstream bytes, appended to the stream
//   0x73 0 0 0  then the stream read back (leading 0xFF bytes skipped)
//   0x5E 0 0 0  end of programming: the stream is checked
// A stream: any 0xFF bytes, the preamble 0xBD 0xB3, the payload, then the
// CRC-16 (polynomial 0x1021, start 0xFFFF, high byte first) of the payload.
//
// host.conf: "fpga = none" leaves the FPGA off the board; "fpga.id",
// "fpga.version", "fpga.mode", "fpga.present" set those registers;
// "fpga.counter1" .. "fpga.counter4" counts per second of each counter.
#pragma once
#include "host/board.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace host {

class FpgaModel {
public:
    FpgaModel();
    SpiSlave *register_port() { return reg_port_.get(); }
    SpiSlave *config_port() { return cfg_port_.get(); }

    uint8_t reg(uint16_t address) const;
    void set_reg(uint16_t address, uint8_t value);
    // Every select window of the configuration port, as the bytes clocked in.
    std::vector<std::vector<uint8_t>> windows;
    std::vector<uint8_t> stream; // bytes of the programming commands
    bool configured = false, erased = false, stream_error = false;
    int busy_polls = 0;
    uint32_t id;

    // Used by the ports.
    void reg_select(bool on);
    uint8_t reg_exchange(uint8_t out);
    void cfg_select(bool on);
    uint8_t cfg_exchange(uint8_t out);

private:
    void advance_counters();
    void check_stream();
    std::vector<uint8_t> payload() const; // the stream after its leading 0xFF bytes
    uint8_t regs_[65536] = {};
    uint32_t counter_rate_[4] = {};
    int64_t counted_ns_ = 0;
    std::vector<uint8_t> reg_bytes_; // bytes of the open register access
    std::vector<uint8_t> window_;
    uint32_t status_word_ = 0;
    bool cfg_open_ = false;
    std::unique_ptr<SpiSlave> reg_port_, cfg_port_;
};

// The FPGA of the board (with the SSP1 block), null when "fpga = none".
FpgaModel *fpga_model();

// CRC-16 of a configuration stream's payload.
uint16_t fpga_stream_crc(const uint8_t *p, size_t n);

} // namespace host
