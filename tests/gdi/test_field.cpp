// Data fields: every format's text at and around its limits (expected texts
// computed here with printf), editing keys, time, date and timer templates,
// enumerations, IP addresses, literal text and bars.
#include "base/le.h"
#include "gdi/field.h"
#include "plc/appblocks.h"
#include "support/block_poison.h"
#include "support/panel_fixture.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

using namespace fld;

constexpr uint8_t D(int d) {
    return uint8_t(kDigit0 + d);
}

class FieldTest : public PanelTest {
protected:
    FLD make(int format, int digits, int decimals = 0, uint32_t min = 0,
             uint32_t max = 0xFFFFFFFF) {
        FLD f{};
        f.format = uint8_t(format);
        f.digits = uint8_t(digits);
        f.decimals = uint8_t(decimals);
        f.min = min;
        f.max = max;
        f.text = buf;
        f.tapCount = 255;
        return f;
    }
    std::string text() const { return buf; }
    char buf[600] = {};
};

uint32_t fbits(float v) {
    uint32_t b;
    std::memcpy(&b, &v, 4);
    return b;
}

// ---------------------------------------------------------------------------
// Integers: the text printf gives for the same value, width and point.

std::string rep(char c, int n) {
    return std::string(size_t(n), c);
}

std::string printf_int(int format, int digits, int decimals, bool fill, uint32_t v) {
    int base = format == 0 || format == 10 ? 2 : format == 3 ? 16 : 10;
    bool neg = format == 2 && int32_t(v) < 0;
    uint32_t mag = neg ? 0u - v : v;
    char b[64];
    if (base == 10)
        std::snprintf(b, sizeof b, "%0*u", digits, mag);
    else if (base == 16)
        std::snprintf(b, sizeof b, "%0*X", digits, mag);
    else {
        std::string s;
        for (int i = digits - 1; i >= 0; --i)
            s += char('0' + ((mag >> i) & 1));
        std::snprintf(b, sizeof b, "%s", s.c_str());
    }
    std::string s = b;
    if (decimals > 0) s.insert(s.size() - size_t(decimals), ".");
    if (!fill) {
        // Leading zeros go, down to the digit left of the point.
        size_t keep = decimals > 0 ? s.size() - size_t(decimals) - 2 : s.size() - 1;
        size_t z = 0;
        while (z < keep && s[z] == '0')
            ++z;
        s = s.substr(z);
    }
    return (neg ? "-" : "") + s;
}

TEST_F(FieldTest, IntegerFormatsAtAndAroundTheirLimits) {
    struct Row {
        int format, digits, decimals;
        bool fill;
        uint32_t min, max;
        std::vector<uint32_t> values;
    };
    const uint32_t kMax = 0xFFFFFFFF;
    // clang-format off
    const std::vector<Row> rows = {
        {1, 4, 0, false, 0, 9999, {0, 1, 9, 10, 999, 1000, 9998, 9999}},
        {1, 4, 2, false, 0, 9999, {0, 5, 99, 100, 1234, 9999}},
        {1, 4, 2, true, 0, 9999, {0, 5, 1234}},
        {1, 10, 0, false, 0, kMax, {0, 4294967295u, 1000000000, 999999999}},
        {1, 10, 3, false, 0, kMax, {4294967295u, 1}},
        {2, 5, 0, false, uint32_t(-99999), 99999, {0, 1, uint32_t(-1), 99999, uint32_t(-99999), 12}},
        {2, 5, 1, false, uint32_t(-99999), 99999, {uint32_t(-5), 5, uint32_t(-12345)}},
        {2, 10, 0, false, 0x80000000u, 0x7FFFFFFF, {0x80000000u, 0x7FFFFFFF, uint32_t(-1000000000)}},
        {3, 4, 0, false, 0, 0xFFFF, {0, 0xA, 0xFFFF, 0x1000, 0xABC}},
        {3, 8, 0, true, 0, kMax, {0, 0xDEADBEEF, kMax}},
        {0, 8, 0, false, 0, 255, {0, 1, 2, 0x80, 0xFF}},
        {0, 8, 0, true, 0, 255, {0, 5, 0xFF}},
        {0, 32, 0, false, 0, kMax, {kMax, 0x80000000u, 1}},
        {10, 4, 0, true, 0, 15, {0, 9, 15}},
    };
    // clang-format on
    for (const Row &r : rows) {
        for (uint32_t v : r.values) {
            FLD f = make(r.format, r.digits, r.decimals, r.min, r.max);
            if (r.fill) f.flags = kZeroFill;
            FLD_NumUpdate(&f, v, 0);
            EXPECT_EQ(text(), printf_int(r.format, r.digits, r.decimals, r.fill, v))
                << "format " << r.format << " digits " << r.digits << " value " << v;
            EXPECT_EQ(f.length, text().size());
        }
    }
}

