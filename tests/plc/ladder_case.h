// Tables of ladder instruction cases whose expected results are computed by
// gen_ladder_cases.py, and the runners that assemble and scan them.
#pragma once
#include "host/clock.h"
#include "ladder_fixture.h"
#include "platform/tick.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

// One data-stack instruction on pushed constants. Entries are 2, 4 or 8
// bytes wide; the result (if any) is popped into %R1 on.
struct ArithCase {
    const char *group;
    const char *op; // mnemonic with its own operands
    int win;        // bytes of each operand entry
    int nargs;
    uint64_t a, b, c;
    int wout; // bytes of the result entry, 0 for none
    uint64_t result;
    int nan;  // 1: the result is a float NaN (any NaN), 2: a double NaN
    int pin;  // incoming power flow (%M1)
    int pout; // power flow at the end (%Q1)
};

// A program body run with %M1 as the incoming power flow. Words are named by
// %R numbers; numbers below 1 name the words before %R1 (so -63 is the word
// at byte 0x0F00).
struct RegCase {
    const char *name;
    const char *src;
    int m1;
    std::vector<std::pair<int, uint32_t>> init, expect;
    int q1;
    int nan_reg;  // %R number of a NaN result, 0 for none
    int nan_kind; // 1 float, 2 double
};

// Timer and counter scenarios: the block at %R100, the rung in %R30.0, the
// reset input in %R31.0, a register preset in %R5 (-6).
struct TimerStep {
    uint32_t ticks; // 100 us ticks before this scan
    int rung, reset;
    uint32_t preset; // the register preset written before the scan
    uint32_t acc;    // expected accumulator or count
    uint32_t status;
    int out;
};
struct TimerCase {
    const char *name;
    const char *src;
    int wide;
    uint16_t init[3]; // the block's words before the first scan
    std::vector<TimerStep> steps;
};

class LadderCaseTest : public LadderTest {
protected:
    static uint32_t r_offset(int n) { return uint32_t(int(reg::kR) + 2 * (n - 1)); }
    static uint16_t r_get(int n) { return le16(plc_reg + r_offset(n)); }
    static void r_put(int n, uint16_t v) { put_le16(plc_reg + r_offset(n), v); }

    static std::string hex(uint64_t v) {
        char buf[24];
        std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(v));
        return buf;
    }

    void run(const ArithCase &c) {
        auto push = [](int bytes) {
            return bytes == 2 ? "PUSHK " : bytes == 4 ? "PUSHKD " : "PUSHKQ ";
        };
        auto pop = [](int bytes) {
            return bytes == 0   ? ""
                   : bytes == 2 ? "POPW %R1\n"
                   : bytes == 4 ? "POPD %R1\n"
                                : "POPQ %R1\n";
        };
        const uint64_t args[] = {c.a, c.b, c.c};
        std::string src = "TRUE\nLD %M1\n";
        for (int i = 0; i < c.nargs; ++i)
            src += push(c.win) + hex(args[i]) + "\n";
        src += std::string(c.op) + "\n" + pop(c.wout) + "OUT %Q1\nEND\n";
        PlcReg_Reset();
        set_bit("%M1", c.pin);
        load(src);
        std::string what = std::string(c.op) + " " + hex(c.a) + " " + hex(c.b) + " " + hex(c.c);
        ASSERT_EQ(scan(), kLadderScanDone) << what;
        EXPECT_EQ(w_sp, 0) << what << ": the data stack is balanced";
        EXPECT_EQ(bit("%Q1"), c.pout) << what << ": power flow";
        if (c.wout == 0) return;
        uint64_t got = 0;
        for (int i = 0; i < c.wout / 2; ++i)
            got |= uint64_t(r_get(1 + i)) << (16 * i);
        if (c.nan == 1) {
            float f;
            uint32_t bits = uint32_t(got);
            std::memcpy(&f, &bits, 4);
            EXPECT_TRUE(std::isnan(f)) << what << ": " << hex(got);
        } else if (c.nan == 2) {
            double d;
            std::memcpy(&d, &got, 8);
            EXPECT_TRUE(std::isnan(d)) << what << ": " << hex(got);
        } else {
            EXPECT_EQ(got, c.result) << what;
        }
    }

    void run(const RegCase &c) {
        PlcReg_Reset();
        for (const auto &[n, v] : c.init)
            r_put(n, uint16_t(v));
        set_bit("%M1", c.m1);
        load(c.src);
        ASSERT_EQ(scan(), kLadderScanDone) << c.name << "\n" << c.src;
        EXPECT_EQ(w_sp, 0) << c.name << ": the data stack is balanced";
        EXPECT_EQ(bit("%Q1"), c.q1) << c.name << ": power flow";
        for (const auto &[n, v] : c.expect)
            EXPECT_EQ(r_get(n), v) << c.name << ": %R" << n;
        if (c.nan_kind == 1) {
            uint32_t bits = uint32_t(r_get(c.nan_reg)) | (uint32_t(r_get(c.nan_reg + 1)) << 16);
            EXPECT_EQ(bits & 0x7F800000u, 0x7F800000u) << c.name;
            EXPECT_NE(bits & 0x007FFFFFu, 0u) << c.name << ": NaN";
        } else if (c.nan_kind == 2) {
            uint64_t bits = 0;
            for (int i = 0; i < 4; ++i)
                bits |= uint64_t(r_get(c.nan_reg + i)) << (16 * i);
            EXPECT_EQ(bits & 0x7FF0000000000000ull, 0x7FF0000000000000ull) << c.name;
            EXPECT_NE(bits & 0x000FFFFFFFFFFFFFull, 0u) << c.name << ": NaN";
        }
    }

    // Scans a timer or counter scenario. The clock is first moved so that the
    // first scan reads the stamp 0.
    void run(const TimerCase &c) {
        PlcReg_Reset();
        for (int i = 0; i < 3; ++i)
            r_put(100 + i, c.init[i]);
        load(c.src);
        uint32_t frt = FPGA_GetFrt();
        host::clock_advance_ns(uint64_t((16384 - frt % 16384) % 16384) * 100000);
        int i = 0;
        for (const TimerStep &s : c.steps) {
            host::clock_advance_ns(uint64_t(s.ticks) * 100000);
            r_put(30, uint16_t(s.rung));
            r_put(31, uint16_t(s.reset));
            r_put(5, uint16_t(s.preset));
            r_put(6, uint16_t(s.preset >> 16));
            std::string what = std::string(c.name) + " step " + std::to_string(i++);
            ASSERT_EQ(scan(), kLadderScanDone) << what;
            uint32_t acc = c.wide ? r_get(100) | (uint32_t(r_get(101)) << 16) : r_get(100);
            EXPECT_EQ(acc, s.acc) << what << ": accumulator";
            EXPECT_EQ(r_get(c.wide ? 102 : 101), s.status) << what << ": status " << hex(s.status);
            EXPECT_EQ(bit("%Q1"), s.out) << what << ": output";
        }
    }
};
