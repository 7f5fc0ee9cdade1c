#include "base/le.h"
#include "base/trace.h"
#include "host/clock.h"
#include "host/watchdog.h"
#include "iec/kernel/iec.h"
#include "panel_fixture.h"
#include "platform/io.h"
#include "plc/appblocks.h"
#include "regs/plc_reg.h"
#include "screen_program.h"
#include "serial/serial.h"
#include "system/appfile.h"
#include "system/loop.h"
#include "system/nvram.h"
#include "system/pgm.h"
#include "system/sys.h"
#include "tools/lib/appbuild_net.h"
#include "web/web.h"

#include <algorithm>
#include <cstring>
#include <thread>
#include <vector>

namespace {
using Calls = std::vector<std::string>;

[[maybe_unused]] Calls without(const Calls &calls, std::initializer_list<const char *> drop) {
    Calls out;
    for (auto &c : calls)
        if (std::find(drop.begin(), drop.end(), c) == drop.end()) out.push_back(c);
    return out;
}

size_t count(const Calls &calls, const std::string &name) {
    return size_t(std::count(calls.begin(), calls.end(), name));
}

// Splits the record into the nested (sliced) passes: the calls from each
// "The_Loop(sliced)" to the end of that pass (its last FRAM call).
std::vector<Calls> sliced_passes(const Calls &calls) {
    std::vector<Calls> out;
    for (size_t i = 0; i < calls.size(); ++i) {
        if (calls[i] != "The_Loop(sliced)") continue;
        Calls pass;
        for (size_t j = i + 1; j < calls.size() && calls[j] != "FRAM_BBRAM_XChange_Data"; ++j)
            pass.push_back(calls[j]);
        out.push_back(pass);
    }
    return out;
}
// The calls of a record without the screen manager's own (from
// "PGM_TheLoop" to the network service that follows it).
Calls without_screen(const Calls &calls) {
    Calls out;
    bool in_screen = false;
    for (auto &c : calls) {
        // The network slot's own calls have tests of their own too.
        if (c == "EnetMain" || c == "tx_timer_check") in_screen = false;
        if (!in_screen) out.push_back(c);
        if (c == "PGM_TheLoop" || c == "EnetMain") in_screen = true;
    }
    return out;
}
// The calls of a record outside the control scan (from "PlcScan" to the
// option board's service that follows it).
Calls without_scan(const Calls &calls) {
    Calls out;
    bool in_scan = false;
    for (auto &c : calls) {
        if (c == "OCB_Update") in_scan = false;
        if (!in_scan) out.push_back(c);
        if (c == "PlcScan") in_scan = true;
    }
    return out;
}
} // namespace

class LoopTest : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        PGM_state = 4;
        // One empty page, so that the screen manager runs without a display fault.
        ASSERT_TRUE(load_screen_program(R"({"pages": [{"screen": 1}]})"));
        sr_put(167, 20);
        sr_put(198, 3300); // battery good
        // A program of one END, so that a pass in run mode scans it.
        put_le32(ladder_bl + 4, 2);
        put_le16(ladder_bl + 8, 0x0009);
    }
    // A protocol-driver table with the given versions (one entry per driver).
    void drivers(uint32_t count, std::vector<uint16_t> versions) {
        table.assign(16 + 32 * std::max<size_t>(versions.size(), 5), 0);
        put_le32(table.data(), uint32_t(table.size()));
        put_le32(table.data() + 8, count);
        for (size_t i = 0; i < versions.size(); ++i)
            put_le16(table.data() + 16 + 32 * i + 28, versions[i]);
        promgr_table = table.data();
    }
    void TearDown() override {
        promgr_table = nullptr;
        PanelTest::TearDown();
    }
    std::vector<uint8_t> table;
};

TEST_F(LoopTest, OnePassCallsEveryServiceInOrder) {
    host::trace_start();
    The_Loop();
    // The services the control scan calls inside PlcScan have tests of their own.
    Calls calls = without_screen(without_scan(host::trace_calls()));
    Calls expected = {"The_Loop",
                      "Can_Isr",
                      "TimerISR",
                      "RctISR",
                      "PlcScan",
                      "OCB_Update",
                      "Cmd_Check",
                      "Dpram_Service",
                      "FxpMain",
                      "Datagram_Check",
                      "CFM_TheLoop",
                      "PGM_TheLoop",
                      "EnetMain",
                      "tx_timer_check",
                      "USBPortMon",
                      "TickleWatchdogReal",
                      "ModemCycle",
                      "FRAM_XChange_Data",
                      "FRAM_BBRAM_XChange_Data"};
    EXPECT_EQ(calls, expected);
}

