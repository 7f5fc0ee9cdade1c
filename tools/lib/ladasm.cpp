// The ladder assembler and disassembler (see tools/lib/ladasm.h).
#include "tools/lib/ladasm.h"

#include "base/crc16.h"
#include "base/le.h"
#include "plc/ladder.h"
#include "plc/ladder_ops.h"
#include "regs/regname.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>

namespace {

// ---------------------------------------------------------------------------
// References: the extended areas are written 0x1000xxxx in 32-bit tokens and
// are folded into the image by the engine.

struct Area {
    uint32_t first, end, minus;
};
constexpr Area kExtended[] = {
    {0x10008000u, 0x1000C000u, 0x0FF3BC00u},
    {0x1001C000u, 0x10020000u, 0x0FF4BC00u},
    {0x10030000u, 0x10031000u, 0x0FF5BC00u},
};
// The 32-bit token the assembler writes for a decoded reference.
uint32_t unfold(uint32_t ref) {
    for (const Area &a : kExtended)
        if (ref >= a.first - a.minus && ref < a.end - a.minus) return ref + a.minus;
    return ref;
}

// "%R5" for a reference that names a register exactly, "%R5.3" for a bit
// inside a word register; empty when neither.
std::string name_of(uint32_t ref) {
    uint32_t ext = unfold(ref);
    std::string n = RegName_Format(ext, 1);
    if (n[0] == '%') return n;
    for (int bit = 1; bit < 16; ++bit) {
        if (ext < uint32_t(bit)) break;
        std::string w = RegName_Format(ext - uint32_t(bit), 16);
        uint32_t r = 0, b = 0;
        if (w[0] == '%' && RegName_Parse(w, &r, &b, nullptr) && b == 16)
            return w + "." + std::to_string(bit);
    }
    return "";
}

std::string hex(uint64_t v, int digits) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%0*llX", digits, static_cast<unsigned long long>(v));
    return buf;
}

std::string quote(const uint8_t *p, size_t n) {
    std::string s = "\"";
    for (size_t i = 0; i < n; ++i) {
        uint8_t c = p[i];
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\')
            s += char(c);
        else
            s += "\\x" + hex(c, 2).substr(2);
    }
    return s + "\"";
}

// ---------------------------------------------------------------------------
// Assembler.

struct Source {
    int line_no;
    std::string label, word;
    std::vector<std::string> operands;
};

class Assembler {
public:
    bool run(const std::string &text, std::vector<uint8_t> *out, std::string *error) {
        if (!parse(text)) return fail_out(error);
        // Pass 1 places the labels; instruction sizes never depend on them.
        for (int pass = 0; pass < 2; ++pass) {
            words_.clear();
            tail_.clear();
            tokens16_ = false;
            features_ = 0;
            trailer_ = true;
            for (const Source &s : lines_) {
                line_ = s.line_no;
                if (!s.label.empty()) {
                    if (pass == 0 && labels_.count(s.label)) {
                        fail("label defined twice: " + s.label);
                        return fail_out(error);
                    }
                    labels_[s.label] = uint32_t(words_.size());
                }
                if (s.word.empty()) continue;
                if (!tail_.empty()) {
                    fail(".byte must come last");
                    return fail_out(error);
                }
                pass_ = pass;
                if (!statement(s)) return fail_out(error);
            }
        }
        out->clear();
        for (uint16_t w : words_) {
            out->push_back(uint8_t(w));
            out->push_back(uint8_t(w >> 8));
        }
        out->insert(out->end(), tail_.begin(), tail_.end());
        if (trailer_) {
            uint32_t f = (features_ & ~0x8000u) | (tokens16_ ? 0x8000u : 0);
            for (int i = 0; i < 4; ++i)
                out->push_back(uint8_t(f >> (8 * i)));
            out->insert(out->end(), 5, 0);
        }
        return true;
    }

private:
    bool fail(const std::string &why) {
        if (error_.empty()) error_ = "line " + std::to_string(line_) + ": " + why;
        return false;
    }
    bool fail_out(std::string *error) {
        if (error) *error = error_;
        return false;
    }

