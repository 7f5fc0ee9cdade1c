// The command interface of the local I/O modules: identification of the
// modules in the two slots, their configuration and the per-scan transfers,
// each handed to the I/O driver as one IoMsg answered in place.
#include "base/trace.h"
#include "platform/i2c.h"
#include "platform/io.h"
#include "platform/unit.h"

#include <cstring>

// Rows: identity, model name, sizes (commands 9-12), kind, features.
const IoIdent io_ident[kIoIdentRows] = {
    {0x0100, "LX100 ", {12, 24, 12, 0}, 0xF0, 2},  {0xA60F, "LX200 ", {12, 24, 12, 14}, 0xF1, 3},
    {0xA00F, "LX300 ", {32, 24, 12, 14}, 0xF2, 3}, {0xA40F, "LX310 ", {32, 24, 12, 14}, 0xF2, 3},
    {0xA20F, "LX320T", {32, 24, 12, 14}, 0xF3, 3}, {0x720F, "CM100 ", {0, 0, 0, 0}, 0xF4, 0},
    {0x700F, "CM110 ", {0, 0, 0, 0}, 0xF4, 0},     {0x7F0E, "PX410 ", {4, 4, 5, 0}, 0xF3, 0},
    {0x7F0F, "CM120 ", {0, 0, 0, 0}, 0xF4, 0},     {0xBF0F, "MD200 ", {0, 0, 0, 0}, 0xF4, 0},
    {0x3F0F, "CM130 ", {0, 0, 0, 0}, 0xF4, 0},     {0xDF0F, "MD210 ", {0, 0, 0, 0}, 0xF4, 0},
    {0x5F0F, "CM140 ", {0, 0, 0, 0}, 0xF4, 0},     {0x9F0F, "BS108 ", {8, 8, 108, 108}, 0xF6, 0},
    {0xAE0F, "GI200 ", {0, 0, 0, 0}, 0xF4, 0},     {0xAC0F, "GI210 ", {0, 0, 0, 0}, 0xF4, 0},
    {0x500F, "AC500 ", {20, 8, 28, 28}, 0xF5, 0},  {0x520F, "AC520 ", {20, 8, 28, 28}, 0xF5, 0},
    {0x8F0F, "AQ404 ", {0, 0, 0, 4}, 0xF3, 0},     {0x0F0F, "AQ202 ", {0, 0, 0, 2}, 0xF3, 0},
    {0x1F0F, "HC100 ", {0, 0, 0, 0}, 0, 0},        {0xDF0E, "LX600 ", {32, 38, 12, 14}, 0xF3, 3},
    {0xEF0E, "LX050 ", {4, 4, 2, 14}, 0, 3},       {0xEF0F, "CM150 ", {0, 0, 0, 0}, 0xF4, 0},
    {0xEE0F, "CM160 ", {0, 0, 0, 0}, 0xF4, 0},     {0x6F0F, "CM170 ", {0, 0, 0, 0}, 0xF4, 0},
    {0x6E0F, "CM180 ", {0, 0, 0, 0}, 0xF4, 0},     {0xAF0F, "CM190 ", {0, 0, 0, 0}, 0xF4, 0},
    {0xAE0F, "CM200 ", {0, 0, 0, 0}, 0xF4, 0},
};

const char io_ident_oem_names[kIoIdentRows][18] = {
    "OX100 ", "OX200 ", "OX300 ", "OX310 ", "OX320T", "OC100 ", "OC110 ", "OP410 ",
    "OC120 ", "OM200 ", "OC130 ", "OM210 ", "OC140 ", "OB108 ", "OG200 ", "OG210 ",
    "OA500 ", "OA520 ", "OQ404 ", "OQ202 ", "OH100 ", "OX600 ", "OX050 ", "OC150 ",
    "OC160 ", "OC170 ", "OC180 ", "OC190 ", "OC200 ",
};

SlotInfo slotinfo[kIoSlots];
uint8_t hsc_module_present;
const uint8_t *EtnConfp;

