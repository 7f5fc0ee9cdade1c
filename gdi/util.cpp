// Values inside packed records, value scaling and string helpers.
#include "gdi/util.h"
#include "base/le.h"
#include "gdi/text.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

struct State {
    float f32_last = 0;
};
State g;

// The lines of a counted multi-line string end in a code of 3 or less.
template <class T> bool ends_line(T c) {
    return unsigned(c) <= 3;
}

template <class T> unsigned line_count(const T *text) {
    return unsigned(text[-1]);
}

template <class T> int string_width(DC *dc, const T *text) {
    if (!dc || !dc->font || !text) return 0;
    int widest = 0;
    const T *p = text;
    for (unsigned line = 0, n = line_count(text); line < n; ++line) {
        int w = 0;
        for (; !ends_line(*p); ++p) {
            int cw = 0;
            GDI_GetFontChar(dc->font, int(*p), &cw);
            w += cw;
        }
        widest = std::max(widest, w);
        ++p; // past the line's end
    }
    return widest;
}

// Rewrapping into dst (count at dst[0], lines from dst[1], each ended by 0).
template <class T> class Wrapper {
public:
    Wrapper(T *dst, int max_lines, int max_chars)
        : dst_(dst), max_lines_(max_lines), max_chars_(max_chars) {}

    // false once the text no longer fits.
    bool put(T c) {
        if (len_ < max_chars_ && !pending_) {
            dst_[start_ + len_++] = c;
            return true;
        }
        if (c == T(' ')) { // a blank at a full line: the break, if more follows
            pending_ = true;
            return true;
        }
        if (lines_ == max_lines_) {
            cut_back();
            return false;
        }
        if (pending_) {
            dst_[start_ + len_] = 0;
            start_ += len_ + 1;
            len_ = 0;
        } else {
            // Break at the line's last blank: what follows it moves down as
            // the new line, already in place.
            int blank = -1;
            for (int i = len_ - 1; i > 0 && blank < 0; --i)
                if (dst_[start_ + i] == T(' ')) blank = i;
            dst_[start_ + (blank < 0 ? len_ : blank)] = 0;
            if (blank < 0) {
                start_ += len_ + 1;
                len_ = 0;
            } else {
                start_ += blank + 1;
                len_ -= blank + 1;
            }
        }
        pending_ = false;
        ++lines_;
        dst_[start_ + len_++] = c;
        return true;
    }

    T *finish() {
        if (lines_ == 0) len_ = 0;
        dst_[start_ + len_] = 0;
        dst_[0] = T(lines_);
        return dst_ + 1;
    }

    void first_line() {
        if (lines_ == 0) lines_ = 1;
    }

private:
    // The last line cut back to a blank, then " ..." within the line's room.
    void cut_back() {
        const int keep_max = max_chars_ - 4;
        int keep = std::max(keep_max, 0);
        for (int i = std::min(len_ - 1, keep_max); i > 0; --i)
            if (dst_[start_ + i] == T(' ')) {
                keep = i;
                break;
            }
        keep = std::min(keep, len_);
        const char tail[] = " ...";
        len_ = keep;
        for (int i = 0; i < 4 && len_ < max_chars_; ++i)
            dst_[start_ + len_++] = T(tail[i]);
    }

    T *dst_;
    int max_lines_, max_chars_;
    int lines_ = 0, start_ = 1, len_ = 0;
    bool pending_ = false;
};

template <class T> T *limit_multi(T *dst, const T *src, int max_lines, int max_chars) {
    max_lines = std::min(max_lines, int((1u << (8 * sizeof(T))) - 1)); // the count's width
    if (!dst) return nullptr;
    Wrapper<T> w(dst, max_lines, max_chars);
    if (!src || max_lines < 1 || max_chars < 1) return w.finish();
    const T *p = src;
    const unsigned n = line_count(src);
    for (unsigned line = 0; line < n; ++line) {
        for (; !ends_line(*p); ++p) {
            w.first_line();
            if (!w.put(*p)) return w.finish();
        }
        const T end = *p++;
        // Lines run on into one text: with a blank, or without after code 1.
        if (line + 1 < n && end != 1) {
            w.first_line();
            if (!w.put(T(' '))) return w.finish();
        }
    }
    return w.finish();
}

} // namespace

uint32_t UTIL_GetDword(const void *address) {
    return le32(address);
}

void UTIL_PutDword(void *address, uint32_t value) {
    put_le32(address, value);
}

float UTIL_GetFloat(const void *address) {
    return std::bit_cast<float>(le32(address));
}

double UTIL_GetDouble(const void *address) {
    return std::bit_cast<double>(le64(address));
}

void UTIL_PutDouble(void *address, double value) {
    put_le64(address, std::bit_cast<uint64_t>(value));
}

