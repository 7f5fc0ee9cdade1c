// String, block, clock, solar-position and network instructions of the ladder
// engine, run from assembled programs.
#include "base/trace.h"
#include "host/clock.h"
#include "ladder_fixture.h"
#include "platform/rtc.h"
#include "platform/tick.h"
#include "plc/solar.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

class LadderStringsTest : public LadderTest {
protected:
    static uint8_t *r_bytes(int n) { return plc_reg + reg::kR + 2 * (n - 1); }
    static std::string r_text(int n) { return reinterpret_cast<const char *>(r_bytes(n)); }
    static void r_put_text(int n, const char *text) {
        std::memcpy(r_bytes(n), text, std::strlen(text) + 1);
    }
    static void r_put32(int n, uint32_t v) { put_le32(r_bytes(n), v); }
    static uint32_t r_get32(int n) { return le32(r_bytes(n)); }
    static void r_put_float(int n, float f) {
        uint32_t bits;
        std::memcpy(&bits, &f, 4);
        r_put32(n, bits);
    }
    static float r_float(int n) {
        uint32_t bits = r_get32(n);
        float f;
        std::memcpy(&f, &bits, 4);
        return f;
    }
    // A string variable at %R n: capacity, length, characters.
    static void r_put_strvar(int n, int capacity, const char *text) {
        uint8_t *p = r_bytes(n);
        p[0] = uint8_t(capacity);
        p[1] = uint8_t(std::strlen(text));
        std::memcpy(p + 2, text, std::strlen(text));
    }
    static std::string r_strvar(int n) {
        const uint8_t *p = r_bytes(n);
        return std::string(reinterpret_cast<const char *>(p + 2), p[1]);
    }
    // The pointer pair at %R ptr names the string variable at %R n.
    static void point(int ptr, int n) { r_put32(ptr, reg::kR + 2 * uint32_t(n - 1)); }

    // Runs `body` between "LD %M1" and "OUT %Q1" and returns %Q1; the marker
    // rung after it proves that the instruction took exactly its operands.
    int run(const std::string &body, int m1 = 1) {
        load("LD %M1\n" + body + "\nOUT %Q1\nLD %M2\nOUT %Q2\nEND\n");
        set_bit("%M1", m1);
        set_bit("%M2", 1);
        set_bit("%Q2", 0);
        EXPECT_EQ(scan(), kLadderScanDone) << body;
        EXPECT_EQ(bit("%Q2"), 1) << "misaligned after: " << body;
        return bit("%Q1");
    }
};

TEST_F(LadderStringsTest, ByteAreasCompareAndCopy) {
    r_put_text(10, "abcdef");
    r_put_text(20, "abcxyz");
    EXPECT_EQ(run("CMPB 3, %R10, %R20"), 1);
    EXPECT_EQ(run("CMPB 4, %R10, %R20"), 0);
    // Three inline bytes take two words after the register operand.
    EXPECT_EQ(run("CMPBK %R10, \"abc\""), 1);
    EXPECT_EQ(run("CMPBK %R10, \"abd\""), 0);
    EXPECT_EQ(run("CPYB 4, %R30, %R20"), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(r_bytes(30)), 4), "abcx");
    EXPECT_EQ(run("CPYBK %R40, \"hello\\0\""), 1);
    EXPECT_EQ(r_text(40), "hello");
    // An area running past the end of the registers is refused, untouched.
    uint8_t last = plc_reg[reg::kESR + 0x1FF];
    EXPECT_EQ(run("CPYB 4, %SR448, %R20"), 0);
    EXPECT_EQ(plc_reg[reg::kESR + 0x1FF], last);
}

TEST_F(LadderStringsTest, TextToValueByKind) {
    r_put_text(10, "-1234");
    r_put_text(20, "123456");
    r_put_text(30, "2.5e3");
    set_word("%R50", 7);
    EXPECT_EQ(run("ATOV %R50, %R10, 0"), 1);
    EXPECT_EQ(int16_t(word("%R50")), -1234);
    EXPECT_EQ(run("ATOV %R50, %R20, 1"), 1);
    EXPECT_EQ(r_get32(50), 123456u);
    EXPECT_EQ(run("ATOV %R50, %R30, 2"), 1);
    EXPECT_EQ(r_float(50), 2500.0f);
    r_put32(50, 0x11112222);
    EXPECT_EQ(run("ATOV %R50, %R10, 3"), 1); // any other kind does nothing
    EXPECT_EQ(r_get32(50), 0x11112222u);
    r_put_text(10, "x");
    EXPECT_EQ(run("ATOV %R50, %R10, 0"), 1); // nothing converts: 0
    EXPECT_EQ(word("%R50"), 0);
}