namespace {

constexpr uint8_t exid[2] = {0x4C, 0x4E};
constexpr uint16_t exidsuf[2] = {0x000E, 0x000F};
constexpr uint8_t genid[2] = {0x08, 0x0A};
constexpr uint8_t slave_eeprom[2] = {0x1C, 0x1E};
constexpr uint16_t i2c_scan_list[2][7] = {{0xA6, 0xA0, 0xA4, 0xA2, 0x50, 0x52, 0},
                                          {0x72, 0x70, 0, 0, 0, 0, 0}};
constexpr char pad5[] = "     ";
constexpr uint16_t kEthernetId = 64000;

struct State {
    uint16_t ioenv[3]; // command 1, then the module identities of slots 0 and 1
    IoMsg extmsg;      // per-scan transfers 9-13
    IoMsg iomsg;       // configuration 4 and service 6
    IoMsg calmsg;      // calibration 8
    IoMsg querymsg;    // query 2
    uint8_t calbuf[64];
};
State g;

// The control line bit `bit` of an expander, read, changed and written back.
void put_line(uint8_t dev, int mode, uint8_t bit, bool set) {
    uint8_t b[2] = {};
    I2C_read_io(dev, b, mode, mode == 1 ? 2 : 1);
    if (set)
        b[0] = uint8_t(b[0] | bit);
    else
        b[0] = uint8_t(b[0] & ~bit);
    I2C_write_io(dev, b, mode, mode == 1 ? 2 : 1);
}

bool one_of(uint16_t id, std::initializer_list<uint16_t> ids) {
    for (uint16_t i : ids)
        if (i == id) return true;
    return false;
}

uint16_t slot1_id() {
    return slotinfo[1].id;
}

constexpr std::initializer_list<uint16_t> kDtrModems = {0xAF0F, 0x6F0F, 0xAE0F, 0x6E0F,
                                                        0xDF0F, 0xBF0F, 0xEE0F, 0xEF0F};
constexpr std::initializer_list<uint16_t> kShdnModules = {0xAE0F, 0x6E0F, 0x6F0F,
                                                          0xEE0F, 0xEF0F, 0xAF0F};

} // namespace

int IoIdentRow(uint16_t id) {
    for (int r = 0; r < kIoIdentRows; ++r)
        if (io_ident[r].id == id) return r;
    return -1;
}

int get_io_info(uint16_t *ids) {
    host::trace("get_io_info");
    for (int s = 0; s < 2; ++s) {
        uint16_t id = 0x00FF;
        if (I2C_query(exid[s]) == 0) {
            uint8_t w[2] = {0xFF, 0xFF};
            I2C_write_io(exid[s], w, 1, 2);
            uint8_t r[2] = {};
            I2C_read_io(exid[s], r, 1, 2);
            id = uint16_t((r[1] << 8) | exidsuf[s]);
        } else if (I2C_query(genid[s]) == 0) {
            id = uint16_t((genid[s] << 8) | 0x0F);
        } else if (I2C_query(slave_eeprom[s]) == 0) {
            uint8_t b = 0;
            read_io_eeprom(slave_eeprom[s], 8, 1, &b, 2);
            id = uint16_t((b << 8) | exidsuf[s]);
        } else {
            for (int i = 0; i < 7 && i2c_scan_list[s][i]; ++i) {
                if (I2C_query(uint8_t(i2c_scan_list[s][i])) == 0) {
                    id = uint16_t((i2c_scan_list[s][i] << 8) | 0x0F);
                    break;
                }
            }
        }
        ids[s] = id;
        if (s == 1 && id == 0x1F0F) {
            // The counter module takes the slot's lines: nothing else to probe.
            hsc_module_present = 1;
            break;
        }
    }
    ids[2] = kEthernetId;
    return 3;
}

int IoInit(const uint16_t *ids, int n) {
    host::trace("IoInit");
    if (n > 2) n = 2;
    int unknown = 0;
    for (int s = 0; s < n; ++s) {
        int row = IoIdentRow(ids[s]);
        if (row >= 0) {
            slotinfo[s] = {g.ioenv, io_ident[row].kind, ids[s]};
        } else {
            slotinfo[s] = {nullptr, 255, ids[s]};
            if (ids[s] != 0xFF) unknown |= 1 << s;
        }
    }
    g.ioenv[0] = 1;
    g.ioenv[1] = n > 0 ? ids[0] : 0xFF;
    g.ioenv[2] = n > 1 ? ids[1] : 0xFF;
    if (!(slotinfo[0].kind == 255 && slotinfo[1].kind == 255)) {
        IoMsg m{};
        m.command = 1;
        m.first = g.ioenv[1];
        m.length = g.ioenv[2];
        io_driver(&m);
    }
    slotinfo[2].kind = 0;
    slotinfo[2].id = kEthernetId;
    return unknown;
}