uint16_t UTIL_U16Scale(int value, int bits, int max, int min, int range) {
    if (bits != 16) return 0;
    const int hi = int16_t(max), lo = int16_t(min), v = std::min<int>(int16_t(value), hi);
    if (hi == lo || v < lo) return 0;
    return uint16_t(int64_t(range) * (v - lo) / (hi - lo));
}

uint16_t UTIL_S16Scale(int value, int bits, int max, int min, int range) {
    if (bits != 16) return 0;
    const int hi = int16_t(max), lo = int16_t(min);
    const int span = hi < 0 ? lo - hi : hi - lo;
    if (span == 0) return 0;
    int v = std::min<int>(int16_t(value), hi);
    v = std::max(v, lo);
    const int offset = lo >= 0 ? v - lo : hi < 0 ? lo - v : v;
    return uint16_t(int64_t(range) * offset / span);
}

uint16_t UTIL_U16Unscale(int position, int bits, int max, int min, int range) {
    if (bits != 16) return 0;
    const int hi = int16_t(max), lo = int16_t(min);
    if (hi == lo) return 0;
    if (range <= 0) return uint16_t(lo); // no pixels: the minimum
    const int pos = std::clamp(position, 0, range);
    return uint16_t(int64_t(hi - lo) * pos / range + lo);
}

float UTIL_F32Scale(int value, int bits, int max, int min, float range) {
    float result = 0;
    const int hi = int16_t(max), lo = int16_t(min), v = std::min<int>(int16_t(value), hi);
    if (bits == 16 && hi != lo && v >= lo) result = float(v - lo) / float(hi - lo) * range;
    g.f32_last = result;
    return result;
}

float UTIL_F32Last() {
    return g.f32_last;
}

int UTIL_WordStrLen(const uint16_t *s) {
    int n = 0;
    while (n < kUtilMaxWordChars && s[n])
        ++n;
    return n;
}

uint16_t *UTIL_WordStrCpy(uint16_t *dst, const uint16_t *src) {
    const int n = UTIL_WordStrLen(src);
    std::memmove(dst, src, size_t(n) * sizeof *dst);
    dst[n] = 0;
    return dst;
}

uint16_t *UTIL_WordStrNCat(uint16_t *dst, const uint16_t *src, int n) {
    const int have = UTIL_WordStrLen(dst);
    int k = 0;
    const int room = std::min(n, kUtilMaxWordChars - have);
    while (k < room && src[k]) {
        dst[have + k] = src[k];
        ++k;
    }
    dst[have + k] = 0;
    return dst;
}

int UTIL_StrLen(const void *s) {
    if (PGM_UnicodePresent) return UTIL_WordStrLen(static_cast<const uint16_t *>(s));
    return int(std::strlen(static_cast<const char *>(s)));
}

void *UTIL_StrCpy(void *dst, const void *src) {
    if (PGM_UnicodePresent)
        return UTIL_WordStrCpy(static_cast<uint16_t *>(dst), static_cast<const uint16_t *>(src));
    return std::strcpy(static_cast<char *>(dst), static_cast<const char *>(src));
}

void *UTIL_StrNCat(void *dst, const void *src, int n) {
    if (PGM_UnicodePresent)
        return UTIL_WordStrNCat(static_cast<uint16_t *>(dst), static_cast<const uint16_t *>(src),
                                n);
    return std::strncat(static_cast<char *>(dst), static_cast<const char *>(src),
                        size_t(std::max(n, 0)));
}

int UTIL_StringLines(const void *text) {
    if (!text) return 0;
    if (PGM_UnicodePresent) return int(line_count(static_cast<const uint16_t *>(text)));
    return int(line_count(static_cast<const uint8_t *>(text)));
}

int UTIL_StringWidth(DC *dc, const void *text) {
    if (PGM_UnicodePresent) return string_width(dc, static_cast<const uint16_t *>(text));
    return string_width(dc, static_cast<const uint8_t *>(text));
}

char *UTIL_ByteLimitMultiStr(char *dst, const char *src, int max_lines, int max_chars) {
    uint8_t *r = limit_multi(reinterpret_cast<uint8_t *>(dst),
                             reinterpret_cast<const uint8_t *>(src), max_lines, max_chars);
    return reinterpret_cast<char *>(r);
}

uint16_t *UTIL_WordLimitMultiStr(uint16_t *dst, const uint16_t *src, int max_lines, int max_chars) {
    return limit_multi(dst, src, max_lines, max_chars);
}

void *UTIL_LimitMultiStr(void *dst, const void *src, int max_lines, int max_chars) {
    if (PGM_UnicodePresent)
        return UTIL_WordLimitMultiStr(static_cast<uint16_t *>(dst),
                                      static_cast<const uint16_t *>(src), max_lines, max_chars);
    return UTIL_ByteLimitMultiStr(static_cast<char *>(dst), static_cast<const char *>(src),
                                  max_lines, max_chars);
}

void UTIL_Reset() {
    g = State{};
}
