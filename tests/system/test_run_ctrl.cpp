// Run control: the run-mode rules, the control scan and its statistics, the
// I/O slot configuration and the network set-up.
#include "base/crc16.h"
#include "base/trace.h"
#include "host/clock.h"
#include "iec/kernel/iec.h"
#include "ladder_fixture.h"
#include "platform/tick.h"
#include "plc/sysreg.h"
#include "serial/serial.h"
#include "system/appfile.h"
#include "system/run_ctrl.h"

#include <algorithm>
#include <set>

namespace {
using Calls = std::vector<std::string>;

size_t count(const Calls &calls, const std::string &name) {
    return size_t(std::count(calls.begin(), calls.end(), name));
}
Calls only(const Calls &calls, const std::set<std::string> &keep) {
    Calls out;
    for (auto &c : calls)
        if (keep.count(c)) out.push_back(c);
    return out;
}
} // namespace

class RunCtrlTest : public LadderTest {
protected:
    void SetUp() override {
        LadderTest::SetUp();
        OLPMode = 0;
        load("END\n");
    }
    // Advances the virtual clock by `ticks` of 100 us.
    static void ticks(uint64_t n) { host::clock_advance_ns(n * 100'000); }
};

// ---------------------------------------------------------------- run mode

TEST_F(RunCtrlTest, RunModeRules) {
    struct Case {
        const char *what;
        uint16_t sr4;
        int from, request, result;
    };
    // clang-format off
    const Case cases[] = {
        {"idle to run",                      0,     0, 2, 2},
        {"logic fault forces idle",          0x100, 0, 2, 0},
        {"logic fault still takes mode 3",   0x100, 0, 3, 3},
        {"user program fault stops a run",   0x004, 2, 1, 0},
        {"static RAM fault",                 0x008, 0, 1, 0},
        {"network fault does not force",     0x080, 0, 2, 2},
        {"mode 4",                           0,     2, 4, 4},
        {"above 4 refused",                  0,     2, 5, 2},
        {"far above 4 refused",              0,     1, 300, 1},
        {"fault and above 4 gives idle",     0x001, 2, 7, 0},
    };
    // clang-format on
    for (const Case &c : cases) {
        sr_put(4, 0);
        sr_put(5, 0);
        SetPlcMode(c.from);
        sr_put(4, c.sr4);
        SetPlcMode(c.request);
        EXPECT_EQ(sr_get(5), c.result) << c.what;
    }
}

TEST_F(RunCtrlTest, EveryChangeButTheFirstSavesTheNewMode) {
    std::vector<int> saved;
    host::trace_set_hook([&](const char *name) {
        if (std::string(name) == "AutoSaveRegisters") saved.push_back(sr_get(5));
    });
    SetPlcMode(2); // the start-up's restore: not saved
    EXPECT_TRUE(saved.empty());
    SetPlcMode(2); // no change
    SetPlcMode(1);
    SetPlcMode(0);
    SetPlcMode(5); // refused
    EXPECT_EQ(saved, (std::vector<int>{1, 0})) << "the saved image carries the new mode";
    EXPECT_EQ(sr_get(5), 0);
}

TEST_F(RunCtrlTest, StartingAndStoppingTheServices) {
    host::trace_start();
    SetPlcMode(2);
    Calls calls = host::trace_calls();
    EXPECT_EQ(only(calls, {"PMGR_Start", "SMS_Start", "LOG_Start", "REPORT_Start",
                           "AlarmLogToCF_Start", "IoStart", "io_driver"}),
              (Calls{"PMGR_Start", "SMS_Start", "LOG_Start", "REPORT_Start", "AlarmLogToCF_Start",
                     "IoStart", "io_driver", "io_driver"}));
    EXPECT_EQ(sbit_get(1), 1) << "the I/O start marks the first scan";
    EXPECT_EQ(sr_get(7), 65535);
    OLPMode = 1;
    host::trace_start();
    SetPlcMode(0);
    calls = host::trace_calls();
    EXPECT_EQ(only(calls, {"IoStop", "PMGR_Stop", "SMS_Stop", "LOG_Stop", "REPORT_Stop",
                           "AlarmLogToCF_Stop", "File_StopWorkers"}),
              (Calls{"IoStop", "PMGR_Stop", "SMS_Stop", "LOG_Stop", "REPORT_Stop",
                     "AlarmLogToCF_Stop", "File_StopWorkers"}));
    EXPECT_EQ(OLPMode, 0) << "online programming ends outside mode 2";
    // Mode 1 starts the services but not the I/O.
    host::trace_start();
    SetPlcMode(1);
    EXPECT_EQ(count(host::trace_calls(), "PMGR_Start"), 1u);
    EXPECT_EQ(count(host::trace_calls(), "IoStart"), 0u);
}

TEST_F(RunCtrlTest, LeavingMode4ResetsTheStatisticsWithoutRestartingTheIo) {
    SetPlcMode(2);
    SetPlcMode(4);
    sr_put(6, 12);
    sr_put(7, 3);
    sr_put(8, 40);
    sbit_put(1, 0);
    host::trace_start();
    SetPlcMode(2);
    EXPECT_EQ(count(host::trace_calls(), "IoStart"), 0u);
    EXPECT_EQ(sbit_get(10), 1) << "statistics frozen for one scan";
    EXPECT_EQ(sr_get(6), 0);
    EXPECT_EQ(sr_get(7), 65535);
    EXPECT_EQ(sr_get(8), 0);
}

// ---------------------------------------------------------------- control scan

TEST_F(RunCtrlTest, ScanStatisticsOnTheVirtualClock) {
    SetPlcMode(2);
    PlcScan(); // first scan (%S1): statistics start
    // One more scan without statistics, so the clock's own first reading
    // of the chip lies behind us.
    sbit_put(10, 1);
    PlcScan();
    ticks(10);
    PlcScan();
    EXPECT_EQ(sr_get(6), 10);
    EXPECT_EQ(scan_total, 160u);
    ticks(26);
    PlcScan();
    EXPECT_EQ(scan_total, 176u);
    EXPECT_EQ(sr_get(6), 11);
    EXPECT_EQ(sr_get(7), 10) << "minimum";
    EXPECT_EQ(sr_get(8), 26) << "maximum";
    // With %S10 set the statistics stay as they are.
    sbit_put(10, 1);
    ticks(500);
    PlcScan(); // END clears %S10 again
    EXPECT_EQ(sr_get(8), 26);
    ticks(30);
    PlcScan();
    EXPECT_EQ(sr_get(8), 30) << "measured from the start of the previous scan";
}

TEST_F(RunCtrlTest, ClockBitsToggleOnTheTick) {
    // Scans of 1 ms. A bit toggles once its period has passed and keeps its
    // phase: a late scan does not push the later toggles back.
    std::vector<uint32_t> at[3];
    int last[3] = {};
    uint32_t now = 0;
    host::trace_set_hook([&](const char *name) {
        if (std::string(name) == "PlcScan") now = FPGA_GetFrt();
    });
    PlcScan(); // the very first scan sets the three bits
    uint32_t first = now;
    for (int b = 0; b < 3; ++b) {
        last[b] = sbit_get(3 + b);
        EXPECT_EQ(last[b], 1);
    }
    for (int i = 1; i <= 1500; ++i) {
        ticks(10);
        PlcScan();
        for (int b = 0; b < 3; ++b) {
            int v = sbit_get(3 + b);
            if (v != last[b]) at[b].push_back(now);
            last[b] = v;
        }
    }
    const uint32_t period[3] = {50, 500, 5000};
    for (int b = 0; b < 3; ++b) {
        ASSERT_GE(at[b].size(), size_t(b == 2 ? 2 : 10)) << "%S" << 3 + b;
        for (size_t k = 0; k < at[b].size(); ++k) {
            // The k-th toggle comes with the first scan at or after its due time.
            uint32_t due = first + uint32_t(k + 1) * period[b];
            EXPECT_GE(at[b][k], due) << "%S" << 3 + b << " toggle " << k;
            EXPECT_LT(at[b][k], due + 50) << "%S" << 3 + b << " toggle " << k;
        }
    }
}

TEST_F(RunCtrlTest, ScanOrderInRunMode) {
    SetPlcMode(2);
    TrevantRuntime = 1;
    trevant_variables_enumerateded = 1;
    sbit_put(6, 1);
    net_cfg[6] = 1;
    host::trace_start();
    PlcScan();
    Calls expected = {"PlcScan",
                      "Net_RxHandler",
                      "TrevantUpdateWordSRRegs",
                      "TrevantUpdateBitSysRegs",
                      "IoGetIs",
                      "IoGetAIs",
                      "IoGetIs",
                      "IoGetAIs",
                      "IoGetIs",
                      "IoGetAIs",
                      "TrevantUpdateBitInputRegs",
                      "TrevantUpdateWordInputRegs",
                      "_VMThread",
                      "IoPutQs",
                      "IoPutAQs",
                      "IoPutQs",
                      "IoPutAQs",
                      "IoPutQs",
                      "IoPutAQs",
                      "TrevantUpdateBitOutputRegs",
                      "TrevantUpdateWordOutputRegs",
                      "PMGR_Scan",
                      "SMS_Scanner",
                      "LOG_Update",
                      "REPORT_Scanner",
                      "AlarmLogToCF_Scanner",
                      "DLOG_Update",
                      "Net_SendPackets",
                      "_Can_Data",
                      "NetStatusDecode",
                      "_Can_Lockup",
                      "BrikScanner",
                      "Sr_VibusIo",
                      "Etn_UpdateStatus"};
    std::set<std::string> names(expected.begin(), expected.end());
    EXPECT_EQ(only(host::trace_calls(), names), expected);
    TrevantRuntime = 0;
    trevant_variables_enumerateded = 0;
}

TEST_F(RunCtrlTest, WhatEachModeRuns) {
    struct Case {
        const char *what;
        int mode;
        uint16_t sr84;
        bool io, logic, services;
    };
    const Case cases[] = {
        {"idle", 0, 0, false, false, false},
        {"do I/O", 1, 0, true, false, true},
        {"run", 2, 0, true, true, true},
        {"mode 3", 3, 0, true, true, true},
        {"factory calibration owns the I/O", 2, 0x39A6, false, true, false},
    };
    for (const Case &c : cases) {
        panel_reset_all();
        load("TRUE\nLD %M1\nOUT %Q1\nEND\n");
        set_bit("%M1", 1);
        sbit_put(6, 1);
        SetPlcMode(c.mode);
        sr_put(84, c.sr84);
        host::trace_start();
        PlcScan();
        Calls calls = host::trace_calls();
        EXPECT_EQ(count(calls, "IoGetIs") > 0, c.io) << c.what;
        EXPECT_EQ(count(calls, "IoPutQs") > 0, c.io) << c.what;
        EXPECT_EQ(bit("%Q1"), c.logic) << c.what;
        EXPECT_EQ(count(calls, "PMGR_Scan") > 0, c.services) << c.what;
        EXPECT_EQ(count(calls, "Net_SendPackets"), 1u) << c.what << ": always";
    }
}

TEST_F(RunCtrlTest, UndefinedOpcodeStopsTheController) {
    load("LD %M1\nOUT %Q1\n.word 0x0008\nEND\n");
    SetPlcMode(2);
    sr_put(4, 0);
    PlcScan();
    EXPECT_EQ(sr_get(4) & sr4::kLogicFault, sr4::kLogicFault);
    EXPECT_EQ(sr_get32(53), 5u) << "%SR53-54: the position of the opcode word";
    EXPECT_EQ(sr_get(5), 0);
    SetPlcMode(2);
    EXPECT_EQ(sr_get(5), 0) << "refused while the fault bit is set";
}

TEST_F(RunCtrlTest, LogicFaultInOnlineProgrammingKeepsRunning) {
    load("LD %M1\n.word 0x0008\nEND\n");
    SetPlcMode(2);
    OLPMode = 1;
    sr_put(193, 0x0001);
    PlcScan();
    EXPECT_EQ(sr_get(5), 2);
    EXPECT_EQ(sr_get(193), 0x100);
    EXPECT_EQ(sr_get32(11), Ladder_Bytes()) << "length mirror refreshed";
    EXPECT_EQ(sr_get(23), le16(ladder_bl)) << "CRC mirror refreshed";
}

TEST_F(RunCtrlTest, ForcesApplyToInputsBeforeAndOutputsAfterTheLogic) {
    // %I1 forced on: the program copies it to %Q1; %Q2 forced on after it.
    load("LD %I1\nOUT %Q1\nLD %M1\nOUT %Q2\nEND\n");
    uint32_t i_word = reg::kI / 2, q_word = reg::kQ / 2;
    put_le16(io_force, 1);
    put_le16(io_force + 2, 2);
    uint8_t *e = io_force + 4;
    put_le16(e, uint16_t(i_word)), put_le16(e + 2, 0xFFFF), put_le16(e + 4, 0x0001);
    e += 6;
    put_le16(e, uint16_t(q_word)), put_le16(e + 2, 0xFFFF), put_le16(e + 4, 0x0002);
    e += 6;
    put_le16(e, 0xFFFF), put_le16(e + 2, 0), put_le16(e + 4, 0xFFFF); // past the registers
    sbit_put(12, 1);
    SetPlcMode(2);
    PlcScan();
    EXPECT_EQ(bit("%Q1"), 1) << "the forced input reached the logic";
    EXPECT_EQ(bit("%Q2"), 1) << "the output force came after the logic";
    // A count beyond the table's 42 entries is bounded by it.
    put_le16(io_force, 0xFFFF);
    put_le16(io_force + 2, 0xFFFF);
    PlcScan();
    sbit_put(12, 0);
    set_bit("%I1", 0);
    PlcScan();
    EXPECT_EQ(bit("%Q1"), 0) << "forcing off";
}

TEST_F(RunCtrlTest, OnlineChangeInstallsTheEditedProgram) {
    // The edited program, downloaded into the online-edit buffer.
    std::vector<uint8_t> edited;
    std::string error;
    ASSERT_TRUE(Ladasm_Assemble("TRUE\nLD %M1\nOUT %Q3\nEND\n", &edited, &error)) << error;
    std::vector<uint8_t> block = Ladasm_Block(edited);
    std::memcpy(ladder_olp, block.data(), block.size());
    load("LD %M1\nOUT %Q1\nEND\n");
    set_bit("%M1", 1);
    SetPlcMode(2);
    OLPMode = 1;
    // The tool's handshake: 0x3 asks, the scan acknowledges with 0x8, then
    // installs and answers 0x14.
    sr_put(193, 0x0003);
    PlcScan();
    EXPECT_EQ(sr_get(193), 0x000B);
    PlcScan();
    EXPECT_EQ(sr_get(193) & 0x1F, 0x17);
    EXPECT_EQ(le32(ladder_bl + 4), edited.size());
    EXPECT_EQ(sr_get32(11), edited.size());
    EXPECT_EQ(sr_get(23), crc16(edited.data(), edited.size()));
    set_bit("%Q3", 0);
    PlcScan();
    EXPECT_EQ(bit("%Q3"), 1) << "the edited program runs";
    // Bits 0x2 and 0x10 set: both cleared.
    EXPECT_EQ(sr_get(193) & 0x12, 0);
}

TEST_F(RunCtrlTest, SaveRequestOutsideOnlineProgramming) {
    write_file("/mnt/cfg/.keep", "");
    SetPlcMode(2);
    sr_put(193, 0x1205);
    host::trace_start();
    PlcScan();
    EXPECT_EQ(sr_get(193), 0x1200) << "low byte cleared";
    EXPECT_TRUE(read_file("/mnt/cfg/ladder.pgm").size() > 8) << "the program was saved";
}

// ---------------------------------------------------------------- I/O slots

TEST_F(RunCtrlTest, EmptySlotsConfiguredEmptyAreNoFault) {
    // The default I/O configuration: three records of "none".
    put_le32(io_config_bl + 4, 12);
    for (int i = 0; i < 3; ++i)
        put_le32(io_config_bl + 8 + 4 * i, 255);
    sr_put(4, sr4::kIoConfig);
    EXPECT_EQ(IoConfig(0), 0);
    EXPECT_EQ(sr_get(4) & sr4::kIoConfig, 0);
    for (int s = 0; s < 2; ++s) {
        EXPECT_EQ(std::string(reinterpret_cast<char *>(Cmd_SS_Info + 2 + 24 * s + 3), 11),
                  "I/O: Empty ")
            << s;
        EXPECT_EQ(le16(Cmd_SS_Info + 2 + 24 * s), 0xFF);
    }
    // Slot 2 holds the unit's Ethernet module, taken as it is.
    EXPECT_EQ(std::string(reinterpret_cast<char *>(Cmd_SS_Info + 2 + 48 + 3), 11), "I/O: ZQM512");
    EXPECT_EQ(le16(Cmd_SS_Info + 2 + 48), 64000);
    EXPECT_EQ(std::memcmp(plc_reg + sr_offset(64), Cmd_SS_Info, sizeof Cmd_SS_Info), 0)
        << "published in %SR64 onward";
}

TEST_F(RunCtrlTest, ConfiguredModuleThatIsMissingIsAFault) {
    // Slot 0 configured with module 0x0100 and 4 bytes of settings; nothing installed.
    put_le32(io_config_bl + 4, 12);
    put_le16(io_config_bl + 8, 0x0100);
    put_le16(io_config_bl + 10, 4);
    put_le32(io_config_bl + 12, 0x12345678);
    put_le16(io_config_bl + 16, 0xFFFF); // none from here on, never stepped over
    sbit_put(6, 1);
    host::trace_start();
    EXPECT_EQ(IoConfig(0), 1);
    EXPECT_EQ(sr_get(4) & sr4::kIoConfig, sr4::kIoConfig);
    EXPECT_EQ(sbit_get(6), 0) << "no I/O is read or written";
    EXPECT_EQ(count(host::trace_calls(), "IoStop"), 1u);
    EXPECT_EQ(io_cfg[0].rec[iocfg::kStatus], '-');
    EXPECT_EQ(std::string(reinterpret_cast<char *>(io_cfg[0].rec + iocfg::kText), 11),
              "I/O Missing");
    EXPECT_EQ(io_cfg[1].rec[iocfg::kStatus], ' ') << "the none record serves the next slots too";
}

// ---------------------------------------------------------------- network

TEST_F(RunCtrlTest, NetworkConfiguration) {
    // No application network configuration.
    sr_put32(19, 0);
    sr_put(29, 7);
    sr_put(30, 2);
    NetConfig();
    EXPECT_EQ(sr_get(31), 0);
    EXPECT_EQ(sr_get(61), 1);
    EXPECT_EQ(le16(net_cfg + 6), 1) << "remote I/O scanning on";
    EXPECT_EQ(le16(NetInit + 4), 100);
    EXPECT_EQ(NetInit[6], 2) << "bit-rate code";
    EXPECT_EQ(NetInit[7], 2);
    EXPECT_EQ(NetInit[8], 3);
    EXPECT_EQ(NetInit[9], 1);
    EXPECT_EQ(NetInit[12], 7) << "own node id";
    EXPECT_EQ(NetInit[13], 1);
    EXPECT_EQ(NetStatsClear, 1);
    // A configuration with bit 7: its ten parameter bytes, scanning off.
    const uint8_t cfg[12] = {0x82, 0, 1, 2, 3, 4, 0, 0, 7, 8, 9, 10};
    put_le32(net_config_bl + 4, sizeof cfg);
    std::memcpy(net_config_bl + 8, cfg, sizeof cfg);
    sr_put32(19, sizeof cfg);
    NetStatsClear = 0;
    host::trace_start();
    NetConfig();
    EXPECT_EQ(sr_get(31), 0x02);
    EXPECT_EQ(sr_get(61), 1) << "0 ids read as 1";
    EXPECT_EQ(net_cfg[2], 1);
    EXPECT_EQ(net_cfg[11], 10);
    EXPECT_EQ(count(host::trace_calls(), "Plc_NetInit"), 0u) << "no remote I/O: no set-up";
}

TEST_F(RunCtrlTest, NetworkReceptionPausesDuringTheDuplicateIdTest) {
    Plc_StopRxHandler();
    host::trace_start();
    PlcScan();
    EXPECT_EQ(count(host::trace_calls(), "Net_RxHandler"), 0u);
    Plc_ResumeRxHandler();
    host::trace_start();
    PlcScan();
    EXPECT_EQ(count(host::trace_calls(), "Net_RxHandler"), 1u);
}
