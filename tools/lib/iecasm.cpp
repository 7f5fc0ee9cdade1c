// Assembler and disassembler of IEC code images (format in iecasm.h).
#include "tools/lib/iecasm.h"

#include "base/le.h"
#include "iec/kernel/trcode.h"
#include "iec/kernel/trdb.h"
#include "iec/kernel/tropcodes.h"

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kVarLocWords = 6464;

struct Fail : std::runtime_error {
    using std::runtime_error::runtime_error;
};
[[noreturn]] void fail(const std::string &m) {
    throw Fail(m);
}

// Data kinds in the order of the sizing block and the lock flags.
enum Kind { K8, K16, K32, K64, KTime, KString, KXV, KStep, KTrans, KTimers, KCount };
const char *const kKindNames[KCount] = {"data8",  "data16", "data32", "data64", "time",
                                        "string", "xv",     "step",   "trans",  "timers"};
// Count, highest and previous half-words (-1: none).
const int kKindWords[KCount][3] = {{0, 1, 2},    {6, 7, 8},    {12, 13, 14}, {18, 19, 20},
                                   {24, 25, 26}, {30, 31, 32}, {40, 41, -1}, {36, -1, -1},
                                   {42, -1, -1}, {29, -1, -1}};
const char kShapeOfKind[] = "bwdlts";

struct TypeInfo {
    const char *name;
    uint16_t code;
    Kind kind;
};
// clang-format off
const TypeInfo kTypes[] = {
    {"BOOL", 1, K8}, {"SINT", 10, K8}, {"USINT", 14, K8}, {"BYTE", 14, K8},
    {"INT", 11, K16}, {"UINT", 15, K16}, {"WORD", 15, K16},
    {"DINT", 2, K32}, {"UDINT", 16, K32}, {"REAL", 3, K32}, {"DWORD", 16, K32},
    {"LINT", 12, K64}, {"ULINT", 17, K64}, {"LREAL", 13, K64}, {"LWORD", 17, K64},
    {"TIME", 4, KTime}, {"STRING", 5, KString},
};
// clang-format on
const TypeInfo *type_by_name(const std::string &n) {
    for (const TypeInfo &t : kTypes)
        if (n == t.name) return &t;
    return nullptr;
}
const TypeInfo *type_by_code(uint16_t c) {
    for (const TypeInfo &t : kTypes)
        if (c == t.code) return &t;
    return nullptr;
}

struct Value {
    bool set = false;
    Bytes bytes; // little-endian value, or the text of a STRING
};

struct Var {
    std::string name;
    const TypeInfo *type;
    uint32_t index = 0, dim = 1;
    uint8_t capacity = 0;
    std::vector<Value> values;
    bool retain = false, pub = false, vsi = false;
    uint16_t tag = 0;
    int line = 0;
};

// A complex-type definition (.type): elementary definitions are made for
// the elementary types the others use.
struct TypeDef {
    std::string name;
    uint8_t kind = 0;    // 1 elementary, 2-4 array, 5 structure
    uint16_t code = 0;   // elementary
    std::string element; // array: element type
    std::vector<uint32_t> bounds;
    std::vector<std::pair<std::string, std::string>> members; // name, type
    int line = 0;
};
// A variable of a complex type, placed in the complex-type segment.
struct ComplexVar {
    std::string name, type;
    bool pub = false, vsi = false;
    uint16_t tag = 0;
    int line = 0;
};

struct Instr {
    int line;
    std::string label;    // label defined here (may stand alone)
    std::string mnemonic; // empty: label only
    std::vector<std::string> args;
    bool raw_words = false; // .word
};

struct Program {
    std::string name;
    uint32_t attribute = 0;
    bool nostack = false;
    std::vector<Instr> code;
};

struct Task {
    std::string name;
    std::vector<std::string> programs;
    int line;
};

struct Source {
    std::string app_name;
    uint32_t period = 0, stamp = 0, options = 0, stack = 0;
    bool paused = false;
    bool has_ext = false;
    uint32_t ext_version = 0;
    std::map<uint32_t, uint32_t> ext_values;
    std::vector<Var> vars;
    int32_t room[KCount] = {};
    bool room_set[KCount] = {};
    uint16_t prev[KCount] = {};
    std::vector<std::pair<uint16_t, uint16_t>> xvs;
    struct Class {
        std::string name;
        uint16_t id;
        bool required;
    };
    std::vector<Class> classes;
    struct Inst {
        uint16_t id;
        bool std;
        uint32_t word;
    };
    std::vector<Inst> insts;
    bool has_wished = false;
    uint32_t wished = 0;
    std::vector<std::string> funcs;
    std::vector<Task> tasks;
    std::vector<std::pair<std::string, Bytes>> raws; // target "h11"/"e17", bytes
    std::vector<Program> programs;
    std::vector<std::pair<std::string, std::string>> binds;
    std::vector<TypeDef> types;
    std::vector<ComplexVar> cvars;
    Bytes image_bytes;
    bool has_image = false;
};

// ----------------------------------------------------------------- lexing

std::string trim(const std::string &s) {
    size_t a = s.find_first_not_of(" \t\r"), b = s.find_last_not_of(" \t\r");
    return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

// Strips a comment (';' outside quotes).
std::string strip(const std::string &line) {
    bool q = false;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"' && (i == 0 || line[i - 1] != '\\')) q = !q;
        if (line[i] == ';' && !q) return line.substr(0, i);
    }
    return line;
}