int IoCfg(IoCfgRec *cfg, int slot) {
    host::trace("IoCfg");
    if (!cfg || slot < 0 || slot > 2) return 0;
    if (slot < 2) {
        g.iomsg = IoMsg{};
        g.iomsg.command = 4;
        g.iomsg.slot = uint8_t(slot);
        g.iomsg.status = 0;
        g.iomsg.data = const_cast<uint8_t *>(cfg->config);
        g.iomsg.length = uint16_t(cfg->config_length > 0xFFFF ? 0xFFFF : cfg->config_length);
        io_driver(&g.iomsg);
        g.querymsg = IoMsg{};
        g.querymsg.command = 2;
        g.querymsg.slot = uint8_t(slot);
        io_driver(&g.querymsg);
    } else {
        // The Ethernet module answers for itself; the status stays that of
        // the previous query.
        EtnConfp = cfg->config;
        g.querymsg.name = "ZQM512";
        for (uint16_t &z : g.querymsg.sizes)
            z = 0;
    }
    uint8_t *r = cfg->rec;
    std::memcpy(r + iocfg::kText, pad5, 5);
    char name[7] = "      ";
    if (g.querymsg.name) strmcpy(name, g.querymsg.name, 6);
    for (int i = 0; i < 6; ++i)
        r[iocfg::kName + i] = uint8_t(name[i] ? name[i] : ' ');
    for (int i = 0; i < 4; ++i) {
        r[iocfg::kInBits + 2 * i] = uint8_t(g.querymsg.sizes[i]);
        r[iocfg::kInBits + 2 * i + 1] = uint8_t(g.querymsg.sizes[i] >> 8);
    }
    r[iocfg::kQuery] = g.querymsg.status;
    r[iocfg::kPresent] = g.querymsg.status == 0 ? 1 : 0;
    return 0;
}

namespace {
int transfer(int command, uint8_t *buf, int slot, int first, int n) {
    if (slot > 1 || slot < 0) return 0;
    g.extmsg = IoMsg{};
    g.extmsg.command = uint8_t(command);
    g.extmsg.slot = uint8_t(slot);
    g.extmsg.first = uint16_t(first);
    g.extmsg.length = uint16_t(n);
    g.extmsg.data = buf;
    io_driver(&g.extmsg);
    return 0;
}
} // namespace

int IoGetIs(uint8_t *buf, int slot, int first_bit, int n_bits) {
    host::trace("IoGetIs");
    return transfer(9, buf, slot, first_bit / 8, n_bits / 8);
}
int IoPutQs(uint8_t *buf, int slot, int first_bit, int n_bits) {
    host::trace("IoPutQs");
    return transfer(10, buf, slot, first_bit / 8, n_bits / 8);
}
int IoGetAIs(uint8_t *buf, int slot, int first, int n) {
    host::trace("IoGetAIs");
    return transfer(11, buf, slot, first, n);
}
int IoPutAQs(uint8_t *buf, int slot, int first, int n) {
    host::trace("IoPutAQs");
    return transfer(12, buf, slot, first, n);
}

int IoService(int slot) {
    host::trace("IoService");
    if (slot < 0 || slot > 1) return 0;
    g.iomsg = IoMsg{};
    g.iomsg.command = 6;
    g.iomsg.slot = uint8_t(slot);
    io_driver(&g.iomsg);
    return 0;
}

int IoStop() {
    host::trace("IoStop");
    for (int s = 0; s < 2; ++s) {
        g.extmsg = IoMsg{};
        g.extmsg.command = 13;
        g.extmsg.slot = uint8_t(s);
        io_driver(&g.extmsg);
    }
    return 0;
}

