// String, block, clock, solar-position and network instructions.
//
// Every handler advances the program counter over exactly its own operands,
// also when it fails, so that the rest of the scan stays aligned. A byte area,
// a text or a string variable is used only when it lies wholly inside the
// register area; otherwise the instruction fails (power flow cleared) and
// writes nothing. Texts without a terminating NUL end at the register area.
#include "plc/ladder.h"
#include "plc/ladder_fam.h"
#include "plc/ladder_ops.h"
#include "base/le.h"
#include "plc/solar.h"
#include "regs/plc_reg.h"
#include "platform/rtc.h"
#include "system/run_ctrl.h"
#include "platform/tick.h"
#include "net/net.h"
#include "platform/can.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr uint32_t kAreaEnd = reg::kESR + 0x200; // %IG .. end of %ESR

// Persistent state of the node-number change (0x220).
struct NodeChange {
    int state = 0;
    uint32_t requested_at = 0; // tick of the last request
    int retry = 0;
};
NodeChange g_node;

// `n` bytes at a byte offset of the register area, or null.
uint8_t *area_at(uint64_t offset, uint64_t n) {
    if (offset + n > kAreaEnd) return nullptr;
    return plc_reg + offset;
}
// `n` bytes at a decoded byte or word reference, or null.
uint8_t *bytes_at(uint32_t ref, uint32_t n, bool byte_operand) {
    if (ref < 1024) return nullptr;
    uint64_t offset = byte_operand ? (ref - 1024) >> 3 : ((ref - 1024) >> 4) * 2;
    return area_at(offset, n);
}
uint8_t *bytes_of_byte(uint32_t ref, uint32_t n) {
    return bytes_at(ref, n, true);
}
uint8_t *bytes_of_word(uint32_t ref, uint32_t n) {
    return bytes_at(ref, n, false);
}

// A NUL-terminated text in the register area, cut at the area's end.
std::string text_at(const uint8_t *p) {
    size_t room = size_t(plc_reg + kAreaEnd - p);
    size_t len = strnlen(reinterpret_cast<const char *>(p), room);
    return std::string(reinterpret_cast<const char *>(p), len);
}

// A value-or-register word: a number up to 1024 (1023 for the network
// instructions), else the 16-bit content of the word it references.
uint16_t value_or_register(uint16_t word, uint16_t limit) {
    if (word <= limit) return word;
    const uint8_t *p = Lad_Word16(word);
    return p ? le16(p) : 0;
}

// The inline bytes of `n` bytes that follow the instruction, padded to whole
// words; null (with lad_fault set) when they run past the program.
const uint8_t *inline_bytes(uint32_t *pc, uint32_t n) {
    uint32_t words = (n + 1) / 2;
    if (uint64_t(*pc) + words > lad_words) {
        lad_fault = 1;
        *pc = lad_words;
        return nullptr;
    }
    const uint8_t *p = lad_prog + 2 * *pc;
    *pc += words;
    return p;
}

// ---------------------------------------------------------------------------
// Text formatting with a format that the program supplies.

// True when `format` holds exactly one conversion that takes the value kind's
// argument (an int for a 16-bit value, a double for a float) and nothing that
// reads further arguments, reads memory as a string or writes memory.
bool format_is_safe(const std::string &format, bool is_float) {
    int conversions = 0;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') continue;
        if (++i >= format.size()) return false;
        if (format[i] == '%') continue;
        while (i < format.size() && std::strchr("-+ #0", format[i]))
            ++i;
        while (i < format.size() && std::isdigit(static_cast<unsigned char>(format[i])))
            ++i;
        if (i < format.size() && format[i] == '.') {
            ++i;
            while (i < format.size() && std::isdigit(static_cast<unsigned char>(format[i])))
                ++i;
        }
        if (i >= format.size()) return false;
        char c = format[i];
        // A length modifier is accepted only where it does not change the
        // argument read: "l" before a floating conversion.
        if (c == 'l' && is_float && i + 1 < format.size()) c = format[++i];
        const char *allowed = is_float ? "fFeEgGaA" : "diouxXc";
        if (!std::strchr(allowed, c)) return false; // %n, %s, %*, %p, length modifiers ...
        ++conversions;
    }
    return conversions == 1;
}

