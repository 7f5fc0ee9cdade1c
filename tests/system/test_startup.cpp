#include "base/trace.h"
#include "host/config.h"
#include "host/root.h"
#include "host/shell.h"
#include "panel_fixture.h"
#include "regs/plc_reg.h"
#include "system/appfile.h"
#include "system/loop.h"
#include "system/pgm.h"
#include "system/startup.h"
#include "system/sys.h"

#include <unistd.h>

#include <algorithm>
#include <set>
#include <thread>

namespace {
using Calls = std::vector<std::string>;

Calls only(const Calls &calls, const std::set<std::string> &keep) {
    Calls out;
    for (auto &c : calls)
        if (keep.count(c)) out.push_back(c);
    return out;
}

size_t count(const Calls &calls, const std::string &name) {
    return size_t(std::count(calls.begin(), calls.end(), name));
}

bool logged(const std::string &cmd) {
    auto log = host::shell_log();
    return std::find(log.begin(), log.end(), cmd) != log.end();
}
} // namespace

class StartupTest : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        // No watchdog thread unless a test asks for it: it would move the virtual clock.
        host::config_set("uname", "Linux panel 2.6.35.3-1037 #1 PREEMPT armv5tejl GNU/Linux");
        sr_put(198, 3300); // battery good
    }
    std::string console() { return read_file("/var/log/console.log"); }
};

TEST_F(StartupTest, NormalStartRunsTheStepsInOrder) {
    host::trace_start();
    ASSERT_EQ(Startup(1), 0);
    // clang-format off
    Calls expected = {
        "SYS_HardwareCheck", "GDI_Init", "GPIOInit", "GDI_CreateDC", "GDI_CreateDC", "GDI_CreateDC",
        "GDI_CreateDC", "KEY_Init", "KEY_SlideInit", "FRAM_Init",
        "VideoPlayStreamInit", "StartWatchdog", "Dpram_Init", "Fpga_Init", "SYS_Init",
        "Vcomm_Init", "SCI0_Init", "SCI2_Init", "SCI3_Init", "SCI4_Init",
        "SYS_MenuOption", "SYS_MenuOption2", "SYS_ExtendedOption", "nvram_init",
        // A new unit: the defaults are saved (the program's I/O set-up, the
        // watchdog stopped around the flash sync).
        "IoConfig", "StartWatchdog",
        "PlcInit", "NetConfig", "TickleWatchdogReal", "IoConfig", "Oem_GetSignon", "Oem_GetModel",
        "Net_Test", "NetStatusDecode", "TickleWatchdogReal", "TickleWatchdogReal",
        "OCB_Open", "Cmd_Init", "OCB_Init", "KEY_Flush", "SYS_ResetRCBs", "CFM_Open",
        "PGM_InitRunCtrl", "RCT_Init", "SYS_LoadRCBs", "PGM_Create", "REC_ScreenInit",
        "SetPlcMode", "VIDM_Init", "GDI_CreateDC", "FPGA_GetVer", "Cf_Check", "Cf_Check"};
    // clang-format on
    std::set<std::string> names(expected.begin(), expected.end());
    Calls calls = host::trace_calls();
    EXPECT_EQ(only(calls, names), expected);
    EXPECT_EQ(count(calls, "LoadProgram"), 1u) << "no application files: nothing to fail";
    EXPECT_EQ(count(calls, "AutoLoadRegisters"), 10u) << "a blank FRAM fails every try";
    EXPECT_EQ(count(calls, "SaveProgram"), 1u) << "the defaults of a new unit are saved";
    EXPECT_EQ(count(calls, "WatchdogScan"), 0u) << "kernel 3537 has no time-left report";
    // The message of step 13 comes before the serial layer starts.
    auto first_msg = std::find(calls.begin(), calls.end(), "SystemMsg");
    EXPECT_LT(first_msg - calls.begin(),
              std::find(calls.begin(), calls.end(), "Vcomm_Init") - calls.begin());
    EXPECT_EQ(BootMode, 0);
    EXPECT_EQ(BIS, 1);
    EXPECT_EQ(WatchDogDisable, 0);
    EXPECT_GT(wdog, 0);
    EXPECT_EQ(WDmainPid, getpid());
    EXPECT_TRUE(logged("echo 0 > /proc/sys/kernel/printk"));
    EXPECT_EQ(read_file("/proc/sys/kernel/printk"), "0\n");
    EXPECT_EQ(PGM_state, 4);
    // No module in slot 0: the host configuration's default model.
    EXPECT_EQ(std::string(pProduct), "Panel LX100");
    EXPECT_NE(console().find("Controller: 15.52\n    Self-test Running..."), std::string::npos);
}