TEST_F(LadderStringsTest, FormattingAcceptsOnlyOneNumericConversion) {
    struct Case {
        const char *format;
        int kind, flag, field;
        double value;
        bool ok;
    };
    const Case cases[] = {
        {"%5d", 0, 1, 0, -42, true},        {"T=%u C", 0, 0, 0, 65535, true},
        {"%04X", 0, 0, 0, 0xBEEF, true},    {"%.2f", 1, 0, 0, 3.14159, true},
        {"%+8.3e", 1, 0, 0, -1234.5, true}, {"%lf%%", 1, 0, 0, 0.5, true},
        {"%d", 0, 0, 3, 12345, true}, // a field length cuts the text
        {"%s", 0, 0, 0, 1, false},          {"%n", 0, 0, 0, 1, false},
        {"%d%d", 0, 0, 0, 1, false},        {"%*d", 0, 0, 0, 1, false},
        {"%ld", 0, 0, 0, 1, false},         {"%f", 0, 0, 0, 1, false},
        {"%d", 1, 0, 0, 1, false},          {"no value", 0, 0, 0, 1, false},
        {"%", 0, 0, 0, 1, false},           {"%p", 0, 0, 0, 1, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.format);
        if (c.kind == 0)
            set_word("%R10", uint16_t(int(c.value)));
        else
            r_put_float(10, float(c.value));
        std::memset(r_bytes(20), 0x55, 44);
        char line[96];
        std::snprintf(line, sizeof line, "FMT %%R20, %%R10, %d, %d, %d, \"%s\"", c.kind, c.flag,
                      c.field, c.format);
        ASSERT_EQ(run(line), c.ok ? 1 : 0);
        if (!c.ok) {
            EXPECT_EQ(r_bytes(20)[0], 0x55); // nothing written
            continue;
        }
        char want[64];
        if (c.kind == 0)
            std::snprintf(want, sizeof want, c.format,
                          c.flag ? int(int16_t(int(c.value))) : int(uint16_t(int(c.value))));
        else
            std::snprintf(want, sizeof want, c.format, double(float(c.value)));
        // A field length writes exactly that many bytes, without a NUL.
        const char *got = reinterpret_cast<char *>(r_bytes(20));
        if (c.field) {
            EXPECT_EQ(std::string(got, size_t(c.field)),
                      std::string(want).substr(0, size_t(c.field)));
            EXPECT_EQ(r_bytes(20)[c.field], 0x55);
        } else {
            EXPECT_EQ(std::string(got, strnlen(got, 44)), want);
        }
    }
    // A float whose exponent bits are all ones clears the power flow.
    r_put32(10, 0x7FC00000);
    EXPECT_EQ(run("FMT %R20, %R10, 1, 0, 0, \"%f\""), 0);
}

TEST_F(LadderStringsTest, TextLengthAndUnsigned64Digits) {
    r_put_text(10, "twelve chars");
    EXPECT_EQ(run("STRLEN %R50, %R10"), 1);
    EXPECT_EQ(word("%R50"), 12);
    const std::pair<uint64_t, const char *> values[] = {
        {0, "0"},
        {4294967295ull, "4294967295"},
        {4294967296ull, "4294967296"},
        {18446744073709551615ull, "18446744073709551615"}};
    for (auto [v, text] : values) {
        r_put32(60, uint32_t(v));
        r_put32(62, uint32_t(v >> 32));
        EXPECT_EQ(run("U64TOA %R70, %R60"), 1);
        EXPECT_EQ(r_text(70), text);
    }
}

TEST_F(LadderStringsTest, BlockCopyBetweenByteOffsets) {
    r_put_text(10, "ABCDEFGH");
    r_put32(1, reg::kR + 2 * 9 + 1);  // source: one byte into %R10
    r_put32(3, reg::kR + 2 * 29 + 1); // destination: one byte into %R30
    EXPECT_EQ(run("BMOVP %R3, %R1, 2"), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(r_bytes(30)) + 1, 4), "BCDE");
    r_put32(3, reg::kESR + 0x1FE); // four bytes would leave the registers
    EXPECT_EQ(run("BMOVP %R3, %R1, 2"), 0);
    EXPECT_EQ(run("BMOVP %R3, %R1, 0"), 1); // a count of 0 does nothing
}