// 0x0BB: R byte destination, R word source, value kind, flag, field length,
// 20 bytes of format text.
void format_value() {
    uint32_t dst_ref = Lad_WordRef(&lad_pc);
    uint32_t src_ref = Lad_WordRef(&lad_pc);
    uint16_t kind = Lad_Word(&lad_pc);
    uint16_t flag = Lad_Word(&lad_pc);
    uint16_t field = Lad_Word(&lad_pc);
    const uint8_t *text = inline_bytes(&lad_pc, 20);
    if (lad_fault) return;
    bool is_float = kind == 1;
    const uint8_t *src = bytes_of_word(src_ref, is_float ? 4 : 2);
    if (!src) {
        Lad_Top() = 0;
        return;
    }
    char out[40];
    std::string format(reinterpret_cast<const char *>(text),
                       strnlen(reinterpret_cast<const char *>(text), 20));
    if (!format_is_safe(format, is_float)) {
        Lad_Top() = 0;
        return;
    }
    int n;
    if (is_float) {
        uint32_t bits = le32(src);
        if ((bits & 0x7F800000u) == 0x7F800000u) { // infinity or NaN
            Lad_Top() = 0;
            return;
        }
        float f;
        std::memcpy(&f, &bits, 4);
        n = std::snprintf(out, sizeof out, format.c_str(), double(f));
    } else {
        // The flag asks for a signed reading of the 16-bit value.
        int v = flag ? int(int16_t(le16(src))) : int(le16(src));
        n = std::snprintf(out, sizeof out, format.c_str(), v);
    }
    if (n < 0) {
        Lad_Top() = 0;
        return;
    }
    // A field length writes exactly that many bytes (the text cut or padded
    // with NULs); without one the text and its NUL.
    size_t len = std::strlen(out);
    size_t write = field ? field : len + 1;
    uint8_t *dst = bytes_of_byte(dst_ref, uint32_t(write));
    if (!dst) {
        Lad_Top() = 0;
        return;
    }
    for (size_t i = 0; i < write; ++i)
        dst[i] = i < len ? uint8_t(out[i]) : 0;
}

// 0x0B8: decimal text to a 16-bit, 32-bit or float value.
void text_to_value() {
    uint32_t dst_ref = Lad_WordRef(&lad_pc);
    uint32_t src_ref = Lad_WordRef(&lad_pc);
    uint16_t kind = Lad_Word(&lad_pc);
    if (lad_fault || kind > 2) return;
    uint8_t *dst = bytes_of_word(dst_ref, kind == 0 ? 2 : 4);
    const uint8_t *src = bytes_of_byte(src_ref, 1);
    if (!dst || !src) {
        Lad_Top() = 0;
        return;
    }
    std::string text = text_at(src);
    if (kind == 0) {
        put_le16(dst, uint16_t(std::strtol(text.c_str(), nullptr, 10)));
    } else if (kind == 1) {
        put_le32(dst, uint32_t(std::strtoll(text.c_str(), nullptr, 10)));
    } else {
        float f = std::strtof(text.c_str(), nullptr);
        uint32_t bits;
        std::memcpy(&bits, &f, 4);
        put_le32(dst, bits);
    }
}