// Splits on blanks, keeping quoted texts whole.
std::vector<std::string> words(const std::string &s) {
    std::vector<std::string> out;
    std::string cur;
    bool q = false;
    for (size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (c == '"') q = !q;
        if (c == '\\' && q && i + 1 < s.size()) {
            cur += c;
            cur += s[++i];
            continue;
        }
        if (!q && (c == ' ' || c == '\t')) {
            if (!cur.empty()) out.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (q) fail("unterminated text");
    if (!cur.empty()) out.push_back(cur);
    return out;
}

// Splits on commas, keeping quoted texts whole.
std::vector<std::string> commas(const std::string &s) {
    std::vector<std::string> out;
    std::string cur;
    bool q = false;
    for (size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (c == '"') q = !q;
        if (c == '\\' && q && i + 1 < s.size()) {
            cur += c;
            cur += s[++i];
            continue;
        }
        if (c == ',' && !q) {
            out.push_back(trim(cur));
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (q) fail("unterminated text");
    if (!trim(cur).empty() || !out.empty()) out.push_back(trim(cur));
    return out;
}

bool parse_int(const std::string &s, int64_t *v) {
    if (s.empty()) return false;
    size_t i = 0;
    bool neg = false;
    if (s[0] == '-' || s[0] == '+') {
        neg = s[0] == '-';
        i = 1;
    }
    if (i >= s.size()) return false;
    uint64_t r = 0;
    int base = 10;
    if (s.size() > i + 2 && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    for (; i < s.size(); ++i) {
        int d;
        char c = char(std::tolower(static_cast<unsigned char>(s[i])));
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else
            return false;
        if (r > (UINT64_MAX - uint64_t(d)) / uint64_t(base)) return false;
        r = r * uint64_t(base) + uint64_t(d);
    }
    *v = neg ? -int64_t(r) : int64_t(r);
    return true;
}

int64_t number(const std::string &s, int64_t lo, int64_t hi, const char *what) {
    int64_t v;
    if (!parse_int(s, &v)) fail(std::string("bad ") + what + " \"" + s + "\"");
    if (v < lo || v > hi) fail(std::string(what) + " out of range: " + s);
    return v;
}

bool is_float(const std::string &s) {
    if (s.find("0x") != std::string::npos || s.find("0X") != std::string::npos) return false;
    return s.find_first_of(".eE") != std::string::npos || s == "inf" || s == "-inf";
}

std::string unquote(const std::string &s) {
    if (s.size() < 2 || s.front() != '"' || s.back() != '"') fail("expected a \"text\"");
    std::string out;
    for (size_t i = 1; i + 1 < s.size(); ++i) {
        char c = s[i];
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i + 1 > s.size() - 1) fail("bad escape");
        char e = s[i];
        if (e == 'n')
            out += '\n';
        else if (e == 't')
            out += '\t';
        else if (e == 'x' && i + 2 < s.size() - 1) {
            out += char(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else
            out += e;
    }
    return out;
}

std::string quote(const uint8_t *p, size_t n) {
    std::string out = "\"";
    for (size_t i = 0; i < n; ++i) {
        uint8_t c = p[i];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c >= 0x20 && c < 0x7F && c != ';') {
            out += char(c);
        } else {
            char b[8];
            std::snprintf(b, sizeof b, "\\x%02x", c);
            out += b;
        }
    }
    return out + "\"";
}

// key=value of a directive's options.
bool option(const std::string &w, const char *key, std::string *value) {
    size_t n = std::strlen(key);
    if (w.size() > n && w.compare(0, n, key) == 0 && w[n] == '=') {
        *value = w.substr(n + 1);
        return true;
    }
    return false;
}

bool valid_name(const std::string &n) {
    if (n.empty() || !(std::isalpha(static_cast<unsigned char>(n[0])) || n[0] == '_')) return false;
    for (char c : n)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '@')) return false;
    return true;
}

Kind kind_by_name(const std::string &n) {
    for (int k = 0; k < KCount; ++k)
        if (n == kKindNames[k]) return Kind(k);
    fail("unknown kind \"" + n + "\"");
}

uint32_t element_bytes(Kind k) {
    switch (k) {
    case K8:
        return 1;
    case K16:
        return 2;
    case K64:
        return 8;
    default:
        return 4;
    }
}

Value parse_value(const std::string &s, const Var &v) {
    Value out;
    if (s == "_") return out;
    out.set = true;
    Kind k = v.type->kind;
    if (k == KString) {
        std::string t = unquote(s);
        if (t.size() > v.capacity) fail("text longer than the STRING's capacity");
        out.bytes.assign(t.begin(), t.end());
        return out;
    }
    uint32_t n = element_bytes(k);
    uint64_t bits;
    if (s == "TRUE" || s == "FALSE") {
        bits = s == "TRUE";
    } else if (s[0] == '&') {
        int64_t r;
        if (!parse_int(s.substr(1), &r)) fail("bad raw value " + s);
        bits = uint64_t(r);
    } else if (is_float(s) || ((v.type->code == 3 || v.type->code == 13))) {
        double d = std::strtod(s.c_str(), nullptr);
        if (v.type->code == 3) {
            float f = float(d);
            uint32_t b;
            std::memcpy(&b, &f, 4);
            bits = b;
        } else if (v.type->code == 13) {
            std::memcpy(&bits, &d, 8);
        } else {
            fail("a float for a variable that is not REAL or LREAL");
        }
    } else {
        int64_t r;
        if (!parse_int(s, &r)) fail("bad value \"" + s + "\"");
        if (n < 8) {
            int64_t lo = -(int64_t(1) << (8 * n - 1)), hi = (int64_t(1) << (8 * n)) - 1;
            if (r < lo || r > hi) fail("value out of range: " + s);
        }
        bits = uint64_t(r);
    }
    for (uint32_t i = 0; i < n; ++i)
        out.bytes.push_back(uint8_t(bits >> (8 * i)));
    return out;
}

// ----------------------------------------------------------------- parsing

Source parse(const std::string &text) {
    Source src;
    std::istringstream in(text);
    std::string raw;
    int line = 0;
    Program *prog = nullptr;
    std::set<std::string> names;
    try {
        while (std::getline(in, raw)) {
            ++line;
            std::string l = trim(strip(raw));
            if (l.empty()) continue;
            if (l[0] == '.') {
                std::string dir = l.substr(0, l.find_first_of(" \t"));
                std::string rest = trim(l.substr(dir.size()));
                std::vector<std::string> w = words(rest);
                if (dir == ".app") {
                    if (w.empty()) fail(".app needs a name");
                    if (w[0].size() > 15) fail("application name longer than 15 characters");
                    src.app_name = w[0] == "\"\"" ? "" : w[0];
                    for (size_t i = 1; i < w.size(); ++i) {
                        std::string v;
                        if (w[i] == "paused")
                            src.paused = true;
                        else if (option(w[i], "period", &v))
                            src.period = uint32_t(number(v, 0, UINT32_MAX, "period"));
                        else if (option(w[i], "stamp", &v))
                            src.stamp = uint32_t(number(v, 0, UINT32_MAX, "stamp"));
                        else if (option(w[i], "options", &v))
                            src.options = uint32_t(number(v, 0, UINT32_MAX, "options"));
                        else if (option(w[i], "stack", &v))
                            src.stack = uint32_t(number(v, 0, 0xFFFF, "stack"));
                        else
                            fail("unknown .app option " + w[i]);
                    }
                } else if (dir == ".ext") {
                    if (w.empty()) fail(".ext needs a version");
                    src.has_ext = true;
                    src.ext_version = uint32_t(number(w[0], 0, 1000, "version"));
                    for (size_t i = 1; i < w.size(); ++i) {
                        size_t eq = w[i].find('=');
                        if (w[i][0] != 'f' || eq == std::string::npos) fail("expected fN=value");
                        uint32_t f = uint32_t(
                            number(w[i].substr(1, eq - 1), 1, trcode::kExtFields, "field"));
                        src.ext_values[f] =
                            uint32_t(number(w[i].substr(eq + 1), INT32_MIN, UINT32_MAX, "value"));
                    }
                } else if (dir == ".var") {
                    // TYPE NAME[n] [= values] [retain] [public] [tag=N]
                    size_t eq = rest.find('=');
                    size_t tagpos = rest.find("tag=");
                    if (tagpos != std::string::npos && tagpos < eq) eq = std::string::npos;
                    std::string head = eq == std::string::npos ? rest : rest.substr(0, eq);
                    std::vector<std::string> hw = words(head);
                    if (hw.size() < 2) fail(".var needs a type and a name");
                    Var v;
                    v.line = line;
                    std::string tn = hw[0];
                    if (tn.compare(0, 7, "STRING(") == 0 && tn.back() == ')') {
                        v.capacity =
                            uint8_t(number(tn.substr(7, tn.size() - 8), 1, 255, "STRING length"));
                        tn = "STRING";
                    } else if (tn == "STRING") {
                        v.capacity = 80;
                    }
                    v.type = type_by_name(tn);
                    if (!v.type) {
                        auto td = std::find_if(src.types.begin(), src.types.end(),
                                               [&](const TypeDef &d) { return d.name == tn; });
                        if (td == src.types.end()) fail("unknown type " + hw[0]);
                        ComplexVar cv{hw[1], tn, false, false, 0, line};
                        if (!valid_name(cv.name)) fail("bad name \"" + cv.name + "\"");
                        if (!names.insert(cv.name).second)
                            fail("\"" + cv.name + "\" declared twice");
                        if (eq != std::string::npos) fail("a complex variable takes no values");
                        for (size_t i = 2; i < hw.size(); ++i) {
                            std::string val;
                            if (hw[i] == "public")
                                cv.pub = true;
                            else if (hw[i] == "vsi")
                                cv.vsi = true;
                            else if (option(hw[i], "tag", &val))
                                cv.tag = uint16_t(number(val, 0, 0xFFFF, "tag"));
                            else
                                fail("unknown .var option " + hw[i]);
                        }
                        if (cv.vsi && !cv.pub) fail("vsi needs public");
                        src.cvars.push_back(cv);
                        continue;
                    }
                    std::string nm = hw[1];
                    size_t br = nm.find('[');
                    if (br != std::string::npos) {
                        if (nm.back() != ']') fail("bad dimension in " + nm);
                        v.dim = uint32_t(
                            number(nm.substr(br + 1, nm.size() - br - 2), 1, 0xFFFF, "dimension"));
                        nm = nm.substr(0, br);
                    }
                    if (!valid_name(nm)) fail("bad name \"" + nm + "\"");
                    if (!names.insert(nm).second) fail("\"" + nm + "\" declared twice");
                    v.name = nm;
                    std::vector<std::string> tail;
                    if (hw.size() > 2) tail.assign(hw.begin() + 2, hw.end());
                    if (eq != std::string::npos) {
                        // Values run to the first keyword.
                        std::string vals = rest.substr(eq + 1);
                        std::vector<std::string> vw = words(vals);
                        std::string joined;
                        size_t i = 0;
                        for (; i < vw.size(); ++i) {
                            if (vw[i] == "retain" || vw[i] == "public" || vw[i] == "vsi" ||
                                vw[i].compare(0, 4, "tag=") == 0)
                                break;
                            joined += (joined.empty() ? "" : " ") + vw[i];
                        }
                        tail.insert(tail.end(), vw.begin() + long(i), vw.end());
                        std::vector<std::string> items = commas(joined);
                        if (items.size() > v.dim) fail("more values than elements");
                        for (const std::string &s : items)
                            v.values.push_back(parse_value(s, v));
                    }
                    for (const std::string &t : tail) {
                        std::string val;
                        if (t == "retain")
                            v.retain = true;
                        else if (t == "public")
                            v.pub = true;
                        else if (t == "vsi")
                            v.vsi = true;
                        else if (option(t, "tag", &val))
                            v.tag = uint16_t(number(val, 0, 0xFFFF, "tag"));
                        else
                            fail("unknown .var option " + t);
                    }
                    if (v.vsi && !v.pub) fail("vsi needs public");
                    src.vars.push_back(std::move(v));
                } else if (dir == ".type") {
                    // .type NAME struct M:TYPE, ...   .type NAME array TYPE D1[,D2[,D3]]
                    if (w.size() < 3) fail(".type NAME struct|array ...");
                    TypeDef d;
                    d.name = w[0];
                    d.line = line;
                    if (d.name.empty() || d.name.size() > 63 || type_by_name(d.name))
                        fail("bad type name " + d.name);
                    for (const TypeDef &o : src.types)
                        if (o.name == d.name) fail("type " + d.name + " defined twice");
                    std::string tail;
                    for (size_t i = 2; i < w.size(); ++i)
                        tail += (tail.empty() ? "" : " ") + w[i];
                    if (w[1] == "struct") {
                        d.kind = 5;
                        for (const std::string &m : commas(tail)) {
                            for (const std::string &mm : words(m)) {
                                size_t c = mm.find(':');
                                if (c == std::string::npos || !valid_name(mm.substr(0, c)))
                                    fail("member NAME:TYPE expected, not " + mm);
                                d.members.push_back({mm.substr(0, c), mm.substr(c + 1)});
                            }
                        }
                        if (d.members.empty() || d.members.size() > 0xFFFF)
                            fail("a structure needs members");
                    } else if (w[1] == "array") {
                        if (w.size() < 4) fail(".type NAME array TYPE D1[,D2[,D3]]");
                        d.element = w[2];
                        std::string dims;
                        for (size_t i = 3; i < w.size(); ++i)
                            dims += w[i];
                        for (const std::string &b : commas(dims))
                            d.bounds.push_back(uint32_t(number(b, 1, 0xFFFFFF, "bound")));
                        if (d.bounds.empty() || d.bounds.size() > 3)
                            fail("an array has 1 to 3 dimensions");
                        d.kind = uint8_t(1 + d.bounds.size());
                    } else {
                        fail(".type kind struct or array");
                    }
                    src.types.push_back(d);
                } else if (dir == ".room" || dir == ".prev") {
                    if (w.size() != 2) fail(dir + " KIND N");
                    Kind k = kind_by_name(w[0]);
                    if (dir == ".room") {
                        src.room[k] = int32_t(number(w[1], -65535, 65535, "room"));
                        src.room_set[k] = true;
                    } else {
                        if (kKindWords[k][2] < 0) fail("no previous index for this kind");
                        src.prev[k] = uint16_t(number(w[1], 0, 0xFFFF, "index"));
                    }
                } else if (dir == ".xv") {
                    if (w.size() != 2) fail(".xv TYPE INDEX");
                    const TypeInfo *t = type_by_name(w[0]);
                    int64_t code = t ? t->code : number(w[0], 0, 0xFFFF, "type");
                    src.xvs.push_back({uint16_t(code), uint16_t(number(w[1], 0, 0xFFFF, "index"))});
                } else if (dir == ".fb") {
                    if (w.size() < 2) fail(".fb NAME id=N");
                    Source::Class c{w[0], 0, false};
                    if (c.name.size() > 15) fail("class name longer than 15 characters");
                    for (size_t i = 1; i < w.size(); ++i) {
                        std::string v;
                        if (w[i] == "required")
                            c.required = true;
                        else if (option(w[i], "id", &v))
                            c.id = uint16_t(number(v, 0, 0xFFFF, "identifier"));
                        else
                            fail("unknown .fb option " + w[i]);
                    }
                    src.classes.push_back(c);
                } else if (dir == ".inst") {
                    if (w.empty()) fail(".inst ID");
                    Source::Inst s{uint16_t(number(w[0], 1, 0xFFFF, "identifier")), false, 0};
                    for (size_t i = 1; i < w.size(); ++i) {
                        std::string v;
                        if (w[i] == "std")
                            s.std = true;
                        else if (option(w[i], "word", &v))
                            s.word = uint32_t(number(v, 0, UINT32_MAX, "word"));
                        else
                            fail("unknown .inst option " + w[i]);
                    }
                    src.insts.push_back(s);
                } else if (dir == ".wished") {
                    if (w.size() != 1) fail(".wished N");
                    src.has_wished = true;
                    src.wished = uint32_t(number(w[0], 0, UINT32_MAX, "size"));
                } else if (dir == ".func") {
                    if (w.size() != 1 || w[0].size() > 15) fail(".func NAME (up to 15 characters)");
                    src.funcs.push_back(w[0]);
                } else if (dir == ".task") {
                    if (w.empty()) fail(".task NAME programs");
                    Task t{w[0], {}, line};
                    if (t.name.size() > 63) fail("task name too long");
                    std::string progs;
                    for (size_t i = 1; i < w.size(); ++i)
                        progs += w[i];
                    if (!progs.empty())
                        for (const std::string &p : commas(progs))
                            t.programs.push_back(p);
                    src.tasks.push_back(t);
                } else if (dir == ".raw") {
                    if (w.empty()) fail(".raw TARGET bytes");
                    const std::string &t = w[0];
                    if (t.size() < 2 || (t[0] != 'h' && t[0] != 'e')) fail("bad .raw target " + t);
                    uint32_t n = uint32_t(number(t.substr(1), 0, 63, "target"));
                    // Header words 11 (I/O definition) and 13 have no directive
                    // of their own.
                    if (t[0] == 'h' && n != 11 && n != 13)
                        fail(".raw takes header words 11 and 13 only");
                    if (t[0] == 'e' && (n < 1 || n > trcode::kExtFields)) fail("bad field " + t);
                    auto it = std::find_if(src.raws.begin(), src.raws.end(),
                                           [&](auto &r) { return r.first == t; });
                    if (it == src.raws.end()) {
                        src.raws.push_back({t, {}});
                        it = src.raws.end() - 1;
                    }
                    for (size_t i = 1; i < w.size(); ++i)
                        it->second.push_back(uint8_t(number("0x" + w[i], 0, 255, "byte")));
                } else if (dir == ".program") {
                    if (w.empty() || !valid_name(w[0])) fail(".program NAME");
                    if (!names.insert(w[0]).second) fail("\"" + w[0] + "\" declared twice");
                    Program p;
                    p.name = w[0];
                    for (size_t i = 1; i < w.size(); ++i) {
                        std::string v;
                        if (w[i] == "nostack")
                            p.nostack = true;
                        else if (option(w[i], "kind", &v))
                            p.attribute = uint32_t(number(v, 0, UINT32_MAX, "kind"));
                        else
                            fail("unknown .program option " + w[i]);
                    }
                    src.programs.push_back(p);
                    prog = &src.programs.back();
                } else if (dir == ".word") {
                    if (!prog) fail(".word outside a program");
                    Instr ins{line, "", ".word", commas(rest), true};
                    prog->code.push_back(ins);
                } else if (dir == ".bind") {
                    if (w.size() != 2) fail(".bind %REG NAME");
                    src.binds.push_back({w[0], w[1]});
                } else if (dir == ".image") {
                    src.has_image = true;
                    for (const std::string &b : w)
                        src.image_bytes.push_back(uint8_t(number("0x" + b, 0, 255, "byte")));
                } else {
                    fail("unknown directive " + dir);
                }
                continue;
            }
            if (!prog) fail("instruction outside a program");
            Instr ins{line, "", "", {}, false};
            size_t colon = l.find(':');
            if (colon != std::string::npos && l.find('"') > colon) {
                ins.label = trim(l.substr(0, colon));
                if (!valid_name(ins.label)) fail("bad label \"" + ins.label + "\"");
                l = trim(l.substr(colon + 1));
            }
            if (!l.empty()) {
                size_t sp = l.find_first_of(" \t");
                ins.mnemonic = l.substr(0, sp);
                if (sp != std::string::npos) ins.args = commas(trim(l.substr(sp)));
                if (ins.mnemonic == ".word") ins.raw_words = true;
            }
            prog->code.push_back(ins);
        }
    } catch (const Fail &f) {
        throw Fail("line " + std::to_string(line) + ": " + f.what());
    }
    return src;
}

// ---------------------------------------------------------------- building

struct Writer {
    Bytes b;
    uint32_t here() const { return uint32_t(b.size()); }
    void u8(uint32_t v) { b.push_back(uint8_t(v)); }
    void u16(uint32_t v) {
        u8(v);
        u8(v >> 8);
    }
    void u32(uint32_t v) {
        u16(v);
        u16(v >> 16);
    }
    void text(const std::string &s, size_t field) {
        for (size_t i = 0; i < field; ++i)
            u8(i < s.size() ? uint8_t(s[i]) : 0);
    }
    void align4() {
        while (b.size() % 4)
            u8(0);
    }
    void set32(uint32_t at, uint32_t v) { put_le32(&b[at], v); }
};

struct Layout {
    uint32_t highest[KCount] = {};
    std::map<std::string, const Var *> vars;
};

uint16_t count_word(const Source &s, const Layout &lay, Kind k) {
    int64_t h = lay.highest[k];
    if (!s.room_set[k]) return h > 0 ? uint16_t(h) : 0xFFFF;
    return uint16_t((h + s.room[k]) & 0xFFFF);
}

// The register-location table entry of a register name, or -1.
int varloc_entry(const std::string &reg) {
    struct Group {
        const char *prefix;
        int first, count;
    };
    // Longest prefixes first, so %AIG is not read as %AI.
    static const Group kGroups[] = {
        {"%AIG", 1024, 32}, {"%AQG", 1056, 32}, {"%IG", 0, 256},    {"%QG", 256, 256},
        {"%SR", 1088, 256}, {"%AI", 5440, 512}, {"%AQ", 5952, 512}, {"%S", 512, 256},
        {"%K", 768, 256},   {"%I", 1344, 2048}, {"%Q", 3392, 2048},
    };
    for (const Group &g : kGroups) {
        size_t n = std::strlen(g.prefix);
        if (reg.size() <= n || reg.compare(0, n, g.prefix) != 0) continue;
        int64_t v;
        if (!parse_int(reg.substr(n), &v) || v < 1 || v > g.count) return -1;
        return g.first + int(v) - 1;
    }
    return -1;
}

struct Assembler {
    Source s;
    Layout lay;
    Writer w;
    std::vector<uint32_t> prog_offsets;
    // Complex types: definitions numbered from 1 (the .type lines, then the
    // elementary ones they use), their sizes, the variables' offsets in the
    // complex-type segment.
    std::vector<TypeDef> defs;
    std::vector<uint64_t> def_size;
    std::vector<uint32_t> cvar_offset;
    uint64_t ct_size = 0;

    uint16_t def_number(const std::string &type, int line) {
        for (size_t i = 0; i < defs.size(); ++i)
            if (defs[i].name == type) return uint16_t(i + 1);
        const TypeInfo *t = type_by_name(type);
        if (!t || t->kind == KString)
            fail("line " + std::to_string(line) + ": unknown or unsupported member type " + type);
        TypeDef d;
        d.name = type;
        d.kind = 1;
        d.code = t->code;
        defs.push_back(d);
        return uint16_t(defs.size());
    }

    uint64_t size_of(uint16_t n, int depth) {
        if (depth > 32) fail("type " + defs[n - 1].name + " contains itself");
        TypeDef d = defs[n - 1];
        if (d.kind == 1) {
            static const uint32_t kSize[] = {1, 2, 4, 8, 4};
            return kSize[type_by_code(d.code)->kind];
        }
        if (d.kind == 5) {
            uint64_t total = 0;
            for (auto &m : d.members)
                total += size_of(def_number(m.second, d.line), depth + 1);
            return total;
        }
        uint64_t count = 1;
        for (uint32_t b : d.bounds)
            count *= b;
        return count * size_of(def_number(d.element, d.line), depth + 1);
    }

    void layout_types() {
        if (s.types.empty() && s.cvars.empty()) return;
        if (!s.has_ext || s.ext_version < 8) fail(".type needs .ext 8 or later");
        if (s.ext_values.count(9) || s.ext_values.count(10)) fail(".type and f9 or f10");
        for (auto &[t, bytes] : s.raws)
            if (t == "e9" || t == "e10") fail(".type and .raw " + t);
        defs = s.types;
        for (size_t i = 0; i < s.types.size(); ++i)
            size_of(uint16_t(i + 1), 0);
        def_size.clear();
        for (size_t i = 0; i < defs.size(); ++i)
            def_size.push_back(size_of(uint16_t(i + 1), 0));
        for (const ComplexVar &v : s.cvars) {
            cvar_offset.push_back(uint32_t(ct_size));
            ct_size += def_size[def_number(v.type, v.line) - 1];
            if (ct_size > 0x7FFFFFFF) fail("complex variables too large");
        }
        if (defs.size() > 0xFFFF) fail("too many types");
    }

    void types_section(uint32_t ext_at) {
        if (defs.empty() && s.cvars.empty()) return;
        w.align4();
        w.set32(ext_at + 4 * 9, w.here());
        w.u32(uint32_t(ct_size));
        w.u32(uint32_t(ct_size));
        w.u8(0); // no initial records
        w.align4();
        w.set32(ext_at + 4 * 10, w.here());
        w.u16(0);
        w.u16(uint32_t(defs.size()));
        uint32_t offsets = w.here();
        for (size_t i = 0; i < defs.size(); ++i)
            w.u32(0);
        for (size_t i = 0; i < defs.size(); ++i) {
            const TypeDef &d = defs[i];
            uint32_t at = w.here();
            w.set32(offsets + 4 * uint32_t(i), at);
            w.text(d.name, d.name.size() + 1);
            w.u8(d.kind);
            if (d.kind == 1) {
                w.u16(d.code);
            } else if (d.kind == 5) {
                w.u16(uint32_t(d.members.size()));
                w.u16(w.here() + 2 - at);
                uint64_t off = 0;
                for (auto &m : d.members) {
                    uint16_t n = def_number(m.second, d.line);
                    w.text(m.first, m.first.size() + 1);
                    w.u8(6);
                    w.u16(n);
                    w.u32(uint32_t(off));
                    off += def_size[n - 1];
                }
            } else {
                uint16_t n = def_number(d.element, d.line);
                w.u16(n);
                w.u32(uint32_t(def_size[n - 1]));
                for (uint32_t b : d.bounds)
                    w.u32(b);
            }
        }
        w.align4();
    }

    // The variable and element index a name names ("NAME" or "NAME[i]").
    const Var *lookup(const std::string &ref, uint32_t *index) {
        std::string nm = ref;
        uint32_t el = 0;
        size_t br = nm.find('[');
        if (br != std::string::npos && nm.back() == ']') {
            el = uint32_t(number(nm.substr(br + 1, nm.size() - br - 2), 0, 0xFFFF, "element"));
            nm = nm.substr(0, br);
        }
        auto it = lay.vars.find(nm);
        if (it == lay.vars.end()) return nullptr;
        if (el >= it->second->dim) fail("element beyond " + nm);
        *index = it->second->index + el;
        return it->second;
    }

    void layout_vars() {
        for (Var &v : s.vars) {
            Kind k = v.type->kind;
            v.index = lay.highest[k] + 1;
            if (uint64_t(v.index) + v.dim - 1 > 0xFFFF) fail("too many variables of one kind");
            lay.highest[k] += v.dim;
            lay.vars[v.name] = &v;
        }
        lay.highest[KXV] = uint32_t(s.xvs.size());
    }

    void build() {
        layout_vars();
        layout_types();
        // Header, filled in as the sections are placed.
        w.b.assign(trcode::kHeaderSize, 0);
        w.set32(0, 0x11);
        w.set32(4 * trcode::kIdent, w.here());
        w.text("TrRTI", 16);
        w.text("1.0", 4);
        w.set32(4 * trcode::kInfo, w.here());
        w.text(s.app_name, 16);
        w.u32(0);        // word 4: identity
        w.u32(0);        // word 5: identity
        w.u32(s.period); // word 6
        w.u32(0);        // word 7: no further identity value
        w.u16(s.paused); // half-word 16
        w.u16(0);        // half-word 17: identity
        w.u32(s.stamp);  // word 9: full build stamp
        w.u32(0);        // word 10: SFC CRC
        w.set32(4 * trcode::kOptions, s.options);
        sizing_block();
        programs_list();
        init_block();
        public_table();
        if (!s.xvs.empty()) {
            w.set32(4 * trcode::kExtVars, w.here());
            for (auto &x : s.xvs) {
                w.u16(x.first);
                w.u16(x.second);
            }
            w.u32(0);
        }
        if (!s.classes.empty()) {
            w.set32(4 * trcode::kClasses, w.here());
            w.u16(0);
            w.u16(uint32_t(s.classes.size()));
            for (auto &c : s.classes) {
                w.u16(c.id);
                w.u16(c.required);
                w.text(c.name, 16);
            }
        }
        if (!s.funcs.empty()) {
            w.set32(4 * trcode::kCustomFuncs, w.here());
            w.u16(0);
            w.u16(uint32_t(s.funcs.size()));
            for (auto &f : s.funcs) {
                w.u32(0);
                w.text(f, 16);
            }
        }
        if (!s.insts.empty() || s.has_wished) {
            w.set32(4 * trcode::kInstances, w.here());
            w.u16(uint32_t(s.insts.size() - 1) & 0xFFFF);
            w.u16(0);
            w.u32(0);
            w.u32(0);
            w.u32(s.wished);
            for (auto &i : s.insts) {
                w.u16(i.std);
                w.u16(i.id);
                w.u32(i.word);
            }
            w.u32(0);
            w.u32(0);
        }
        tasks();
        uint32_t ext_at = 0;
        if (s.has_ext) {
            w.set32(4 * trcode::kExtension, ext_at = w.here());
            w.u32(s.ext_version);
            uint32_t fields = 0;
            for (uint32_t f = 1; f <= trcode::kExtFields; ++f)
                if (uint32_t(trcode::ExtFieldVersion(f)) <= s.ext_version) fields = f;
            for (uint32_t f = 1; f <= fields; ++f)
                w.u32(s.ext_values.count(f) ? s.ext_values[f] : 0);
            for (auto &[f, v] : s.ext_values)
                if (f > fields)
                    fail("extension field " + std::to_string(f) + " needs a later version");
        }
        for (auto &[t, bytes] : s.raws) {
            uint32_t n = uint32_t(std::stoul(t.substr(1)));
            if (t[0] == 'h') {
                w.set32(4 * n, w.here());
            } else {
                if (!ext_at || uint32_t(trcode::ExtFieldVersion(n)) > s.ext_version)
                    fail(".raw " + t + " needs an extension block that has the field");
                if (s.ext_values.count(n)) fail(".raw " + t + " and f" + std::to_string(n));
                w.set32(ext_at + 4 * n, w.here());
            }
            w.b.insert(w.b.end(), bytes.begin(), bytes.end());
            w.align4();
        }
        types_section(ext_at);
        code();
    }

    void sizing_block() {
        w.set32(4 * trcode::kSizing, w.here());
        uint32_t at = w.here();
        w.b.resize(w.b.size() + trcode::kSizingSize, 0);
        for (int k = 0; k < KCount; ++k) {
            put_le16(&w.b[at + 2 * kKindWords[k][0]], count_word(s, lay, Kind(k)));
            if (kKindWords[k][1] >= 0)
                put_le16(&w.b[at + 2 * kKindWords[k][1]], uint16_t(lay.highest[k]));
            if (kKindWords[k][2] >= 0) put_le16(&w.b[at + 2 * kKindWords[k][2]], s.prev[k]);
        }
    }

    void programs_list() {
        w.set32(4 * trcode::kProgCount, w.here());
        w.u16(uint32_t(s.programs.size() - 1) & 0xFFFF);
        w.u16(s.stack);
        w.set32(4 * trcode::kProgList, w.here());
        for (size_t i = 0; i < s.programs.size(); ++i) {
            prog_offsets.push_back(w.here());
            w.u32(0); // code offset, placed with the code
            w.u32(s.programs[i].attribute);
            w.u16(s.programs[i].nostack);
            w.u16(0);
        }
        w.u32(0);
        w.u32(0);
        w.u32(0);
    }

    std::vector<const Var *> of_kind(Kind k) {
        std::vector<const Var *> out;
        for (const Var &v : s.vars)
            if (v.type->kind == k) out.push_back(&v);
        return out;
    }

    void init_block() {
        w.set32(4 * trcode::kInit, w.here());
        uint32_t blk = w.here();
        w.b.resize(w.b.size() + trcode::kInitSize, 0);
        for (int k = K8; k <= KString; ++k) {
            put_le32(&w.b[blk + 4 * k], w.here());
            for (const Var *v : of_kind(Kind(k))) {
                for (size_t e = 0; e < v->values.size(); ++e) {
                    if (!v->values[e].set) continue;
                    const Bytes &val = v->values[e].bytes;
                    w.u16(v->index + uint32_t(e));
                    if (k == KString) {
                        w.u8(uint32_t(val.size()));
                        w.b.insert(w.b.end(), val.begin(), val.end());
                        if (w.b.size() % 2) w.u8(0);
                    } else if (k == K8) {
                        w.u8(val[0]);
                        w.u8(0);
                    } else if (k == K16) {
                        w.b.insert(w.b.end(), val.begin(), val.end());
                    } else {
                        w.u16(0);
                        w.b.insert(w.b.end(), val.begin(), val.end());
                    }
                }
            }
            w.u16(0);
            w.align4();
        }
        put_le32(&w.b[blk + 24], w.here());
        for (const Var *v : of_kind(KString))
            for (uint32_t e = 0; e < v->dim; ++e)
                w.u8(v->capacity);
        w.u8(0);
        w.align4();
        // Retained data: one run of indexes per kind.
        bool any = false;
        for (const Var &v : s.vars)
            any |= v.retain;
        if (!any) return;
        put_le32(&w.b[blk + 36], w.here());
        uint32_t def = w.here();
        w.b.resize(w.b.size() + 100, 0);
        const int kRetainWord[] = {32, 40, 34, 42, 36, 38};
        for (int k = K8; k <= KString; ++k) {
            uint32_t first = 0, last = 0;
            for (const Var *v : of_kind(Kind(k))) {
                if (!v->retain) continue;
                if (first && v->index != last + 1)
                    fail("retained variables of a kind must follow each other (" + v->name + ")");
                if (!first) first = v->index;
                last = v->index + v->dim - 1;
            }
            if (!first) continue;
            put_le16(&w.b[def + 2 * kRetainWord[k]], uint16_t(last - first + 1));
            put_le16(&w.b[def + 2 * kRetainWord[k] + 2], uint16_t(first));
        }
    }

    void public_table() {
        w.set32(4 * trcode::kPublic, w.here());
        std::vector<const Var *> pub;
        for (int k = K8; k <= KString; ++k)
            for (const Var *v : of_kind(Kind(k)))
                if (v->pub) pub.push_back(v);
        uint32_t t = w.here();
        size_t cpub = 0;
        bool vsi = false;
        for (const ComplexVar &v : s.cvars) {
            cpub += v.pub;
            vsi |= v.vsi;
        }
        for (const Var *v : pub)
            vsi |= v->vsi;
        uint32_t records = uint32_t(pub.size() + cpub);
        w.u16(trcode::kMapHeaderSize);
        w.u16(std::max<uint32_t>(1, records));
        w.u16(records);
        w.u16(vsi ? 0x200 : 0);
        w.u32(s.stamp);
        w.u16(0);
        w.u16(trcode::kMapMarker);
        for (const Var *v : pub) {
            uint32_t size = uint32_t(16 + v->name.size() + 1);
            size = (size + 3) & ~3u;
            w.u16(size);
            w.u16(v->type->code);
            w.u16(v->index);
            w.u16(v->dim);
            w.u16(v->capacity);
            w.u16(0);
            w.u16(v->tag);
            w.u16(1 | (v->tag ? 2 : 0) | (v->vsi ? 0x200 : 0));
            w.text(v->name, size - 16);
        }
        for (size_t i = 0; i < s.cvars.size(); ++i) {
            const ComplexVar &v = s.cvars[i];
            if (!v.pub) continue;
            uint32_t sym = (uint32_t(v.name.size()) + 1 + 3) & ~3u;
            w.u16(16 + sym + 8);
            w.u16(127);
            w.u16(0);
            w.u16(1);
            w.u16(0);
            w.u16(16 + sym);
            w.u16(v.tag);
            w.u16(1 | 0x100 | (v.tag ? 2 : 0) | (v.vsi ? 0x200 : 0));
            w.text(v.name, sym);
            w.u32(cvar_offset[i]);
            w.u16(def_number(v.type, v.line));
            w.u16(0);
        }
        w.u16(0);
        w.align4();
        if (records > 0xFFFF) fail("too many public variables");
        (void)t;
    }

    int program_number(const std::string &n) {
        for (size_t i = 0; i < s.programs.size(); ++i)
            if (s.programs[i].name == n) return int(i) + 1;
        return -1;
    }

    void tasks() {
        if (s.tasks.empty()) return;
        w.set32(4 * trcode::kTasks, w.here());
        for (size_t i = 0; i < s.tasks.size(); ++i) {
            const Task &t = s.tasks[i];
            uint32_t at = w.here();
            w.u16(0);
            w.u16(0);
            w.text(t.name, t.name.size() + 1);
            w.align4();
            put_le16(&w.b[at + 2], uint16_t(w.here() - at));
            for (const std::string &p : t.programs) {
                int n = program_number(p);
                if (n < 0) {
                    int64_t v;
                    if (!parse_int(p, &v) || v < 1 || v > 0xFFFF)
                        fail("line " + std::to_string(t.line) + ": unknown program " + p);
                    n = int(v);
                }
                w.u16(uint32_t(n));
            }
            w.u16(0);
            w.align4();
            if (i + 1 < s.tasks.size()) {
                if (w.here() - at > 0xFFFF) fail("task record too long");
                put_le16(&w.b[at], uint16_t(w.here() - at));
            }
        }
    }

    // ------------------------------------------------------------ the code

    uint32_t operand_words(const TrOpcode &op, const Instr &ins) {
        uint32_t n = 0;
        const char *sh = op.operands;
        size_t a = 0;
        for (; *sh; ++sh) {
            char c = *sh;
            if (c == 'n' || c == 'o' || c == 'N' || c == 'M' || c == 'P') {
                size_t rest = ins.args.size() - std::min(a, ins.args.size());
                if (c == 'o' && rest == 0) fail(std::string(op.mnemonic) + " needs arguments");
                return n + 1 + uint32_t(rest);
            }
            if (a >= ins.args.size()) fail(std::string(op.mnemonic) + ": too few operands");
            if (c == 'K')
                n += 2;
            else if (c == 'Q')
                n += 4;
            else if (c == '$')
                n += (1 + uint32_t(unquote(ins.args[a]).size()) + 1) / 2;
            else
                n += 1;
            ++a;
        }
        if (a != ins.args.size()) fail(std::string(op.mnemonic) + ": too many operands");
        return n;
    }

    uint16_t data_operand(char c, const std::string &arg) {
        int64_t v;
        if (parse_int(arg, &v)) {
            if (v < 0 || v > 0xFFFF) fail("operand out of range: " + arg);
            return uint16_t(v);
        }
        uint32_t index;
        const Var *var = lookup(arg, &index);
        if (!var) fail("unknown variable " + arg);
        if (kShapeOfKind[var->type->kind] != c)
            fail(arg + " is not of the kind the instruction takes");
        return uint16_t(index);
    }

    void code() {
        for (size_t p = 0; p < s.programs.size(); ++p) {
            Program &pr = s.programs[p];
            uint32_t start = w.here();
            w.set32(prog_offsets[p], start);
            // Pass 1: label places.
            std::map<std::string, uint32_t> labels;
            uint32_t at = 0;
            for (const Instr &ins : pr.code) {
                try {
                    if (!ins.label.empty() && !labels.emplace(ins.label, at).second)
                        fail("label " + ins.label + " defined twice");
                    if (ins.mnemonic.empty()) continue;
                    if (ins.raw_words) {
                        at += 2 * uint32_t(ins.args.size());
                        continue;
                    }
                    const TrOpcode *op = TrVM_OpcodeByName(ins.mnemonic);
                    if (!op) fail("unknown mnemonic " + ins.mnemonic);
                    at += 2 + 2 * operand_words(*op, ins);
                } catch (const Fail &f) {
                    throw Fail("line " + std::to_string(ins.line) + ": " + f.what());
                }
            }
            // Pass 2: the words.
            for (const Instr &ins : pr.code) {
                try {
                    if (ins.mnemonic.empty()) continue;
                    if (ins.raw_words) {
                        for (const std::string &a : ins.args)
                            w.u16(uint32_t(number(a, -32768, 0xFFFF, "word")));
                        continue;
                    }
                    const TrOpcode *op = TrVM_OpcodeByName(ins.mnemonic);
                    uint32_t end = w.here() - start + 2 + 2 * operand_words(*op, ins);
                    w.u16(op->number);
                    emit_operands(*op, ins, labels, end);
                } catch (const Fail &f) {
                    throw Fail("line " + std::to_string(ins.line) + ": " + f.what());
                }
            }
        }
    }

    uint32_t jump(char c, const std::string &arg, const std::map<std::string, uint32_t> &labels,
                  uint32_t end) {
        if (!arg.empty() && arg[0] == '#')
            return uint32_t(number(arg.substr(1), -32768, 0xFFFF, "offset"));
        auto it = labels.find(arg);
        if (it == labels.end()) fail("unknown label " + arg);
        if (c == 'a') {
            if (it->second > 0xFFFF) fail("jump target too far");
            return it->second;
        }
        int64_t off = int64_t(it->second) - int64_t(end);
        if (off < -32768 || off > 32767) fail("jump target too far");
        return uint32_t(off) & 0xFFFF;
    }

    void emit_operands(const TrOpcode &op, const Instr &ins,
                       const std::map<std::string, uint32_t> &labels, uint32_t end) {
        size_t a = 0;
        for (const char *sh = op.operands; *sh; ++sh) {
            char c = *sh;
            if (c == 'n' || c == 'o' || c == 'N' || c == 'M' || c == 'P') {
                size_t rest = ins.args.size() - a;
                w.u16(uint32_t(c == 'o' ? rest - 1 : rest));
                for (; a < ins.args.size(); ++a) {
                    const std::string &arg = ins.args[a];
                    if (c == 'N') {
                        w.u16(jump('a', arg, labels, end));
                    } else if (c == 'P') {
                        int n = program_number(arg);
                        w.u16(n > 0 ? uint32_t(n) : uint32_t(number(arg, 0, 0xFFFF, "program")));
                    } else {
                        w.u16(uint32_t(number(arg, -32768, 0xFFFF, "word")));
                    }
                }
                return;
            }
            const std::string &arg = ins.args[a++];
            switch (c) {
            case 'b':
            case 'w':
            case 'd':
            case 'l':
            case 't':
            case 's':
                w.u16(data_operand(c, arg));
                break;
            case 'p': {
                int n = program_number(arg);
                w.u16(n > 0 ? uint32_t(n) : uint32_t(number(arg, 0, 0xFFFF, "program")));
                break;
            }
            case 'r':
            case 'a':
                w.u16(jump(c, arg, labels, end));
                break;
            case 'K': {
                uint32_t v;
                if (is_float(arg)) {
                    float f = std::strtof(arg.c_str(), nullptr);
                    std::memcpy(&v, &f, 4);
                } else {
                    v = uint32_t(number(arg, INT32_MIN, UINT32_MAX, "constant"));
                }
                w.u16(v >> 16);
                w.u16(v & 0xFFFF);
                break;
            }
            case 'Q': {
                uint64_t v;
                if (is_float(arg)) {
                    double d = std::strtod(arg.c_str(), nullptr);
                    std::memcpy(&v, &d, 8);
                } else {
                    int64_t r;
                    if (!parse_int(arg, &r)) fail("bad constant " + arg);
                    v = uint64_t(r);
                }
                for (int i = 3; i >= 0; --i)
                    w.u16(uint32_t(v >> (16 * i)) & 0xFFFF);
                break;
            }
            case '$': {
                std::string t = unquote(arg);
                if (t.size() > 255) fail("text too long");
                w.u8(uint32_t(t.size()));
                w.b.insert(w.b.end(), t.begin(), t.end());
                if (w.b.size() % 2) w.u8(0);
                break;
            }
            default:
                w.u16(uint32_t(number(arg, -32768, 0xFFFF, "operand")));
                break;
            }
        }
    }

    std::vector<uint32_t> varloc() {
        std::vector<uint32_t> t(kVarLocWords, 0);
        for (auto &[reg, name] : s.binds) {
            int e = varloc_entry(reg);
            if (e < 0) fail(".bind: no register-location entry for " + reg);
            uint32_t index;
            const Var *v = lookup(name, &index);
            if (!v) fail(".bind: unknown variable " + name);
            uint32_t kind;
            switch (v->type->kind) {
            case K8:
                kind = v->type->code == 1 ? 6 : 0;
                break;
            case K16:
                kind = 1;
                break;
            case K32:
                kind = 2;
                break;
            case K64:
                kind = 3;
                break;
            case KString:
                kind = 4;
                break;
            default:
                kind = 5;
                index *= 4; // a TIME location holds a byte offset
                break;
            }
            t[size_t(e)] = (kind << 26) | index;
        }
        return t;
    }
};

} // namespace

bool Iecasm_Assemble(const std::string &source, IecAsmOutput *out, std::string *error) {
    try {
        Assembler a;
        a.s = parse(source);
        if (a.s.has_image) {
            out->image = a.s.image_bytes;
            a.layout_vars();
        } else {
            a.build();
            out->image = a.w.b;
        }
        out->varloc = a.varloc();
        return true;
    } catch (const Fail &f) {
        if (error) *error = f.what();
        return false;
    } catch (const std::exception &e) {
        if (error) *error = e.what();
        return false;
    }
}

// ============================================================ disassembly

namespace {

struct Dis {
    TrCodeImage c;
    std::ostringstream o;
    // Names by kind and index, and the names given.
    std::map<std::pair<int, uint32_t>, std::string> names;
    std::set<std::string> taken;
    uint32_t nprogs = 0;

    uint32_t hw(uint32_t n) { return TrVMCode_HeaderWord(c, n); }
    uint16_t half(uint32_t n) { return TrVMCode_GetSizingHalf(c, n); }

    void text() {
        while (nprogs < 0xFFFF && TrVMCode_GetProgram(c, nprogs, nullptr, nullptr, nullptr))
            ++nprogs;
        const char *name = TrVMCode_GetAppName(c);
        o << ".app " << (name && *name ? name : "\"\"");
        if (TrVMCode_GetPeriod(c)) o << " period=" << TrVMCode_GetPeriod(c);
        if (TrVMCode_StartPaused(c)) o << " paused";
        if (TrVMCode_GetFullBuildStamp(c)) o << " stamp=" << TrVMCode_GetFullBuildStamp(c);
        if (hw(trcode::kOptions)) o << " options=" << hw(trcode::kOptions);
        const uint8_t *pc = TrVMCode_Record(c, hw(trcode::kProgCount), 4);
        if (pc && le16(pc + 2)) o << " stack=" << le16(pc + 2);
        o << "\n";
        uint32_t ext = hw(trcode::kExtension);
        std::map<uint32_t, bool> raw_fields;
        if (TrVMCode_Record(c, ext, 4)) {
            o << ".ext " << TrVMCode_GetExtVersion(c);
            for (uint32_t f = 1; f <= trcode::kExtFields; ++f) {
                uint32_t v = TrVMCode_GetExtField(c, f);
                if (!v) continue;
                if (is_section_field(f)) {
                    raw_fields[f] = true;
                    continue;
                }
                o << " f" << f << "=" << v;
            }
            o << "\n";
        }
        vars();
        rooms();
        xvs();
        blocks();
        tasks_text();
        raws(raw_fields);
        programs();
    }

    static bool is_section_field(uint32_t f) {
        return f != 1 && f != 8 && f != 12 && f != 18 && f != 19 && f != 21;
    }

    struct PubRec {
        uint16_t type, index, dim, cap, tag, flags;
        std::string name;
    };

    void vars() {
        // Public records give names, types and dimensions.
        std::map<std::pair<int, uint32_t>, PubRec> pub;
        uint32_t t = TrVMCode_GetPublishedList(c);
        if (t) {
            uint64_t at = uint64_t(t) + le16(c.data + t);
            while (const uint8_t *r = TrVMCode_Record(c, at, 16)) {
                uint16_t size = le16(r);
                if (size < 16 || !TrVMCode_Record(c, at, size)) break;
                PubRec p{le16(r + 2),
                         le16(r + 4),
                         le16(r + 6),
                         le16(r + 8),
                         le16(r + 12),
                         le16(r + 14),
                         std::string(reinterpret_cast<const char *>(r + 16),
                                     strnlen(reinterpret_cast<const char *>(r + 16), size - 16))};
                const TypeInfo *ti = type_by_code(p.type);
                if (ti) pub[{ti->kind, p.index}] = p;
                at += size;
            }
        }
        // Retained runs.
        uint32_t rdef = TrVMCode_GetInitWord(c, 9);
        const uint8_t *rd = TrVMCode_Record(c, rdef, 100);
        const int kRetainWord[] = {32, 40, 34, 42, 36, 38};
        const char *kGeneric[] = {"USINT", "UINT", "UDINT", "ULINT", "TIME", "STRING"};
        for (int k = K8; k <= KString; ++k) {
            uint32_t highest = half(kKindWords[k][1]);
            uint32_t rn = rd ? le16(rd + 2 * kRetainWord[k]) : 0;
            uint32_t rf = rd ? le16(rd + 2 * kRetainWord[k] + 2) : 0;
            std::map<uint32_t, std::vector<std::string>> values = init_values(Kind(k));
            for (uint32_t i = 1; i <= highest;) {
                auto it = pub.find({k, i});
                uint32_t dim = 1;
                std::string type = kGeneric[k], name;
                const PubRec *p = it != pub.end() ? &it->second : nullptr;
                if (p && p->dim >= 1 && i + p->dim - 1 <= highest) dim = p->dim;
                if (p) {
                    type = type_by_code(p->type)->name;
                    name = p->name;
                }
                if (name.empty() || !valid_name(name) || name_taken(name))
                    name = std::string("v") + kKindNames[k] + "_" + std::to_string(i);
                if (k == KString) {
                    uint8_t cap = TrVMCode_GetStringCapacity(c, i);
                    type = "STRING(" + std::to_string(cap) + ")";
                    for (uint32_t e = 1; e < dim; ++e)
                        if (TrVMCode_GetStringCapacity(c, i + e) != cap) dim = 1;
                    if (cap == 0) throw Fail("STRING without capacity");
                }
                // A dimension that would straddle a retained run is split.
                bool ret = rn && i >= rf && i < rf + rn;
                for (uint32_t e = 1; e < dim; ++e)
                    if ((rn && i + e >= rf && i + e < rf + rn) != ret) dim = 1;
                if (dim == 1 && p && p->dim > 1) p = nullptr;
                if (!p && name != std::string("v") + kKindNames[k] + "_" + std::to_string(i))
                    name = std::string("v") + kKindNames[k] + "_" + std::to_string(i);
                o << ".var " << type << " " << name;
                taken.insert(name);
                if (dim > 1) o << "[" << dim << "]";
                for (uint32_t e = 0; e < dim; ++e)
                    names[{k, i + e}] = dim > 1 ? name + "[" + std::to_string(e) + "]" : name;
                bool any = false;
                for (uint32_t e = 0; e < dim; ++e)
                    any |= values.count(i + e) > 0;
                if (any) {
                    o << " =";
                    uint32_t last = 0;
                    for (uint32_t e = 0; e < dim; ++e)
                        if (values.count(i + e)) last = e;
                    for (uint32_t e = 0; e <= last; ++e) {
                        auto vi = values.find(i + e);
                        std::string v = vi == values.end() ? "_" : vi->second.front();
                        if (vi != values.end()) vi->second.erase(vi->second.begin());
                        if (vi != values.end() && vi->second.empty()) values.erase(vi);
                        o << (e ? ", " : " ") << v;
                    }
                }
                if (ret) o << " retain";
                if (p) {
                    o << " public";
                    if (p->tag) o << " tag=" << p->tag;
                    if (p->flags & 0x200) o << " vsi";
                }
                o << "\n";
                i += dim;
            }
            if (!values.empty()) throw Fail("initial values beyond the variables");
        }
    }

    bool name_taken(const std::string &n) { return taken.count(n) > 0; }

    // Values by index, in list order (a repeated index keeps its order).
    std::map<uint32_t, std::vector<std::string>> init_values(Kind k) {
        std::map<uint32_t, std::vector<std::string>> out;
        uint32_t list = TrVMCode_GetInitWord(c, uint32_t(k));
        uint64_t at = list;
        uint32_t last = 0;
        for (;;) {
            const uint8_t *r = TrVMCode_Record(c, at, 2);
            if (!r) throw Fail("value list outside the image");
            uint16_t idx = le16(r);
            if (idx == 0) break;
            // Records out of index order cannot be said in .var lines.
            if (idx <= last) throw Fail("value records out of order");
            last = idx;
            char b[64];
            std::string v;
            uint64_t len;
            if (k == KString) {
                const uint8_t *s = TrVMCode_Record(c, at + 2, 1);
                if (!s) throw Fail("short record");
                len = 3 + s[0];
                if (!TrVMCode_Record(c, at, len)) throw Fail("short record");
                v = quote(r + 3, s[0]);
                len += len % 2;
            } else if (k == K8) {
                len = 4;
                if (!TrVMCode_Record(c, at, len)) throw Fail("short record");
                if (r[3]) throw Fail("pad byte");
                std::snprintf(b, sizeof b, "%u", r[2]);
                v = b;
            } else if (k == K16) {
                len = 4;
                if (!TrVMCode_Record(c, at, len)) throw Fail("short record");
                std::snprintf(b, sizeof b, "%u", le16(r + 2));
                v = b;
            } else {
                len = k == K64 ? 12 : 8;
                if (!TrVMCode_Record(c, at, len)) throw Fail("short record");
                if (le16(r + 2)) throw Fail("pad bytes");
                if (k == K64)
                    std::snprintf(b, sizeof b, "&0x%" PRIx64, le64(r + 4));
                else
                    std::snprintf(b, sizeof b, "&0x%x", le32(r + 4));
                v = b;
            }
            out[idx].push_back(v);
            at += len;
        }
        return out;
    }

    void rooms() {
        for (int k = 0; k < KCount; ++k) {
            uint32_t h = kKindWords[k][1] >= 0 ? half(kKindWords[k][1]) : 0;
            uint16_t cw = half(kKindWords[k][0]);
            uint16_t def = h > 0 ? uint16_t(h) : 0xFFFF;
            if (cw != def)
                o << ".room " << kKindNames[k] << " " << int32_t(cw) - int32_t(h) << "\n";
            if (kKindWords[k][2] >= 0 && half(kKindWords[k][2]))
                o << ".prev " << kKindNames[k] << " " << half(kKindWords[k][2]) << "\n";
        }
    }

    void xvs() {
        uint32_t list = hw(trcode::kExtVars);
        if (!list) return;
        for (uint64_t at = list;; at += 4) {
            const uint8_t *r = TrVMCode_Record(c, at, 4);
            if (!r) throw Fail("external list outside the image");
            if (le16(r) == 0 && le16(r + 2) == 0) break;
            const TypeInfo *t = type_by_code(le16(r));
            o << ".xv ";
            if (t && std::strcmp(t->name, "BYTE") && std::strcmp(t->name, "WORD") &&
                std::strcmp(t->name, "DWORD") && std::strcmp(t->name, "LWORD"))
                o << t->name;
            else
                o << le16(r);
            o << " " << le16(r + 2) << "\n";
        }
    }

    void blocks() {
        if (uint32_t l = TrVMCode_GetClassList(c)) {
            uint32_t n = le16(c.data + l + 2);
            for (uint32_t i = 0; i < n; ++i) {
                const uint8_t *r = TrVMCode_Record(c, uint64_t(l) + 4 + 20ull * i, 20);
                if (!r) throw Fail("class list outside the image");
                o << ".fb "
                  << std::string(reinterpret_cast<const char *>(r + 4),
                                 strnlen(reinterpret_cast<const char *>(r + 4), 16))
                  << " id=" << le16(r) << (le16(r + 2) ? " required" : "") << "\n";
            }
        }
        if (uint32_t l = TrVMCode_GetInstanceList(c)) {
            const uint8_t *h = c.data + l;
            for (uint64_t at = uint64_t(l) + 16;; at += 8) {
                const uint8_t *r = TrVMCode_Record(c, at, 8);
                if (!r) throw Fail("instance list outside the image");
                if (le16(r + 2) == 0) break;
                o << ".inst " << le16(r + 2) << (le16(r) ? " std" : "");
                if (le32(r + 4)) o << " word=" << le32(r + 4);
                o << "\n";
            }
            if (le32(h + 12) || le16(h) == 0xFFFF) o << ".wished " << le32(h + 12) << "\n";
        }
        if (uint32_t l = TrVMCode_GetCustomFuncList(c)) {
            uint32_t n = le16(c.data + l + 2);
            for (uint32_t i = 0; i < n; ++i) {
                const uint8_t *r = TrVMCode_Record(c, uint64_t(l) + 4 + 20ull * i, 20);
                if (!r) throw Fail("function list outside the image");
                o << ".func "
                  << std::string(reinterpret_cast<const char *>(r + 4),
                                 strnlen(reinterpret_cast<const char *>(r + 4), 16))
                  << "\n";
            }
        }
    }

    void tasks_text() {
        uint64_t at = hw(trcode::kTasks);
        if (!at) return;
        for (int guard = 0; guard < 4096; ++guard) {
            const uint8_t *r = TrVMCode_Record(c, at, 5);
            if (!r) throw Fail("task list outside the image");
            size_t room = c.size - at - 4;
            size_t n = strnlen(reinterpret_cast<const char *>(r + 4), room);
            if (n == room) throw Fail("task name");
            o << ".task " << std::string(reinterpret_cast<const char *>(r + 4), n);
            uint64_t pl = at + le16(r + 2);
            bool first = true;
            for (;; pl += 2) {
                const uint8_t *p = TrVMCode_Record(c, pl, 2);
                if (!p) throw Fail("task programs");
                if (!le16(p)) break;
                o << (first ? " " : ", ");
                uint32_t num = le16(p);
                if (num >= 1 && num <= nprogs)
                    o << "P" << num;
                else
                    o << num;
                first = false;
            }
            o << "\n";
            if (!le16(r)) break;
            at += le16(r);
        }
    }

    void raws(const std::map<uint32_t, bool> &fields) {
        // A raw section runs to the next known place in the image.
        std::set<uint32_t> places;
        for (uint32_t i = 0; i < trcode::kHeaderWords; ++i)
            if (i) places.insert(hw(i));
        for (uint32_t f = 1; f <= trcode::kExtFields; ++f)
            if (is_section_field(f) && TrVMCode_GetExtField(c, f))
                places.insert(TrVMCode_GetExtField(c, f));
        uint32_t first_code = c.size, off = 0;
        for (uint32_t i = 0; i < nprogs && TrVMCode_GetProgram(c, i, &off, nullptr, nullptr); ++i)
            first_code = std::min(first_code, off);
        places.insert(first_code);
        places.insert(c.size);
        auto dump = [&](const std::string &tag, uint32_t at) {
            auto it = places.upper_bound(at);
            uint32_t end = it == places.end() ? c.size : *it;
            o << ".raw " << tag;
            for (uint32_t i = at; i < end && i < c.size; ++i) {
                char b[4];
                std::snprintf(b, sizeof b, " %02x", c.data[i]);
                o << b;
            }
            o << "\n";
        };
        // In image order, as the assembler places them.
        std::vector<std::pair<uint32_t, std::string>> order;
        for (uint32_t h : {11u, 13u})
            if (hw(h)) order.push_back({hw(h), "h" + std::to_string(h)});
        for (auto &[f, _] : fields)
            order.push_back({TrVMCode_GetExtField(c, f), "e" + std::to_string(f)});
        std::sort(order.begin(), order.end());
        for (auto &[at, tag] : order)
            dump(tag, at);
    }

    void programs() {
        std::vector<uint32_t> starts;
        uint32_t off = 0, attr = 0;
        uint16_t nostack = 0;
        for (uint32_t i = 0; i < nprogs && TrVMCode_GetProgram(c, i, &off, &attr, &nostack); ++i)
            starts.push_back(off);
        for (size_t i = 0; i < starts.size(); ++i) {
            TrVMCode_GetProgram(c, uint32_t(i), &off, &attr, &nostack);
            uint32_t end = i + 1 < starts.size() ? starts[i + 1] : c.size;
            if (end < off || end > c.size) throw Fail("programs out of order or outside");
            o << ".program P" << i + 1;
            if (attr) o << " kind=" << attr;
            if (nostack) o << " nostack";
            o << "\n";
            program_code(off, end);
        }
    }

    std::string data_name(char k, uint16_t v) {
        const char *p = std::strchr(kShapeOfKind, k);
        auto it = names.find({int(p - kShapeOfKind), v});
        return it != names.end() ? it->second : std::to_string(v);
    }

    void program_code(uint32_t start, uint32_t end) {
        struct Line {
            uint32_t at;
            const TrOpcode *op;
            std::vector<uint16_t> words; // operand words (or raw words)
            uint32_t size;
        };
        std::vector<Line> lines;
        uint32_t at = start;
        while (at + 2 <= end) {
            uint16_t opw = le16(c.data + at);
            const TrOpcode *op = TrVM_Opcode(opw);
            Line l{at, op, {}, 2};
            bool ok = op != nullptr;
            uint32_t p = at + 2;
            auto word = [&](uint16_t *v) {
                if (p + 2 > end) return false;
                *v = le16(c.data + p);
                p += 2;
                return true;
            };
            if (ok) {
                for (const char *sh = op->operands; *sh && ok; ++sh) {
                    uint16_t v = 0;
                    char k = *sh;
                    if (k == '$') {
                        if (p + 1 > end) {
                            ok = false;
                            break;
                        }
                        uint32_t len = c.data[p];
                        uint32_t bytes = (1 + len + 1) & ~1u;
                        if (p + bytes > end || ((1 + len) % 2 && c.data[p + 1 + len])) {
                            ok = false;
                            break;
                        }
                        for (uint32_t i = 0; i < bytes; i += 2)
                            l.words.push_back(le16(c.data + p + i));
                        p += bytes;
                        continue;
                    }
                    uint32_t n = k == 'K' ? 2 : k == 'Q' ? 4 : 1;
                    for (uint32_t i = 0; i < n && ok; ++i) {
                        ok = word(&v);
                        l.words.push_back(v);
                    }
                    if (ok && (k == 'n' || k == 'o' || k == 'N' || k == 'M' || k == 'P')) {
                        uint32_t cnt = v + (k == 'o' ? 1u : 0u);
                        if (k == 'o' && v == 0xFFFF) ok = false;
                        for (uint32_t i = 0; i < cnt && ok; ++i) {
                            ok = word(&v);
                            l.words.push_back(v);
                        }
                    }
                }
            }
            if (!ok) {
                lines.push_back(Line{at, nullptr, {opw}, 2});
                at += 2;
                continue;
            }
            l.size = p - at;
            lines.push_back(l);
            at = p;
        }
        // Jump targets that fall on an instruction get labels.
        std::set<uint32_t> bounds;
        for (const Line &l : lines)
            bounds.insert(l.at - start);
        bounds.insert(at - start);
        std::set<uint32_t> targets;
        auto target = [&](const Line &l, char k, uint16_t v) -> int64_t {
            if (k == 'a' || k == 'N') return v;
            return int64_t(l.at - start + l.size) + int16_t(v);
        };
        for (const Line &l : lines) {
            if (!l.op) continue;
            size_t wi = 0;
            for (const char *sh = l.op->operands; *sh; ++sh) {
                char k = *sh;
                if (k == 'r' || k == 'a') {
                    int64_t t = target(l, k, l.words[wi]);
                    if (t >= 0 && bounds.count(uint32_t(t))) targets.insert(uint32_t(t));
                }
                if (k == 'N')
                    for (uint32_t i = 0; i < l.words[wi]; ++i)
                        if (bounds.count(l.words[wi + 1 + i])) targets.insert(l.words[wi + 1 + i]);
                wi += k == 'K' ? 2 : k == 'Q' ? 4 : 1;
                if (k == '$') break;
            }
        }
        auto label = [](uint32_t t) { return "L" + std::to_string(t); };
        for (const Line &l : lines) {
            uint32_t rel = l.at - start;
            if (targets.count(rel)) o << label(rel) << ":\n";
            if (!l.op) {
                o << "        .word " << l.words[0] << "\n";
                continue;
            }
            o << "        " << l.op->mnemonic;
            size_t wi = 0;
            bool first = true;
            auto sep = [&]() {
                o << (first ? " " : ", ");
                first = false;
            };
            for (const char *sh = l.op->operands; *sh; ++sh) {
                char k = *sh;
                uint16_t v = wi < l.words.size() ? l.words[wi] : 0;
                switch (k) {
                case 'b':
                case 'w':
                case 'd':
                case 'l':
                case 't':
                case 's':
                    sep();
                    o << data_name(k, v);
                    wi++;
                    break;
                case 'p':
                    sep();
                    if (v >= 1 && v <= nprogs)
                        o << "P" << v;
                    else
                        o << v;
                    wi++;
                    break;
                case 'r':
                case 'a': {
                    sep();
                    int64_t t = target(l, k, v);
                    if (t >= 0 && targets.count(uint32_t(t)))
                        o << label(uint32_t(t));
                    else
                        o << "#" << (k == 'r' ? int16_t(v) : v);
                    wi++;
                    break;
                }
                case 'K': {
                    sep();
                    uint32_t x = (uint32_t(l.words[wi]) << 16) | l.words[wi + 1];
                    char b[16];
                    std::snprintf(b, sizeof b, "0x%x", x);
                    o << b;
                    wi += 2;
                    break;
                }
                case 'Q': {
                    sep();
                    uint64_t x = 0;
                    for (int i = 0; i < 4; ++i)
                        x = (x << 16) | l.words[wi + i];
                    char b[24];
                    std::snprintf(b, sizeof b, "0x%" PRIx64, x);
                    o << b;
                    wi += 4;
                    break;
                }
                case '$': {
                    sep();
                    uint8_t bytes[512];
                    for (size_t i = wi; i < l.words.size(); ++i)
                        put_le16(bytes + 2 * (i - wi), l.words[i]);
                    o << quote(bytes + 1, bytes[0]);
                    wi = l.words.size();
                    break;
                }
                case 'n':
                case 'o':
                case 'N':
                case 'M':
                case 'P': {
                    uint32_t cnt = v + (k == 'o' ? 1u : 0u);
                    for (uint32_t i = 0; i < cnt; ++i) {
                        sep();
                        uint16_t x = l.words[wi + 1 + i];
                        if (k == 'N' && targets.count(x))
                            o << label(x);
                        else if (k == 'N')
                            o << "#" << x;
                        else if (k == 'P' && x >= 1 && x <= nprogs)
                            o << "P" << x;
                        else
                            o << x;
                    }
                    wi += 1 + cnt;
                    break;
                }
                default:
                    sep();
                    o << v;
                    wi++;
                    break;
                }
            }
            o << "\n";
        }
        if (targets.count(at - start)) o << label(at - start) << ":\n";
        if (at < end) throw Fail("odd byte at the end of a program");
    }
};

std::string image_text(const uint8_t *image, size_t size) {
    std::ostringstream o;
    o << "; an image the directives cannot describe: its bytes\n";
    if (size == 0) o << ".image\n";
    for (size_t i = 0; i < size; i += 16) {
        o << ".image";
        for (size_t j = i; j < size && j < i + 16; ++j) {
            char b[4];
            std::snprintf(b, sizeof b, " %02x", image[j]);
            o << b;
        }
        o << "\n";
    }
    return o.str();
}

} // namespace

std::string Iecasm_Disassemble(const uint8_t *image, size_t size) {
    if (size > 0xFFFFFFFFu || TrVMCode_CheckCode(TrCodeImage{image, uint32_t(size)}) != 0)
        return image_text(image, size);
    std::string text;
    try {
        Dis d;
        d.c = TrCodeImage{image, uint32_t(size)};
        d.text();
        text = d.o.str();
    } catch (const std::exception &) {
        return image_text(image, size);
    }
    // Only a text that gives the same bytes back is offered.
    IecAsmOutput out;
    if (!Iecasm_Assemble(text, &out, nullptr) || out.image.size() != size ||
        !std::equal(out.image.begin(), out.image.end(), image))
        return image_text(image, size);
    return text;
}

std::string Iecasm_DescribeDB(const uint8_t *image, size_t size) {
    std::ostringstream o;
    TrCodeImage c{image, uint32_t(std::min<size_t>(size, 0xFFFFFFFFu))};
    int check = TrVMCode_CheckCode(c);
    o << "check " << check << "\n";
    for (uint32_t i = 0; i < trcode::kHeaderWords && size >= trcode::kHeaderSize; ++i) {
        char b[40];
        std::snprintf(b, sizeof b, "word %u 0x%08x\n", i, TrVMCode_HeaderWord(c, i));
        o << b;
    }
    std::vector<uint8_t> header(trdb::kHeaderSize, 0);
    int r = TrVM_GetDBSize(c, header.data());
    o << "sizing " << r << "\n";
    if (r != 0) return o.str();
    TrVM_BuildDBMainLinks(header.data());
    o << "; segment pointer raw element count_a count_b allocated\n";
    for (uint32_t k = 0; k < trdb::kSegments; ++k) {
        VmDbSegment s = TrDB_GetSegment(header.data(), k);
        o << "segment " << k << " " << s.pointer << " " << s.raw_size << " " << s.element_size
          << " " << s.count_a << " " << s.count_b << " " << s.allocated << "\n";
    }
    o << "total " << TrVM_GetTotalDBSize(header.data()) << "\n";
    return o.str();
}