TEST_F(FieldTest, IntegerMarksOverflowHiddenAndNoData) {
    struct Row {
        int format, digits;
        uint32_t min, max, value;
        std::string want;
    };
    const std::vector<Row> rows = {
        {1, 4, 0, 99999, 12345, "++++"}, // wider than its digits
        {1, 4, 0, 99999, 10000, "++++"},
        {1, 4, 0, 99999, 9999, "9999"},
        {2, 3, uint32_t(-999), 999, uint32_t(-1000), "+++"},
        {2, 3, uint32_t(-999), 999, uint32_t(-999), "-999"},
        {3, 2, 0, 0xFFFF, 0x100, "++"},
        {0, 4, 0, 0xFF, 16, "++++"},
        {1, 4, 10, 20, 9, "<<<<"}, // unsigned limits
        {1, 4, 10, 20, 21, ">>>>"},
        {1, 4, 10, 20, 10, "10"},
        {2, 4, uint32_t(-5), 5, uint32_t(-6), "<<<<"}, // signed limits
        {2, 4, uint32_t(-5), 5, 6, ">>>>"},
        {2, 4, uint32_t(-5), 5, uint32_t(-5), "-5"},
        {1, 4, 10, 20, uint32_t(-6), "++++"}, // overflow wins over the marks
        {8, 4, 0, 9999, 1234, "****"},        // hidden
        {8, 4, 0, 9999, 0, "****"},
        {13, 4, 10, 20, 5, "5"}, // no limits table: no marks
        {13, 4, 10, 20, 9999, "9999"},
        {13, 4, 10, 20, 10000, "++++"}, // but never wider than its digits
        {13, 12, 0, 0, 4294967295u, "4294967295"},
        {12, 5, 1, 2, 77, "77"}, // formats without an integer table
        {14, 5, 1, 2, 77, "77"},
        {11, 5, 1, 2, 77, "77"},
    };
    for (const Row &r : rows) {
        FLD f = make(r.format, r.digits, 0, r.min, r.max);
        FLD_NumUpdate(&f, r.value, 0);
        EXPECT_EQ(text(), r.want) << "format " << r.format << " value " << r.value;
    }
    // No data shows asterisks only with the application's option.
    FLD f = make(1, 5, 0, 0, 99999);
    f.status = kNoData;
    FLD_NumUpdate(&f, 42, 0);
    EXPECT_EQ(text(), "42");
    PGM_bShowAsterixForNodata = true;
    FLD_NumUpdate(&f, 42, 0);
    EXPECT_EQ(text(), "*****");
    PGM_bShowAsterixForNodata = false;
    // Digits beyond the table are never indexed: a 40-digit base-2 field
    // shows 32.
    FLD w = make(0, 40);
    FLD_NumUpdate(&w, 5, 0);
    EXPECT_EQ(text(), "101");
    // Beginning an edit shows zero fill and no marks; 16-bit text works too.
    FLD e = make(1, 4, 2, 100, 200);
    FLD_NumUpdate(&e, 5, 1);
    EXPECT_EQ(text(), "00.05");
    EXPECT_EQ(e.state, kBegun);
    EXPECT_EQ(e.edit, 5u);
    EXPECT_EQ(e.old, 5u);
    uint16_t wide[16] = {};
    FLD u = make(2, 3);
    u.text = wide;
    u.wide = 1;
    u.min = uint32_t(-999);
    u.max = 999;
    FLD_NumUpdate(&u, uint32_t(-42), 0);
    EXPECT_EQ(wide[0], '-');
    EXPECT_EQ(wide[1], '4');
    EXPECT_EQ(wide[2], '2');
    EXPECT_EQ(wide[3], 0);
}

// ---------------------------------------------------------------------------
// Integer editing.

struct EditCase {
    const char *name;
    int format, digits, decimals;
    uint32_t min, max, start;
    std::vector<uint8_t> keys;
    std::string text; // after the keys
    int last;         // result of the last key
    uint32_t stored;  // the caller's value after the keys (starts at `start`)
};

TEST_F(FieldTest, IntegerEditingKeys) {
    const uint32_t M = 0xFFFFFFFF;
    // clang-format off
    const std::vector<EditCase> cases = {
        {"first digit replaces the value", 1, 5, 0, 0, M, 777, {D(4), D(2)}, "00042", kChanged, 777},
        {"enter stores", 1, 5, 0, 0, M, 777, {D(4), D(2), kEnter}, "00042", kStored, 42},
        {"enter out of range keeps the value", 1, 5, 0, 10, 20, 15, {D(9), D(9), kEnter}, "00099", kStored, 15},
        {"escape cancels", 1, 5, 0, 0, M, 7, {D(1), kEscape}, "00001", kCancelled, 7},
        {"unsigned: 6 after 429496729 refused", 1, 10, 0, 0, M, 0,
         {D(4), D(2), D(9), D(4), D(9), D(6), D(7), D(2), D(9), D(6)}, "0429496729", kIgnored, 0},
        {"unsigned: 5 after 429496729 taken", 1, 10, 0, 0, M, 0,
         {D(4), D(2), D(9), D(4), D(9), D(6), D(7), D(2), D(9), D(5), kEnter}, "4294967295", kStored, M},
        {"signed: 8 after 214748364 refused", 2, 10, 0, 0x80000000u, 0x7FFFFFFF, 0,
         {D(2), D(1), D(4), D(7), D(4), D(8), D(3), D(6), D(4), D(8)}, "0214748364", kIgnored, 0},
        {"signed: 8 after -214748364 taken", 2, 10, 0, 0x80000000u, 0x7FFFFFFF, 0,
         {D(2), D(1), D(4), D(7), D(4), D(8), D(3), D(6), D(4), kSign, D(8), kEnter},
         "-2147483648", kStored, 0x80000000u},
        {"signed: 9 after -214748364 refused", 2, 10, 0, 0x80000000u, 0x7FFFFFFF, 0,
         {D(2), D(1), D(4), D(7), D(4), D(8), D(3), D(6), D(4), kSign, D(9)}, "-0214748364", kIgnored, 0},
        {"sign only for format 2", 1, 3, 0, 0, M, 5, {kSign}, "005", kIgnored, 5},
        {"sign that no longer fits refused", 2, 2, 0, uint32_t(-99), 99, 0, {kSign}, "00", kChanged, 0},
        {"digit past the width refused", 1, 3, 0, 0, M, 0, {D(1), D(2), D(3), D(4)}, "123", kIgnored, 0},
        {"up steps by one", 1, 3, 0, 0, 999, 41, {kUp, kEnter}, "042", kStored, 42},
        {"up from below the minimum goes to it", 1, 3, 0, 50, 999, 3, {kUp}, "050", kChanged, 3},
        {"down from above the maximum goes to it", 1, 3, 0, 0, 60, 99, {kDown}, "060", kChanged, 99},
        {"up past the maximum refused", 1, 3, 0, 0, 42, 42, {kUp}, "042", kIgnored, 42},
        {"down past zero refused", 1, 3, 0, 0, 999, 0, {kDown}, "000", kIgnored, 0},
        {"up to the overflow threshold refused", 1, 3, 0, 0, M, 999, {kUp}, "999", kIgnored, 999},
        {"left selects the tens", 1, 3, 0, 0, 999, 5, {kLeft, kUp, kEnter}, "015", kStored, 15},
        {"left wraps over the point", 1, 4, 2, 0, 9999, 5, {kLeft, kLeft, kLeft, kUp, kEnter}, "10.05", kStored, 1005},
        {"right wraps to the first digit", 1, 3, 0, 0, 999, 5, {kRight, kUp}, "105", kChanged, 5},
        {"cursor digit replaces", 1, 3, 0, 0, 999, 123, {kLeft, D(7), kEnter}, "173", kStored, 173},
        {"cursor digit 5 at 1e9 refused", 1, 10, 0, 0, M, 1, {kRight, D(5)}, "0000000001", kIgnored, 1},
        {"signed down crosses zero", 2, 3, 0, uint32_t(-999), 999, 1, {kDown, kDown, kEnter}, "-001", kStored, uint32_t(-1)},
        {"signed cursor digit keeps the sign", 2, 3, 0, uint32_t(-999), 999, uint32_t(-5), {kLeft, D(3), kEnter}, "-035", kStored, uint32_t(-35)},
        {"hex multi-tap", 3, 4, 0, 0, 0xFFFF, 0, {D(2), D(2), D(2), D(3)}, "00B3", kChanged, 0},
        {"hex multi-tap wraps", 3, 4, 0, 0, 0xFFFF, 0, {D(3), D(3), D(3), D(3), D(3), kEnter}, "0003", kStored, 3},
        {"base 2 takes 0 and 1 only", 0, 4, 0, 0, 15, 0, {D(1), D(2), D(0), D(1)}, "0101", kChanged, 0},
        {"base 2 past 32 digits refused", 0, 32, 0, 0, M, 0,
         {D(1), D(0), D(0), D(0), D(0), D(0), D(0), D(0), D(0), D(0), D(0), D(0), D(0), D(0), D(0), D(0),
          D(0), D(0), D(0), D(0), D(0), D(0), D(0), D(0), D(0), D(0), D(0), D(0), D(0), D(0), D(0), D(0), D(1)},
         "10000000000000000000000000000000", kIgnored, 0},
        {"hidden digits", 8, 4, 0, 0, 9999, 0, {D(1), D(2), kEnter}, "****", kStored, 12},
        {"hidden: no more than its digits", 8, 2, 0, 0, 99, 0, {D(1), D(2), D(3)}, "**", kIgnored, 0},
        {"format 13 stores without limits", 13, 3, 0, 10, 20, 15, {D(9), D(9), kEnter}, "099", kStored, 99},
        {"keys a format does not take are dropped", 1, 3, 0, 0, 999, 7, {kPoint, kExponent, kHexA}, "007", kIgnored, 7},
    };
    // clang-format on
    for (const EditCase &c : cases) {
        FLD f = make(c.format, c.digits, c.decimals, c.min, c.max);
        uint32_t value = c.start;
        FLD_NumUpdate(&f, value, 1);
        int r = -1;
        for (uint8_t k : c.keys)
            r = FLD_NumEdit(&f, &value, k);
        EXPECT_EQ(text(), c.text) << c.name;
        EXPECT_EQ(r, c.last) << c.name;
        EXPECT_EQ(value, c.stored) << c.name;
    }
}

