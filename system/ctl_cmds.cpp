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
#include "system/serial_ctl.h"
#include "system/touch.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// How a register's value is read and written: its natural width, or two
// words as one 32-bit value (NAME:D) or float (NAME:F), low word first.
struct RegForm {
    uint32_t ref = 0, bits = 0;
    bool real = false;
    std::string name; // as the answer shows it
};

bool parse_form(const std::string &text, RegForm *f, std::string *error) {
    size_t colon = text.find(':');
    std::string base = text.substr(0, colon);
    if (!RegName_Parse(base, &f->ref, &f->bits, error)) return false;
    f->name = RegName_Format(f->ref, f->bits);
    if (colon == std::string::npos) return true;
    std::string form = text.substr(colon + 1);
    if (form.size() != 1 || !std::strchr("WwDdFf", form[0])) {
        *error = "unknown form ':" + form + "' (:W word, :D 32 bits, :F float)";
        return false;
    }
    if (f->bits != 16) {
        *error = "only word registers take the :" + form + " form";
        return false;
    }
    char c = char(std::toupper(static_cast<unsigned char>(form[0])));
    if (c != 'W') f->bits = 32;
    f->real = c == 'F';
    f->name += std::string(":") + c;
    return true;
}

bool read_raw(uint32_t ref, uint32_t bits, uint64_t *v) {
    uint8_t buf[8] = {};
    bool ok = PlcReg_Get(buf, ref, bits) != 0;
    *v = 0;
    if (bits == 1)
        *v = buf[0] & 1;
    else
        for (uint32_t i = 0; i < bits / 8 && i < 8; ++i)
            *v |= uint64_t(buf[i]) << (8 * i);
    return ok;
}

enum class Shown { kUnsigned, kSigned, kHex };

std::string show(const RegForm &f, uint64_t v, Shown how) {
    char text[40];
    if (f.real) {
        uint32_t w = uint32_t(v);
        float x;
        std::memcpy(&x, &w, sizeof x);
        std::snprintf(text, sizeof text, "%.9g", double(x));
    } else if (how == Shown::kHex && f.bits > 1) {
        std::snprintf(text, sizeof text, "0x%0*llX", int(f.bits / 4), (unsigned long long)v);
    } else if (how == Shown::kSigned && f.bits > 1) {
        uint64_t sign = uint64_t(1) << (f.bits - 1);
        long long s = (v & sign) ? (long long)(v | ~(sign * 2 - 1)) : (long long)v;
        std::snprintf(text, sizeof text, "%lld", s);
    } else {
        std::snprintf(text, sizeof text, "%llu", (unsigned long long)v);
    }
    return text;
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

bool parse_real(const std::string &text, uint64_t *out, std::string *error) {
    char *end = nullptr;
    float x = std::strtof(text.c_str(), &end);
    if (text.empty() || !end || *end) {
        *error = "not a number: '" + text + "'";
        return false;
    }
    uint32_t w;
    std::memcpy(&w, &x, sizeof w);
    *out = w;
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
// The most values one read shows.
constexpr long kMaxRead = 256;

const char kRegUsage[] = "error: usage: reg get NAME[:W|:D|:F] [COUNT] [--signed|--hex] | "
                         "reg set NAME[:W|:D|:F] VALUE...";

// reg get NAME [COUNT] [--signed|--hex]: COUNT consecutive registers of the
// name's form, unsigned unless asked.
std::string reg_get(const RegForm &f, const std::vector<std::string> &a) {
    Shown how = Shown::kUnsigned;
    long count = 1;
    bool counted = false;
    for (size_t i = 3; i < a.size(); ++i) {
        if (a[i] == "--signed" || a[i] == "--hex") {
            Shown want = a[i] == "--hex" ? Shown::kHex : Shown::kSigned;
            if (how != Shown::kUnsigned && how != want)
                return "error: --signed and --hex exclude each other";
            how = want;
            continue;
        }
        char *end = nullptr;
        errno = 0;
        long n = std::strtol(a[i].c_str(), &end, 10);
        if (counted || a[i].empty() || *end || errno == ERANGE) return kRegUsage;
        if (n < 1 || n > kMaxRead)
            return "error: COUNT " + a[i] + " outside 1.." + std::to_string(kMaxRead);
        count = n;
        counted = true;
    }
    uint32_t step = f.bits == 1 ? 1 : f.bits;
    std::string values;
    for (long i = 0; i < count; ++i) {
        uint32_t ref = f.ref + uint32_t(i) * step;
        uint64_t v = 0;
        if (!read_raw(ref, f.bits, &v))
            return "error: " + (i ? RegName_Format(ref, f.bits) : f.name) + " cannot be read";
        values += (i ? " " : "") + show(f, v, how);
    }
    return "ok " + f.name + " = " + values;
}

// Why a run-mode write did not take: fault bits of the status word force
// Idle (only mode 3 is taken over them).
std::string run_mode_refused(const std::string &name, const std::string &given) {
    char st[8];
    std::snprintf(st, sizeof st, "0x%04X", sr_get(sr::kStatus));
    unsigned now = sr_get(sr::kRunMode);
    std::string why = (sr_get(sr::kStatus) & sr4::kForceIdle)
                          ? std::string(" because of a fault in %SR4 = ") + st +
                                ((sr_get(sr::kStatus) & sr4::kLogicFault) ? " (logic fault)" : "") +
                                "; only mode 3 is taken over it"
                          : std::string("");
    return "error: " + name + " refused " + given + why + "; the run mode stays " +
           std::to_string(now) + " " + run_mode_name(now);
}

std::string cmd_reg(const std::vector<std::string> &a) {
    if (a.size() < 3 || (a[1] != "get" && a[1] != "set")) return kRegUsage;
    RegForm f;
    std::string err;
    if (!parse_form(a[2], &f, &err)) return "error: " + a[2] + ": " + err;
    uint32_t ref = f.ref, bits = f.bits;
    const std::string &name = f.name;
    if (a[1] == "get") return reg_get(f, a);
    size_t count = a.size() - 3;
    if (count == 0) return kRegUsage;
    if (count > 1 && bits != 16) return "error: " + name + " takes one value";
    if (count > kMaxWords)
        return "error: at most " + std::to_string(kMaxWords) + " words in one write";
    uint8_t buf[2 * kMaxWords] = {};
    for (size_t i = 0; i < count; ++i) {
        uint64_t value = 0;
        if (!(f.real ? parse_real(a[3 + i], &value, &err)
                     : parse_value(a[3 + i], bits, &value, &err)))
            return "error: " + name + ": " + err;
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
        // The run-mode write is taken, but the controller may keep its mode.
        if (ref == sr_ref(sr::kRunMode) && bits == 16 && count == 1 &&
            sr_get(sr::kRunMode) != (buf[0] | buf[1] << 8))
            return run_mode_refused(name, given);
    } else {
        if (!PlcReg_Ptr(ref, width)) return "error: " + name + " cannot be written";
        PlcReg_Set(ref, buf, width);
    }
    std::string v;
    for (size_t i = 0; i < count; ++i) {
        uint64_t raw = 0;
        read_raw(ref + (bits == 1 ? 1 : bits) * uint32_t(i), bits, &raw);
        v += (i ? " " : "") + show(f, raw, Shown::kUnsigned);
    }
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
    Iec_CtlRegister();
    host::media_ctl_register();
    host::io_ctl_register();
    VDR_CtlRegister();
    Crash_CtlRegister();
    Touch_CtlRegister();
    Can_CtlRegister();
    Serial_CtlRegister();
}
