#include "host/clock.h"
#include "panel_fixture.h"
#include "platform/tick.h"

class TickTest : public PanelTest {};

TEST_F(TickTest, FirstTickIsWithinTheFirstSecondAndCountsHundredMicroseconds) {
    host::clock_use_virtual(7'123'456'789ull); // 7.123 s: base second 7
    uint32_t t0 = FPGA_GetFrt();
    EXPECT_EQ(t0, 1234u);
    EXPECT_LT(t0, 10000u);
    host::clock_advance_ns(2'500'000); // 2.5 ms = 25 ticks
    EXPECT_EQ(FPGA_GetFrt(), t0 + 25);
    EXPECT_EQ(FrtLast, t0 + 25);
}

TEST_F(TickTest, AllocateIsFirstFitOverConsecutiveFreeTimers) {
    Timer_Init(&FrtLast, 100);
    EXPECT_EQ(Timer_Allocate(1), 0);
    EXPECT_EQ(Timer_Allocate(1), 1);
    Timer_Release(1);
    EXPECT_EQ(Timer_Allocate(1), 1);
    Timer_Release(1);
    EXPECT_EQ(Timer_Allocate(1), 1);
    // 0 and 1 allocated; 2 taken as well, then a run of 3 starts at 3.
    EXPECT_EQ(Timer_Allocate(1), 2);
    Timer_Release(1);
    EXPECT_EQ(Timer_Allocate(3), 3);
    EXPECT_EQ(Timer_Status(3), 2);
    EXPECT_EQ(Timer_Status(5), 2);
    EXPECT_EQ(Timer_Status(6), 1);
    EXPECT_EQ(Timer_Allocate(0), 255);
    EXPECT_EQ(Timer_Allocate(3), 255); // only 1, 6, 7 are free
    EXPECT_EQ(Timer_Allocate(2), 6);
}

TEST_F(TickTest, StartStatusAndExpiry) {
    Timer_Init(&FrtLast, 100);
    uint8_t id = Timer_Allocate(1);
    EXPECT_EQ(Timer_Start(id, 0), 0u) << "no period yet: not started";
    EXPECT_EQ(Timer_Status(id), 2);
    FPGA_GetFrt();
    EXPECT_EQ(Timer_Start(id, 1), 10u) << "1 ms = 10 ticks of 100 us";
    EXPECT_EQ(Timer_Status(id), 3);
    host::clock_advance_ns(900'000);
    EXPECT_EQ(Timer_Status(id), 3);
    host::clock_advance_ns(100'000);
    EXPECT_EQ(Timer_Status(id), 4);
    EXPECT_EQ(Timer_Status(id), 2) << "expiry is reported once";
    EXPECT_EQ(Timer_Start(id, 0), 10u) << "0 reuses the last period";
    Timer_Stop(id);
    EXPECT_EQ(Timer_Status(id), 2);
}

TEST_F(TickTest, OutOfRangeAndUnallocatedIds) {
    Timer_Init(&FrtLast, 100);
    EXPECT_EQ(Timer_Status(8), 0);
    EXPECT_EQ(Timer_Status(2), 1);
    EXPECT_EQ(Timer_Start(9, 5), 9u);
    EXPECT_EQ(Timer_Start(2, 5), 2u);
    Timer_Stop(200);
    Timer_Release(200);
}

TEST_F(TickTest, TimerSurvivesTheTickWrap) {
    Timer_Init(&FrtLast, 100);
    // Put the tick 5 ms before its wrap.
    host::clock_use_virtual(0);
    FPGA_GetFrt();
    host::clock_advance_ns((uint64_t(0xFFFFFFFFu) - 49) * 100'000ull);
    uint32_t before = FPGA_GetFrt();
    EXPECT_EQ(before, 0xFFFFFFFFu - 49);
    uint8_t id = Timer_Allocate(1);
    Timer_Start(id, 10);
    host::clock_advance_ms(9);
    EXPECT_EQ(Timer_Status(id), 3);
    host::clock_advance_ms(1);
    EXPECT_EQ(Timer_Status(id), 4);
}

TEST_F(TickTest, DelayAndSysWaitAdvanceByTheirUnits) {
    uint32_t t0 = FPGA_GetFrt();
    uint32_t t1 = Delay(300);
    EXPECT_GE(t1 - t0, 3000u);
    EXPECT_LT(t1 - t0, 3002u);
    uint32_t t2 = FPGA_GetFrt();
    SYS_Wait(30);
    EXPECT_GE(FPGA_GetFrt() - t2, 3000u);
}