// ---------------------------------------------------------------------------
// Floats and LREAL: fixed and exponent notation against printf.

std::string printf_real(int digits, int decimals, bool fill, bool exponent, double v) {
    int w = digits + decimals + (decimals ? 1 : 0) + (exponent ? 4 : 0);
    if (std::isnan(v) || std::isinf(v)) return rep('e', w);
    if (v < 0) ++w;
    char b[1024];
    int n = fill ? std::snprintf(b, sizeof b, exponent ? "%0*.*E" : "%0*.*f", w, decimals, v)
                 : std::snprintf(b, sizeof b, exponent ? "%.*E" : "%.*f", decimals, v);
    std::string s = b;
    if (n <= w) return s;
    if (n == w + 1 && digits == 0) {
        size_t z = s[0] == '-' ? 1 : 0;
        if (s[z] == '0') return s.erase(z, 1);
    }
    return rep('+', w);
}

TEST_F(FieldTest, RealFormatsAtAndAroundTheirLimits) {
    struct Row {
        int format, digits, decimals;
        bool fill;
        std::vector<double> values;
    };
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    // clang-format off
    const std::vector<Row> rows = {
        {4, 3, 2, false, {0, 1.5, 999.99, 999.994, 999.995, 1000, -999.99, -1000, 0.005, -0.004}},
        {4, 3, 2, true, {0, 1.5, 12.25, -1.5}},
        {4, 0, 2, false, {0.25, -0.5, 0.999, 0.995, 1.0, 0}},
        {4, 5, 0, false, {12345, 99999.4, 99999.5, -99999, 0.4}},
        {4, 2, 1, false, {inf, -inf, nan}},
        {5, 1, 2, false, {12345, 0, -1.5, 9.995, 1e-30, 1e38, -3.4e38}},
        {5, 1, 3, true, {1.0, -1.0}},
        {15, 10, 4, false, {1234567890.1234, 9999999999.99994, 9999999999.99995, -1e300, 1e-300}},
        {15, 0, 3, false, {0.125, -0.125, 1.0}},
    };
    // clang-format on
    for (const Row &r : rows) {
        for (double v : r.values) {
            bool exponent = r.format == 5;
            std::string want = printf_real(r.digits, r.decimals, r.fill, exponent, v);
            FLD f = make(r.format, r.digits, r.decimals);
            if (r.fill) f.flags = kZeroFill;
            if (r.format == 15) {
                f.lmin = -inf;
                f.lmax = inf;
                FLD_LrealUpdate(&f, v, 0);
            } else {
                f.min = fbits(-inf);
                f.max = fbits(inf);
                FLD_FloatUpdate(&f, fbits(float(v)), 0);
                want = printf_real(r.digits, r.decimals, r.fill, exponent, double(float(v)));
            }
            EXPECT_EQ(text(), want) << "format " << r.format << " value " << v;
        }
    }
    // LREAL fields other than 15 use exponent notation, shared by LrealToStr.
    FLD l = make(5, 1, 2);
    l.lmin = -1e9;
    l.lmax = 1e9;
    char out[600];
    EXPECT_EQ(LrealToStr(&l, 12345.0, out), 8);
    EXPECT_STREQ(out, "1.23E+04");
    EXPECT_EQ(LrealToStr(&l, 2e9, out), 3);
    EXPECT_STREQ(out, ">>>");
    // Limits, no data.
    FLD f = make(4, 3, 1, fbits(-10.f), fbits(10.f));
    FLD_FloatUpdate(&f, fbits(-10.5f), 0);
    EXPECT_EQ(text(), "<<<<");
    FLD_FloatUpdate(&f, fbits(10.5f), 0);
    EXPECT_EQ(text(), ">>>>");
    FLD_FloatUpdate(&f, fbits(float(inf)), 0); // the marks come first
    EXPECT_EQ(text(), ">>>>");
    FLD_FloatUpdate(&f, fbits(float(nan)), 0);
    EXPECT_EQ(text(), "eeeee");
    FLD_FloatUpdate(&f, fbits(10.5f), 1); // no marks while editing
    EXPECT_EQ(text(), "10.5");
    f.state = kDisplay;
    f.status = kNoData;
    PGM_bShowAsterixForNodata = true;
    FLD_FloatUpdate(&f, fbits(1.f), 0);
    EXPECT_EQ(text(), "****");
}