// 0x190: unsigned 64-bit value as decimal digits.
void u64_to_text() {
    uint32_t dst_ref = Lad_WordRef(&lad_pc);
    uint32_t src_ref = Lad_WordRef(&lad_pc);
    if (lad_fault) return;
    const uint8_t *src = bytes_of_word(src_ref, 8);
    if (!src) {
        Lad_Top() = 0;
        return;
    }
    uint64_t v = le32(src) | (uint64_t(le32(src + 4)) << 32);
    char digits[24];
    int n = std::snprintf(digits, sizeof digits, "%llu", static_cast<unsigned long long>(v));
    uint8_t *dst = bytes_of_byte(dst_ref, uint32_t(n + 1));
    if (!dst) {
        Lad_Top() = 0;
        return;
    }
    std::memcpy(dst, digits, size_t(n) + 1);
}

// ---------------------------------------------------------------------------
// String variables: capacity byte, length byte, characters. The operand names
// a register pair holding the variable's byte offset in the register image.

struct StrVar {
    uint8_t *p = nullptr; // null when the variable does not lie in the area
    uint8_t capacity() const { return p[0]; }
    uint8_t length() const { return p[1]; }
    uint8_t *chars() const { return p + 2; }
};

StrVar str_var(uint32_t ref) {
    StrVar s;
    const uint8_t *ptr = bytes_of_word(ref, 4);
    if (!ptr) return s;
    uint32_t offset = le32(ptr);
    const uint8_t *head = area_at(offset, 2);
    // The whole capacity must lie in the area, and the length within it.
    if (!head || !area_at(uint64_t(offset) + 2, head[0]) || head[1] > head[0]) return s;
    s.p = plc_reg + offset;
    return s;
}

float parse_float(const StrVar &s) {
    std::string text(reinterpret_cast<const char *>(s.chars()), s.length());
    return std::strtof(text.c_str(), nullptr);
}

void string_instruction(uint16_t op) {
    uint32_t a_ref = Lad_WordRef(&lad_pc);
    uint32_t b_ref = Lad_WordRef(&lad_pc);
    uint16_t k1 = 0, k2 = 0;
    if (op == 0x205) {
        k1 = Lad_Word(&lad_pc);
        k2 = Lad_Word(&lad_pc);
    } else if (op == 0x206) {
        k1 = Lad_Word(&lad_pc);
    }
    if (lad_fault) return;
    uint8_t &top = Lad_Top();
    if (op == 0x209 || op == 0x20A) { // not available on this panel
        top = 0;
        return;
    }
    if (op == 0x204 || op == 0x207) { // a: REAL or LREAL destination, b: string
        StrVar s = str_var(b_ref);
        uint8_t *dst = bytes_of_word(a_ref, op == 0x204 ? 4 : 8);
        if (!s.p || !dst) {
            top = 0;
            return;
        }
        float f = parse_float(s);
        if (op == 0x204) {
            uint32_t bits;
            std::memcpy(&bits, &f, 4);
            put_le32(dst, bits);
        } else {
            std::string text(reinterpret_cast<const char *>(s.chars()), s.length());
            double d = std::strtod(text.c_str(), nullptr);
            uint64_t bits;
            std::memcpy(&bits, &d, 8);
            put_le32(dst, uint32_t(bits));
            put_le32(dst + 4, uint32_t(bits >> 32));
        }
        return;
    }
    StrVar x = str_var(a_ref), y = str_var(b_ref);
    if (!x.p || !y.p) {
        top = 0;
        return;
    }
    unsigned common = x.length() < y.length() ? x.length() : y.length();
    int order = std::memcmp(x.chars(), y.chars(), common);
    switch (op) {
    case 0x200: { // append y to x
        unsigned room = x.capacity() - x.length();
        unsigned n = y.length() < room ? y.length() : room;
        std::memmove(x.chars() + x.length(), y.chars(), n);
        x.p[1] = uint8_t(x.length() + n);
        return;
    }
    case 0x201:
        top = order != 0 ? 0 : x.length() == y.length();
        return;
    case 0x202:
        top = order != 0 ? 0xFF : x.length() > y.length();
        return;
    case 0x203:
        top = order < 0 ? 0 : x.length() >= y.length();
        return;
    case 0x205: { // x = k2 characters of y from position k1 (1-based)
        if (k1 == 0 || k1 > y.length()) {
            x.p[1] = 0;
            top = k1 != 0 && k2 == 0;
            return;
        }
        unsigned avail = y.length() - (k1 - 1u);
        unsigned n = k2 < avail ? k2 : avail;
        if (n > x.capacity()) n = x.capacity();
        std::memmove(x.chars(), y.chars() + (k1 - 1), n);
        x.p[1] = uint8_t(n);
        return;
    }
    case 0x206: { // x = y, at most k1 (<= 256) characters
        if (k1 > 256) {
            top = 0;
            return;
        }
        unsigned n = y.length() < k1 ? y.length() : k1;
        if (n > x.capacity()) n = x.capacity();
        std::memmove(x.chars(), y.chars(), n);
        x.p[1] = uint8_t(n);
        return;
    }
    }
}

