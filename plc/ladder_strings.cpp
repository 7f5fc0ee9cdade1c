// String, block, clock and solar-position instructions (the network
// instructions of the family are set by their subsystem: system/ladder_services.cpp).
//
// Every handler advances the program counter over exactly its own operands,
// also when it fails, so that the rest of the scan stays aligned. A byte area,
// a text or a string variable is used only when it lies wholly inside the
// register area; otherwise the instruction fails (power flow cleared) and
// writes nothing. Texts without a terminating NUL end at the register area.
#include "base/le.h"
#include "platform/rtc.h"
#include "plc/ladder.h"
#include "plc/ladder_fam.h"
#include "plc/ladder_ops.h"
#include "plc/solar.h"
#include "regs/plc_reg.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr uint32_t kAreaEnd = reg::kESR + 0x200; // %IG .. end of %ESR

// Clears the state of the service handlers of the family (network).
void (*g_service_reset)() = nullptr;

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

// FMT: R byte destination, R word source, value kind, flag, field length,
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

// ATOV: decimal text to a 16-bit, 32-bit or float value.
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

// U64TOA: unsigned 64-bit value as decimal digits.
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

void string_instruction(LadString op) {
    uint32_t a_ref = Lad_WordRef(&lad_pc);
    uint32_t b_ref = Lad_WordRef(&lad_pc);
    uint16_t k1 = 0, k2 = 0;
    if (op == LadString::Mid) {
        k1 = Lad_Word(&lad_pc);
        k2 = Lad_Word(&lad_pc);
    } else if (op == LadString::Copy) {
        k1 = Lad_Word(&lad_pc);
    }
    if (lad_fault) return;
    uint8_t &top = Lad_Top();
    if (op == LadString::NotOnPanel) {
        top = 0;
        return;
    }
    if (op == LadString::ToReal || op == LadString::ToLreal) { // a: destination, b: string
        StrVar s = str_var(b_ref);
        uint8_t *dst = bytes_of_word(a_ref, op == LadString::ToReal ? 4 : 8);
        if (!s.p || !dst) {
            top = 0;
            return;
        }
        float f = parse_float(s);
        if (op == LadString::ToReal) {
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
    case LadString::Append: { // y to x
        unsigned room = x.capacity() - x.length();
        unsigned n = y.length() < room ? y.length() : room;
        std::memmove(x.chars() + x.length(), y.chars(), n);
        x.p[1] = uint8_t(x.length() + n);
        return;
    }
    case LadString::Equal:
        top = order != 0 ? 0 : x.length() == y.length();
        return;
    case LadString::Greater:
        top = order != 0 ? 0xFF : x.length() > y.length();
        return;
    case LadString::GreaterEq:
        top = order < 0 ? 0 : x.length() >= y.length();
        return;
    case LadString::Mid: { // x = k2 characters of y from position k1 (1-based)
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
    case LadString::Copy: { // x = y, at most k1 (<= 256) characters
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
    default:
        return;
    }
}

// ---------------------------------------------------------------------------
// %R blocks indexed by a register.

void indexed_block(LadRBlock op) {
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
        uint16_t max_type = op == LadRBlock::Fill ? 4 : 5;
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
    uint8_t *other = bytes_of_word(v_ref, op == LadRBlock::Fill ? 2u : 2u * n);
    if (!other) {
        top = 0;
        return;
    }
    switch (op) {
    case LadRBlock::FromOperand: // operand words into the block
        std::memmove(block, other, 2u * n);
        break;
    case LadRBlock::ToOperand: // block into the operand words
        std::memmove(other, block, 2u * n);
        break;
    case LadRBlock::Fill: // block filled with the operand word
        for (unsigned i = 0; i < n; ++i)
            std::memcpy(block + 2 * i, other, 2);
        break;
    case LadRBlock::Compare: // block compared with the operand words
        if (std::memcmp(block, other, 2u * n) != 0) top = 0;
        break;
    }
}

// SUNPOS: solar position from a UTC calendar (seconds first) and a place.
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
    if (g_service_reset) g_service_reset();
}

void Lad_SetServiceReset(void (*reset)()) {
    g_service_reset = reset;
}

void LadSpecial_Exec(uint16_t op) {
    // clang-format off
    constexpr LadHandler kOwn[] = {
        LadStr_Bytes, LadStr_InlineBytes, LadStr_TextToValue, LadStr_Format, LadStr_Length,
        LadStr_U64ToText, LadStr_BlockMove, LadStr_NotOnPanel, LadStr_String, LadStr_SetClock,
        LadStr_SetClockAt, LadStr_SunPosition, LadStr_RBlock, LadStr_Skip7,
    };
    // clang-format on
    const LadOp &o = Lad_Op(op);
    // The network instructions of the family are set by their subsystem.
    bool own = o.service;
    for (LadHandler h : kOwn)
        own = own || o.handler == h;
    if (own)
        o.handler(op, o.arg);
    else
        Ladder_SkipOperands(&lad_pc);
}

void LadStr_Bytes(uint16_t, uint8_t bytes) { // compare or copy n bytes of two areas
    uint8_t &top = Lad_Top();
    uint16_t n = Lad_Word(&lad_pc);
    uint32_t a_ref = Lad_WordRef(&lad_pc), b_ref = Lad_WordRef(&lad_pc);
    if (lad_fault) return;
    uint8_t *a = bytes_of_byte(a_ref, n), *b = bytes_of_byte(b_ref, n);
    if (!a || !b) {
        top = 0;
    } else if (LadBytes(bytes) == LadBytes::Compare) {
        if (std::memcmp(a, b, n) != 0) top = 0;
    } else {
        std::memmove(a, b, n);
    }
}

void LadStr_InlineBytes(uint16_t, uint8_t bytes) { // compare with or copy inline bytes
    uint8_t &top = Lad_Top();
    uint16_t n = Lad_Word(&lad_pc);
    uint32_t a_ref = Lad_WordRef(&lad_pc);
    const uint8_t *k = inline_bytes(&lad_pc, n);
    if (lad_fault) return;
    uint8_t *a = bytes_of_byte(a_ref, n);
    if (!a) {
        top = 0;
    } else if (LadBytes(bytes) == LadBytes::Compare) {
        if (std::memcmp(a, k, n) != 0) top = 0;
    } else {
        std::memcpy(a, k, n);
    }
}

void LadStr_TextToValue(uint16_t, uint8_t) {
    text_to_value();
}
void LadStr_Format(uint16_t, uint8_t) {
    format_value();
}

void LadStr_Length(uint16_t, uint8_t) { // length of a text
    uint8_t &top = Lad_Top();
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
}

void LadStr_U64ToText(uint16_t, uint8_t) {
    u64_to_text();
}

void LadStr_BlockMove(uint16_t, uint8_t) { // n words between byte offsets held in registers
    uint8_t &top = Lad_Top();
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
}

void LadStr_NotOnPanel(uint16_t, uint8_t) { // block instructions this panel does not have
    uint8_t &top = Lad_Top();
    Lad_WordRef(&lad_pc);
    Lad_WordRef(&lad_pc);
    Lad_Word(&lad_pc);
    if (!lad_fault) top = 0;
}

void LadStr_String(uint16_t, uint8_t string) {
    string_instruction(LadString(string));
}

void LadStr_SetClock(uint16_t, uint8_t) { // from seven registers
    uint8_t &top = Lad_Top();
    uint32_t ref = Lad_WordRef(&lad_pc);
    if (lad_fault || !top) return;
    const uint8_t *src = bytes_of_word(ref, 14);
    if (!src) {
        top = 0;
        return;
    }
    set_clock(src);
}

void LadStr_SetClockAt(uint16_t, uint8_t) { // from 14 bytes at a byte offset
    uint8_t &top = Lad_Top();
    uint32_t ref = Lad_WordRef(&lad_pc);
    if (lad_fault || !top) return;
    const uint8_t *p = bytes_of_word(ref, 4);
    const uint8_t *src = p ? area_at(le32(p), 14) : nullptr;
    if (!src) {
        top = 0;
        return;
    }
    set_clock(src);
}

void LadStr_SunPosition(uint16_t, uint8_t) {
    solar_position();
}

void LadStr_RBlock(uint16_t, uint8_t block) {
    indexed_block(LadRBlock(block));
}

void LadStr_Skip7(uint16_t, uint8_t) { // eight words; nothing more to do on this panel
    lad_pc += 7;
    if (lad_pc > lad_words) {
        lad_pc = lad_words;
        lad_fault = 1;
    }
}