TEST_F(FieldTest, RealEditingKeys) {
    struct Case {
        const char *name;
        int format, digits, decimals;
        double min, max, start;
        std::vector<uint8_t> keys;
        std::string text;
        int last;
        bool taken; // the value becomes the typed text as strtod reads it
    };
    // clang-format off
    const std::vector<Case> cases = {
        {"typing replaces", 4, 3, 2, -1000, 1000, 7, {D(1), D(2), kPoint, D(5), kEnter}, "12.5", kStored, true},
        {"integer digits bounded", 4, 2, 1, -1000, 1000, 7, {D(1), D(2), D(3)}, "12", kIgnored, false},
        {"fraction digits bounded", 4, 2, 1, -1000, 1000, 7, {D(1), kPoint, D(2), D(3)}, "1.2", kIgnored, false},
        {"one point only", 4, 2, 2, -1000, 1000, 7, {D(1), kPoint, kPoint}, "1.", kIgnored, false},
        {"sign toggles", 4, 3, 1, -1000, 1000, 7, {D(4), kSign, kSign, kSign, kEnter}, "-4", kStored, true},
        {"out of range keeps the value", 4, 3, 1, -10, 10, 7, {D(4), D(4), kEnter}, "44", kStored, false},
        {"escape", 4, 3, 1, -10, 10, 7, {D(4), kEscape}, "4", kCancelled, false},
        {"exponent key", 5, 1, 2, -1e13, 1e13, 0, {D(2), kExponent, D(1), D(2), kEnter}, "2E+12", kStored, true},
        {"point again starts the exponent", 5, 1, 2, -1e30, 1e30, 0,
         {D(2), kPoint, D(5), kPoint, kSign, D(3), kEnter}, "2.5E-3", kStored, true},
        {"no exponent after a lone point", 5, 1, 2, -1e9, 1e9, 3, {kPoint, kExponent}, ".", kIgnored, false},
        {"two exponent digits", 5, 1, 2, -1e99, 1e99, 0, {D(1), kExponent, D(1), D(2), D(3)}, "1E+12", kIgnored, false},
        {"LREAL fixed", 15, 4, 3, -1e9, 1e9, 1, {D(9), D(8), kPoint, D(7), D(6), D(5), kEnter}, "98.765", kStored, true},
        {"LREAL out of range", 15, 4, 3, -10, 10, 1, {D(9), D(8), kEnter}, "98", kStored, false},
    };
    // clang-format on
    for (const Case &c : cases) {
        FLD f = make(c.format, c.digits, c.decimals);
        int r = -1;
        double typed = std::strtod(c.text.c_str(), nullptr);
        if (c.format == 15) {
            f.lmin = c.min;
            f.lmax = c.max;
            double v = c.start;
            FLD_LrealUpdate(&f, v, 1);
            for (uint8_t k : c.keys)
                r = FLD_LrealEdit(&f, &v, k);
            EXPECT_EQ(v, c.taken ? typed : c.start) << c.name;
        } else {
            f.min = fbits(float(c.min));
            f.max = fbits(float(c.max));
            uint32_t v = fbits(float(c.start));
            FLD_FloatUpdate(&f, v, 1);
            for (uint8_t k : c.keys)
                r = FLD_FloatEdit(&f, &v, k);
            float got;
            std::memcpy(&got, &v, 4);
            EXPECT_EQ(got, float(c.taken ? typed : c.start)) << c.name;
        }
        EXPECT_EQ(text(), c.text) << c.name;
        EXPECT_EQ(r, c.last) << c.name;
    }
}

// ---------------------------------------------------------------------------
// Time and date.

TEST_F(FieldTest, TimeAndDateTemplates) {
    struct Row {
        int selector;
        uint16_t w0, w1, w2;
        std::string want;
    };
    // clang-format off
    const std::vector<Row> rows = {
        {0x01, 5, 7, 9, "09:07"},          {0x02, 5, 7, 23, "23:07:05"},
        {0x02, 60, 60, 24, ">>:>>:>>"},    {0x03, 0, 30, 0, "12:30 AM"},
        {0x03, 0, 30, 12, "12:30 PM"},     {0x03, 0, 30, 13, "01:30 PM"},
        {0x04, 59, 59, 23, "11:59:59 PM"}, {0x04, 0, 0, 11, "11:00:00 AM"},
        {0x05, 0, 30, uint16_t(-5), "-05:30"},
        {0x10, 31, 12, 2024, "12/31/24"},  {0x20, 1, 1, 1996, "01/01/1996"},
        {0x30, 14, 2, 2025, "14-Feb-25"},  {0x40, 14, 13, 2025, "14->>>-2025"},
        {0x40, 14, 0, 2025, "14-<<<-2025"},
        {0x50, 0, 0, 1995, "<<-<<-<<"},    {0x50, 32, 13, 2096, ">>->>->>"},
        {0x60, 9, 9, 2195, "09-09-2195"},  {0x60, 9, 9, 2196, "09-09->>>>"},
        {0x70, 3, 4, 2095, "95-04-03"},    {0x80, 3, 4, 1995, "<<<<-04-03"},
        {0x00, 1, 2, 3, ""},
    };
    // clang-format on
    for (const Row &r : rows) {
        FLD f = make(9, 0, r.selector);
        uint16_t tv[3] = {r.w0, r.w1, r.w2};
        FLD_TimeUpdate(&f, tv, 0);
        EXPECT_EQ(text(), r.want) << std::hex << r.selector;
    }
    timezoneAdvance = true;
    FLD f = make(9, 0, 0x05);
    uint16_t tz[3] = {0, 0, 2};
    FLD_TimeUpdate(&f, tz, 0);
    EXPECT_EQ(text(), "+02:00");
    f.status = kNoData;
    PGM_bShowAsterixForNodata = true;
    FLD g = make(9, 0, 0x04);
    g.status = kNoData;
    FLD_TimeUpdate(&g, tz, 0);
    EXPECT_EQ(text(), "**:**:** *");
    FLD d = make(9, 0, 0x40);
    d.status = kNoData;
    FLD_TimeUpdate(&d, tz, 0);
    EXPECT_EQ(text(), "**-***-****");
}