TEST_F(LoopTest, ConditionalSteps) {
    struct Case {
        const char *what;
        std::function<void()> set;
        std::vector<std::string> present, absent;
    };
    std::vector<Case> cases = {
        {"screen manager stopped", [] { PGM_state = 2; }, {"CFM_TheLoop"}, {"PGM_TheLoop"}},
        {"auto-load-run skips the scan", [] { Sys_AutoLoad = 1; }, {"OCB_Update"}, {"PlcScan"}},
        {"recovery screen", [] { RecoverMode = 1; }, {"Cmd_Check"}, {"PlcScan"}},
        {"recovery with detection forced",
         [] { RecoverMode = ForceRecoveryDetectFlag = 1; },
         {"PlcScan"},
         {}},
        {"IEC application", [] { TrevantRuntime = 1; }, {"Trevant_Comm_service"}, {}},
        {"IEC application, loader",
         [] {
             TrevantRuntime = 1;
             BIS = 2;
         },
         {},
         {"Trevant_Comm_service"}},
        {"IEC application, recovery",
         [] {
             TrevantRuntime = 1;
             RecoverMode = 1;
         },
         {},
         {"Trevant_Comm_service"}},
    };
    for (auto &c : cases) {
        panel_reset_all();
        PGM_state = 4;
        TrevantRuntime = 0;
        c.set();
        host::trace_start();
        The_Loop();
        for (auto &p : c.present)
            EXPECT_EQ(count(host::trace_calls(), p), 1u) << c.what << ": " << p;
        for (auto &a : c.absent)
            EXPECT_EQ(count(host::trace_calls(), a), 0u) << c.what << ": " << a;
    }
    TrevantRuntime = 0;
}

TEST_F(LoopTest, PowerFailMarkEndsThePassWithThePowerOff) {
    // PowerDown saves and switches the board off: the process ends.
    PowerdownSignal = 1;
    EXPECT_EXIT(The_Loop(), ::testing::ExitedWithCode(11), "");
}

TEST_F(LoopTest, StatusBitsBatteryAndMirror) {
    // 0x20 (network id out of range) stands for the network bits: the control
    // scan decodes 0x10 and 0x80 from the network status on every pass.
    sr_put(4, 0x40 | 0x20);
    sr_put(198, 100); // battery low
    The_Loop();
    EXPECT_EQ(sbit_get(6), 0);
    EXPECT_EQ(sbit_get(2), 0);
    EXPECT_EQ(sr_get(4), 0x1060);
    EXPECT_EQ(sr_get(55), 0x1040) << "network bits hidden while %SR31 is 0";
    sr_put(31, 1);
    sr_put(198, 3300);
    The_Loop();
    EXPECT_EQ(sr_get(4), 0x0060) << "a good battery clears the bit again";
    EXPECT_EQ(sr_get(55), 0x0060);
    sr_put(4, 0);
    sbit_put(12, 1);
    put_le16(io_force + 2, 1); // one output force
    The_Loop();
    EXPECT_EQ(sbit_get(2), 1);
    EXPECT_EQ(sbit_get(6), 1);
    EXPECT_EQ(sbit_get(11), 1);
    sbit_put(12, 0);
    The_Loop();
    EXPECT_EQ(sbit_get(11), 0);
    put_le16(io_force + 2, 0);
}

TEST_F(LoopTest, FramBanksAlternatePassByPass) {
    std::vector<int> seen;
    for (int i = 0; i < 4; ++i) {
        The_Loop();
        seen.push_back(count_function);
    }
    EXPECT_EQ(seen, (std::vector<int>{1, 0, 1, 0}));
}