    // Splits lines into label, mnemonic and comma-separated operands.
    bool parse(const std::string &text) {
        size_t at = 0;
        int no = 0;
        while (at <= text.size()) {
            size_t nl = text.find('\n', at);
            if (nl == std::string::npos) nl = text.size();
            std::string line = text.substr(at, nl - at);
            at = nl + 1;
            ++no;
            line_ = no;
            Source s{no, "", "", {}};
            // Cut the comment, outside strings.
            bool in_str = false;
            for (size_t i = 0; i < line.size(); ++i) {
                char c = line[i];
                if (in_str && c == '\\') {
                    ++i;
                    continue;
                }
                if (c == '"') in_str = !in_str;
                if (!in_str &&
                    (c == ';' || (c == '/' && i + 1 < line.size() && line[i + 1] == '/'))) {
                    line.resize(i);
                    break;
                }
            }
            if (in_str) return fail("unterminated string");
            size_t i = 0;
            auto skip = [&] {
                while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i])))
                    ++i;
            };
            skip();
            size_t start = i;
            while (i < line.size() && (std::isalnum(static_cast<unsigned char>(line[i])) ||
                                       line[i] == '_' || line[i] == '.'))
                ++i;
            std::string first = line.substr(start, i - start);
            if (i < line.size() && line[i] == ':' && !first.empty() && first[0] != '.') {
                s.label = first;
                ++i;
                skip();
                start = i;
                while (i < line.size() && (std::isalnum(static_cast<unsigned char>(line[i])) ||
                                           line[i] == '_' || line[i] == '.'))
                    ++i;
                first = line.substr(start, i - start);
            }
            s.word = first;
            skip();
            std::string rest = line.substr(i);
            if (!s.word.empty() && !rest.empty()) {
                std::string cur;
                bool str = false;
                for (size_t k = 0; k < rest.size(); ++k) {
                    char c = rest[k];
                    if (str && c == '\\' && k + 1 < rest.size()) {
                        cur += c;
                        cur += rest[++k];
                        continue;
                    }
                    if (c == '"') str = !str;
                    if (c == ',' && !str) {
                        s.operands.push_back(trim(cur));
                        cur.clear();
                    } else {
                        cur += c;
                    }
                }
                s.operands.push_back(trim(cur));
                for (const std::string &o : s.operands)
                    if (o.empty()) return fail("empty operand");
            } else if (s.word.empty() && !rest.empty()) {
                return fail("cannot read '" + trim(rest) + "'");
            }
            if (!s.label.empty() || !s.word.empty()) lines_.push_back(s);
            if (nl == text.size()) break;
        }
        return true;
    }

    static std::string trim(const std::string &s) {
        size_t a = 0, b = s.size();
        while (a < b && std::isspace(static_cast<unsigned char>(s[a])))
            ++a;
        while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1])))
            --b;
        return s.substr(a, b - a);
    }
    static std::string upper(std::string s) {
        for (char &c : s)
            c = char(std::toupper(static_cast<unsigned char>(c)));
        return s;
    }

    bool number(const std::string &text, int64_t lo, int64_t hi, int64_t *out) {
        std::string t = text;
        std::string u = upper(t);
        if (u.rfind("K16 ", 0) == 0 || u.rfind("K32 ", 0) == 0) t = trim(t.substr(4));
        if (t.empty()) return fail("missing number");
        errno = 0;
        char *end = nullptr;
        long long v;
        if (t[0] == '-')
            v = std::strtoll(t.c_str(), &end, 0);
        else
            v = static_cast<long long>(std::strtoull(t.c_str(), &end, 0));
        if (*end || errno == ERANGE ||
            !(std::isdigit(static_cast<unsigned char>(t[0])) || t[0] == '-'))
            return fail("not a number: '" + text + "'");
        if (v < lo || v > hi) return fail("value " + text + " out of range");
        *out = v;
        return true;
    }

    // A register operand: its reference, whether it was a raw token, and
    // whether the name is a bit (for operands whose kind the shape leaves open).
    struct Reg {
        uint32_t ref = 0;
        bool raw = false;
        bool bit = false;
    };
    bool is_register(const std::string &t) { return !t.empty() && (t[0] == '%' || t[0] == '@'); }
    bool reg(const std::string &t, Reg *r) {
        if (t[0] == '@') {
            int64_t v;
            if (!number(t.substr(1), 0, 0xFFFFFFFFll, &v)) return false;
            r->ref = uint32_t(v);
            r->raw = true;
            return true;
        }
        std::string name = t;
        int bit = -1;
        size_t dot = t.find('.');
        if (dot != std::string::npos) {
            int64_t b;
            if (!number(t.substr(dot + 1), 0, 15, &b)) return false;
            bit = int(b);
            name = t.substr(0, dot);
        }
        uint32_t ref = 0, bits = 0;
        std::string why;
        if (!RegName_Parse(name, &ref, &bits, &why)) return fail(t + ": " + why);
        if (bit >= 0 && bits != 16) return fail(t + ": a bit number needs a word register");
        r->ref = ref + uint32_t(bit < 0 ? 0 : bit);
        r->bit = bits == 1 || bit >= 0;
        return true;
    }

    void emit(uint16_t w) { words_.push_back(w); }
    void emit32(uint32_t v) {
        emit(uint16_t(v));
        emit(uint16_t(v >> 16));
    }

    // Writes a register token of the given kind.
    bool token(const Reg &r, char kind) {
        uint32_t ref = r.ref;
        if (!r.raw) {
            uint32_t folded = Lad_Fold(ref);
            if (!Lad_RefValid(folded, Lad_OperandBits(kind)))
                return fail(RegName_Format(ref, 1) + " lies outside the register image");
        }
        if (!tokens16_) {
            emit32(ref);
            return true;
        }
        if (ref <= 0xFFFF) {
            if (kind != 'b' && kind != 'r' && (ref == kLadEscape1 || ref == kLadEscape2))
                return fail("reference " + hex(ref, 4) +
                            " cannot be written as a 16-bit word token");
            emit(uint16_t(ref));
            return true;
        }
        if (kind == 'b' || kind == 'r' || ref > 0x2FFFF)
            return fail("reference " + hex(ref, 8) + " does not fit a 16-bit token");
        emit(ref < 0x20000 ? kLadEscape1 : kLadEscape2);
        emit(uint16_t(ref));
        return true;
    }

    bool string_bytes(const std::string &t, std::vector<uint8_t> *out) {
        if (t.size() < 2 || t.front() != '"' || t.back() != '"')
            return fail("expected a string: " + t);
        std::string body = t.substr(1, t.size() - 2);
        for (size_t i = 0; i < body.size(); ++i) {
            char c = body[i];
            if (c != '\\') {
                out->push_back(uint8_t(c));
                continue;
            }
            if (i + 1 >= body.size()) return fail("bad escape in " + t);
            char e = body[++i];
            if (e == 'x') {
                if (i + 2 >= body.size() ||
                    !std::isxdigit(static_cast<unsigned char>(body[i + 1])) ||
                    !std::isxdigit(static_cast<unsigned char>(body[i + 2])))
                    return fail("\\x needs two hex digits in " + t);
                out->push_back(uint8_t(std::strtoul(body.substr(i + 1, 2).c_str(), nullptr, 16)));
                i += 2;
            } else if (e == 'n') {
                out->push_back('\n');
            } else if (e == 't') {
                out->push_back('\t');
            } else if (e == '0') {
                out->push_back(0);
            } else if (e == '\\' || e == '"') {
                out->push_back(uint8_t(e));
            } else {
                return fail(std::string("unknown escape \\") + e);
            }
        }
        return true;
    }
    void emit_bytes(const std::vector<uint8_t> &b, size_t size) {
        for (size_t i = 0; i < size; i += 2) {
            uint8_t lo = i < b.size() ? b[i] : 0, hi = i + 1 < b.size() ? b[i + 1] : 0;
            emit(uint16_t(lo | (hi << 8)));
        }
    }

    // A jump target: a label or "#offset". The offset counts from the word
    // after the operand.
    bool target(const std::string &t, uint32_t after, int64_t *offset) {
        if (t[0] == '#') return number(t.substr(1), INT32_MIN, INT32_MAX, offset);
        auto it = labels_.find(t);
        if (it == labels_.end()) {
            if (pass_ == 0) {
                *offset = 0;
                return true;
            }
            return fail("unknown label " + t);
        }
        *offset = int64_t(it->second) - int64_t(after);
        return true;
    }

    bool directive(const Source &s) {
        std::string d = upper(s.word);
        int64_t v;
        if (d == ".TOKENS") {
            if (s.operands.size() != 1 || !number(s.operands[0], 16, 32, &v) ||
                (v != 16 && v != 32))
                return fail(".tokens takes 16 or 32");
            tokens16_ = v == 16;
            return true;
        }
        if (d == ".FEATURES") {
            if (s.operands.size() != 1 || !number(s.operands[0], 0, 0xFFFFFFFFll, &v)) return false;
            features_ = uint32_t(v);
            return true;
        }
        if (d == ".NOTRAILER") {
            trailer_ = false;
            return s.operands.empty() || fail(".notrailer takes nothing");
        }
        if (d == ".WORD") {
            for (const std::string &o : s.operands) {
                if (!number(o, -32768, 0xFFFF, &v)) return false;
                emit(uint16_t(v));
            }
            return true;
        }
        if (d == ".BYTE") {
            if (s.operands.size() != 1 || !number(s.operands[0], 0, 255, &v)) return false;
            tail_.push_back(uint8_t(v));
            return true;
        }
        return fail("unknown directive " + s.word);
    }

    bool statement(const Source &s) {
        if (s.word[0] == '.') return directive(s);
        std::string m = upper(s.word);
        const auto &ops = s.operands;
        if (m == "LD") {
            if (ops.size() != 1) return fail("LD takes one register");
            Reg r;
            if (!reg(ops[0], &r)) return false;
            if (r.ref >= kLadContactMin && r.ref <= 0xFFFF) {
                if (!r.raw && !Lad_RefValid(r.ref, 1))
                    return fail(ops[0] + " lies outside the register image");
                emit(uint16_t(r.ref));
                return true;
            }
            emit(0x01F);
            return token(r, 'b');
        }
        int code = Lad_Opcode(m.c_str());
        if (code < 0) return fail("unknown instruction " + s.word);
        const LadOp &op = Lad_Op(uint16_t(code));
        emit(uint16_t(code));
        size_t k = 0; // next text operand
        auto next = [&](const char *what) -> const std::string * {
            if (k >= ops.size()) {
                fail(s.word + " needs " + what);
                return nullptr;
            }
            return &ops[k++];
        };
        std::vector<uint8_t> inline_bytes;
        for (const char *c = op.shape; *c; ++c) {
            const std::string *t;
            int64_t v;
            switch (*c) {
            case '?':
                // Operands only the handler knows: plain values.
                while (k < ops.size()) {
                    const std::string &o = ops[k++];
                    if (is_register(o)) {
                        Reg r;
                        if (!reg(o, &r) || !token(r, r.bit ? 'b' : 'w')) return false;
                    } else if (upper(o).rfind("K32 ", 0) == 0) {
                        if (!number(o, INT32_MIN, 0xFFFFFFFFll, &v)) return false;
                        emit32(uint32_t(v));
                    } else {
                        if (!number(o, -32768, 0xFFFF, &v)) return false;
                        emit(uint16_t(v));
                    }
                }
                return true;
            case 'b':
            case 'w':
            case 'y':
            case 'd':
            case 'q':
            case 'r': {
                Reg r;
                if (!(t = next("a register")) || !reg(*t, &r)) return false;
                if (*c == 'r') {
                    if (r.ref > 0xFFFF) return fail(*t + " does not fit one word");
                    emit(uint16_t(r.ref));
                } else if (!token(r, *c)) {
                    return false;
                }
                break;
            }
            case 'v':
                if (!(t = next("a value or register"))) return false;
                if (is_register(*t)) {
                    Reg r;
                    if (!reg(*t, &r)) return false;
                    if (r.ref > 0xFFFF) return fail(*t + " does not fit one word");
                    emit(uint16_t(r.ref));
                } else {
                    if (!number(*t, 0, 0xFFFF, &v)) return false;
                    emit(uint16_t(v));
                }
                break;
            case 'V': {
                // A register token, or a number below 1024 written as a token.
                if (!(t = next("a value or register"))) return false;
                Reg r;
                if (is_register(*t)) {
                    if (!reg(*t, &r)) return false;
                } else {
                    if (!number(*t, 0, 1023, &v)) return false;
                    r.ref = uint32_t(v);
                    r.raw = true;
                }
                if (!token(r, 'V')) return false;
                break;
            }
            case 'k':
            case 'x':
                if (!(t = next("a value")) || !number(*t, -32768, 0xFFFF, &v)) return false;
                emit(uint16_t(v));
                break;
            case 'K':
                if (!(t = next("a 32-bit value")) || !number(*t, INT32_MIN, 0xFFFFFFFFll, &v))
                    return false;
                emit32(uint32_t(v));
                break;
            case 'Q': {
                if (!(t = next("a 64-bit value"))) return false;
                std::string n = *t;
                errno = 0;
                char *end = nullptr;
                uint64_t q = n[0] == '-' ? uint64_t(std::strtoll(n.c_str(), &end, 0))
                                         : std::strtoull(n.c_str(), &end, 0);
                if (n.empty() || *end || errno == ERANGE) return fail("not a number: '" + n + "'");
                emit32(uint32_t(q));
                emit32(uint32_t(q >> 32));
                break;
            }
            case 'j':
            case 'J': {
                if (!(t = next("a label"))) return false;
                uint32_t after = uint32_t(words_.size()) + (*c == 'j' ? 1 : 2);
                if (!target(*t, after, &v)) return false;
                if (*c == 'j') {
                    if (v < INT16_MIN || v > INT16_MAX)
                        return fail("jump to " + *t + " is too far for 16 bits");
                    emit(uint16_t(v));
                } else {
                    emit32(uint32_t(v));
                }
                break;
            }
            case 'n': {
                if (!(t = next("a label or count"))) return false;
                uint32_t after = uint32_t(words_.size()) + 1;
                if ((*t)[0] == '#' || std::isdigit(static_cast<unsigned char>((*t)[0]))) {
                    if (!number((*t)[0] == '#' ? t->substr(1) : *t, 0, 0xFFFF, &v)) return false;
                } else if (!target(*t, after, &v)) {
                    return false;
                }
                if (pass_ == 1 && (v < 0 || v > 0xFFFF))
                    return fail("skip to " + *t + " must go forward");
                emit(uint16_t(v < 0 ? 0 : v));
                break;
            }
            case 'L': {
                // The byte count of the inline bytes that follow.
                // The string is the operand of the 's' further on.
                size_t between = 0;
                for (const char *x = c + 1; *x && *x != 's'; ++x)
                    ++between;
                if (k + between >= ops.size()) return fail(s.word + " needs a string");
                inline_bytes.clear();
                if (!string_bytes(ops[k + between], &inline_bytes)) return false;
                if (inline_bytes.size() > 0xFFFF) return fail("string too long");
                emit(uint16_t(inline_bytes.size()));
                break;
            }
            case 's':
                if (!(t = next("a string"))) return false;
                inline_bytes.clear();
                if (!string_bytes(*t, &inline_bytes)) return false;
                emit_bytes(inline_bytes, inline_bytes.size());
                break;
            case 't': {
                std::vector<uint8_t> b;
                if (!(t = next("a 20-byte text")) || !string_bytes(*t, &b)) return false;
                if (b.size() > 20) return fail("text longer than 20 bytes");
                emit_bytes(b, 20);
                break;
            }
            default:
                return fail("bad shape");
            }
        }
        if (k != ops.size()) return fail(s.word + " takes fewer operands");
        return true;
    }

    std::vector<Source> lines_;
    std::map<std::string, uint32_t> labels_;
    std::vector<uint16_t> words_;
    std::vector<uint8_t> tail_;
    bool tokens16_ = false, trailer_ = true;
    uint32_t features_ = 0;
    int line_ = 0, pass_ = 0;
    std::string error_;
};