TEST_F(LadderStringsTest, StringVariables) {
    r_put_strvar(10, 8, "abc");
    r_put_strvar(20, 10, "defghijk");
    point(1, 10);
    point(3, 20);
    // Appending stops at the destination's capacity.
    EXPECT_EQ(run("SAPP %R1, %R3"), 1);
    EXPECT_EQ(r_strvar(10), "abcdefgh");
    struct Cmp {
        const char *x, *y;
        int eq, cmp1, cmp2;
    };
    const Cmp cmps[] = {{"abc", "abc", 1, 0, 1},
                        {"abc", "abcd", 0, 0, 0},
                        {"abcd", "abc", 0, 1, 1},
                        {"abd", "abc", 0, 0xFF, 1},
                        {"abb", "abc", 0, 0xFF, 0}};
    for (const Cmp &c : cmps) {
        SCOPED_TRACE(std::string(c.x) + " " + c.y);
        r_put_strvar(10, 8, c.x);
        r_put_strvar(20, 8, c.y);
        // %Q1 takes the top after the instruction (a top of 0xFF reads 1).
        for (auto [op, want] : {std::pair{"SEQ", c.eq}, {"SCMP1", c.cmp1}, {"SCMP2", c.cmp2}}) {
            EXPECT_EQ(run(std::string(op) + " %R1, %R3"), want != 0) << op;
        }
    }
    r_put_strvar(20, 10, "0123456789");
    EXPECT_EQ(run("SCOPY %R1, %R3, 4"), 1);
    EXPECT_EQ(r_strvar(10), "0123");
    EXPECT_EQ(run("SCOPY %R1, %R3, 300"), 0); // above 256
    EXPECT_EQ(run("SMID %R1, %R3, 3, 4"), 1);
    EXPECT_EQ(r_strvar(10), "2345");
    r_put_strvar(20, 10, "-12.75");
    EXPECT_EQ(run("SATOF %R40, %R3"), 1);
    EXPECT_EQ(r_float(40), -12.75f);
    // A variable whose length exceeds its capacity is refused.
    r_bytes(20)[1] = 11;
    EXPECT_EQ(run("SEQ %R1, %R3"), 0);
    // So is a pointer that leaves the register area.
    r_put32(3, reg::kESR + 0x1FF);
    EXPECT_EQ(run("SAPP %R1, %R3"), 0);
}

TEST_F(LadderStringsTest, ClockAndSolarPosition) {
    const uint16_t cal[7] = {30, 15, 10, 24, 6, 2026, 0}; // 10:15:30, 24 June 2026
    for (int i = 0; i < 7; ++i)
        set_word("%R" + std::to_string(10 + i), cal[i]);
    EXPECT_EQ(run("RTCSET %R10"), 1);
    uint16_t now[7] = {};
    RtcGet(now);
    EXPECT_EQ(now[5], 2026);
    EXPECT_EQ(now[4], 6);
    EXPECT_EQ(now[2], 10);
    set_word("%R14", 13); // month 13
    EXPECT_EQ(run("RTCSET %R10"), 0);
    EXPECT_EQ(run("RTCSET %R10", 0), 0); // power flow off: nothing set

    // Solar position: the registers hold seconds first; sunpos gets the year
    // first. Results as floats.
    r_put_float(20, 37.1f);  // latitude
    r_put_float(22, -2.36f); // longitude
    set_word("%R14", 6);
    EXPECT_EQ(run("SUNPOS %R10, %R20, %R22, %R30, %R32"), 1);
    SunCoordinates want{};
    sunpos({2026, 6, 24, 10, 15, 30}, {double(-2.36f), double(37.1f)}, &want);
    EXPECT_FLOAT_EQ(r_float(30), float(want.zenith));
    EXPECT_FLOAT_EQ(r_float(32), float(want.azimuth));
}

