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

TEST_F(Vm, ArrayParameters) {
    ASSERT_EQ(build(iec_app(".var INT t[4]\n.var DINT d\n.var DINT at\n.var STRING(3) s[2]")), 0);
    uint8_t *base = db.data();
    uint32_t n7 = 0, n8 = 0, n18 = 0;
    uint8_t *seg7 = TrDB_Segment(base, uint32_t(db.size()), 7, &n7);
    uint8_t *seg8 = TrDB_Segment(base, uint32_t(db.size()), 8, &n8);
    uint8_t *seg18 = TrDB_Segment(base, uint32_t(db.size()), 18, &n18);
    ASSERT_TRUE(seg7 && seg8 && seg18);
    uint8_t *s1 = TrTools_GetAnyParam(base, 5, 1, nullptr, nullptr);
    ASSERT_NE(s1, nullptr);
    // The named forms answer what the type-code form answers for their types.
    auto named = [&](uint16_t type, uint32_t index, uint32_t *avail, int *in_complex) {
        switch (type) {
        case 1:
            return TrTools_GetD8Array(base, index, avail);
        case 11:
            return TrTools_GetD16Array(base, index, avail);
        case 2:
            return TrTools_GetD32Array(base, index, avail);
        case 4:
            return TrTools_GetTimeArray(base, index, avail);
        case 12:
            return TrTools_GetD64Array(base, index, avail);
        case 5:
            return TrTools_GetStringArray(base, index, avail, in_complex);
        }
        return static_cast<uint8_t *>(nullptr);
    };
    struct Case {
        const char *what;
        uint16_t type;
        uint32_t index;
        uint8_t *want; // null: none
        uint32_t avail;
        int in_complex;
    };
    auto check = [&](const Case &c) {
        uint32_t avail = 99, named_avail = 99;
        int in_complex = -1;
        EXPECT_EQ(TrTools_GetAnyArray(base, c.type, c.index, &avail), c.want) << c.what;
        EXPECT_EQ(avail, c.avail) << c.what;
        if (c.type == 3 || c.type == 6) return;
        EXPECT_EQ(named(c.type, c.index, &named_avail, &in_complex), c.want) << c.what;
        EXPECT_EQ(named_avail, c.avail) << c.what;
        if (c.type == 5) {
            EXPECT_EQ(in_complex, c.in_complex) << c.what;
        }
    };
    const Case typed[] = {
        {"INT t[0]", 11, 1, seg7 + 2, n7 - 2, 0},
        {"INT t[3], the table's last", 11, 4, seg7 + 8, n7 - 8, 0},
        {"past the INT table", 11, n7 / 2, nullptr, 0, 0},
        {"REAL shares the 32-bit table", 3, 2, seg8 + 8, n8 - 8, 0},
        {"STRING s[0]: its buffer", 5, 1, s1, n18 - uint32_t(s1 - seg18), 0},
        {"past the STRING table", 5, 1000000, nullptr, 0, 0},
        {"no such type", 6, 1, nullptr, 0, 0},
    };
    for (const Case &c : typed)
        check(c);
    EXPECT_EQ(TrTools_GetCTParam(base, 2, nullptr), nullptr) << "no complex-variable area";

    // With a complex-variable area of 64 bytes at the end of the database,
    // the index names the DINT holding the array's offset in it.
    uint32_t end = uint32_t(db.size());
    db.resize(end + 64);
    base = db.data();
    seg8 = TrDB_Segment(base, end, 8, nullptr);
    TrDB_SetSegment(base, 35, VmDbSegment{end, 64, 0, 0, 0, 0});
    ASSERT_EQ(TrVM_GetTotalDBSize(base), db.size());
    uint8_t *area = base + end;
    put_le32(seg8 + 8, 40); // at := 40
    put_le32(seg8 + 4, 64); // d := 64, the end of the area
    const Case complex[] = {
        {"INT array at 40", 11, 2, area + 40, 24, 1},
        {"STRING array at 40", 5, 2, area + 40, 24, 1},
        {"LINT array at 40", 12, 2, area + 40, 24, 1},
        {"an offset at the area's end", 2, 1, nullptr, 0, 0},
        {"past the DINT table", 1, n8 / 4, nullptr, 0, 0},
    };
    for (const Case &c : complex)
        check(c);
    uint32_t avail = 0;
    EXPECT_EQ(TrTools_GetCTParam(base, 2, &avail), area + 40);
    EXPECT_EQ(avail, 24u);
    EXPECT_EQ(TrTools_GetCTParam(base, 1, &avail), nullptr);
}

} // namespace