TEST_F(FieldTest, TimeAndDateEditing) {
    struct Case {
        int selector;
        uint16_t w0, w1, w2;
        std::vector<uint8_t> keys;
        std::string text;
        std::vector<uint16_t> stored;
    };
    // clang-format off
    const std::vector<Case> cases = {
        {0x02, 5, 7, 23, {kUp, kEnter}, "00:07:05", {5, 7, 0}},               // hours wrap
        {0x02, 5, 7, 0, {kDown, kRight, kDown, kEnter}, "23:06:05", {5, 6, 23}},
        {0x02, 59, 7, 1, {kLeft, kUp, kEnter}, "01:07:00", {0, 7, 1}},        // left wraps to seconds
        {0x03, 0, 30, 9, {kRight, kRight, kUp, kEnter}, "09:30 PM", {0, 30, 21}}, // AM/PM swap
        {0x03, 0, 30, 12, {kUp, kEnter}, "01:30 PM", {0, 30, 13}},            // 12 -> 1 keeps PM
        {0x03, 0, 30, 0, {kDown, kEnter}, "11:30 AM", {0, 30, 11}},
        {0x10, 31, 12, 2024, {kUp, kRight, kUp, kRight, kDown, kEnter}, "01/01/23", {1, 1, 2023}},
        {0x30, 1, 12, 2095, {kRight, kUp, kRight, kUp, kEnter}, "01-Jan-00", {1, 1, 2000}},
        {0x40, 1, 1, 1996, {kRight, kDown, kRight, kDown, kEnter}, "01-Dec-2095", {1, 12, 2095}},
        {0x50, 0, 13, 1990, {kUp, kRight, kDown, kEnter}, "01-12-<<", {0, 13, 1990}}, // unreadable year keeps all
        {0x02, 5, 7, 9, {kEscape}, "09:07:05", {5, 7, 9}},
    };
    // clang-format on
    for (const Case &c : cases) {
        FLD f = make(9, 0, c.selector);
        uint16_t tv[3] = {c.w0, c.w1, c.w2};
        FLD_TimeUpdate(&f, tv, 1);
        EXPECT_EQ(f.state, kCursor);
        EXPECT_EQ(f.cursor, 0);
        int r = -1;
        for (uint8_t k : c.keys)
            r = FLD_TimeEdit(&f, tv, k);
        EXPECT_EQ(text(), c.text) << std::hex << c.selector;
        EXPECT_EQ(r, c.keys.back() == kEscape ? kCancelled : kStored);
        EXPECT_EQ(std::vector<uint16_t>(tv, tv + 3), c.stored) << c.text;
    }
    // The time-zone direction changes only with Enter.
    timezoneAdvance = false;
    FLD f = make(9, 0, 0x05);
    uint16_t tz[3] = {0, 30, 5};
    FLD_TimeUpdate(&f, tz, 1);
    EXPECT_EQ(text(), "-05:30");
    EXPECT_EQ(FLD_TimeEdit(&f, tz, kUp), kChanged);
    EXPECT_EQ(text(), "+05:30");
    EXPECT_FALSE(timezoneAdvance);
    EXPECT_EQ(FLD_TimeEdit(&f, tz, kEscape), kCancelled);
    EXPECT_FALSE(timezoneAdvance);
    FLD_TimeUpdate(&f, tz, 1);
    FLD_TimeEdit(&f, tz, kUp);
    EXPECT_EQ(FLD_TimeEdit(&f, tz, kEnter), kStored);
    EXPECT_TRUE(timezoneAdvance);
    // Digits are not keys of a time field.
    EXPECT_EQ(FLD_TimeEdit(&f, tz, D(1)), kIgnored);
}

// ---------------------------------------------------------------------------
// Seconds timers.

TEST_F(FieldTest, SecondsTimerTemplates) {
    struct Row {
        int selector;
        uint32_t max, value;
        std::string want;
    };
    // clang-format off
    const std::vector<Row> rows = {
        {0x00, 3599, 0, "00:00"},          {0x00, 3599, 3599, "59:59"},
        {0x00, 359999, 359999, "5999:59"}, {0x00, 299, 125, "2:05"},
        {0x01, 86399, 86399, "23:59:59"},  {0x01, 863999, 3661, "001:01:01"},
        {0x03, 86399, 7325, "02:02"},       {0x14, 36000, 1234, "02:03.4"},
        {0x15, 360000, 36001, "01:00:00.1"}, {0x28, 600000, 12345, "002:03.450"},
        {0x39, 3600000, 3599999, "0:59:59.999"},
        {0x01, 3599, 36000, ">:00:00"},    // wider than its hour field
        {0x02, 100, 5, ""},
    };
    // clang-format on
    for (const Row &r : rows) {
        FLD f = make(11, 0, r.selector, 0, r.max);
        FLD_SecTimeUpdate(&f, r.value, 0);
        EXPECT_EQ(text(), r.want) << std::hex << r.selector << std::dec << " " << r.value;
        EXPECT_EQ(GetSecTimerFieldSize(&f, nullptr, nullptr), int(r.want.size()));
    }
    struct Fit {
        int unit;
        uint32_t h, m;
        int fits;
    };
    const Fit fits[] = {{0, 1193046, 0, 1}, {0, 1193047, 0, 0}, {1, 119304, 7158278, 1},
                        {1, 119305, 0, 0},  {2, 0, 715828, 0},  {3, 1193, 71582, 1},
                        {3, 1194, 0, 0},    {3, 0, 71583, 0}};
    for (const Fit &t : fits)
        EXPECT_EQ(SecTimerFits(t.unit, t.h, t.m), t.fits) << t.unit << " " << t.h;
}

TEST_F(FieldTest, SecondsTimerEditing) {
    struct Case {
        int selector;
        uint32_t min, max, start;
        std::vector<uint8_t> keys;
        std::string text;
        uint32_t stored;
    };
    // clang-format off
    const std::vector<Case> cases = {
        {0x01, 0, 86399, 0, {D(1), D(2), D(3), D(4), D(5), D(6), kEnter}, "12:34:56", 45296},
        {0x01, 0, 86399, 0, {kLeft, kUp, kLeft, kDown, kEnter}, "00:00:91", 91},  // 9 wraps 0
        {0x01, 0, 3600, 5, {D(2), kEnter}, "2:00:05", 5},                        // above max: old value
        {0x14, 0, 36000, 0, {D(1), D(0), D(0), D(0), D(7), kEnter}, "10:00.7", 6007},
        {0x39, 0, 0xFFFFFFFF, 0, {kRight, kRight, kRight, kRight, kRight, kRight, kRight, D(5), kEnter}, "0000:00:05.000", 5000},
        {0x00, 0, 3599, 61, {kRight, kRight, kRight, kRight, D(9), kEscape}, "91:01", 61},
    };
    // clang-format on
    for (const Case &c : cases) {
        FLD f = make(11, 0, c.selector, c.min, c.max);
        uint32_t v = c.start;
        FLD_SecTimeUpdate(&f, v, 1);
        EXPECT_EQ(f.state, kPartEdit);
        int r = -1;
        for (uint8_t k : c.keys)
            r = FLD_SecTimeEdit(&f, &v, k);
        EXPECT_EQ(text(), c.text) << std::hex << c.selector;
        EXPECT_EQ(r, c.keys.back() == kEscape ? kCancelled : kStored);
        EXPECT_EQ(v, c.stored) << c.text;
    }
}

