// Conversions between the elementary types and the STRING routines, on a
// database with STRINGs of several capacities.
#include "iec/kernel/trconv.h"
#include "iec/kernel/trstr.h"
#include "panel_fixture.h"
#include "vm_db.h"

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace {

class StrConv : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        ASSERT_EQ(vm.build(".app S\n"
                           ".var STRING(20) a\n.var STRING(20) b\n.var STRING(20) d\n"
                           ".var STRING(4) small\n.var STRING(7) seven\n.var STRING(19) date\n"
                           ".var DINT n\n.var REAL r\n.var UDINT u\n.var LREAL l\n"
                           ".program main kind=0\n        END\n"),
                  0);
    }
    enum { A = 1, B, D, Small, Seven, Date };
    enum { N = 1, R = 2, U = 3 };
    VmDb vm;
};

std::string printed(const char *fmt, double v) {
    char t[64];
    std::snprintf(t, sizeof t, fmt, v);
    return t;
}

TEST_F(StrConv, NumericConversions) {
    struct Case {
        uint16_t dst, src;
        uint64_t value, want;
    };
    auto r = [](float f) -> uint64_t { return std::bit_cast<uint32_t>(f); };
    auto l = [](double d) { return std::bit_cast<uint64_t>(d); };
    const Case cases[] = {
        {2, 3, r(2.9f), 2},
        {2, 3, r(-2.9f), uint32_t(-2)},
        {14, 2, 300, 44},
        {14, 3, r(300.0f), 44}, // as the integer 300 does
        {16, 11, 0xFFFF, 4294967295u},
        {2, 10, 0xFF, 0xFFFFFFFF},
        {3, 13, l(1e40), r(INFINITY)},
        {2, 13, l(1e30), 0xFFFFFFFF}, // saturated at 64 bits, low half kept
        {2, 13, l(NAN), 0},
        {17, 13, l(1.8e19), 18000000000000000000ull},
        {1, 3, r(0.5f), 1},
        {13, 2, uint32_t(-7), l(-7.0)},
        {4, 11, 0xFFFF, 0xFFFFFFFF},
    };
    for (const Case &c : cases) {
        uint64_t out = 0;
        TrVMCnv_ConvBin(&out, &c.value, c.dst, c.src);
        EXPECT_EQ(out, c.want) << c.src << " -> " << c.dst << " of 0x" << std::hex << c.value;
    }
    uint64_t out = 0x55, in = 7;
    TrVMCnv_ConvBin(&out, &in, 5, 2);
    TrVMCnv_ConvBin(&out, &in, 2, 7);
    EXPECT_EQ(out, 0x55u) << "STRING and unknown types change nothing";
}

// The conversion instruction with STRINGs on either side, and the text
// forms of the XML and text-buffer blocks.
TEST_F(StrConv, ConversionsWithText) {
    auto convert = [&](uint16_t di, uint16_t si, uint16_t dt, uint16_t st) {
        const uint16_t w[4] = {di, si, dt, st};
        uint8_t args[8];
        for (int i = 0; i < 4; ++i)
            put_le16(args + 2 * i, w[i]);
        TrVMCnv_Convert(vm.db(), args);
    };
    struct Case {
        const char *text;
        uint16_t type, index;
        uint64_t want;
    };
    const Case from_text[] = {
        {"12abc", 2, N, 12},
        {"", 2, N, 0},
        {"  42x", 16, U, 42},
        {"-5", 16, U, 0},
        {"1e40", 3, R, std::bit_cast<uint32_t>(float(INFINITY))},
        {"99999999999", 2, N, 2147483647}, // a 32-bit strtol's limit
    };
    for (const Case &c : from_text) {
        vm.set_string(A, c.text);
        vm.set(c.type, c.index, 0x1234);
        convert(c.index, A, c.type, 5);
        EXPECT_EQ(vm.get(c.type, c.index), c.want) << c.text;
    }
    vm.set(2, N, uint32_t(-5));
    convert(D, N, 5, 2);
    EXPECT_EQ(vm.string(D), "-5");
    float f = 0.1f;
    vm.set(3, R, std::bit_cast<uint32_t>(f));
    convert(D, R, 5, 3);
    EXPECT_EQ(vm.string(D), printed("%g", double(f)));
    vm.set_string(A, "a longer text");
    convert(Small, A, 5, 5);
    EXPECT_EQ(vm.string(Small), "a lo");

    char text[32];
    double d = 1234567.0;
    TrVMCnv_NumToSZPtr(&d, 13, text);
    EXPECT_STREQ(text, printed("%g", d).c_str());
    int32_t v = 0;
    TrVMCnv_SZToNumPtr(&v, 2, "  -17z");
    EXPECT_EQ(v, -17);
    uint8_t b = 0;
    TrVMCnv_SZToNumPtr(&b, 14, "300");
    EXPECT_EQ(b, 44);
    TrVMCnv_NumToSZPtr(&v, 5, text);
    EXPECT_STREQ(text, "") << "STRING has no text form";
}

