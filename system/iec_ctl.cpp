// The IEC runtime's command of the panel's control socket: "iec" shows the
// VM state, its run flags, cycle figures and VM log; "iec var TYPE INDEX"
// reads one variable of the running application.
#include "base/le.h"
#include "host/ctl.h"
#include "iec/kernel/iec.h"
#include "iec/kernel/trdb.h"
#include "iec/kernel/tros.h"
#include "iec/kernel/trstatus.h"
#include "iec/kernel/trvm.h"
#include "system/ctl_cmds.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string cmd_state() {
    char line[160];
    std::string out = "ok\n";
    std::snprintf(line, sizeof line, "iVmAlive: %u\n", unsigned(iVmAlive));
    out += line;
    const uint8_t *st = TrVM_Status(pDB);
    if (!st) return out + "application: none\n";
    using namespace trst;
    char name[17] = {};
    std::memcpy(name, st + kAppName, 16);
    std::snprintf(line, sizeof line,
                  "application: %s\nrun flags: 0x%04X\ncycles: %u\nlast cycle: %u us\n"
                  "longest cycle: %u us\nperiod: %u us\noverruns: %u\nrunning: %u s\n",
                  name, unsigned(le16(st + kRunFlags)), unsigned(le32(st + kCycleCount)),
                  unsigned(le32(st + kLastCycle)), unsigned(le32(st + kLongestCycle)),
                  unsigned(le32(st + kPeriod)), unsigned(le32(st + kOverruns)),
                  unsigned(le32(st + kSeconds)));
    out += line;
    uint32_t n1 = 0;
    const uint8_t *log = TrDB_Segment(pDB, pDBSize, 1, &n1);
    unsigned count = le16(st + kLogCount);
    out += "vm log:";
    for (unsigned i = 0; log && i < count && (i + 1) * 8 <= n1; ++i) {
        std::snprintf(line, sizeof line, " %u/%u/%u", unsigned(le16(log + 8 * i)),
                      unsigned(le16(log + 8 * i + 2)), unsigned(le32(log + 8 * i + 4)));
        out += line;
    }
    return out + "\n";
}

struct VarType {
    const char *name;
    uint16_t code;
    bool is_signed, is_float;
};
// clang-format off
const VarType kTypes[] = {
    {"BOOL", 1, false, false},   {"SINT", 10, true, false},  {"USINT", 14, false, false},
    {"INT", 11, true, false},    {"UINT", 15, false, false}, {"DINT", 2, true, false},
    {"UDINT", 16, false, false}, {"REAL", 3, true, true},    {"LINT", 12, true, false},
    {"ULINT", 17, false, false}, {"LREAL", 13, true, true},  {"TIME", 4, false, false},
    {"STRING", 5, false, false},
};
// clang-format on

std::string cmd_var(const std::string &type, const std::string &index_text) {
    if (!pDB) return "error: no IEC application runs";
    char *end = nullptr;
    unsigned long index = std::strtoul(index_text.c_str(), &end, 0);
    if (end == index_text.c_str() || *end || index > 0xFFFFF)
        return "error: bad index " + index_text;
    for (const VarType &t : kTypes) {
        if (type != t.name) continue;
        uint32_t size = 0;
        const uint8_t *p = TrTools_GetAnyParam(pDB, t.code, uint32_t(index), nullptr, &size);
        if (!p) return "error: no " + type + " " + index_text;
        char text[300];
        if (t.code == 5) {
            uint32_t len = p[1] <= p[0] ? p[1] : p[0];
            std::snprintf(text, sizeof text, "ok \"%.*s\"", int(len), p + 2);
            return text;
        }
        uint64_t raw = size == 1 ? p[0] : size == 2 ? le16(p) : size == 4 ? le32(p) : le64(p);
        if (t.is_float && size == 4) {
            float f;
            uint32_t r32 = uint32_t(raw);
            std::memcpy(&f, &r32, 4);
            std::snprintf(text, sizeof text, "ok %g", double(f));
        } else if (t.is_float) {
            double d;
            std::memcpy(&d, &raw, 8);
            std::snprintf(text, sizeof text, "ok %g", d);
        } else if (t.is_signed) {
            int64_t v = size == 1   ? int8_t(raw)
                        : size == 2 ? int16_t(raw)
                        : size == 4 ? int32_t(raw)
                                    : int64_t(raw);
            std::snprintf(text, sizeof text, "ok %lld", static_cast<long long>(v));
        } else {
            std::snprintf(text, sizeof text, "ok %llu", static_cast<unsigned long long>(raw));
        }
        return text;
    }
    return "error: unknown type " + type +
           " (BOOL SINT USINT INT UINT DINT UDINT REAL LINT ULINT LREAL TIME STRING)";
}

std::string cmd_iec(const std::vector<std::string> &a) {
    if (a.size() == 1) return cmd_state();
    if (a.size() == 4 && a[1] == "var") return cmd_var(a[2], a[3]);
    return "error: usage: iec | iec var TYPE INDEX";
}

} // namespace

void Iec_CtlRegister() {
    host::ctl_register("iec", cmd_iec);
}