TEST_F(StartupTest, StartModesByArgumentCount) {
    struct Case {
        int argc;
        int boot, wd_disable, loads;
        bool printk, watchdog_open;
    };
    // LoadProgram succeeds at once. AutoLoadRegisters is tried 10 times while the
    // FRAM is blank, once after the loader's pass has written it.
    for (Case c : {Case{1, 0, 0, 10, true, true}, Case{2, 1, 0, 0, false, true},
                   Case{3, 0, 1, 1, false, false}, Case{5, 0, 1, 1, false, false}}) {
        panel_reset_all();
        host::config_set("uname", "Linux panel 2.6.35.3-1037 #1");
        host::trace_start();
        ASSERT_EQ(Startup(c.argc), 0);
        Calls calls = host::trace_calls();
        EXPECT_EQ(BootMode, c.boot) << c.argc;
        EXPECT_EQ(BIS, c.argc);
        EXPECT_EQ(WatchDogDisable, c.wd_disable) << c.argc;
        EXPECT_EQ(count(calls, "LoadProgram"), size_t(c.loads ? 1 : 0)) << c.argc;
        EXPECT_EQ(count(calls, "AutoLoadRegisters"), size_t(c.loads)) << c.argc;
        EXPECT_EQ(logged("echo 0 > /proc/sys/kernel/printk"), c.printk) << c.argc;
        EXPECT_EQ(wdog > 0, c.watchdog_open) << c.argc;
        if (c.boot) {
            EXPECT_EQ(sr_get(29), 254);
            The_Loop();
            EXPECT_EQ(sr_get(3), 22) << "the loader shows the boot installer";
        }
    }
}

TEST_F(StartupTest, SelfTestReportNamesEachFault) {
    struct Case {
        uint16_t bits;
        std::vector<std::string> lines; // in the order shown
    };
    // clang-format off
    std::vector<Case> cases = {
        {0x0008, {"Static RAM\n    Memory Error"}},
        {0x0001, {"BIOS Flash\n    Memory Error"}},
        {0x0002, {"Engine Flash\n    Memory Error"}},
        {0x0004, {"User Program\n    Memory Error"}},
        {0x4000, {"User Graphics\n    Memory Error"}},
        {0x0200, {"Real-Time-Clock\n    Default Set"}},
        {0x0040, {"I/O Module\n    Config Error"}},
        {0x0010, {"Duplicate Network ID\n    Network Disabled"}},
        {0x1000, {"Battery\n    Missing or Low Voltage"}},
        {0x1209, {"Static RAM\n    Memory Error", "BIOS Flash\n    Memory Error",
                  "Real-Time-Clock\n    Default Set", "Battery\n    Missing or Low Voltage"}},
    };
    // clang-format on
    for (auto &c : cases) {
        panel_reset_all();
        unlink(host::path("/var/log/console.log").c_str());
        host::config_set("uname", "Linux panel 2.6.35.3-1037 #1");
        sr_put(198, 3300);
        sr_put(31, 1);
        uint16_t bits = c.bits;
        // The network status decode is the last step before the report; the
        // bits are set once it has decoded its own (inside it, at its CAN
        // lock-up query). The stand-in clock reads as invalid: its bit is not
        // part of these cases.
        host::trace_set_hook([bits](const char *name) {
            if (std::string(name) != "_Can_Lockup") return;
            sr_put(4, uint16_t((sr_get(4) & ~0x200) | bits));
            sr_put(31, 1); // the loaded registers say no network
        });
        host::trace_start();
        ASSERT_EQ(Startup(1), 0);
        std::string text = console();
        size_t pos = text.find("Self-test Running...");
        for (auto &line : c.lines) {
            size_t at = text.find(line, pos);
            EXPECT_NE(at, std::string::npos) << std::hex << c.bits << ": " << line;
            pos = at;
        }
        EXPECT_NE(text.find("Panel LX100\n    *** Self-Test FAILED ***", pos), std::string::npos)
            << std::hex << c.bits;
        EXPECT_EQ(count(host::trace_calls(), "TCH_Beep"), c.lines.size()) << std::hex << c.bits;
    }
}