// ---------------------------------------------------------------------------
// Enumerations.

TEST_F(FieldTest, Enumerations) {
    // Strings "Off", "Slow", "Fast" in the application strings, entries 0, 5, 10.
    std::vector<uint8_t> strings = {'x', 'O', 'f', 'f', 0,   'S', 'l', 'o',
                                    'w', 0,   'F', 'a', 's', 't', 0};
    std::vector<uint8_t> table(4 + 3 * 8);
    put_le16(&table[0], 0);
    put_le16(&table[2], 3);
    const uint32_t vals[3] = {0, 5, 10}, offs[3] = {1, 5, 10};
    for (int i = 0; i < 3; ++i) {
        put_le32(&table[4 + 8 * i], vals[i]);
        put_le32(&table[8 + 8 * i], offs[i]);
    }
    pPGM_Strings = strings.data();
    FLD f = make(7, 8);
    f.table = table.data();
    struct Row {
        uint32_t value;
        std::string want;
    };
    const Row rows[] = {{0, "Off"},  {1, "Slow"},  {5, "Slow"},
                        {6, "Fast"}, {10, "Fast"}, {99, "Fast"}};
    for (const Row &r : rows) {
        FLD_EnumUpdate(&f, r.value, 0);
        EXPECT_EQ(text(), r.want) << r.value;
    }
    f.digits = 2; // cut to its width
    FLD_EnumUpdate(&f, 5, 0);
    EXPECT_EQ(text(), "Sl");
    f.digits = 8;
    uint32_t v = 5;
    FLD_EnumUpdate(&f, v, 1);
    EXPECT_EQ(f.edit, 1u);
    EXPECT_EQ(FLD_EnumEdit(&f, &v, kUp), kChanged);
    EXPECT_EQ(text(), "Fast");
    EXPECT_EQ(FLD_EnumEdit(&f, &v, kUp), kChanged); // after the last, the first
    EXPECT_EQ(text(), "Off");
    EXPECT_EQ(FLD_EnumEdit(&f, &v, kDown), kChanged); // before the first, the last
    EXPECT_EQ(text(), "Fast");
    EXPECT_EQ(FLD_EnumEdit(&f, &v, D(1)), kIgnored);
    EXPECT_EQ(FLD_EnumEdit(&f, &v, kEnter), kStored);
    EXPECT_EQ(v, 10u);
    EXPECT_EQ(FLD_EnumEdit(&f, &v, kEscape), kCancelled);
    EXPECT_EQ(FLD_EnumSearch(&f, "Slow"), 1);
    EXPECT_EQ(FLD_EnumSearch(&f, "Slo"), -1);
    // 16-bit strings; a table of our own holds its texts after its entries.
    std::vector<uint8_t> own(4 + 8 + 8);
    put_le16(&own[0], 0xFFFF);
    put_le16(&own[2], 1);
    put_le32(&own[4], 3);
    put_le32(&own[8], 12);
    const uint16_t on[] = {'O', 'n', 0, 0};
    std::memcpy(&own[12], on, sizeof on);
    uint16_t wide[16] = {};
    FLD w = make(7, 4);
    w.table = own.data();
    w.text = wide;
    w.wide = 1;
    FLD_EnumUpdate(&w, 0, 0);
    EXPECT_EQ(wide[0], 'O');
    EXPECT_EQ(wide[1], 'n');
    EXPECT_EQ(wide[2], 0);
    EXPECT_EQ(FLD_EnumSearch(&w, on), 0);
    // No data; an empty table shows nothing and stores nothing.
    PGM_bShowAsterixForNodata = true;
    f.status = kNoData;
    f.digits = 3;
    FLD_EnumUpdate(&f, 0, 0);
    EXPECT_EQ(text(), "***");
    FLD e = make(7, 4);
    e.table = nullptr;
    v = 77;
    FLD_EnumUpdate(&e, 1, 1);
    EXPECT_EQ(text(), "");
    EXPECT_EQ(FLD_EnumEdit(&e, &v, kUp), kIgnored);
    EXPECT_EQ(FLD_EnumEdit(&e, &v, kEnter), kStored);
    EXPECT_EQ(v, 77u);
}