// ---------------------------------------------------------------------------
// Disassembler.

struct Layout {
    uint32_t code_bytes; // bytes of whole words before the trailer or last byte
    bool trailer;
    bool tokens16;
    uint32_t features;
};

Layout layout_of(const uint8_t *p, size_t n) {
    Layout l{uint32_t(n & ~size_t(1)), false, false, 0};
    uint32_t f = Ladder_Features(p, uint32_t(n));
    l.tokens16 = Ladder_Tokens16(f);
    // The trailer: the feature word and five zero bytes after whole words.
    if (n >= 9 && (n % 2) == 1 && p[n - 1] == 0 && p[n - 2] == 0 && p[n - 3] == 0 &&
        p[n - 4] == 0 && p[n - 5] == 0) {
        l.trailer = true;
        l.code_bytes = uint32_t(n - 9);
        l.features = f;
    }
    return l;
}

class Disassembler {
public:
    Disassembler(const uint8_t *p, size_t n) : p_(p), n_(n), l_(layout_of(p, n)) {}

    std::string run() {
        uint32_t words = l_.code_bytes / 2;
        // Sweep: each line is a decoded instruction or one raw word.
        std::vector<Item> items;
        for (uint32_t pos = 0; pos < words;) {
            Item it;
            it.pos = pos;
            if (decodable(pos, words, &it.ins)) {
                it.decoded = true;
                pos += it.ins.words;
            } else {
                pos += 1;
            }
            items.push_back(it);
        }
        std::set<uint32_t> starts;
        for (const Item &it : items)
            starts.insert(it.pos);
        starts.insert(words);
        for (const Item &it : items) {
            if (!it.decoded) continue;
            for (int i = 0; i < it.ins.count; ++i) {
                const LadOperand &o = it.ins.operand[i];
                uint32_t t = target_of(o);
                if (t != kNoTarget && starts.count(t)) labels_.insert(t);
            }
        }
        std::string out = "; disassembled ladder program\n";
        out += std::string(".tokens ") + (l_.tokens16 ? "16" : "32") + "\n";
        if (l_.trailer) {
            if (l_.features & ~0x8000u) out += ".features " + hex(l_.features & ~0x8000u, 4) + "\n";
        } else {
            out += ".notrailer\n";
        }
        for (const Item &it : items) {
            std::string label = labels_.count(it.pos) ? label_of(it.pos) + ":" : "";
            out += label + std::string(label.size() < 8 ? 8 - label.size() : 1, ' ');
            out += it.decoded ? text(it.ins) : ".word " + hex(le16(p_ + 2 * it.pos), 4);
            out += "\n";
        }
        if (labels_.count(words)) out += label_of(words) + ":\n";
        if (!l_.trailer && (n_ % 2)) out += "        .byte " + hex(p_[n_ - 1], 2) + "\n";
        return out;
    }

private:
    static constexpr uint32_t kNoTarget = 0xFFFFFFFFu;
    struct Item {
        uint32_t pos = 0;
        bool decoded = false;
        LadInstr ins{};
    };

