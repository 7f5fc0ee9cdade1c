// Timers and counters on the virtual clock: scenarios whose expected blocks
// gen_ladder_cases.py computes, and long runs against the clock itself.
#include "host/clock.h"
#include "ladder_case.h"
#include "platform/tick.h"

namespace {
#include "ladder_cases_counter.inc"
#include "ladder_cases_timer.inc"
} // namespace

class LadderTimerTest : public LadderCaseTest {};

TEST_F(LadderTimerTest, OnDelayOffDelayAndRetentiveInEveryTimeBase) {
    for (const TimerCase &c : kTimerCases)
        run(c);
}

TEST_F(LadderTimerTest, CountersAtTheirCeilingsFloorsAndResets) {
    for (const TimerCase &c : kCounterCases)
        run(c);
}

TEST_F(LadderTimerTest, OneSecondOnDelayKeepsTimeOverAMinute) {
    // A 1 s on-delay that restarts itself each time it times out, scanned
    // every 7.3 ms of virtual time for 60 s: each expiry comes within one
    // scan after its whole second, and none is lost.
    load("LD %R30.0\nTON_1S_K %R100, 1\nOUT %Q1\nLD %Q1\nOUT %R30.1\nEND\n");
    set_word("%R30", 1);
    constexpr uint64_t kScanNs = 7'300'000, kRunNs = 60'000'000'000ull;
    uint64_t last_start = host::mono_ns();
    int expiries = 0;
    for (uint64_t t = 0; t <= kRunNs; t += kScanNs) {
        ASSERT_EQ(scan(), kLadderScanDone);
        if (bit("%Q1")) {
            uint64_t now = host::mono_ns();
            uint64_t took = now - last_start;
            EXPECT_GE(took, 1'000'000'000ull) << "expiry " << expiries;
            EXPECT_LT(took, 1'000'000'000ull + kScanNs) << "expiry " << expiries;
            ++expiries;
            set_word("%R30", 0); // the next scan restarts the timer
            host::clock_advance_ns(kScanNs);
            ASSERT_EQ(scan(), kLadderScanDone);
            set_word("%R30", 1);
            last_start = host::mono_ns();
        }
        host::clock_advance_ns(kScanNs);
    }
    EXPECT_GE(expiries, 58);
    EXPECT_LE(expiries, 60);
    // Uninterrupted, the accumulator follows the clock: 60 s of scans give 60
    // units once the preset is far away.
    load("LD %R30.0\nTON_1S_K %R100, 30000\nPOP\nEND\n");
    set_word("%R30", 1);
    set_word("%R100", 0);
    uint64_t t0 = host::mono_ns();
    ASSERT_EQ(scan(), kLadderScanDone);
    while (host::mono_ns() - t0 < kRunNs) {
        host::clock_advance_ns(kScanNs);
        ASSERT_EQ(scan(), kLadderScanDone);
    }
    EXPECT_EQ(word("%R100"), uint16_t((host::mono_ns() - t0) / 1'000'000'000ull));
}

TEST_F(LadderTimerTest, EveryTimeBaseCountsItsOwnUnits) {
    // 3.7 s of scans every 2.3 ms: each base counts the whole units elapsed.
    struct Base {
        const char *op;
        uint32_t unit_ticks;
    };
    const Base bases[] = {{"TON_1MS_K", 10},      {"TON_10MS_K", 100}, {"TON_100MS_K", 1000},
                          {"TON_1S_K", 10000},    {"DTON_1MS_K", 10},  {"DTON_10MS_K", 100},
                          {"DTON_100MS_K", 1000}, {"DTON_1S_K", 10000}};
    for (const Base &b : bases) {
        PlcReg_Reset();
        bool wide = b.op[0] == 'D';
        set_word("%R30", 1);
        load(std::string("LD %R30.0\n") + b.op + " %R100, " + (wide ? "K32 100000" : "60000") +
             "\nPOP\nEND\n");
        uint32_t t0 = FPGA_GetFrt();
        ASSERT_EQ(scan(), kLadderScanDone); // first scan: the stamp only
        while (FPGA_GetFrt() - t0 < 37000) {
            host::clock_advance_ns(2'300'000);
            ASSERT_EQ(scan(), kLadderScanDone);
        }
        uint32_t elapsed = time_frt_100us - (wide ? word("%R102") : word("%R101")) % 16384;
        uint32_t units = (FPGA_GetFrt() - t0) / b.unit_ticks;
        EXPECT_EQ(word("%R100"), uint16_t(units)) << b.op;
        EXPECT_LT(elapsed % 16384, b.unit_ticks) << b.op << ": the part unit carried";
    }
}