// An enumeration table and its strings in the application's blocks, each
// cut short at several points: the entries and characters wholly inside a
// block are shown, nothing past its data is read (the rest of each buffer is
// poisoned), and the whole blocks show what they always did.
TEST_F(FieldTest, EnumerationsCutShortReadOnlyTheirBlocks) {
    const uint8_t strings[] = {'x', 'O', 'f', 'f', 0, 'S', 'l', 'o', 'w', 0, 'F', 'a', 's', 't', 0};
    uint8_t table[4 + 3 * 8] = {};
    put_le16(&table[2], 3);
    const uint32_t vals[3] = {0, 5, 10}, offs[3] = {1, 5, 10};
    for (int i = 0; i < 3; ++i) {
        put_le32(&table[4 + 8 * i], vals[i]);
        put_le32(&table[8 + 8 * i], offs[i]);
    }
    std::memcpy(string_table_bl + 8, strings, sizeof strings);
    std::memcpy(text_table_bl + 8, table, sizeof table);
    pPGM_Strings = string_table_bl + 8;
    struct Row {
        uint32_t table_bytes, string_bytes, value;
        const char *want;
        int found; // FLD_EnumSearch of the text shown
    };
    // clang-format off
    const Row rows[] = {
        {28, 15, 0, "Off", 0},  {28, 15, 5, "Slow", 1}, {28, 15, 99, "Fast", 2}, // whole
        {28, 8, 5, "Slo", 1},                  // the string runs into the block's end
        {28, 8, 10, "", -1},                   // its offset lies past the strings
        {28, 3, 0, "Of", 0},
        {20, 15, 99, "Slow", 1},               // two whole entries
        {12, 15, 99, "Off", 0},                // one
        {11, 15, 99, "", -1},                  // none
        {3, 15, 0, "", -1},                    // not even the count
    };
    // clang-format on
    for (const Row &r : rows) {
        SCOPED_TRACE(testing::Message()
                     << r.table_bytes << " " << r.string_bytes << " " << r.value);
        put_le32(text_table_bl + 4, r.table_bytes);
        put_le32(string_table_bl + 4, r.string_bytes);
        PoisonPast tp(text_table_bl + 8, app::kConfigParts[6].capacity - 8, r.table_bytes);
        PoisonPast sp(string_table_bl + 8, app::kConfigParts[5].capacity - 8, r.string_bytes);
        FLD f = make(7, 8);
        f.table = text_table_bl + 8;
        FLD_EnumUpdate(&f, r.value, 0);
        EXPECT_EQ(text(), r.want);
        if (*r.want) {
            EXPECT_EQ(FLD_EnumSearch(&f, r.want), r.found);
        }
    }
    // A table of our own (marker 0xFFFF) inside the text block: its texts
    // stay inside the block too.
    uint8_t own[4 + 8 + 6] = {0xFF, 0xFF, 1, 0, 3, 0, 0, 0, 12, 0, 0, 0, 'O', 0, 'n', 0, 0, 0};
    std::memcpy(text_table_bl + 8, own, sizeof own);
    for (uint32_t cut : {18u, 15u, 12u}) {
        put_le32(text_table_bl + 4, cut);
        PoisonPast tp(text_table_bl + 8, app::kConfigParts[6].capacity - 8, cut);
        uint16_t wide[8] = {};
        FLD w = make(7, 4);
        w.table = text_table_bl + 8;
        w.text = wide;
        w.wide = 1;
        FLD_EnumUpdate(&w, 0, 0);
        EXPECT_EQ(wide[0], cut > 13 ? 'O' : 0) << cut;
        EXPECT_EQ(wide[1], cut > 15 ? 'n' : 0) << cut;
    }
}

// ---------------------------------------------------------------------------
// IP addresses.

TEST_F(FieldTest, IpAddresses) {
    FLD f = make(10, 0);
    FLD_IPUpdate(&f, 0xC0A80001, 0);
    EXPECT_EQ(text(), "192.168.0.1");
    FLD_IPUpdate(&f, 0, 0);
    EXPECT_EQ(text(), "0.0.0.0");
    FLD_IPUpdate(&f, 0xFFFFFFFF, 0);
    EXPECT_EQ(text(), "255.255.255.255");
    PGM_bShowAsterixForNodata = true;
    f.status = kNoData;
    FLD_IPUpdate(&f, 0x0A000102, 0);
    EXPECT_EQ(text(), "**.*.*.*");
    f.status = 0;
    struct Case {
        uint32_t start;
        std::vector<uint8_t> keys;
        std::string text;
        uint32_t stored;
    };
    // clang-format off
    const std::vector<Case> cases = {
        {0xC0A80001, {D(1), D(0), kPoint, D(0), kPoint, D(0), kPoint, D(5), kEnter}, "010.000.000.005", 0x0A000005},
        {0, {D(1), D(2), D(3), D(4), D(5), kEnter}, "123.045.000.000", 0x7B2D0000}, // third digit moves on
        {0, {D(9), D(9), D(9), kEnter}, "255.000.000.000", 0xFF000000},             // clamped at 255
        {0, {D(3), D(0), D(0), kEnter}, "255.000.000.000", 0xFF000000},
        {0x01020304, {kUp, kRight, kDown, kEnter}, "002.001.003.004", 0x02010304},
        {0x00000000, {kDown, kLeft, kUp, kEnter}, "255.000.000.001", 0xFF000001},  // wraps
        {0x01020304, {kRight, kRight, kRight, kRight, kUp, kEnter}, "002.002.003.004", 0x02020304},
        {0x01020304, {D(9), kEscape}, "009.002.003.004", 0x01020304},
    };
    // clang-format on
    for (const Case &c : cases) {
        FLD e = make(10, 0);
        uint32_t v = c.start;
        FLD_IPUpdate(&e, v, 1);
        EXPECT_EQ(e.state, kPartEdit);
        int r = -1;
        for (uint8_t k : c.keys)
            r = FLD_IPEdit(&e, &v, k);
        EXPECT_EQ(text(), c.text);
        EXPECT_EQ(r, c.keys.back() == kEscape ? kCancelled : kStored);
        EXPECT_EQ(v, c.stored) << c.text;
    }
}

// ---------------------------------------------------------------------------
// Literal text: multi-tap keypad and the full keyboard.

TEST_F(FieldTest, LiteralTextKeypad) {
    struct Case {
        std::string start;
        std::vector<uint8_t> keys;
        std::string text;
        int last;
    };
    // clang-format off
    const std::vector<Case> cases = {
        {"old", {D(2)}, "A", kChanged},                                   // first key clears
        {"old", {D(2), D(2), D(2)}, "C", kChanged},                       // multi-tap
        {"", {D(2), D(2), D(2), D(2), D(2), D(2), D(2), D(2)}, "A", kChanged}, // wraps after "2"
        {"", {D(2), D(3)}, "AD", kChanged},
        {"", {D(2), kRight, D(2)}, "AA", kChanged},                       // an arrow ends the tap
        {"", {D(1), D(0), kSign, kSign, kPoint}, " 0-.", kChanged},
        {"", {D(4), D(4), D(4), D(4)}, "g", kChanged},
        {"abc", {kLeft, kLeft, D(0)}, "ab0c", kChanged},                  // insert at the cursor
        {"abc", {kLeft, kBackspace}, "ab", kChanged},
        {"abc", {kBackspace}, "", kChanged},                               // first backspace clears
        {"abc", {kLeft, kLeft, kLeft, kLeft, kLeft, kBackspace}, "abc", kChanged},
        {"abc", {kLeft, kRight}, "abc", kNotTaken},                        // cursor at its end
        {"abcd", {kLeft, D(0)}, "abcd", kNotTaken},                        // full (digits 5)
        {"ab", {kEnter}, "ab", kStored},
        {"ab", {kEscape}, "ab", kCancelled},
        {"ab", {kLeft, kExponent}, "ab", kIgnored},
    };
    // clang-format on
    for (const Case &c : cases) {
        FLD f = make(6, 5);
        std::strcpy(buf, c.start.c_str());
        FLD_LitUpdate(&f, 1);
        EXPECT_EQ(f.cursor, c.start.size() + 1);
        int r = -1;
        for (uint8_t k : c.keys)
            r = FLD_LitEdit(&f, k);
        EXPECT_EQ(text(), c.text) << c.start;
        EXPECT_EQ(r, c.last) << c.start;
    }
}