    // An instruction that reassembles to the same words.
    bool decodable(uint32_t pos, uint32_t words, LadInstr *ins) {
        if (Lad_Decode(p_, words, pos, l_.tokens16, ins) != LadDecode::Ok) return false;
        if (ins->contact) return true;
        const LadOp &op = Lad_Op(ins->op);
        if (!op.name || ins->opaque) return false;
        for (int i = 0; i < ins->count; ++i) {
            const LadOperand &o = ins->operand[i];
            if (std::string("bwydqr").find(o.kind) != std::string::npos && reg_text(o).empty())
                return false;
            if (o.kind == 'V' && o.value >= 1024 && reg_text(o).empty()) return false;
            if (o.kind == 'V' && o.value < 1024 && o.raw != o.value) return false;
            // Odd inline bytes: the pad byte must be the assembler's 0.
            if (o.kind == 's' && (o.value % 2) && p_[2 * o.pos + o.value] != 0) return false;
        }
        return true;
    }

    static uint32_t target_of(const LadOperand &o) {
        if (o.kind == 'j' || o.kind == 'J') return o.value;
        if (o.kind == 'n') return o.pos + 1 + o.value;
        return kNoTarget;
    }

    static std::string label_of(uint32_t pos) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "L%u", pos);
        return buf;
    }

    // A register operand as the assembler writes it back to the same token.
    std::string reg_text(const LadOperand &o) const {
        uint32_t ref = o.value;
        std::string name = name_of(ref);
        if (o.kind == 'r') return name.empty() ? "@" + hex(o.raw, 4) : name;
        bool canonical;
        if (l_.tokens16) {
            canonical = true; // escapes and plain words are what the assembler writes
        } else {
            canonical = o.raw == unfold(ref);
        }
        if (!name.empty() && canonical && Lad_RefValid(ref, Lad_OperandBits(o.kind))) return name;
        if (l_.tokens16) {
            if (o.escape) return "";
            if (o.kind != 'b' && (o.raw == kLadEscape1 || o.raw == kLadEscape2)) return "";
            return "@" + hex(o.raw, 4);
        }
        return "@" + hex(o.raw, 8);
    }

    std::string text(const LadInstr &ins) {
        if (ins.contact) return "LD      " + reg_text_contact(ins.op);
        const LadOp &op = Lad_Op(ins.op);
        std::string s = op.name;
        std::string ops;
        for (int i = 0; i < ins.count; ++i) {
            const LadOperand &o = ins.operand[i];
            std::string t;
            switch (o.kind) {
            case 'L':
                continue;
            case 'b':
            case 'w':
            case 'y':
            case 'd':
            case 'q':
            case 'r':
                t = reg_text(o);
                break;
            case 'k':
                t = std::to_string(o.value);
                break;
            case 'x':
                t = hex(o.value, 4);
                break;
            case 'v':
                t = o.value >= 1024 && !name_of(o.value).empty() ? name_of(o.value)
                                                                 : std::to_string(o.value);
                break;
            case 'V':
                t = o.value < 1024 ? std::to_string(o.value) : reg_text(o);
                break;
            case 'K':
                t = std::to_string(o.value);
                break;
            case 'Q':
                t = hex(le64(p_ + 2 * o.pos), 16);
                break;
            case 'j':
            case 'J':
            case 'n': {
                uint32_t target = target_of(o);
                if (labels_.count(target)) {
                    t = label_of(target);
                } else {
                    int64_t off = o.kind == 'n'   ? int64_t(o.value)
                                  : o.kind == 'j' ? int64_t(int16_t(o.raw))
                                                  : int64_t(int32_t(o.raw));
                    t = "#" + std::to_string(off);
                }
                break;
            }
            case 's':
                t = quote(p_ + 2 * o.pos, o.value);
                break;
            case 't':
                t = quote(p_ + 2 * o.pos, 20);
                break;
            default:
                t = hex(o.raw, 4);
                break;
            }
            ops += (ops.empty() ? "" : ", ") + t;
        }
        if (ops.empty()) return s;
        s.resize(std::max<size_t>(s.size() + 1, 8), ' ');
        return s + ops;
    }

    std::string reg_text_contact(uint16_t w) const {
        std::string n = name_of(w);
        return n.empty() ? "@" + hex(w, 4) : n;
    }

    const uint8_t *p_;
    size_t n_;
    Layout l_;
    std::set<uint32_t> labels_;
};

} // namespace

