// Configuration of the local I/O slots: the modules found against the
// application's I/O configuration, the slot texts, and what the programming
// protocol reads of them.
#include "base/le.h"
#include "base/trace.h"
#include "net/net.h"
#include "plc/sysreg.h"
#include "regs/plc_reg.h"
#include "system/appfile.h"
#include "system/run_ctrl.h"

#include <algorithm>
#include <cstring>

uint8_t Cmd_SS_Info[98];
IoCfgRec io_cfg[4];

namespace runctl {
extern uint16_t installed[kIoSlots];
}

namespace {

using runctl::installed;

bool g_probed = false; // the modules are probed once
int g_unsupported = 0; // bit i: slot i holds a module the driver does not support
constexpr uint16_t kNone = 0xFF;
constexpr uint16_t kEthernetModule = 64000;

// Slot states.
enum Status { kEmpty = 1, kMatch = 2, kMissing = 3, kOther = 4, kUnexpected = 5, kUnsupported = 6 };

// The variant bits (10-9) of the 0xF800 module family: which configured
// variants an installed variant serves.
bool family_match(uint16_t inst, uint16_t conf) {
    if ((inst & 0xF9FF) != 0xF800 || (conf & 0xF9FF) != 0xF800) return false;
    int vi = (inst >> 9) & 3, vc = (conf >> 9) & 3;
    switch (vi) {
    case 0:
        return vc == 0 || vc == 2 || vc == 3;
    case 1:
        return vc == 1;
    default:
        return vc == 2 || vc == 3;
    }
}

void text(IoCfgRec &c, char status, const char *t) {
    c.rec[iocfg::kStatus] = uint8_t(status);
    std::memcpy(c.rec + iocfg::kText, t, 11);
}
void zero_counts(IoCfgRec &c) {
    std::memset(c.rec + iocfg::kInBits, 0, 8);
}

bool remote_io_enabled() {
    return net_cfg[6] == 1 && net_cfg[7] == 0;
}

// A remote I/O base module: its station count goes into the module's memory;
// without one the register of word 9 of its configuration (when set) reads
// 0xFEFE.
void remote_base_setup(IoCfgRec &c, int slot) {
    if (!c.config || c.config_length < 40 ||
        !IoRemoteBase(reinterpret_cast<const char *>(c.rec + iocfg::kName)))
        return;
    uint32_t v = le32(c.config);
    uint32_t stations = v;
    if (v > 1024) {
        uint8_t w[2] = {};
        stations = PlcReg_Get(w, v, 16) ? le16(w) : 0;
    }
    if (stations >= 1 && stations <= 125) {
        uint8_t b = uint8_t(stations);
        write_io_eeprom(IoSlotDevice(slot), 0xFC, 1, &b, 3);
        return;
    }
    uint32_t status_ref = le32(c.config + 36);
    if (status_ref) {
        uint8_t w[2];
        put_le16(w, 0xFEFE);
        PlcReg_Set(status_ref, w, 16);
    }
}

} // namespace

int IoConfig(int) {
    host::trace("IoConfig");
    uint32_t length = std::min<uint32_t>(le32(io_config_bl + 4), 1040384 - 8);
    const uint8_t *block = io_config_bl + 8;
    if (remote_io_enabled()) {
        InitBrikScanner(block);
        Sr_VibusInit(block);
    }
    if (!g_probed) {
        uint16_t ids[kIoSlots];
        get_io_info(ids);
        for (int s = 0; s < kIoSlots; ++s)
            installed[s] = ids[s];
        g_unsupported = IoInit(ids, kIoSlots);
        g_probed = true;
    }

    bool fault = false;
    uint32_t at = 0;
    for (int s = 0; s < kIoSlots; ++s) {
        IoCfgRec &c = io_cfg[s];
        c = IoCfgRec{};
        // One record a slot: identity (0xFFFF none, never stepped over),
        // data length, data padded to 4 bytes.
        uint16_t conf = kNone;
        const uint8_t *data = nullptr;
        uint32_t data_length = 0;
        if (at + 4 <= length) {
            uint16_t id = le16(block + at);
            if (id != 0xFFFF) {
                conf = id;
                data_length = std::min<uint32_t>(le16(block + at + 2), length - at - 4);
                data = block + at + 4;
                at += 4 + ((le16(block + at + 2) + 3u) & ~3u);
            }
        }
        uint16_t inst = installed[s];
        // The Ethernet module of slot 2 is part of every unit: an application
        // that configures nothing there takes it as it is, rather than showing
        // a configuration fault on every panel with the default configuration.
        if (s == 2 && conf == kNone && inst == kEthernetModule) conf = inst;
        int status;
        if (inst == conf || family_match(inst, conf)) {
            status = inst == kNone ? kEmpty : kMatch;
            if (status == kMatch && data_length) {
                c.config = data;
                c.config_length = data_length;
            }
        } else {
            status = inst == kNone ? kMissing : conf == kNone ? kUnexpected : kOther;
            fault = true;
        }
        if (g_unsupported & (1 << s)) {
            status = kUnsupported;
            fault = true;
        }
        switch (status) {
        case kEmpty:
            text(c, ' ', "I/O: Empty ");
            c.rec[iocfg::kPresent] = 1;
            zero_counts(c);
            break;
        case kMatch:
            IoCfg(&c, s);
            if (c.rec[iocfg::kQuery]) {
                c.rec[iocfg::kStatus] = 'f';
            } else if (!c.rec[iocfg::kPresent]) {
                c.rec[iocfg::kStatus] = 'c';
                fault = true;
            } else {
                c.rec[iocfg::kStatus] = ' ';
            }
            std::memcpy(c.rec + iocfg::kText, "I/O: ", 5);
            remote_base_setup(c, s);
            break;
        case kMissing:
            text(c, '-', "I/O Missing");
            zero_counts(c);
            break;
        case kOther:
        case kUnexpected:
            IoCfg(&c, s);
            c.rec[iocfg::kStatus] = status == kOther ? '?' : '+';
            std::memcpy(c.rec + iocfg::kText, "I/O: ", 5);
            zero_counts(c);
            break;
        default:
            text(c, '*', "Unsupported");
            zero_counts(c);
            break;
        }
    }
    if (fault) {
        sbit_put(sbit::kIoOk, 0);
        sr_put(sr::kStatus, sr_get(sr::kStatus) | sr4::kIoConfig);
        IoStop();
    } else {
        sr_put(sr::kStatus, sr_get(sr::kStatus) & uint16_t(~sr4::kIoConfig));
    }
    // For the programming protocol: per slot the installed identity and the
    // record from its status character on, then the whole block in %SR64..
    for (int s = 0; s < 4; ++s) {
        uint8_t *e = Cmd_SS_Info + 2 + 24 * s;
        put_le16(e, s < kIoSlots ? installed[s] : kNone);
        std::memcpy(e + 2, io_cfg[s].rec, 21);
    }
    std::memcpy(plc_reg + sr_offset(sr::kSlotInfo), Cmd_SS_Info, sizeof Cmd_SS_Info);
    return fault ? 1 : 0;
}

void IoCfg_Reset() {
    std::memset(Cmd_SS_Info, 0, sizeof Cmd_SS_Info);
    for (IoCfgRec &c : io_cfg)
        c = IoCfgRec{};
    g_probed = false;
    g_unsupported = 0;
}