TEST_F(FieldTest, LiteralTextKeyboard) {
    struct Case {
        std::vector<uint8_t> keys;
        std::string text;
    };
    // clang-format off
    const std::vector<Case> cases = {
        {{'A', 'B'}, "ab"},                                   // no caps lock: small
        {{kKbdCaps, 'A', 'B'}, "AB"},
        {{kKbdCaps, kKbdShift, 'A'}, "a"},                    // shift and caps: small
        {{kKbdShift, '1', '0', '-', '/', '[', ']', '\\', '\''}, "!)_?{}|\""},
        {{kKbdShift, kKbdShiftOff, '1'}, "1"},
        {{kKbdShift, kKbdShift, '1'}, "1"},
        {{250, 251, 252, 'x'}, "x"},
        {{kKbdShift, kBackspace, '2'}, "2"},                  // backspace clears shift
        {{'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k'}, "abcdefghi"}, // 9 characters at most
    };
    // clang-format on
    for (int format : {16, 17}) {
        for (const Case &c : cases) {
            FLD f = make(format, 10);
            buf[0] = 0;
            FLD_LitUpdate(&f, 1);
            for (uint8_t k : c.keys)
                FLD_LitEdit(&f, k);
            EXPECT_EQ(text(), c.text) << format;
        }
    }
    // Enter clears shift and caps lock.
    FLD f = make(16, 10);
    buf[0] = 0;
    FLD_LitUpdate(&f, 1);
    FLD_LitEdit(&f, kKbdCaps);
    EXPECT_EQ(FLD_LitEdit(&f, kEnter), kStored);
    EXPECT_EQ(f.kbd, 0);
}

// ---------------------------------------------------------------------------
// Bars and the key filter.

TEST_F(FieldTest, Bars) {
    struct Row {
        int digits;
        int32_t min, max, value;
        std::string want; // F full, 1-4 fifths, blank empty
    };
    const std::vector<Row> rows = {
        {10, 0, 100, 50, "FFFFF     "},
        {10, 0, 100, 0, "          "},
        {10, 0, 100, 100, "FFFFFFFFFF"},
        {10, 0, 100, 150, "FFFFFFFFFF"},
        {10, 0, 100, -5, "          "},
        {4, 0, 20, 7, "F2  "},
        {4, -10, 10, 0, "FF  "},
        {3, 0, 0, 0, "FFF"},
        {3, 5, 5, 4, "   "},
        {3, INT32_MIN, INT32_MAX, INT32_MAX, "FFF"},
    };
    for (const Row &r : rows) {
        FLD f = make(13, r.digits, 0, uint32_t(r.min), uint32_t(r.max));
        FLD_BarUpdate(&f, r.value, 0);
        std::string got;
        for (char c : text())
            got += c == 14 ? 'F' : c >= 10 && c <= 13 ? char('1' + c - 10) : c;
        EXPECT_EQ(got, r.want) << r.value;
        EXPECT_EQ(f.state, kDisplay);
    }
    FLD f = make(13, 2, 0, 0, 100);
    int32_t v = 50;
    FLD_BarUpdate(&f, v, 1);
    EXPECT_EQ(f.state, kDisplay);
    EXPECT_EQ(FLD_BarEdit(&f, &v, kRight), kChanged);
    EXPECT_EQ(v, 60);
    EXPECT_EQ(FLD_BarEdit(&f, &v, kDown), kChanged);
    EXPECT_EQ(FLD_BarEdit(&f, &v, kDown), kChanged);
    EXPECT_EQ(v, 40);
    for (int i = 0; i < 4; ++i)
        FLD_BarEdit(&f, &v, kLeft);
    EXPECT_EQ(v, 0);
    EXPECT_EQ(FLD_BarEdit(&f, &v, kLeft), kIgnored);
    EXPECT_EQ(FLD_BarEdit(&f, &v, kEscape), kCancelled);
    EXPECT_EQ(v, 50);
    EXPECT_EQ(FLD_BarEdit(&f, &v, kEnter), kStored);
    FLD z = make(13, 0, 0, 0, 100); // a bar of no cells never divides by zero
    FLD_BarUpdate(&z, 5, 1);
    EXPECT_EQ(FLD_BarEdit(&z, &v, kRight), kIgnored);
}

TEST_F(FieldTest, KeyFilterPerFormat) {
    struct Row {
        int format;
        uint8_t in, out;
    };
    // clang-format off
    const Row rows[] = {
        {0, D(1), D(1)}, {0, D(2), 0}, {10, D(0), D(0)}, {10, D(9), 0},
        {1, D(9), D(9)}, {1, kSign, 0}, {1, kPoint, 0}, {2, kSign, kSign}, {8, kHexA, 0},
        {3, D(2), D(2)}, {3, D(3), D(3)}, {3, D(4), D(4)}, {3, kHexA + 5, kHexA + 5},
        {4, kPoint, kPoint}, {4, kExponent, 0}, {5, kExponent, kExponent}, {15, kSign, kSign},
        {6, D(0), '0'}, {6, D(1), ' '}, {6, D(9), 'W'}, {6, kSign, '+'}, {6, kPoint, '.'},
        {7, kUp, kUp}, {7, kLeft, 0}, {7, kKey26, kKey26}, {7, D(1), 0},
        {9, kLeft, kLeft}, {9, D(1), 0}, {11, kLeft, kDown}, {11, kRight, kUp},
        {1, kKey26, kKey26}, {12, 200, 200}, {16, 254, 254}, {17, 'a', 'a'},
    };
    // clang-format on
    for (const Row &r : rows) {
        FLD f = make(r.format, 4);
        uint8_t k = r.in;
        EXPECT_NE(KeyFilter(&f, &k, r.format), 0);
        EXPECT_EQ(k, r.out) << "format " << r.format << " key " << int(r.in);
    }
    // A repeated multi-tap press replaces; another key or an arrow starts anew.
    FLD f = make(6, 8);
    f.tapCount = 255;
    uint8_t k = D(7);
    EXPECT_NE(KeyFilter(&f, &k, 6), 0);
    EXPECT_EQ(k, 'P');
    k = D(7);
    EXPECT_EQ(KeyFilter(&f, &k, 6), 0);
    EXPECT_EQ(k, 'R');
    k = D(8);
    EXPECT_NE(KeyFilter(&f, &k, 6), 0);
    EXPECT_EQ(k, 'T');
}

} // namespace