TEST_F(LoopTest, SlicedPassesRunAtTheSlicePeriodWhileTheScreenBlockIsLong) {
    sr_put(5, 2);
    std::vector<uint64_t> slice_times;
    bool in_screen = false;
    uint64_t t0 = 0;
    host::trace_set_hook([&](const char *name) {
        std::string n = name;
        // The slice is armed just before the media manager's service (the
        // control scan before it may take time of its own).
        if (n == "CFM_TheLoop" && !Sliced) t0 = host::mono_ns() / 1'000'000;
        if (n == "The_Loop(sliced)") slice_times.push_back(host::mono_ns() / 1'000'000);
        if (n == "PGM_TheLoop" && !in_screen && !Sliced) {
            in_screen = true;
            // 100 ms of drawing with a slice point every millisecond.
            for (int ms = 0; ms < 100; ++ms) {
                host::clock_advance_ms(1);
                SlicePoint();
            }
            in_screen = false;
        }
    });
    host::trace_start();
    The_Loop();
    Calls calls = host::trace_calls();
    ASSERT_EQ(slice_times.size(), 5u);
    for (size_t i = 0; i < slice_times.size(); ++i)
        EXPECT_EQ(slice_times[i] - t0, 20 * (i + 1));
    EXPECT_EQ(SlicedPassCount, 5u);
    for (const Calls &pass : sliced_passes(calls)) {
        EXPECT_EQ(count(pass, "Cmd_Check"), 0u);
        EXPECT_EQ(count(pass, "CFM_TheLoop"), 0u);
        EXPECT_EQ(count(pass, "PGM_TheLoop"), 0u);
        EXPECT_EQ(count(pass, "PlcScan"), 1u);
        EXPECT_EQ(count(pass, "EnetMain"), 1u);
    }
    EXPECT_EQ(Sliced, 0) << "cleared when the outer screen block ends";
    EXPECT_EQ(Vint, 0);
    EXPECT_FALSE(host::alarm_armed());
}

TEST_F(LoopTest, NoSliceInIdleOrWhenSlicingIsOff) {
    for (int variant = 0; variant < 2; ++variant) {
        panel_reset_all();
        PGM_state = 4;
        sr_put(167, 20);
        if (variant == 0)
            sr_put(5, 0);
        else {
            sr_put(5, 2);
            DntTmeSlc = 1;
        }
        host::trace_set_hook([](const char *name) {
            if (std::string(name) != "PGM_TheLoop" || Sliced) return;
            for (int ms = 0; ms < 100; ++ms) {
                host::clock_advance_ms(1);
                SlicePoint();
            }
        });
        The_Loop();
        EXPECT_EQ(SlicedPassCount, 0u) << "variant " << variant;
    }
}

TEST_F(LoopTest, SlicedPassNeverNestsAndCountsPageOpenInterrupts) {
    sr_put(5, 2);
    int nested_attempts = 0;
    host::trace_set_hook([&](const char *name) {
        std::string n = name;
        if (n == "PlcScan" && Sliced) {
            // A long control scan inside the sliced pass: its slice points must not nest.
            host::clock_advance_ms(50);
            ++nested_attempts;
            SlicePoint();
        }
        if (n == "PGM_TheLoop" && !Sliced) {
            openPageExec = 1;
            for (int ms = 0; ms < 45; ++ms) {
                host::clock_advance_ms(1);
                SlicePoint();
            }
            openPageExec = 0;
        }
    });
    The_Loop();
    EXPECT_GT(nested_attempts, 0);
    EXPECT_EQ(SlicedPassCount, uint32_t(nested_attempts))
        << "one sliced pass per slice, none nested";
    EXPECT_EQ(ISRCountOnOpenPage, SlicedPassCount);
}

TEST_F(LoopTest, ProtocolDriverSlots) {
    struct Case {
        uint32_t count;
        std::vector<uint16_t> versions;
        bool sliced;
        uint8_t busy;
        std::vector<int> slots; // slots that run, in order
    };
    // clang-format off
    std::vector<Case> cases = {
        {0, {400},                          false, 0,    {}},
        {1, {400},                          false, 0,    {0}},
        {5, {400, 400, 400, 400, 400},      false, 0,    {0, 1, 2, 3, 4}},
        {6, {400, 400, 400, 400, 400},      false, 0,    {}},
        {3, {400, 314, 400},                true,  0,    {0}},
        {3, {400, 315, 400},                true,  0,    {0, 1, 2}},
        {3, {314, 400, 400},                false, 0,    {0, 1, 2}},
        {3, {400, 400, 400},                false, 0x02, {0, 2}},
    };
    // clang-format on
    for (auto &c : cases) {
        drivers(c.count, c.versions);
        Sliced = c.sliced;
        PmgrBusy = c.busy;
        std::vector<int> ran;
        host::trace_set_hook([&](const char *name) {
            if (std::string(name) != "PMGR_TheLoop") return;
            for (int i = 0; i < 5; ++i)
                if ((PmgrBusy & ~c.busy) & (1 << i)) ran.push_back(i);
        });
        ExecutePMGR_Loop();
        EXPECT_EQ(ran, c.slots) << "count " << c.count << " sliced " << c.sliced;
        EXPECT_EQ(PmgrBusy, c.busy) << "busy bits are cleared after each driver";
    }
    Sliced = 0;
}

