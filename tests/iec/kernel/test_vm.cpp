// The VM shell on a database built from an assembled image: the cycle's
// clock, cycle statistics, tasks, stop requests and the build's clean-up.
#include "base/le.h"
#include "base/trace.h"
#include "iec/kernel/trdb.h"
#include "iec/kernel/trglue.h"
#include "iec/kernel/tros.h"
#include "iec/kernel/trstatus.h"
#include "iec/kernel/trvm.h"
#include "iec_app.h"
#include "panel_fixture.h"

#include <cstdlib>

namespace {

class Vm : public PanelTest {
protected:
    // Builds the database of the image; the build's result.
    int build(const std::string &source) {
        image = iec_image(source);
        code = TrCodeImage{image.data(), uint32_t(image.size())};
        uint8_t header[trdb::kHeaderSize] = {};
        if (TrVM_GetDBSize(code, header) != 0) return -1;
        db.assign(TrVM_GetTotalDBSize(header), 0);
        std::copy(header, header + sizeof header, db.begin());
        TrVM_BuildDBMainLinks(db.data());
        return TrVM_Build(code, db.data());
    }
    uint8_t *st() { return TrVM_Status(db.data()); }
    uint32_t word(uint32_t at) { return le32(st() + at); }
    uint16_t flags() { return le16(st() + trst::kRunFlags); }
    std::vector<std::string> traced(uint32_t tick) {
        host::trace_start();
        TrVM_Cycle(db.data(), tick);
        host::trace_stop();
        return host::trace_calls();
    }
    std::vector<uint8_t> image, db;
    TrCodeImage code;
};

const char *kTasks = ".task MAIN main\n.task @@B main\n.task @@E main";

TEST_F(Vm, BuildFillsTheStatusRecord) {
    ASSERT_EQ(build(iec_app("", ".app COUNTER period=10000")), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(st())), "COUNTER");
    EXPECT_EQ(word(trst::kPeriod), 10000u);
    EXPECT_EQ(flags(), 0x8401);
    EXPECT_EQ(st()[trst::kSeparators], ';');
    EXPECT_EQ(st()[trst::kSeparators + 1], '.');
    ASSERT_EQ(build(iec_app("", ".app P paused")), 0);
    EXPECT_EQ(flags(), 0x8400) << "an application that starts paused";
}

TEST_F(Vm, RunningTimeAcrossMidnight) {
    ASSERT_EQ(build(iec_app()), 0);
    struct Step {
        uint32_t tick, seconds, remainder;
    };
    const Step steps[] = {
        {86399000, 0, 0},   // first cycle: the tick is taken, nothing counted
        {86399999, 0, 999}, // 999 ms
        {5, 1, 5},          // wraps at midnight: 6 ms more
        {1004, 2, 4},       // 999 ms more
    };
    for (const Step &s : steps) {
        TrVM_Cycle(db.data(), s.tick);
        EXPECT_EQ(word(trst::kLastTick), s.tick);
        EXPECT_EQ(word(trst::kSeconds), s.seconds) << s.tick;
        EXPECT_EQ(word(trst::kMsRemainder), s.remainder) << s.tick;
    }
}

TEST_F(Vm, CycleTimesAndOverruns) {
    struct Case {
        const char *app;
        uint32_t us, left, overruns;
    };
    const Case cases[] = {
        {".app A period=10000", 25000, 5000, 1},
        {".app A period=10000", 4000, 6000, 0},
        {".app A period=10000", 10000, 10000, 0},
        {".app A period=10000", 30000, 10000, 1},
        {".app A", 25000, 0, 0},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(build(iec_app("", c.app)), 0);
        EXPECT_EQ(TrVM_RegisterCycleTime(db.data(), c.us), c.left) << c.app << " " << c.us;
        EXPECT_EQ(word(trst::kOverruns), c.overruns);
        EXPECT_EQ(word(trst::kLastCycle), c.us);
        uint16_t log_code = 0, arg = 0;
        uint32_t data = 0;
        EXPECT_EQ(TrVMLog_Pop(db.data(), &log_code, &arg, &data), int(c.overruns));
        if (c.overruns) {
            EXPECT_EQ(log_code, 30);
        }
    }
    TrVM_RegisterCycleTime(db.data(), 7000);
    TrVM_RegisterCycleTime(db.data(), 3000);
    EXPECT_EQ(word(trst::kLongestCycle), 25000u);
    EXPECT_EQ(word(trst::kLastCycle), 3000u);
}