// ---------------------------------------------------------------------------
// %R blocks indexed by a register (0x05B, 0x061, 0x062, 0x063).

void indexed_block(uint16_t op) {
    uint32_t at = lad_pc;
    uint16_t w0 = Lad_Word(&at), w1 = Lad_Word(&at);
    if (lad_fault) return;
    uint8_t &top = Lad_Top();
    if (w0 == 0 && w1 == 0) {
        // Typed form: type code, a word giving the count of operand words of
        // that type that follow. The typed forms are not available on this
        // panel: they are stepped over and fail; a code out of range is
        // stepped over and leaves the power flow alone.
        uint16_t type = Lad_Word(&at);
        uint16_t words = Lad_Word(&at);
        if (lad_fault) return;
        if (uint64_t(at) + words > lad_words) {
            lad_fault = 1;
            return;
        }
        lad_pc = at + words;
        uint16_t max_type = op == 0x05B ? 4 : 5;
        if (type >= 1 && type <= max_type) top = 0;
        return;
    }
    uint32_t x_ref = Lad_WordRef(&lad_pc);
    uint32_t v_ref = Lad_WordRef(&lad_pc);
    uint16_t n = Lad_Word(&lad_pc);
    if (lad_fault) return;
    const uint8_t *xp = Lad_Word16(x_ref);
    if (!xp) return;
    uint32_t x = le16(xp);
    if (x == 0 || uint64_t(x) + n - 1 > 50240 || n == 0) {
        top = 0;
        return;
    }
    uint8_t *block = plc_reg + reg::kR + 2 * (x - 1);
    uint8_t *other = bytes_of_word(v_ref, op == 0x05B ? 2u : 2u * n);
    if (!other) {
        top = 0;
        return;
    }
    switch (op) {
    case 0x062: // operand words into the block
        std::memmove(block, other, 2u * n);
        break;
    case 0x061: // block into the operand words
        std::memmove(other, block, 2u * n);
        break;
    case 0x05B: // block filled with the operand word
        for (unsigned i = 0; i < n; ++i)
            std::memcpy(block + 2 * i, other, 2);
        break;
    case 0x063: // block compared with the operand words
        if (std::memcmp(block, other, 2u * n) != 0) top = 0;
        break;
    }
}

// ---------------------------------------------------------------------------
// Network instructions.

// Global words of a node: digital (in %IG/%QG) or analog (in %AIG/%AQG), at
// the word index of the reference within its area; -1 when the reference is
// in neither.
int global_index(uint32_t ref, bool *analog) {
    if (ref < 1024) return -1;
    uint32_t offset = ((ref - 1024) >> 4) * 2;
    if (offset >= reg::kIG && offset < reg::kS) { // %IG, %QG
        *analog = false;
        return int(((offset - reg::kIG) % (reg::kQG - reg::kIG)) / 2);
    }
    if (offset >= reg::kAIG && offset < reg::kSR) { // %AIG, %AQG
        *analog = true;
        return int(((offset - reg::kAIG) % (reg::kAQG - reg::kAIG)) / 2);
    }
    return -1;
}

