// The IEC runtime's command of the panel's control socket: "iec" shows the
// VM state, its run flags, cycle figures and VM log; "iec var TYPE INDEX"
// reads one variable of the running application; "iec get PATH" and "iec set
// PATH VALUE" reach public variables, their elements and members by path.
#include "base/le.h"
#include "host/ctl.h"
#include "iec/kernel/iec.h"
#include "iec/kernel/trdb.h"
#include "iec/kernel/trmap.h"
#include "iec/kernel/tros.h"
#include "iec/kernel/trstatus.h"
#include "iec/kernel/trstr.h"
#include "iec/kernel/trsyb.h"
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

// The value at p of an elementary type, as text.
std::string format(uint16_t type, const uint8_t *p) {
    char text[300];
    switch (type) {
    case 1:
        return p[0] ? "TRUE" : "FALSE";
    case 10:
        return std::to_string(int8_t(p[0]));
    case 14:
        return std::to_string(p[0]);
    case 11:
        return std::to_string(int16_t(le16(p)));
    case 15:
        return std::to_string(le16(p));
    case 2:
        return std::to_string(int32_t(le32(p)));
    case 16:
    case 4:
        return std::to_string(le32(p));
    case 12:
        return std::to_string(int64_t(le64(p)));
    case 17:
        return std::to_string(le64(p));
    case 3: {
        float f;
        uint32_t raw = le32(p);
        std::memcpy(&f, &raw, 4);
        std::snprintf(text, sizeof text, "%g", double(f));
        return text;
    }
    case 13: {
        double d;
        uint64_t raw = le64(p);
        std::memcpy(&d, &raw, 8);
        std::snprintf(text, sizeof text, "%g", d);
        return text;
    }
    case 5: {
        uint32_t len = p[1] <= p[0] ? p[1] : p[0];
        std::snprintf(text, sizeof text, "\"%.*s\"", int(len), p + 2);
        return text;
    }
    default:
        return "?";
    }
}

std::string cmd_get(const std::string &path) {
    if (!pDB) return "error: no IEC application runs";
    uint16_t type = 0;
    const char *type_name = nullptr;
    const uint8_t *p = TrVmSyb_Parse(pDB, path.c_str(), &type, &type_name);
    if (!p) return "error: no IEC variable " + path;
    if (type == 127) return std::string("error: ") + path + " is a " + type_name + ", not a value";
    return "ok " + format(type, p);
}

std::string cmd_set(const std::string &path, const std::string &value) {
    if (!pDB) return "error: no IEC application runs";
    uint16_t type = 0;
    uint8_t *p = TrVmSyb_ParseSingle(pDB, path.c_str(), &type);
    const char *cursor = path.c_str();
    uint8_t *owner = Velmor_TrVmSyb_GetMapItem(pDB, &cursor);
    if (!p || !owner) return "error: no IEC variable " + path;
    if (TrMap_IsLocked(pDB, owner))
        return "error: " + path + " is locked: the application's lock refuses writes";
    // A whole variable goes through the map's value calls; an element or a
    // member is an address of the same type.
    uint8_t *entry = *cursor == 0 && TrMap_GetData(pDB, owner) == p ? owner : nullptr;
    if (type == 5) {
        if (entry)
            return TrMap_SetStringValue(pDB, entry, value.c_str(), 0) ? "error: refused" : "ok";
        TrVMStr_AscForce(p, value.c_str(), uint32_t(strnlen(value.c_str(), 255)));
        return "ok";
    }
    char *end = nullptr;
    bool is_float = type == 3 || type == 13;
    double real = 0;
    long long whole = 0;
    if (type == 1 && (value == "TRUE" || value == "FALSE")) {
        whole = value == "TRUE";
    } else if (is_float) {
        real = std::strtod(value.c_str(), &end);
    } else {
        whole = std::strtoll(value.c_str(), &end, 0);
    }
    if (end && (end == value.c_str() || *end)) return "error: bad value " + value;
    if (entry) {
        int rc = is_float ? TrMap_SetLRealValue(pDB, entry, real)
                          : TrMap_SetLIntValue(pDB, entry, int64_t(whole));
        return rc ? "error: refused" : "ok";
    }
    switch (type) {
    case 1:
        p[0] = whole ? 1 : 0;
        break;
    case 10:
    case 14:
        p[0] = uint8_t(whole);
        break;
    case 11:
    case 15:
        put_le16(p, uint16_t(whole));
        break;
    case 2:
    case 16:
    case 4:
        put_le32(p, uint32_t(whole));
        break;
    case 12:
    case 17:
        put_le64(p, uint64_t(whole));
        break;
    case 3: {
        float f = float(real);
        uint32_t raw;
        std::memcpy(&raw, &f, 4);
        put_le32(p, raw);
        break;
    }
    case 13: {
        uint64_t raw;
        std::memcpy(&raw, &real, 8);
        put_le64(p, raw);
        break;
    }
    default:
        return "error: refused";
    }
    return "ok";
}

std::string cmd_iec(const std::vector<std::string> &a) {
    if (a.size() == 1) return cmd_state();
    if (a.size() == 4 && a[1] == "var") return cmd_var(a[2], a[3]);
    if (a.size() == 3 && a[1] == "get") return cmd_get(a[2]);
    if (a.size() == 4 && a[1] == "set") return cmd_set(a[2], a[3]);
    return "error: usage: iec | iec var TYPE INDEX | iec get PATH | iec set PATH VALUE";
}

} // namespace

void Iec_CtlRegister() {
    host::ctl_register("iec", cmd_iec);
}