// Each routine writes STRING D from inputs A and B (capacity 20), or the
// small ones; one truncation rule: the destination's capacity.
TEST_F(StrConv, StringRoutines) {
    uint8_t *db = vm.db();
    struct Case {
        const char *name, *a, *b;
        std::function<void()> run;
        uint32_t out;
        std::string want;
    };
    float quarter = -0.25f;
    const Case cases[] = {
        {"Mid", "ABCDEF", "", [&] { TrVMStr_Mid(db, D, A, 4, 10); }, D, "EF"},
        {"Mid past the end", "ABCDEF", "", [&] { TrVMStr_Mid(db, D, A, 9, 2); }, D, ""},
        {"Left", "ABCDEF", "", [&] { TrVMStr_Left(db, D, A, -1); }, D, ""},
        {"Right", "ABCDEF", "", [&] { TrVMStr_Right(db, D, A, 2); }, D, "EF"},
        {"Delete", "ABCDEF", "", [&] { TrVMStr_Delete(db, A, A, 1, 3); }, A, "AEF"},
        {"Insert", "ABEF", "CD", [&] { TrVMStr_Insert(db, D, A, B, 2); }, D, "ABCDEF"},
        {"Insert into a full STRING", "", "XY",
         [&] {
             vm.set_string(Small, "abcd");
             TrVMStr_Insert(db, Small, Small, B, 1);
         },
         Small, "abcd"},
        {"Cat", "0123456789", "abcdefghijk", [&] { TrVMStr_Cat(db, D, A, B); }, D,
         "0123456789abcdefghij"},
        {"Copy", "0123456789", "", [&] { TrVMStr_Copy(db, Small, A); }, Small, "0123"},
        {"HtoA", "", "", [&] { TrVMStr_HtoA(db, D, 255); }, D, "FF"},
        {"HtoA 0", "", "", [&] { TrVMStr_HtoA(db, D, 0); }, D, "00"},
        {"HtoA odd", "", "", [&] { TrVMStr_HtoA(db, D, 0x123); }, D, "0123"},
        {"HtoA small", "", "", [&] { TrVMStr_HtoA(db, Seven, 255); }, Seven, ""},
        {"FtoA", "", "", [&] { TrVMStr_FtoA(db, D, 2.5e-7f); }, D, printed("%g", double(2.5e-7f))},
        {"ItoA", "", "", [&] { TrVMStr_ItoA(db, Small, -123456); }, Small, "-123"},
        {"NumToStr -0.25", "", "",
         [&] {
             vm.set(3, R, std::bit_cast<uint32_t>(quarter));
             EXPECT_EQ(TrVMStr_NumToStr(db, D, 3, R, 0, 2), 1);
         },
         D, "-0.25"},
        {"NumToStr right", "", "",
         [&] {
             vm.set(2, N, 123);
             TrVMStr_NumToStr(db, D, 2, N, 5, 0);
         },
         D, "  123"},
        {"NumToStr left", "", "", [&] { TrVMStr_NumToStr(db, D, 2, N, -5, 0); }, D, "123  "},
        {"NumToStr overflow", "", "", [&] { EXPECT_EQ(TrVMStr_NumToStr(db, D, 2, N, 2, 0), 0); }, D,
         "**"},
        {"NumToStr decimals", "", "", [&] { TrVMStr_NumToStr(db, D, 2, N, 0, 2); }, D, "123.00"},
        {"NumToStr big LREAL", "", "",
         [&] {
             double big = 12345678901.75;
             std::memcpy(vm.var(13, 1), &big, 8);
             TrVMStr_NumToStr(db, D, 13, 1, 0, 1);
         },
         D, "12345678901.7"},
        {"DateFmt", "%Y-%m-%d %H:%M:%S", "",
         [&] {
             TrVMStr_DateFmt(db, Date, A, (2024u << 16) | (3 << 8) | 7,
                             (8 * 3600 + 5 * 60 + 9) * 1000);
         },
         Date, "2024-03-07 08:05:09"},
        {"DateFmt short", "%Y|%q%", "", [&] { TrVMStr_DateFmt(db, Seven, A, 2024u << 16, 0); },
         Seven, "2024|%q"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        vm.set_string(A, c.a);
        vm.set_string(B, c.b);
        vm.set_string(D, "zz");
        c.run();
        EXPECT_EQ(vm.string(c.out), c.want);
        const uint8_t *buf = vm.var(5, c.out);
        EXPECT_EQ(buf[2 + buf[1]], 0) << "NUL behind the text";
    }
}

TEST_F(StrConv, CompareSearchAndParse) {
    uint8_t *db = vm.db();
    struct Case {
        const char *a, *b;
        int compare;
        uint32_t find;
    };
    const Case cases[] = {
        {"AB", "ABC", -1, 0},          {"b", "a", 1, 0},    {"", "", 0, 0},
        {"HELLO", "LL", 'H' - 'L', 3}, {"HELLO", "", 1, 0},
    };
    for (const Case &c : cases) {
        vm.set_string(A, c.a);
        vm.set_string(B, c.b);
        EXPECT_EQ(TrVMStr_Compare(db, A, B), c.compare) << c.a << " " << c.b;
        EXPECT_EQ(TrVMStr_Find(db, A, B), c.find) << c.a << " " << c.b;
    }
    struct Parse {
        const char *text;
        uint32_t ul;
        int64_t lint;
        uint32_t hex;
    };
    const Parse parses[] = {
        {"  42x", 42, 42, 0},
        {"-5", 0, -5, 0},
        {"1aZ", 1, 1, 0x1A},
        {"99999999999", uint32_t(99999999999ull), 99999999999ll, 0x99999999},
    };
    for (const Parse &p : parses) {
        vm.set_string(A, p.text);
        EXPECT_EQ(TrVMStr_AtoUL(db, A), p.ul) << p.text;
        EXPECT_EQ(TrVMStr_AtoLINT(db, A), p.lint) << p.text;
        EXPECT_EQ(TrVMStr_AtoH(db, A), p.hex) << p.text;
        EXPECT_EQ(TrVMStr_AtoD(db, A), std::strtod(p.text, nullptr)) << p.text;
    }
    EXPECT_EQ(TrVMStr_ICmp("abc", "ABD"), 'C' - 'D');
    EXPECT_EQ(TrVMStr_NICmp("abc", "ABD", 2), 0);
}

// Arrays: a negative count or size counts as 0, and the count is limited
// to the array's segment from its index.
TEST_F(StrConv, StringsAndArrays) {
    uint8_t *db = vm.db();
    vm.set_string(A, "ABCDEFGH");
    uint32_t n32 = 0;
    TrDB_Segment(db, uint32_t(vm.mem.size()), 8, &n32);
    n32 /= 4;
    EXPECT_EQ(TrVMStr_ToD32(db, A, N, 100), n32 - N < 2 ? n32 - N : 2u);
    EXPECT_EQ(vm.get(2, N), 0x44434241u);
    EXPECT_EQ(TrVMStr_ToD32(db, A, N, -1), 0u);
    EXPECT_EQ(TrVMStr_FromD32(db, n32 - 1, 100, B, 100), 1u) << "one element left in the table";
    EXPECT_EQ(TrVMStr_FromD8(db, 0, -3, B, 5), 0u);
}

} // namespace