TEST_F(LoopTest, DriverTableShorterThanItsCountIsNotReadPastItsEnd) {
    drivers(5, {400, 400});
    put_le32(table.data(), 16 + 32 * 2);
    int ran = 0;
    host::trace_set_hook([&](const char *name) { ran += std::string(name) == "PMGR_TheLoop"; });
    ExecutePMGR_Loop();
    EXPECT_EQ(ran, 2);
}

TEST_F(LoopTest, WebServerStartsAfterMoreThanHundredWaitingPasses) {
    ParviHttp = 1;
    ParviServerState = 2;
    MainLoop(101);
    EXPECT_EQ(ParviServerState, 2);
    EXPECT_EQ(loop, 100);
    panel_reset_all();
    PGM_state = 4;
    ParviHttp = 1;
    ParviServerState = 2;
    host::trace_start();
    MainLoop(102);
    EXPECT_EQ(ParviServerState, 3);
    EXPECT_EQ(ParviThreadCreated, 1);
    EXPECT_EQ(count(host::trace_calls(), "parvi_thread_create"), 1u);
    EXPECT_EQ(count(host::trace_calls(), "The_Loop"), 102u);
    EXPECT_EQ(count(host::trace_calls(), "factory_calib"), 102u);
    EXPECT_EQ(count(host::trace_calls(), "mqttStateLoop"), 102u);

    // Running server, new address: stop it; stopped with a new address: start again.
    ParviServerState = 4;
    ParviUpdateNewIp = 1;
    MainLoop(1);
    EXPECT_EQ(ParviServerState, 0);
    ParviServerState = 1;
    MainLoop(1);
    EXPECT_EQ(ParviServerState, 2);
    EXPECT_EQ(ParviUpdateNewIp, 0);

    // An IEC download stops the server.
    ParviServerState = 4;
    TrevantRuntime = trevant_variables_enumerateded = Cmd_Downloading = 1;
    MainLoop(1);
    EXPECT_EQ(ParviServerState, 0);
    TrevantRuntime = trevant_variables_enumerateded = Cmd_Downloading = 0;
}

TEST_F(LoopTest, WebSupervisionNeedsHttpOrADisplayFaultAndNeverRunsInLoaderMode) {
    // The controller's own HTTP pages are configured, so port 80 is theirs
    // and ParviHttp stays clear.
    std::vector<uint8_t> net = appnet::build(appnet::Config{});
    put_le32(io_config_bl + 4, uint32_t(net.size() + 12));
    put_le16(io_config_bl + 8, 0x1234);
    put_le16(io_config_bl + 10, uint16_t(net.size()));
    std::memcpy(io_config_bl + 12, net.data(), net.size());
    EtnConfp = io_config_bl + 12;
    ParviServerState = 2;
    MainLoop(300);
    EXPECT_EQ(ParviHttp, 0);
    EXPECT_EQ(ParviServerState, 2) << "ParviHttp clear: the waiting branch never supervises";
    panel_reset_all();
    PGM_state = 1; // display fault
    ParviServerState = 2;
    MainLoop(102);
    EXPECT_EQ(ParviHttp, 1);
    EXPECT_EQ(ParviServerState, 3);
    panel_reset_all();
    BIS = 2;
    ParviHttp = 1;
    ParviServerState = 2;
    MainLoop(300);
    EXPECT_EQ(ParviServerState, 2);
    EXPECT_EQ(loop, 0);
}

TEST_F(LoopTest, WatchdogThreadSavesRegistersWhenTheWatchdogIsAboutToExpire) {
    StartWatchdog();
    ASSERT_GT(wdog, 0);
    host::trace_start();
    std::thread t([] { WatchdogScan(nullptr); });
    t.detach();
    int left = -1;
    for (int i = 0; i < 500; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const Calls &calls = host::trace_calls();
        if (std::find(calls.begin(), calls.end(), "AutoSaveRegisters") != calls.end()) {
            left = host::wdt_time_left_ms(wdog);
            break;
        }
    }
    EXPECT_GE(left, 400);
    EXPECT_LE(left, 1000);
}
