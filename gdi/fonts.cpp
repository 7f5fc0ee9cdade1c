// The built-in fonts. Every glyph is drawn from our own stroke design: a few
// polylines on a grid 5 points wide (x 0-4) and 9 high (y 0 the capital top,
// 2 the small-letter top, 6 the baseline, 8 the descender), each point two
// digits "xy", polylines separated by spaces, a lone point a dot. The strokes
// are scaled into each font's cell and stamped with a pen of the font's
// weight, once, when a font is first asked for.
#include "core/le.h"
#include "gdi/text.h"

#include <algorithm>
#include <cmath>
#include <string_view>
#include <vector>

namespace {

constexpr const char *kBox = "0141460601";

// Printable ASCII, 32 to 126.
constexpr const char *kGlyphs[95] = {
    "",                                 // space
    "2024 26",                          // !
    "1011 3031",                        // "
    "1016 3036 0242 0444",              // #
    "413010010213334445361605 2027",    // $
    "0640 00 46",                       // %
    "4612112031320405163644",           // &
    "2021",                             // '
    "30212536",                         // (
    "10212516",                         // )
    "2125 0234 0432",                   // *
    "2125 0343",                        // +
    "252617",                           // ,
    "0343",                             // -
    "26",                               // .
    "0640",                             // /
    "103041453616050110 0541",          // 0
    "112026 1636",                      // 1
    "01103041420646",                   // 2
    "004022324345361605",               // 3
    "36300444",                         // 4
    "400002324345361605",               // 5
    "30100105163645433202",             // 6
    "004016",                           // 7
    "10304142331304051636454433 13020110", // 8
    "16364541301001031444",             // 9
    "22 25",                            // :
    "22 252617",                        // ;
    "400346",                           // <
    "0242 0444",                        // =
    "004306",                           // >
    "01103041422324 26",                // ?
    "343212144441301001051646",         // @
    "062046 1434",                      // A
    "06003041423303 3344453606",        // B
    "4130100105163645",                 // C
    "00304145360600",                   // D
    "40000646 0333",                    // E
    "400006 0333",                      // F
    "41301001051636454323",             // G
    "0006 4046 0343",                   // H
    "1030 2026 1636",                   // I
    "4045361605",                       // J
    "0006 4004 2246",                   // K
    "000646",                           // L
    "0600234046",                       // M
    "06004640",                         // N
    "103041453616050110",               // O
    "06003041423303",                   // P
    "103041453616050110 2446",          // Q
    "06003041423303 2346",              // R
    "413010010213334445361605",         // S
    "0040 2026",                        // T
    "000516364540",                     // U
    "002640",                           // V
    "0016233640",                       // W
    "0046 4006",                        // X
    "002340 2326",                      // Y
    "00400646",                         // Z
    "30101636",                         // [
    "0046",                             // backslash
    "10303616",                         // ]
    "022042",                           // ^
    "0747",                             // _
    "1021",                             // `
    "12324346 441405163645",            // a
    "00063645433202",                   // b
    "421203051646",                     // c
    "40461605031242",                   // d
    "044443321203051646",               // e
    "4130201116 0232",                  // f
    "4247381807 421203051646",          // g
    "0006 02324346",                    // h
    "2226 20",                          // i
    "22271808 20",                      // j
    "0006 4205 2446",                   // k
    "101526",                           // l
    "0602 03122326 23324346",           // m
    "0602 0312324346",                  // n
    "123243453616050312",               // o
    "0208 023243453606",                // p
    "4248 421203051646",                // q
    "0206 03123243",                    // r
    "4212031434453606",                 // s
    "10152636 0232",                    // t
    "0205163645 4246",                  // u
    "022642",                           // v
    "0216243642",                       // w
    "0246 4206",                        // x
    "0226 4218",                        // y
    "02420646",                         // z
    "30212213242536",                   // {
    "2026",                             // |
    "10212231242516",                   // }
    "03123443",                         // ~
};

struct Spec {
    int id;
    const char *name;
    int ascent, descent, m3, m4, max_width, avg_width, first, last, deflt, bpr;
};
constexpr Spec kSpecs[] = {
    {0, "5x7 Font", 8, 2, 1, 0, 6, 6, 8, 255, 31, 1},
    {1, "San Seirf 10", 13, 3, 3, 0, 14, 7, 31, 255, 31, 2},
    {2, "Unnamed", 19, 5, 3, 1, 21, 11, 31, 255, 31, 3},
    {3, "Unnamed", 27, 6, 4, 1, 30, 16, 31, 255, 31, 4},
    {4, "San Serif 30", 38, 9, 6, 1, 43, 22, 30, 255, 31, 6},
    {5, "San Serif 40", 53, 13, 8, 2, 59, 31, 30, 255, 31, 8},
    {32, "sys", 12, 3, 3, 0, 8, 8, 8, 255, 31, 1},
};
constexpr int kSpecCount = int(sizeof kSpecs / sizeof kSpecs[0]);

struct Point {
    int x, y;
};
using Strokes = std::vector<std::vector<Point>>;

Strokes parse(std::string_view s) {
    Strokes out;
    std::vector<Point> cur;
    for (size_t i = 0; i < s.size();) {
        if (s[i] == ' ') {
            if (!cur.empty()) out.push_back(cur);
            cur.clear();
            ++i;
            continue;
        }
        cur.push_back({s[i] - '0', s[i + 1] - '0'});
        i += 2;
    }
    if (!cur.empty()) out.push_back(cur);
    return out;
}

const char *design(int code) {
    if (code >= 32 && code <= 126) return kGlyphs[code - 32];
    return kBox;
}

// One glyph rendered into a w x h one-bit cell of `bpr` bytes a row.
struct Raster {
    int bpr, h, w;
    std::vector<uint8_t> rows;
    void set(int x, int y) {
        if (x < 0 || y < 0 || x >= w || y >= h) return;
        rows[size_t(y * bpr + x / 8)] |= uint8_t(0x80 >> (x % 8));
    }
};

struct Scale {
    double sx, sy, sd; // grid to pixels: across, above the baseline, below it
    int base;          // pixel row of the baseline (y = 6)
    int pen;           // stamp size
};

Scale scale_for(const Spec &s) {
    Scale k;
    k.base = s.ascent - 1;
    const int margin = std::max(1, s.ascent / 10);
    k.sy = double(s.ascent - 1 - margin) / 6.0;
    k.pen = std::max(1, int(std::lround(k.sy / 2.6)));
    k.sd = std::max(0.5, double(s.descent - 1 - (k.pen - 1) / 2) / 2.0);
    const bool fixed = s.max_width == s.avg_width;
    k.sx = fixed ? double(s.max_width - 2) / 4.0 : k.sy * 0.8;
    return k;
}

int row_of(const Scale &k, double y) {
    return int(std::lround(y <= 6 ? k.base - (6 - y) * k.sy : k.base + (y - 6) * k.sd));
}

// Draws the strokes shifted left by `shift` grid units; returns nothing.
void render(Raster &r, const Strokes &strokes, const Scale &k, double shift, int x0) {
    const int lo = -(k.pen - 1) / 2;
    auto stamp = [&](double gx, double gy) {
        const int px = x0 + int(std::lround((gx - shift) * k.sx)), py = row_of(k, gy);
        for (int dy = 0; dy < k.pen; ++dy)
            for (int dx = 0; dx < k.pen; ++dx)
                r.set(px + dx + (x0 ? lo : 0), py + dy + lo);
    };
    for (const auto &line : strokes) {
        if (line.size() == 1) stamp(line[0].x, line[0].y);
        for (size_t i = 1; i < line.size(); ++i) {
            const Point a = line[i - 1], b = line[i];
            const int steps = 4 * int(std::ceil(std::max(std::abs(b.x - a.x) * k.sx,
                                                          std::abs(b.y - a.y) * std::max(k.sy, k.sd)))) +
                              1;
            for (int s = 0; s <= steps; ++s) {
                const double t = double(s) / steps;
                stamp(a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t);
            }
        }
    }
}

std::vector<uint8_t> build(const Spec &s) {
    const int h = s.ascent + s.descent;
    const bool fixed = s.max_width == s.avg_width;
    const Scale k = scale_for(s);
    const int count = s.last - s.first + 1;
    const size_t glyph = size_t(s.bpr * h) + (fixed ? 0 : 1);
    std::vector<uint8_t> rec(kFontHeader + glyph * size_t(count), 0);
    for (int i = 0; i < 64 && s.name[i]; ++i)
        rec[size_t(i)] = uint8_t(s.name[i]);
    const int fields[] = {s.ascent, s.descent, s.m3, s.m4, s.max_width, s.avg_width, 0, 0,
                          s.first, s.last, s.deflt, s.bpr};
    for (int i = 0; i < 12; ++i)
        put_le32(&rec[size_t(64 + 4 * i)], uint32_t(fields[i]));
    for (int code = s.first; code <= s.last; ++code) {
        const Strokes st = parse(design(code));
        Raster r{s.bpr, h, fixed ? s.avg_width : std::min(s.max_width, s.bpr * 8), {}};
        r.rows.assign(size_t(s.bpr * h), 0);
        int width = s.avg_width;
        if (fixed) {
            render(r, st, k, 0, 0);
        } else {
            int mn = 4, mx = 0;
            for (const auto &l : st)
                for (const Point &p : l)
                    mn = std::min(mn, p.x), mx = std::max(mx, p.x);
            if (st.empty()) mn = 0, mx = 2; // space
            const int gap = std::max(1, k.pen);
            width = std::min(s.max_width, int(std::lround((mx - mn) * k.sx)) + k.pen + gap + 1);
            r.w = width;
            render(r, st, k, mn, 1);
        }
        uint8_t *g = &rec[kFontHeader + glyph * size_t(code - s.first)];
        if (!fixed) *g++ = uint8_t(width);
        std::copy(r.rows.begin(), r.rows.end(), g);
    }
    return rec;
}

struct FontState {
    std::vector<uint8_t> fonts[kSpecCount];
};
FontState g_fonts; // built once; read-only afterwards, so no reset is needed

} // namespace

const FontRec *Font_BuiltIn(int id) {
    if (id == 6 || id == 7) id = 5;
    for (int i = 0; i < kSpecCount; ++i) {
        if (kSpecs[i].id != id) continue;
        if (g_fonts.fonts[i].empty()) g_fonts.fonts[i] = build(kSpecs[i]);
        return reinterpret_cast<const FontRec *>(g_fonts.fonts[i].data());
    }
    return nullptr;
}