TEST_F(LadderStringsTest, IndexedRegisterBlocks) {
    set_word("%R1", 100); // X
    for (int i = 0; i < 3; ++i)
        set_word("%R" + std::to_string(20 + i), uint16_t(0xA0 + i));
    EXPECT_EQ(run("RBLK062 %R1, %R20, 3"), 1);
    EXPECT_EQ(word("%R100"), 0xA0);
    EXPECT_EQ(word("%R102"), 0xA2);
    EXPECT_EQ(run("RBLK063 %R1, %R20, 3"), 1);
    set_word("%R101", 0);
    EXPECT_EQ(run("RBLK063 %R1, %R20, 3"), 0);
    set_word("%R1", 50239); // %R50239 + 3 words leaves %R
    EXPECT_EQ(run("RBLK062 %R1, %R20, 3"), 0);
    set_word("%R1", 0);
    EXPECT_EQ(run("RBLK062 %R1, %R20, 3"), 0);
    // The typed form: both first words 0, a type code, the count of words of
    // that type; out of range it is stepped over with the power flow kept.
    EXPECT_EQ(run("RBLK062 0, 0, 9, 2, 7, 7"), 1);
    EXPECT_EQ(run("RBLK062 0, 0, 2, 2, 7, 7"), 0);
}

TEST_F(LadderStringsTest, NodeNumberChangeAsksTwiceThenGivesUp) {
    host::clock_use_virtual();
    sr_put(29, 1);
    sr_put(61, 1);
    load("LD %M1\nNODEID 5\nOUT %Q1\nEND\n");
    set_bit("%M1", 1);
    host::trace_start();
    auto count = [](const char *name) {
        auto calls = host::trace_calls();
        return std::count(calls.begin(), calls.end(), std::string(name));
    };
    ASSERT_EQ(scan(), kLadderScanDone); // state 0: new number, network set up again
    EXPECT_EQ(sr_get(29), 5);
    EXPECT_EQ(count("Plc_NetInit"), 1);
    EXPECT_EQ(bit("%Q1"), 1);
    ASSERT_EQ(scan(), kLadderScanDone); // state 1: request
    EXPECT_EQ(count("Net_ReqQG"), 1);
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(scan(), kLadderScanDone); // waiting, well within 0.5 s
    EXPECT_EQ(count("Net_ReqQG"), 1);
    EXPECT_GE(count("Net_RxHandler"), 3);
    host::clock_advance_ms(600);
    ASSERT_EQ(scan(), kLadderScanDone); // first time-out: one more request
    ASSERT_EQ(scan(), kLadderScanDone);
    EXPECT_EQ(count("Net_ReqQG"), 2);
    host::clock_advance_ms(600);
    ASSERT_EQ(scan(), kLadderScanDone); // second time-out: state 3
    ASSERT_EQ(scan(), kLadderScanDone); // resumed, back to state 0
    ASSERT_EQ(scan(), kLadderScanDone); // same number: nothing more
    EXPECT_EQ(count("Net_ReqQG"), 2);
    EXPECT_EQ(count("Plc_NetInit"), 1);
    EXPECT_EQ(bit("%Q1"), 1);
    // Numbers out of range fail at once.
    load("LD %M1\nNODEID 254\nOUT %Q1\nEND\n");
    ASSERT_EQ(scan(), kLadderScanDone);
    EXPECT_EQ(bit("%Q1"), 0);
    EXPECT_EQ(sr_get(29), 5);
}

TEST_F(LadderStringsTest, HeartbeatsChooseTheirServiceAndClearTheirBit) {
    sr_put(29, 3);
    sr_put(61, 2);
    host::trace_start();
    set_word("%R10", 3);
    EXPECT_EQ(run("HBSET %R10, 7, 100", 0), 0);
    EXPECT_EQ(word("%R10"), 2); // bit 0 cleared with the power flow off
    EXPECT_EQ(run("HBGET %R10, 7, 100", 0), 0);
    EXPECT_EQ(word("%R10"), 0);
    host::trace_start();
    run("HBSET %R10, 4, 101"); // odd period: input heartbeat
    run("HBSET %R10, 4, 100"); // own ids 3 and 4: output heartbeat
    run("HBSET %R10, 5, 100"); // not an own id: refused without a call
    run("HBGET %R10, 5, 100");
    std::vector<std::string> want = {"Net_PutIHB", "Net_PutQHB", "Net_GetQHB"};
    std::vector<std::string> got;
    for (const std::string &c : host::trace_calls())
        if (c.rfind("Net_", 0) == 0) got.push_back(c);
    EXPECT_EQ(got, want);
}

} // namespace