int IoCal(uint8_t *req) {
    if (!req) return 0;
    int len = req[0], slot = req[2];
    if (slot < 3 && slotinfo[slot].kind != 255 && len >= 2) {
        int n = len - 2;
        if (n > int(sizeof g.calbuf)) n = sizeof g.calbuf;
        std::memcpy(g.calbuf, req + 3, size_t(n));
        g.calmsg = IoMsg{};
        g.calmsg.command = 8;
        g.calmsg.slot = uint8_t(slot);
        g.calmsg.count = uint8_t(n);
        g.calmsg.data = g.calbuf;
        if (slot != 2) io_driver(&g.calmsg);
        int answer = g.calmsg.count > sizeof g.calbuf ? int(sizeof g.calbuf) : g.calmsg.count;
        req[0] = uint8_t(answer);
        std::memcpy(req + 1, g.calbuf, size_t(answer));
    } else {
        req[0] = 1;
        req[1] = 0x40;
    }
    return 0;
}

int read_io_eeprom(int dev, int sub, int len, uint8_t *buf, int mode) {
    uint32_t addr = mode == 3 ? (uint32_t(dev) << 16) : (uint32_t(dev) << 7);
    return I2C_read_mem(buf, addr | uint32_t(sub), len, mode);
}

int write_io_eeprom(int dev, int sub, int len, const uint8_t *buf, int mode) {
    host::trace("write_io_eeprom");
    uint32_t addr = mode == 3 ? (uint32_t(dev) << 16) : (uint32_t(dev) << 7);
    return I2C_write_mem(buf, addr | uint32_t(sub), len, mode);
}

char *strmcpy(char *dst, const char *src, int n) {
    int i = 0;
    for (; i < n && src[i]; ++i)
        dst[i] = src[i];
    dst[i] = 0;
    return dst + i;
}

bool msg_slot_ok(IoMsg *msg, uint16_t module_type) {
    if (msg->slot > 2) {
        msg->status = 0xC0;
        return false;
    }
    if (module_type == 0xFFFF) {
        msg->status = 0x80;
        return false;
    }
    msg->status = 0;
    return true;
}

int IoPutDTR(int, int on) {
    uint16_t id = slot1_id();
    if (one_of(id, kDtrModems))
        put_line(0x4E, 1, 0x40, !on);
    else if (id == 0x700F)
        put_line(0x70, 0, 0x08, !on);
    return 0;
}

int IoGetDCD() {
    uint16_t id = slot1_id();
    uint8_t b[2] = {};
    if (id == 0x700F) {
        if (I2C_read_io(0x70, b, 0, 1)) return 0;
        return (b[0] & 0x04) == 0;
    }
    if (one_of(id, kDtrModems)) {
        uint8_t w[2] = {0x20, 0};
        I2C_write_io(0x4E, w, 1, 2);
        if (I2C_read_io(0x4E, b, 1, 2)) return 0;
        return (b[0] & 0x20) == 0;
    }
    return 0;
}

int IoCommShdn(int, int on) {
    if (one_of(slot1_id(), kShdnModules)) put_line(0x4E, 1, 0x08, on);
    return 0;
}

int IoCommOnOf(int, int on) {
    if (one_of(slot1_id(), kShdnModules)) put_line(0x4E, 1, 0x04, on);
    return 0;
}

int IoCommPwr(int, int on) {
    uint16_t id = slot1_id();
    if (one_of(id, {0xAF0F, 0x6F0F, 0xAE0F, 0x6E0F, 0xEE0F, 0xEF0F}))
        put_line(0x4E, 1, 0x02, !on);
    else if (id == 0xDF0F || id == 0xBF0F)
        put_line(0x4E, 1, 0x08, !on);
    return 0;
}

int IoCommReset(int, int on) {
    switch (slot1_id()) {
    case 0x720F:
        put_line(0x72, 0, 0x40, on);
        break;
    case 0x700F:
        put_line(0x70, 0, 0x40, on);
        break;
    case 0x3F0F:
        put_line(0x4E, 1, 0x80, on);
        break;
    case 0xBF0F:
    case 0xDF0F:
        put_line(0x4E, 1, 0x04, on);
        break;
    case 0x7F0F:
        put_line(0x4E, 1, 0x20, on);
        break;
    default:
        break;
    }
    return 0;
}

void IoIf_Reset() {
    g = State{};
    for (SlotInfo &s : slotinfo)
        s = SlotInfo{nullptr, 255, 0xFF};
    hsc_module_present = 0;
    EtnConfp = nullptr;
}