TEST_F(StartupTest, SelfTestPassesWhenOnlyNetworkBitsAreSetWithoutANetwork) {
    host::trace_set_hook([](const char *name) {
        if (std::string(name) == "_Can_Lockup") sr_put(4, uint16_t((sr_get(4) & ~0x200) | 0x80));
    });
    ASSERT_EQ(Startup(1), 0);
    EXPECT_EQ(sr_get(55), 0);
    EXPECT_NE(console().find("*** Self-Test Passed ***"), std::string::npos);
}

TEST_F(StartupTest, BatteryFaultAtStartShowsInTheReport) {
    // The power driver's figures of now decide, not the ones the registers
    // kept: a low battery (2.4 V) fails over good saved figures, a good one
    // passes over none, and a board variant without a battery fails.
    struct Case {
        const char *key, *value;
        uint16_t saved_mv;
        bool fails;
    };
    for (Case c : {Case{"battery_8mv", "300", 3300, true}, Case{"battery_8mv", "462", 0, false},
                   Case{"board_variant", "7", 3300, true}}) {
        panel_reset_all();
        unlink(host::path("/var/log/console.log").c_str());
        host::config_set(c.key, c.value);
        sr_put(198, c.saved_mv);
        ASSERT_EQ(Startup(1), 0);
        EXPECT_EQ((sr_get(4) & 0x1000) != 0, c.fails) << c.key << " " << c.value;
        EXPECT_EQ(console().find("Battery\n    Missing or Low Voltage") != std::string::npos,
                  c.fails)
            << c.key << " " << c.value;
    }
}

TEST_F(StartupTest, KernelRevisionDecidesTheWatchdogThread) {
    struct Case {
        const char *uname;
        const char *rev;
        int number;
    };
    for (Case c : {Case{"Linux panel 2.6.35.3-1045 #1 PREEMPT", "2.6.35.45", 3545},
                   Case{"Linux panel 2.6.35.3-1037 #1 PREEMPT", "2.6.35.37", 3537},
                   Case{"Linux panel 2.6.35.3-1043 #1", "2.6.35.43", 3543}}) {
        panel_reset_all();
        host::config_set("uname", c.uname);
        host::trace_start();
        ASSERT_EQ(Startup(1), 0);
        EXPECT_STREQ(KernelRev, c.rev);
        EXPECT_EQ(std::string(reinterpret_cast<const char *>(plc_reg + sr_offset(201)), 9), c.rev);
        EXPECT_EQ(KernelRevNumber(), c.number);
        EXPECT_EQ(count(host::trace_calls(), "WatchdogScan"), c.number > 3543 ? 1u : 0u) << c.uname;
        EXPECT_TRUE(logged("uname -a > /dev/shm/rev.txt"));
    }
}

TEST_F(StartupTest, HardwareCheckReadsIdentityAndVersion) {
    std::string tiny(124, '\0');
    tiny[8] = 0x00;
    tiny[9] = 0x1A;
    tiny[13] = 0x42;
    write_file("/mnt/cfg/TINYIMGE.BIN", tiny);
    write_file("/usr/version", "1552abc\n");
    SYS_HardwareCheck();
    EXPECT_EQ(tinyImage[9], 0x1A);
    EXPECT_EQ(tinyImage[13], 0x42);
    EXPECT_EQ(tinyImage[4], 24);
    EXPECT_EQ(InitRdVer, 1552u);
    EXPECT_EQ(sr_get(200), 1552);
    auto log = host::shell_log();
    ASSERT_EQ(log.size(), 9u);
    EXPECT_EQ(log[0], "killall -9 inetd");
    EXPECT_EQ(log[1], "echo 10 >  /proc/sys/vm/dirty_writeback_centisecs");
    EXPECT_EQ(log[8], "uname -a > /dev/shm/rev.txt");
    EXPECT_EQ(read_file("/proc/sys/vm/dirty_writeback_centisecs"), "10\n");
}

