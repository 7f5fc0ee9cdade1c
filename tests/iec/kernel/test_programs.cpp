// The program layer over cycles: SFC charts, breakpoints and single step,
// resume with the saved call stack, the logs and the resource table.
#include "iec/kernel/trvmrsc.h"
#include "iec/kernel/trvmtic.h"
#include "panel_fixture.h"
#include "vm_db.h"

namespace {

class Programs : public PanelTest {
protected:
    void cycle(uint32_t tick) { TrVM_Cycle(vm.db(), tick); }
    uint16_t step_state(uint32_t s) {
        uint32_t n = 0;
        return le16(TrDB_Segment(vm.db(), uint32_t(vm.mem.size()), 20, &n) + 12 * s + 8);
    }
    VmDb vm;
};

// A chart of three steps: initial step 1, then 1 -> 2 -> 3 -> 1, one move a
// cycle while `go` is TRUE; DINT 2 shows the step whose activation ran
// last. Program ctl stops or kills the chart on request.
const char *kChart = R"(
.app CHART
.var DINT cycles
.var DINT active
.var DINT one
.var BOOL go
.var BOOL yes
.var BOOL stop
.var BOOL kill
.var TIME t1
.room step 3
.room trans 3
.program main kind=0
        LDK_DINT one, 1
        ADD_DINT cycles, cycles, one
        END
.program chart kind=1
        SFC_JMPMASK 0x10, steps
        SFC_INIT 1
        SFC_SETSTATE 1
steps:  SFC_JMPMASK 0x20, run
        SFC_STEP 1, k1, k1, k1
k1:     SFC_STEP 2, k2, k2, k2
k2:     SFC_STEP 3, k3, k3, k3
k3:     SFC_SETSTATE 0
        END
run:    SET_BOOL yes
        SFC_STEP 1, a1, x1, x1
        STEP_TIME t1, 1
        JMPA x1
a1:     LDK_DINT active, 1
x1:     SFC_STEP 2, a2, x2, x2
        JMPA x2
a2:     LDK_DINT active, 2
x2:     SFC_STEP 3, a3, x3, x3
        JMPA x3
a3:     LDK_DINT active, 3
x3:     SFC_TRANS 1, u1, 1
        SET_TRANS 1, go
u1:     SFC_MOVE 1, 1, 2
        SFC_TRANS 2, u2, 2
        SET_TRANS 2, yes
u2:     SFC_MOVE 2, 2, 3
        SFC_TRANS 3, u3, 3
        SET_TRANS 3, yes
u3:     SFC_MOVE 3, 3, 1
        SFC_END
.program ctl kind=0
        JMPF stop, k
        PRG_STOP chart
        RESET_BOOL stop
k:      JMPF kill, e
        PRG_KILL chart
        RESET_BOOL kill
e:      END
)";
enum { kGo = 1, kStop = 3, kKill = 4 };

TEST_F(Programs, ChartStepsOverCycles) {
    ASSERT_EQ(vm.build(kChart), 0);
    pCode = vm.code;
    EXPECT_EQ(vm.prg_flags(2), trprg::kSfcFirstRun);
    vm.set(1, kGo, 1);
    const int active[] = {1, 2, 3, 1, 2, 3, 1};
    for (int i = 0; i < 7; ++i) {
        cycle(1000 + 10 * i);
        EXPECT_EQ(vm.dint(2), active[i]) << "cycle " << i;
    }
    EXPECT_EQ(vm.dint(1), 7);
    EXPECT_EQ(vm.prg_flags(2), trprg::kActive);
    EXPECT_TRUE(vm.log().empty());
}

// A step that stays active keeps its time across midnight; a stopped chart
// keeps its state; a killed one deactivates its steps and ends.
TEST_F(Programs, StepTimeStopAndKill) {
    ASSERT_EQ(vm.build(kChart), 0);
    pCode = vm.code;
    cycle(86399000); // step 1 activated at this tick
    cycle(86399500);
    cycle(700); // past midnight
    EXPECT_EQ(step_state(1), 1u);
    EXPECT_EQ(vm.get(4, 1), 1700u) << "500 ms, then 1200 ms across midnight";
    vm.set(1, kStop, 1);
    cycle(800);
    EXPECT_EQ(vm.prg_flags(2), trprg::kActive | trprg::kSuspended);
    cycle(5000);
    EXPECT_EQ(vm.get(4, 1), 1800u) << "a stopped chart does not run";
    vm.set(1, kKill, 1);
    cycle(5100);
    EXPECT_EQ(vm.prg_flags(2), trprg::kActive | trprg::kSfcStopping);
    cycle(5200);
    EXPECT_EQ(step_state(1), 0u);
    EXPECT_EQ(vm.prg_flags(2), 0) << "the chart ended";
    EXPECT_TRUE(vm.log().empty());
}

