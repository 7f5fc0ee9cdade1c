#include "system/ctl_cmds.h"

#include "host/config.h"
#include "host/ctl.h"
#include "host/io_modules.h"
#include "host/media.h"
#include "platform/can.h"
#include "platform/video.h"
#include "plc/sysreg.h"
#include "regs/plc_reg.h"
#include "regs/regname.h"
#include "system/crash.h"
#include "system/loop.h"
#include "system/nv_debug.h"
#include "system/pgm.h"
#include "system/touch.h"

#include <cerrno>
#include <cstdlib>
#include <string>

namespace {
const char *run_mode_name(unsigned mode) {
    switch (mode) {
    case sr::kModeIdle:
        return "Idle";
    case sr::kModeDoIo:
        return "DoIO";
    case sr::kModeRun:
        return "Run";
    default:
        return "other";
    }
}

std::string read_value(uint32_t ref, uint32_t bits, bool *ok) {
    uint8_t buf[8] = {};
    *ok = PlcReg_Get(buf, ref, bits) != 0;
    uint64_t v = 0;
    if (bits == 1)
        v = buf[0];
    else
        for (uint32_t i = 0; i < bits / 8 && i < 8; ++i)
            v |= uint64_t(buf[i]) << (8 * i);
    return std::to_string(v);
}

// Parses a value for a register of `bits` bits: decimal or 0x hex, negative
// values as two's complement. False with a message when it does not fit.
bool parse_value(const std::string &text, uint32_t bits, uint64_t *out, std::string *error) {
    errno = 0;
    char *end = nullptr;
    long long v = std::strtoll(text.c_str(), &end, 0);
    if (text.empty() || !end || *end || errno == ERANGE) {
        *error = "not a number: '" + text + "'";
        return false;
    }
    long long lo = bits == 1 ? 0 : -(1ll << (bits - 1));
    long long hi = bits == 1 ? 1 : (bits >= 63 ? INT64_MAX : (1ll << bits) - 1);
    if (v < lo || v > hi) {
        *error = "value " + text + " does not fit " + std::to_string(bits) + " bits (" +
                 std::to_string(lo) + ".." + std::to_string(hi) + ")";
        return false;
    }
    *out = uint64_t(v);
    return true;
}

bool is_checked_sr(uint32_t ref) {
    return ref >= reg::kRefSR && ref < reg::kRefF && ref != sr_ref(sr::kTouchPressure);
}
bool is_clock_sr(uint32_t ref) {
    return ref >= sr_ref(sr::kClock) && ref < sr_ref(sr::kClock + sr::kClockWords);
}

// Several values for a word register write that many consecutive words at
// once: the clock is set this way (6 words at %SR44, or 3 for the time at
// %SR44 or the date at %SR47).
constexpr size_t kMaxWords = 16;

std::string cmd_reg(const std::vector<std::string> &a) {
    if (a.size() < 3 || (a[1] != "get" && a[1] != "set"))
        return "error: usage: reg get NAME | reg set NAME VALUE...";
    uint32_t ref = 0, bits = 0;
    std::string err;
    if (!RegName_Parse(a[2], &ref, &bits, &err)) return "error: " + a[2] + ": " + err;
    std::string name = RegName_Format(ref, bits);
    bool ok = false;
    if (a[1] == "get") {
        if (a.size() != 3) return "error: usage: reg get NAME";
        std::string v = read_value(ref, bits, &ok);
        return ok ? "ok " + name + " = " + v : "error: " + name + " cannot be read";
    }
    size_t count = a.size() - 3;
    if (count == 0) return "error: usage: reg set NAME VALUE...";
    if (count > 1 && bits != 16) return "error: " + name + " takes one value";
    if (count > kMaxWords)
        return "error: at most " + std::to_string(kMaxWords) + " words in one write";
    uint8_t buf[2 * kMaxWords] = {};
    for (size_t i = 0; i < count; ++i) {
        uint64_t value = 0;
        if (!parse_value(a[3 + i], bits, &value, &err)) return "error: " + name + ": " + err;
        if (bits == 1)
            buf[0] = value ? 1 : 0;
        else
            for (size_t b = 0; b < bits / 8 && (bits / 8) * i + b < sizeof buf; ++b)
                buf[(bits / 8) * i + b] = uint8_t(value >> (8 * b));
    }
    uint32_t width = bits == 1 ? 1 : uint32_t(bits * count);
    std::string given = a[3];
    for (size_t i = 1; i < count; ++i)
        given += " " + a[3 + i];
    if (is_checked_sr(ref)) {
        if (!SysReg_Write(ref, buf, width)) {
            if (is_clock_sr(ref))
                return "error: " + name + " refused " + given +
                       " (the clock is set with seconds minutes hours day month year at %SR44, "
                       "seconds minutes hours at %SR44, or day month year at %SR47, as a valid "
                       "calendar)";
            const SrInfo &row = sr_info[(ref - reg::kRefSR) / 16];
            if (row.width == 0 || row.min > row.max) return "error: " + name + " is read-only";
            if (width > row.width)
                return "error: " + name + " takes at most " + std::to_string(row.width) + " bits";
            return "error: " + name + " refused " + given + " (allowed " + std::to_string(row.min) +
                   ".." + std::to_string(row.max) + ")";
        }
        // The clock code refreshes its registers at the next scan.
        if (is_clock_sr(ref)) return "ok " + name + " = " + given + " (clock set)";
    } else {
        if (!PlcReg_Ptr(ref, width)) return "error: " + name + " cannot be written";
        PlcReg_Set(ref, buf, width);
    }
    std::string v = read_value(ref, bits, &ok);
    for (size_t i = 1; i < count; ++i)
        v += " " + read_value(ref + 16 * uint32_t(i), bits, &ok);
    return "ok " + name + " = " + v;
}

std::string cmd_status(const std::vector<std::string> &a) {
    if (a.size() != 1) return "error: usage: status";
    unsigned mode = sr_get(sr::kRunMode);
    char sr4[16];
    std::snprintf(sr4, sizeof sr4, "0x%04X", sr_get(sr::kStatus));
    char fault[16];
    std::snprintf(fault, sizeof fault, "0x%04X", PGM_fault);
    return "ok\nrun_mode: " + std::to_string(mode) + " " + run_mode_name(mode) +
           "\npasses: " + std::to_string(PassCount) +
           "\nsliced_passes: " + std::to_string(SlicedPassCount) +
           "\nPGM_state: " + std::to_string(PGM_state) + "\nPGM_fault: " + fault +
           "\nstatus_word: " + sr4 + "\nboot_mode: " + std::to_string(BootMode) +
           Touch_StatusLines();
}

std::string cmd_debug(const std::vector<std::string> &a) {
    if (host::config_int("test_hooks", 0) != 1) return "error: test hooks are off";
    if (a.size() == 2 && a[1] == "stall") {
        MainLoopStalled = 1;
        return "ok main loop stalled";
    }
    std::string nv = NvDebug_Command(a);
    if (!nv.empty()) return nv;
    return "error: usage: debug stall | churn | nvcheck | fram-drop N";
}
} // namespace

void CtlCmds_Register() {
    host::ctl_register("reg", cmd_reg);
    host::ctl_register("status", cmd_status);
    host::ctl_register("debug", cmd_debug);
    Net_CtlRegister();
    host::media_ctl_register();
    host::io_ctl_register();
    VDR_CtlRegister();
    Crash_CtlRegister();
    Touch_CtlRegister();
    Can_CtlRegister();
}