void global_data(uint16_t op) {
    uint32_t local_ref = Lad_WordRef(&lad_pc);
    uint16_t node_word = Lad_Word(&lad_pc);
    uint32_t global_ref = Lad_WordRef(&lad_pc);
    uint16_t count = Lad_Word(&lad_pc);
    if (lad_fault) return;
    uint8_t &top = Lad_Top();
    uint8_t *local = bytes_of_word(local_ref, 2u * count);
    if (!local) {
        top = 0;
        return;
    }
    uint8_t *pending = old_reg + (local - plc_reg); // request-pending flag
    if (!top) {
        put_le16(pending, 0);
        return;
    }
    bool analog = false;
    int index = global_index(global_ref, &analog);
    int node = value_or_register(node_word, 1023);
    if (index < 0 || count == 0 || count > 32) {
        top = 0;
        return;
    }
    uint16_t words[32];
    if (op == 0x059) {
        if (sbit_get(sbit::kFirstScan) || le16(pending) == 0) {
            (analog ? Net_ReqAQG : Net_ReqQG)(node);
            put_le16(pending, 1);
        }
        if (!(analog ? Net_GetAQG : Net_GetQG)(node, index, words, count)) {
            top = 0;
            return;
        }
        for (unsigned i = 0; i < count; ++i)
            put_le16(local + 2 * i, words[i]);
        return;
    }
    // 0x058: the registers go out as the node's global words.
    put_le16(pending, 1);
    for (unsigned i = 0; i < count; ++i)
        words[i] = le16(local + 2 * i);
    if (!(analog ? Net_QueAQG : Net_QueQG)(node, index, words, count)) top = 0;
}

void heartbeat(uint16_t op) {
    uint32_t status_ref = Lad_WordRef(&lad_pc);
    uint16_t node_word = Lad_Word(&lad_pc);
    uint16_t period = Lad_Word(&lad_pc);
    if (lad_fault) return;
    uint8_t *status = Lad_Word16(status_ref);
    if (!status) return;
    uint16_t bit = op == 0x0D8 ? 1 : 2;
    uint8_t &top = Lad_Top();
    uint16_t st = le16(status);
    if (!top) {
        put_le16(status, uint16_t(st & ~bit));
        return;
    }
    int node = value_or_register(node_word, 1023);
    int arg = (sbit_get(sbit::kFirstScan) || !(st & bit)) ? 0 : period / 10;
    int ok;
    if (op == 0x0D9) {
        ok = Net_GetQHB(node, arg);
    } else if (period & 1) {
        ok = Net_PutIHB(node, arg);
    } else {
        int own = sr_get(sr::kNetId), ids = sr_get(sr::kNetIdCount);
        ok = node >= own && node < own + ids ? Net_PutQHB(node, arg) : 0;
    }
    if (ok)
        put_le16(status, uint16_t(st | bit));
    else
        top = 0;
}

// 0x220: change of the panel's node number with a test for a duplicate.
void node_number() {
    uint16_t word = Lad_Word(&lad_pc);
    if (lad_fault) return;
    uint8_t &top = Lad_Top();
    if (!top) return;
    int n = value_or_register(word, 1024);
    switch (g_node.state) {
    case 0:
        g_node.requested_at = 0;
        g_node.retry = 0;
        if (n == 0 || n > 254 - int(sr_get(sr::kNetIdCount))) {
            top = 0;
            return;
        }
        top = 1;
        if (n == sr_get(sr::kNetId)) return;
        sr_put(sr::kNetId, uint16_t(n));
        Plc_NetInit();
        Net_Test(3);
        if (!(_Can_Status(0) & 0x40)) {
            Plc_StopRxHandler();
            g_node.state = 1;
        } else {
            Net_Test(5);
        }
        return;
    case 1:
        Net_ReqQG(n);
        g_node.requested_at = FPGA_GetFrt();
        g_node.state = 2;
        break;
    case 2:
        Can_Isr();
        if (!_Can_GetEvent(0, 0)) Net_RxHandler();
        if (Net_Test(2) & 0x10) {
            Net_Test(4);
            g_node.state = 3;
        } else if (FPGA_GetFrt() - g_node.requested_at > 5000) {
            // One more request after the first half second, then give up.
            g_node.state = ++g_node.retry == 1 ? 1 : 3;
        }
        break;
    default:
        Plc_ResumeRxHandler();
        if (Net_Test(2) == 128) Net_Test(6);
        g_node.state = 0;
        break;
    }
    top = 1;
}

