// Stand-in for "/dev/mem": the SoC's peripheral registers as emulated register
// blocks with device models behind them, so the drivers program the registers
// the way they would on the board (write a control bit, poll a status bit).
//
// A block is registered for a physical address range (see the board table in
// devmem.cpp; drivers with their own device model add a line there). A mapping
// may span several blocks; addresses that no model claims read back what was
// written, four bytes at a time.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace host {

class RegBlock {
public:
    virtual ~RegBlock() = default;
    // Offsets are bytes from the block's base, multiples of 4.
    virtual uint32_t read(uint32_t offset) = 0;
    virtual void write(uint32_t offset, uint32_t value) = 0;
    // A DMA channel bound to the register at `offset`: moves `bytes` between
    // memory and the device behind it in one go. False when the block has no
    // such channel (the driver then moves the items one by one).
    virtual bool dma(uint32_t /*offset*/, uint8_t * /*buffer*/, uint32_t /*bytes*/, bool /*read*/) {
        return false;
    }
};

// The SoC's common register layout: each register occupies a 16-byte slot,
// the register itself and its set, clear and toggle aliases at +4, +8, +0xC.
class SctRegBlock : public RegBlock {
public:
    explicit SctRegBlock(uint32_t size);
    uint32_t read(uint32_t offset) override;
    void write(uint32_t offset, uint32_t value) override;

protected:
    // What a read of register `reg` (slot offset) returns; default the stored word.
    virtual uint32_t load(uint32_t reg) { return *slot(reg); }
    // After a write changed register `reg` (or wrote it with the same value).
    virtual void stored(uint32_t, uint32_t /*old*/, uint32_t /*now*/) {}
    // Registers without aliases: every offset of the slot is a plain write.
    virtual bool plain(uint32_t) const { return false; }
    // Storage of a register (device models may keep some words elsewhere).
    virtual uint32_t *slot(uint32_t reg) { return &words_[reg / 4]; }

private:
    std::vector<uint32_t> words_;
};

using RegBlockFactory = std::function<std::shared_ptr<RegBlock>()>;

// Adds (or replaces) the block of the emulated board at [phys, phys + size).
void devmem_add(uint32_t phys, uint32_t size, RegBlockFactory make);
// The block that holds `phys`, created on first use; null for unmodelled addresses.
std::shared_ptr<RegBlock> devmem_block(uint32_t phys);
template <class T> std::shared_ptr<T> devmem_model(uint32_t phys) {
    return std::dynamic_pointer_cast<T>(devmem_block(phys));
}

// "/dev/mem": a descriptor (>= 0), or -1 when the host has none ("devmem = 0"
// in host.conf, for tests of the drivers' failure paths).
int devmem_open();
void devmem_close(int fd);

struct RegMap;
// Maps `size` bytes of registers from `phys`; null on a bad descriptor.
RegMap *devmem_map(int fd, uint32_t phys, uint32_t size);
void devmem_unmap(RegMap *map);
uint32_t reg_read(RegMap *map, uint32_t offset);
void reg_write(RegMap *map, uint32_t offset, uint32_t value);
// A DMA transfer through the register at `offset` (see RegBlock::dma).
bool reg_dma(RegMap *map, uint32_t offset, uint8_t *buffer, uint32_t bytes, bool read);
// Orders the register writes before it (the board's memory barrier / msync).
void devmem_sync(RegMap *map);

// Forgets every block and mapping (test fixtures; "hardware" files stay).
void devmem_reset();

} // namespace host