// A transition's breakpoint pauses the VM behind it; a requested cycle
// resumes the chart there, before the programs that follow it.
TEST_F(Programs, TransitionBreakpoint) {
    ASSERT_EQ(vm.build(kChart), 0);
    pCode = vm.code;
    vm.set(1, kGo, 1);
    TrVMTic_SetSfcBreakT(vm.db(), 1, 1);
    cycle(100);
    EXPECT_EQ(vm.flags() & (trst::kRunning | trprg::kStepMode), 0);
    EXPECT_EQ(le16(vm.st() + trst::kStopProgram), 2u);
    EXPECT_EQ(step_state(2), 2u) << "the transition fired";
    cycle(200);
    EXPECT_EQ(le32(vm.st() + trst::kCycleCount), 1u) << "paused";
    vm.set_flags(vm.flags() | trprg::kOneCycle);
    cycle(300);
    EXPECT_EQ(vm.dint(1), 1) << "the cycle went on from the chart";
    EXPECT_EQ(le16(vm.st() + trst::kStopProgram), 0u);
    vm.set_flags(vm.flags() | trprg::kOneCycle);
    cycle(400);
    EXPECT_EQ(vm.dint(1), 2);
    EXPECT_EQ(vm.dint(2), 2);
}

const char *kBreaks = R"(
.app BP stack=4
.var DINT n
.var DINT m
.var DINT k
.var DINT one
.program main kind=0
        LDK_DINT one, 1
        ADD_DINT n, n, one
        BREAK
        CALL_PRG sub
        ADD_DINT m, m, one
        END
.program sub kind=3
        BREAK
        ADD_DINT k, k, one
        END
)";
constexpr uint32_t kBreakAt = 16; // the BREAK of main

TEST_F(Programs, BreakpointsTracePointsAndSingleStep) {
    ASSERT_EQ(vm.build(kBreaks), 0);
    pCode = vm.code;
    auto counts = [&] { return std::vector<int32_t>{vm.dint(1), vm.dint(2), vm.dint(3)}; };
    // A one-shot breakpoint stops once; running on, it is gone.
    TrVMPrg_SetBreakpoint(vm.db(), 1, kBreakAt, 2);
    EXPECT_TRUE(vm.flags() & trprg::kBreakpointsSet);
    cycle(10);
    EXPECT_EQ(counts(), (std::vector<int32_t>{1, 0, 0}));
    EXPECT_EQ(vm.flags() & (trst::kRunning | trprg::kStepMode), trprg::kStepMode);
    EXPECT_FALSE(vm.flags() & trprg::kBreakpointsSet);
    EXPECT_EQ(le32(vm.st() + trst::kStopPosition), kBreakAt + 2);
    vm.set_flags(uint16_t((vm.flags() | trst::kRunning) & ~trprg::kStepMode));
    cycle(20);
    cycle(30);
    EXPECT_EQ(counts(), (std::vector<int32_t>{2, 2, 2}));
    // A trace point logs and goes on.
    TrVMPrg_SetBreakpoint(vm.db(), 1, kBreakAt, 3);
    cycle(40);
    EXPECT_EQ(counts(), (std::vector<int32_t>{3, 3, 3}));
    EXPECT_EQ(vm.log(), (std::vector<VmDb::Log>{{68, 0, 1 | kBreakAt << 16}}));
    TrVMPrg_SetBreakpoint(vm.db(), 0, 0, 0);
    EXPECT_FALSE(vm.flags() & trprg::kBreakpointsSet);
    EXPECT_EQ(TrVMPrg_HasBreapointOrStep(vm.db()), 0);
    // Single step: each requested cycle runs to the next BREAK, also inside
    // the called program, and resumes there with the saved call stack.
    vm.set_flags(uint16_t((vm.flags() & ~trst::kRunning) | trprg::kStepMode | trprg::kOneCycle));
    const std::vector<int32_t> steps[] = {{4, 3, 3}, {4, 3, 3}, {4, 4, 4}};
    const uint16_t stop_program[] = {1, 2, 0};
    for (int i = 0; i < 3; ++i) {
        cycle(50 + i);
        EXPECT_EQ(counts(), steps[i]) << i;
        EXPECT_EQ(le16(vm.st() + trst::kStopProgram), stop_program[i]) << i;
        vm.set_flags(vm.flags() | trprg::kOneCycle);
    }
    EXPECT_EQ(TrDB_GetSegment(vm.db(), 29).count_b, 0u);
}

// A task runs its program list in its order; the main task only while the
// VM runs, another one on demand.
TEST_F(Programs, TasksRunTheirProgramLists) {
    ASSERT_EQ(vm.build(".app T\n.var DINT a\n.var DINT b\n.var DINT one\n"
                       ".task MAIN second, first\n.task OTHER second\n"
                       ".program first kind=0\n        LDK_DINT one, 1\n"
                       "        ADD_DINT a, a, one\n        END\n"
                       ".program second kind=0\n        ADD_DINT b, b, a\n        END\n"),
              0);
    pCode = vm.code;
    cycle(10);
    cycle(20);
    EXPECT_EQ(vm.dint(1), 2);
    EXPECT_EQ(vm.dint(2), 1) << "second ran before first each cycle";
    EXPECT_EQ(le32(vm.st() + trst::kCycleCount), 2u);
    vm.set_flags(uint16_t(vm.flags() & ~trst::kRunning));
    cycle(30);
    EXPECT_EQ(vm.dint(1), 2) << "paused";
    EXPECT_EQ(TrVM_PerformTask(vm.db(), 1, 40, 0), 0);
    EXPECT_EQ(vm.dint(2), 3);
}

