// Register datagrams and their commands (opcodes 31 to 34), and the ageing of
// unused ones once per pass.
#include "serial/datagram.h"

#include "base/trace.h"
#include "platform/tick.h"
#include "regs/plc_reg.h"
#include "serial/command.h"
#include "serial/serial.h"

#include <algorithm>
#include <cstring>

DgDef DgDefTable[kDgEntries];

namespace {

constexpr uint32_t kStepTicks = 1000; // 100 ms

struct State {
    bool started = false;
    uint32_t last = 0;
};
State g;

DgDef *usable(uint8_t number, uint16_t key) {
    if (number >= kDgEntries) return nullptr;
    DgDef &d = DgDefTable[number];
    return d.in_use && d.key == key ? &d : nullptr;
}

// The values of a command from data byte 4 on, as 16-bit words.
uint32_t command_words(uint16_t *out, uint32_t room) {
    uint32_t length = std::min<uint32_t>(CmdBuf.length, kCmdDataKept);
    uint32_t n = length >= 4 ? (length - 4) / 2 : 0;
    n = std::min(n, room);
    for (uint32_t i = 0; i < n; ++i)
        out[i] = cmd_arg16(int(4 + 2 * i));
    return n;
}

} // namespace

uint8_t Datagram_Create(uint8_t time_out, uint16_t key, const uint16_t *words, uint32_t n) {
    if (n > kDgWords) return kDgRefused;
    uint32_t address[kDgWords];
    uint32_t count = 0, high = 0;
    bool paired = false;
    for (uint32_t i = 0; i < n; ++i) {
        if (words[i] == 0 && !paired) {
            // The next word is the high half of the addresses that follow;
            // without it the entry's count would wrap.
            if (i + 1 >= n) return kDgRefused;
            high = uint32_t(words[++i]) << 16;
            paired = true;
            continue;
        }
        // An address whose reference does not fit 32 bits would name another register.
        if (high >= 1u << 28) return kDgRefused;
        address[count++] = high | words[i];
    }
    for (uint8_t e = 0; e < kDgEntries; ++e) {
        DgDef &d = DgDefTable[e];
        if (d.in_use) continue;
        d = DgDef{};
        d.in_use = 1;
        d.time_out = time_out;
        d.key = key;
        d.count = uint8_t(count);
        std::copy(address, address + count, d.address);
        return e;
    }
    return kDgRefused;
}

uint8_t Datagram_Write(uint8_t number, uint16_t key, const uint16_t *values, uint32_t n) {
    DgDef *d = usable(number, key);
    if (!d || n != d->count) return kDgRefused;
    for (uint32_t i = 0; i < n; ++i) {
        uint8_t b[2] = {uint8_t(values[i]), uint8_t(values[i] >> 8)};
        uint16_t before;
        if (!PlcReg_Get(&before, d->address[i] * 16, 16)) return kDgRefused;
        PlcReg_Set(d->address[i] * 16, b, 16);
    }
    d->age = 0;
    return number;
}

uint8_t Datagram_Read(uint8_t number, uint16_t key, uint16_t *out) {
    DgDef *d = usable(number, key);
    if (!d) return kDgRefused;
    for (uint32_t i = 0; i < d->count; ++i) {
        uint8_t b[2];
        if (!PlcReg_Get(b, d->address[i] * 16, 16)) return kDgRefused;
        out[i] = uint16_t(b[0] | b[1] << 8);
    }
    d->age = 0;
    return d->count;
}

uint8_t Datagram_Delete(uint8_t number, uint16_t key) {
    if (number == 255) {
        for (DgDef &d : DgDefTable)
            d = DgDef{};
        return 0;
    }
    DgDef *d = usable(number, key);
    if (!d) return kDgRefused;
    *d = DgDef{};
    return number;
}

void Datagram_Check() {
    host::trace("Datagram_Check");
    uint32_t now = FPGA_GetFrt();
    if (!g.started) {
        g.started = true;
        g.last = now;
        return;
    }
    if (now - g.last <= kStepTicks) return;
    g.last = now;
    for (DgDef &d : DgDefTable) {
        if (!d.in_use || !d.time_out) continue;
        if (++d.age >= d.time_out) d = DgDef{};
    }
}

// ---- commands

void cmd_datagram_create() {
    uint16_t words[kDgWords + 1];
    uint32_t length = std::min<uint32_t>(CmdBuf.length, kCmdDataKept);
    uint32_t n = length >= 4 ? (length - 4) / 2 : 0;
    uint8_t r = n > kDgWords ? kDgRefused
                             : Datagram_Create(cmd_arg(1), cmd_arg16(2), words,
                                               command_words(words, kDgWords));
    put_packet(kDataOpcode, 1, &r);
    cmd_finish();
}

void cmd_datagram_write() {
    uint16_t values[kDgWords + 1];
    uint32_t length = std::min<uint32_t>(CmdBuf.length, kCmdDataKept);
    uint32_t n = length >= 4 ? (length - 4) / 2 : 0;
    uint8_t r = n > kDgWords ? kDgRefused
                             : Datagram_Write(cmd_arg(1), cmd_arg16(2), values,
                                              command_words(values, kDgWords));
    cmd_reply(r == kDgRefused ? kRefused : kAck);
    cmd_finish();
}

void cmd_datagram_delete() {
    cmd_reply(Datagram_Delete(cmd_arg(1), cmd_arg16(2)) == kDgRefused ? kRefused : kAck);
    cmd_finish();
}

void cmd_datagram_read() {
    uint16_t values[kDgWords];
    uint8_t n = Datagram_Read(cmd_arg(1), cmd_arg16(2), values);
    if (n == kDgRefused) {
        cmd_reply(kRefused);
        return cmd_finish();
    }
    uint8_t out[2 * kDgWords];
    for (uint32_t i = 0; i < n; ++i) {
        out[2 * i] = uint8_t(values[i]);
        out[2 * i + 1] = uint8_t(values[i] >> 8);
    }
    put_packet(kDataOpcode, uint16_t(2 * n), out);
    cmd_finish();
}

void Datagram_Reset() {
    std::memset(DgDefTable, 0, sizeof DgDefTable);
    g = State{};
}