bool Ladasm_Assemble(const std::string &source, std::vector<uint8_t> *program, std::string *error) {
    return Assembler().run(source, program, error);
}

std::vector<uint8_t> Ladasm_Block(const std::vector<uint8_t> &program) {
    std::vector<uint8_t> out(8);
    put_le32(out.data(), crc16(program.data(), program.size()));
    put_le32(out.data() + 4, uint32_t(program.size()));
    out.insert(out.end(), program.begin(), program.end());
    return out;
}

std::string Ladasm_Disassemble(const uint8_t *program, size_t bytes) {
    return Disassembler(program, bytes).run();
}

std::vector<uint8_t> Ladasm_ProgramOf(const std::vector<uint8_t> &file) {
    if (Ladasm_IsBlock(file)) return std::vector<uint8_t>(file.begin() + 8, file.end());
    return file;
}

bool Ladasm_IsBlock(const std::vector<uint8_t> &file) {
    return file.size() >= 8 && le32(file.data() + 4) == file.size() - 8;
}

bool Ladasm_HasTrailer(const std::vector<uint8_t> &program) {
    return layout_of(program.data(), program.size()).trailer;
}

std::vector<std::string> Ladasm_Warnings(const std::vector<uint8_t> &program) {
    std::vector<std::string> out;
    Layout l = layout_of(program.data(), program.size());
    uint32_t words = l.code_bytes / 2;
    // The stack depth is followed along the straight run from the start
    // (the engine starts a scan with the rail, one entry) up to the first
    // jump, call or instruction whose effect depends on its data.
    int depth = 1;
    bool known = true, end_found = false;
    for (uint32_t pos = 0; pos < words;) {
        LadInstr ins;
        if (Lad_Decode(program.data(), words, pos, l.tokens16, &ins) != LadDecode::Ok) {
            known = false;
            pos += 1;
            continue;
        }
        pos += ins.words;
        if (ins.contact) {
            depth += 1;
            continue;
        }
        const LadOp &op = Lad_Op(ins.op);
        if (!op.name) {
            known = known && Lad_Ignored(ins.op);
            continue;
        }
        if (op.flow == LadFlow::End) {
            if (known && !end_found && depth != 1)
                out.push_back("the logic stack holds " + std::to_string(depth) +
                              " entries at END (word " + std::to_string(ins.pos) +
                              "), the rail alone (1) expected");
            end_found = true;
            continue;
        }
        if (ins.opaque || op.pops < 0 || op.flow != LadFlow::Next) known = false;
        if (known) depth += op.pushes - op.pops;
        if (depth < 0) known = false;
    }
    if (!end_found) out.push_back("no END: the scan runs off the end of the program");
    return out;
}