TEST_F(Programs, LogsKeepSixteenEntriesAndShortNames) {
    ASSERT_EQ(vm.build(kBreaks), 0);
    for (uint16_t i = 1; i <= 17; ++i)
        TrVMLog_Push(vm.db(), i, 0, i);
    std::vector<VmDb::Log> log = vm.log();
    ASSERT_EQ(log.size(), 16u) << "the 17th entry is dropped";
    EXPECT_EQ(log.front().code, 1);
    EXPECT_EQ(log.back().code, 16);
    for (uint16_t i = 1; i <= 17; ++i)
        TrVMLog_PushSys(i);
    EXPECT_EQ(TrVMLog_PopSys(), 1);
    TrVMLog_RegisterUnresolved(vm.db(), "ABCDEFGHIJKLMNOPQRST");
    TrVMLog_RegisterUnresolved(vm.db(), "FIFTEEN_CHARS_X");
    EXPECT_STREQ(TrVMLog_GetUnresolved(vm.db(), 0), "ABCDEFGHIJKLM..");
    EXPECT_STREQ(TrVMLog_GetUnresolved(vm.db(), 1), "FIFTEEN_CHARS_X");
    EXPECT_EQ(TrVMLog_GetUnresolved(vm.db(), 2), nullptr);
}

TEST_F(Programs, ResourceArrays) {
    ASSERT_EQ(vm.build(kBreaks), 0);
    uint8_t *db = vm.db();
    EXPECT_EQ(TrVMRsc_CreateArray(db, 128, 10, 4), 2);
    EXPECT_EQ(TrVMRsc_CreateArray(db, 5, 0, 4), 3);
    EXPECT_EQ(TrVMRsc_CreateArray(db, 6, 0x7FFFFFFF, 16), 4) << "beyond 32 bits";
    ASSERT_EQ(TrVMRsc_CreateArray(db, 5, 10, 4), 1);
    EXPECT_EQ(TrVMRsc_CreateArray(db, 5, 10, 4), 2) << "identifier taken";
    uint32_t v = 0xA5A5A5A5, back = 0;
    struct Case {
        int32_t index;
        uint32_t size;
        int write, read;
    };
    const Case cases[] = {
        {9, 4, 1, 1},          {10, 4, 3, 0},         {-1, 4, 3, 0},
        {0x7FFFFFFF, 4, 3, 0}, {0, 0x40000000, 3, 0}, {2, 8, 1, 1},
    };
    for (const Case &c : cases) {
        uint8_t big[8] = {};
        const void *data = c.size <= 8 ? static_cast<const void *>(&v) : big;
        if (c.size <= 8) {
            EXPECT_EQ(TrVMRsc_WriteArray(db, 5, c.index, 4, data), c.write) << c.index;
            EXPECT_EQ(TrVMRsc_ReadArray(db, 5, c.index, 4, &back), c.read) << c.index;
        } else {
            EXPECT_EQ(TrVMRsc_WriteArray(db, 5, c.index, c.size, nullptr), c.write);
        }
    }
    EXPECT_EQ(back, v);
    EXPECT_EQ(TrVMRsc_WriteArray(db, 7, 0, 4, &v), 2) << "no such array";
    uint32_t item = TrVMRsc_FindArray(db, 5);
    ASSERT_NE(item, 0u);
    uint32_t handle = le32(TrVMRsc_Item(db, item) + trrsc::kData);
    EXPECT_NE(TrVMRsc_Block(handle, nullptr), nullptr);
    TrVMRsc_FreeAll(db);
    EXPECT_EQ(TrVMRsc_FindArray(db, 5), 0u);
    EXPECT_EQ(TrVMRsc_Block(handle, nullptr), nullptr);
}

TEST_F(Programs, ParameterFiles) {
    write_file("/params.ini", "[Other]\nkey=no\n[Net]\r\nPort=502\r\nhost=panel\n[x]\nport=1\n");
    char out[8];
    EXPECT_EQ(TrParam_Get(0, "params.ini", "net", "port", out, sizeof out), 1);
    EXPECT_STREQ(out, "502");
    EXPECT_EQ(TrParam_Get(0, "params.ini", "NET", "HOST", out, 4), 1);
    EXPECT_STREQ(out, "pan");
    EXPECT_EQ(TrParam_Get(0, "params.ini", "Net", "gate", out, sizeof out), 0);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(TrParam_Get(0, "missing.ini", "Net", "port", out, sizeof out), 0);
}

} // namespace