// 0x0F4: solar position from a UTC calendar (seconds first) and a place.
void solar_position() {
    uint32_t when_ref = Lad_WordRef(&lad_pc);
    uint32_t lat_ref = Lad_WordRef(&lad_pc);
    uint32_t lon_ref = Lad_WordRef(&lad_pc);
    uint32_t zenith_ref = Lad_WordRef(&lad_pc);
    uint32_t azimuth_ref = Lad_WordRef(&lad_pc);
    if (lad_fault) return;
    const uint8_t *when = bytes_of_word(when_ref, 12);
    const uint8_t *lat = bytes_of_word(lat_ref, 4);
    const uint8_t *lon = bytes_of_word(lon_ref, 4);
    uint8_t *zenith = bytes_of_word(zenith_ref, 4);
    uint8_t *azimuth = bytes_of_word(azimuth_ref, 4);
    if (!when || !lat || !lon || !zenith || !azimuth) {
        Lad_Top() = 0;
        return;
    }
    auto f32 = [](const uint8_t *p) {
        uint32_t bits = le32(p);
        float f;
        std::memcpy(&f, &bits, 4);
        return double(f);
    };
    auto put_f32 = [](uint8_t *p, double v) {
        float f = float(v);
        uint32_t bits;
        std::memcpy(&bits, &f, 4);
        put_le32(p, bits);
    };
    SunDateTime t{le16(when + 10), le16(when + 8), le16(when + 6),
                  le16(when + 4),  le16(when + 2), le16(when)};
    SunLocation place{f32(lon), f32(lat)};
    SunCoordinates result{};
    sunpos(t, place, &result);
    put_f32(zenith, result.zenith);
    put_f32(azimuth, result.azimuth);
}

void set_clock(const uint8_t *src) {
    uint16_t cal[7];
    for (int i = 0; i < 7; ++i)
        cal[i] = le16(src + 2 * i);
    Lad_Top() = RtcSet(cal) ? 1 : 0;
}

} // namespace

void LadSpecial_Reset() {
    g_node = NodeChange{};
}