TEST_F(StartupTest, AutoLoadRunStartsWhenTheTablesAreBad) {
    host::trace_set_hook([](const char *name) {
        if (std::string(name) != "NetStatusDecode") return;
        sr_put(4, sr_get(4) | 0x4);
        sr_put(164, 0x20); // after the validation, which loads the defaults of a new unit
    });
    host::trace_start();
    ASSERT_EQ(Startup(1), 0);
    EXPECT_EQ(Sys_AppLoad, 1);
    EXPECT_EQ(Sys_AutoLoad, 1);
    EXPECT_EQ(Sys_ALstmcInited, 0);
    EXPECT_EQ(sr_get(3), 0);
    EXPECT_EQ(count(host::trace_calls(), "OBJM_DestroyPage"), 1u);
    EXPECT_NE(console().find("Absent/Corrupt User Tables\n    Initializing Auto-Load-Run..."),
              std::string::npos);
    host::trace_start();
    The_Loop();
    EXPECT_EQ(count(host::trace_calls(), "PlcScan"), 0u) << "no control scan during auto-load-run";
}

TEST_F(StartupTest, SavedRunModeIsRestoredAndStartsTheIo) {
    int requested = -1;
    host::trace_set_hook([&](const char *name) {
        // The registers as loaded: the saved mode in the low byte.
        if (std::string(name) == "PGM_Create") sr_put(5, 0x0102);
        if (std::string(name) == "REC_ScreenInit") requested = sr_get(5);
    });
    host::trace_start();
    ASSERT_EQ(Startup(1), 0);
    EXPECT_EQ(requested, 0) << "%SR5 is cleared before the mode is set again";
    EXPECT_EQ(sr_get(5), 2);
    // Once by the change to mode 2, once by the start-up for a mode above 1.
    EXPECT_EQ(count(host::trace_calls(), "IoStart"), 2u);
}

TEST_F(StartupTest, MasterScriptRunsFedThroughAPipe) {
    write_file("/opt/velmor/MasterScript.sh", "read line\necho \"got $line\" > \"$0.out\"\n");
    ASSERT_EQ(Startup(1), 0);
    EXPECT_EQ(MasterFilePresent, 1);
    ASSERT_GT(MasterScriptPid, 0);
    ASSERT_GE(MasterScriptPipefd, 0);
    ASSERT_EQ(write(MasterScriptPipefd, "wifi up\n", 8), 8);
    std::string out;
    for (int i = 0; i < 200 && out.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        out = read_file("/opt/velmor/MasterScript.sh.out");
    }
    EXPECT_EQ(out, "got wifi up\n");
    close(MasterScriptPipefd);
    host::end_child(MasterScriptPid);
}

TEST_F(StartupTest, FinishedFtpMarkerIsRemovedWhateverItsCase) {
    write_file("/mnt/USB0/endofftp.TXT", "");
    ASSERT_EQ(Startup(1), 0);
    EXPECT_TRUE(logged("rm /mnt/USB0/EndOfFTP.txt"));
    EXPECT_TRUE(logged("sync"));
    EXPECT_NE(access((root_dir + "/mnt/USB0/endofftp.TXT").c_str(), F_OK), 0);
}

TEST_F(StartupTest, StartupClearsTheWorkRegistersOnly) {
    plc_reg[6015] = 0x11;
    plc_reg[6016] = 0x22;
    plc_reg[6016 + 7167] = 0x33;
    plc_reg[6016 + 7168] = 0x44;
    // A loader start: nothing is loaded over the image afterwards.
    ASSERT_EQ(Startup(2), 0);
    EXPECT_EQ(plc_reg[6015], 0x11);
    EXPECT_EQ(plc_reg[6016], 0);
    EXPECT_EQ(plc_reg[6016 + 7167], 0);
    EXPECT_EQ(plc_reg[6016 + 7168], 0x44);
}