TEST_F(Vm, TasksRunOnceAndTheMainTaskEveryCycle) {
    ASSERT_EQ(build(iec_app(kTasks)), 0);
    EXPECT_EQ(TrVM_GetNbTask(db.data()), 3u);
    using V = std::vector<std::string>;
    EXPECT_EQ(traced(100), (V{"TrVMPrg_Task", "TrVMPrg_Task main"})) << "@@B, then the main task";
    EXPECT_EQ(traced(110), (V{"TrVMPrg_Task main"}));
    host::trace_start();
    TrVM_ShutDown(db.data(), "/mnt/cfg/tr.ret");
    host::trace_stop();
    auto calls = host::trace_calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "TrVMPrg_Task"), 1) << "@@E at the stop";
    // Without a task list, the program list runs.
    ASSERT_EQ(build(iec_app()), 0);
    EXPECT_EQ(traced(100), (V{"TrVMPrg_Execute"}));
    EXPECT_EQ(traced(110), (V{"TrVMPrg_Execute"}));
}

TEST_F(Vm, StopRequestStopsAtTheFirstCycle) {
    ASSERT_EQ(build(iec_app(kTasks)), 0);
    put_le16(st() + trst::kRunFlags, flags() | trst::kStopAtCycle);
    EXPECT_EQ(traced(100), std::vector<std::string>{});
    EXPECT_EQ(flags() & (trst::kRunning | trst::kStopped), trst::kStopped);
    EXPECT_EQ(TrVM_Cycle(db.data(), 110), 1);
    EXPECT_EQ(TrVM_PerformTask(db.data(), 0, 120, 0), 1);
    EXPECT_EQ(TrVM_FullIOExchangeEx(db.data(), 120), 1);
}

TEST_F(Vm, AFailingBuildStepClosesWhatWasOpened) {
    std::string nine;
    for (int i = 0; i < 9; ++i)
        nine += ".task T" + std::to_string(i) + " main\n";
    host::trace_start();
    EXPECT_EQ(build(iec_app(nine)), 36);
    host::trace_stop();
    std::vector<std::string> want = {"TrIos_Open", "TrDDKC_Build", "TrDDKC_Close", "TrIos_Close"};
    EXPECT_EQ(host::trace_calls(), want);
}

TEST_F(Vm, PauseAndTaskNames) {
    ASSERT_EQ(build(iec_app(kTasks)), 0);
    TrVM_SetPauseMode(db.data(), 1);
    EXPECT_EQ(flags() & trst::kRunning, 0);
    TrVM_SetPauseMode(db.data(), 0);
    EXPECT_EQ(flags() & trst::kRunning, trst::kRunning);
    uint32_t index = 9;
    EXPECT_EQ(TrVM_FindTask(db.data(), "@@E", &index), 0);
    EXPECT_EQ(index, 2u);
    EXPECT_EQ(TrVM_FindTask(db.data(), "@@e", &index), 1);
    EXPECT_EQ(index, 0u);
    EXPECT_EQ(TrVM_FindTask(db.data(), nullptr, &index), 1);
    EXPECT_STREQ(TrVM_GetTaskName(db.data(), 0), "MAIN");
    EXPECT_EQ(TrVM_GetTaskName(db.data(), 3), nullptr);
}

TEST_F(Vm, TypedVariableAccess) {
    ASSERT_EQ(build(iec_app(".var INT i\n.var DINT d\n.var STRING(8) s")), 0);
    uint32_t n7 = 0, n17 = 0;
    uint8_t *seg7 = TrDB_Segment(db.data(), uint32_t(db.size()), 7, &n7);
    uint8_t *seg17 = TrDB_Segment(db.data(), uint32_t(db.size()), 17, &n17);
    ASSERT_NE(seg7, nullptr);
    ASSERT_NE(seg17, nullptr);
    struct Case {
        uint16_t type;
        uint32_t index;
        bool found;
        uint8_t lock;
        uint32_t size;
    };
    const Case cases[] = {
        {11, 1, true, 2, 2}, {15, 1, true, 2, 2},       {11 | 0x80, 1, true, 2, 2},
        {2, 1, true, 4, 4},  {5, 1, true, 32, 11},      {11, n7 / 2, false, 0, 0},
        {6, 1, false, 0, 0}, {5, n17 / 4, false, 0, 0},
    };
    for (const Case &c : cases) {
        uint8_t lock = 0;
        uint32_t size = 0;
        uint8_t *p = TrTools_GetAnyParam(db.data(), c.type, c.index, &lock, &size);
        EXPECT_EQ(p != nullptr, c.found) << c.type << " " << c.index;
        if (!p) continue;
        EXPECT_EQ(lock, c.lock) << c.type;
        EXPECT_EQ(size, c.size) << c.type;
        if (c.type == 11) {
            EXPECT_EQ(p, seg7 + 2);
        }
        if (c.type == 5) {
            EXPECT_EQ(p[0], 8) << "the STRING's capacity";
        }
    }
}

} // namespace