void LadSpecial_Exec(uint16_t op) {
    uint8_t &top = Lad_Top();
    switch (op) {
    case 0x0B2:   // compare n bytes of two areas
    case 0x0B6: { // copy n bytes
        uint16_t n = Lad_Word(&lad_pc);
        uint32_t a_ref = Lad_WordRef(&lad_pc), b_ref = Lad_WordRef(&lad_pc);
        if (lad_fault) return;
        uint8_t *a = bytes_of_byte(a_ref, n), *b = bytes_of_byte(b_ref, n);
        if (!a || !b) {
            top = 0;
        } else if (op == 0x0B2) {
            if (std::memcmp(a, b, n) != 0) top = 0;
        } else {
            std::memmove(a, b, n);
        }
        return;
    }
    case 0x0B3:   // compare n bytes with inline bytes
    case 0x0B7: { // copy inline bytes
        uint16_t n = Lad_Word(&lad_pc);
        uint32_t a_ref = Lad_WordRef(&lad_pc);
        const uint8_t *k = inline_bytes(&lad_pc, n);
        if (lad_fault) return;
        uint8_t *a = bytes_of_byte(a_ref, n);
        if (!a) {
            top = 0;
        } else if (op == 0x0B3) {
            if (std::memcmp(a, k, n) != 0) top = 0;
        } else {
            std::memcpy(a, k, n);
        }
        return;
    }
    case 0x0B8:
        text_to_value();
        return;
    case 0x0BB:
        format_value();
        return;
    case 0x0BC: { // length of a text
        uint32_t dst_ref = Lad_WordRef(&lad_pc), src_ref = Lad_WordRef(&lad_pc);
        if (lad_fault) return;
        uint8_t *dst = Lad_Word16(dst_ref);
        const uint8_t *src = bytes_of_byte(src_ref, 1);
        if (!dst) return;
        if (!src) {
            top = 0;
            return;
        }
        put_le16(dst, uint16_t(text_at(src).size()));
        return;
    }
    case 0x190:
        u64_to_text();
        return;
    case 0x1F9: { // copy n words between byte offsets held in registers
        uint32_t a_ref = Lad_WordRef(&lad_pc), b_ref = Lad_WordRef(&lad_pc);
        uint16_t n = Lad_Word(&lad_pc);
        if (lad_fault || n == 0) return;
        const uint8_t *pa = bytes_of_word(a_ref, 4), *pb = bytes_of_word(b_ref, 4);
        uint8_t *dst = pa ? area_at(le32(pa), 2u * n) : nullptr;
        const uint8_t *src = pb ? area_at(le32(pb), 2u * n) : nullptr;
        if (!dst || !src) {
            top = 0;
            return;
        }
        // Byte by byte from the start, as the instruction is defined: an
        // overlapping destination behind the source repeats the first bytes.
        for (unsigned i = 0; i < 2u * n; ++i)
            dst[i] = src[i];
        return;
    }
    case 0x1FA:
    case 0x1FB:
    case 0x1FC:
    case 0x1FD:
    case 0x1FE:
    case 0x1FF: // not available on this panel
        Lad_WordRef(&lad_pc);
        Lad_WordRef(&lad_pc);
        Lad_Word(&lad_pc);
        if (!lad_fault) top = 0;
        return;
    case 0x200:
    case 0x201:
    case 0x202:
    case 0x203:
    case 0x204:
    case 0x205:
    case 0x206:
    case 0x207:
    case 0x209:
    case 0x20A:
        string_instruction(op);
        return;
    case 0x0E6: { // set the clock from seven registers
        uint32_t ref = Lad_WordRef(&lad_pc);
        if (lad_fault || !top) return;
        const uint8_t *src = bytes_of_word(ref, 14);
        if (!src) {
            top = 0;
            return;
        }
        set_clock(src);
        return;
    }
    case 0x208: { // set the clock from 14 bytes at a byte offset
        uint32_t ref = Lad_WordRef(&lad_pc);
        if (lad_fault || !top) return;
        const uint8_t *p = bytes_of_word(ref, 4);
        const uint8_t *src = p ? area_at(le32(p), 14) : nullptr;
        if (!src) {
            top = 0;
            return;
        }
        set_clock(src);
        return;
    }
    case 0x0F4:
        solar_position();
        return;
    case 0x220:
        node_number();
        return;
    case 0x058:
    case 0x059:
        global_data(op);
        return;
    case 0x0D8:
    case 0x0D9:
        heartbeat(op);
        return;
    case 0x05B:
    case 0x061:
    case 0x062:
    case 0x063:
        indexed_block(op);
        return;
    case 0x180: // eight words; nothing more to do on this panel
        lad_pc += 7;
        if (lad_pc > lad_words) {
            lad_pc = lad_words;
            lad_fault = 1;
        }
        return;
    default:
        Ladder_SkipOperands(&lad_pc);
        return;
    }
}
