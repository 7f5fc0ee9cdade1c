// The application files, the register files, the side files and the
// power-fail path, with inputs made by the application builder.
#include "base/crc16.h"
#include "base/le.h"
#include "base/trace.h"
#include "host/board.h"
#include "host/config.h"
#include "host/power.h"
#include "host/root.h"
#include "host/shell.h"
#include "host/thread.h"
#include "iec/kernel/iec.h"
#include "panel_fixture.h"
#include "plc/fram.h"
#include "regs/plc_reg.h"
#include "system/appfile.h"
#include "system/backup.h"
#include "system/loop.h"
#include "system/nvram.h"
#include "system/startup.h"
#include "system/sys.h"
#include "tools/lib/appbuild.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

namespace {
std::string str(const std::vector<uint8_t> &b) {
    return std::string(b.begin(), b.end());
}

size_t count(const std::vector<std::string> &calls, const std::string &name) {
    return size_t(std::count(calls.begin(), calls.end(), name));
}

// Every optional table is checked, and the HMI program asks for its font.
const char *kFullApp = R"({
    "ladder": {"program": {"u16": [32768, 55, 9]}, "features": 183},
    "io_config": {"u32": [255, 255, 255]},
    "security": {"text": "secret"},
    "kesta_pgm": [{"zeros": 8}, {"u16": [24]}, {"zeros": 10}, {"u32": [1]}, {"text": "pages"}],
    "bitmaps": {"0": {"text": "bitmap zero"}, "2": {"hex": "01 02 03"}},
    "string_table": {"text": "strings"}, "text_table": {"text": "texts"},
    "font_table": {"text": "font"}, "promgr_table": {"u32": [8, 0]},
    "sms_table": {"u32": [12, 0, 5]}, "datalog_table": {"u32": [8, 0]},
    "report_table": {"u32": [8, 0]}, "recipe_tbl": {"u32": [8, 0]},
    "login_tbl": {"u32": [8, 0]}, "mqtt_tbl": {"u32": [8, 0]}
})";
} // namespace

class AppFileTest : public PanelTest {
protected:
    appbuild::Built build(const std::string &json) {
        appbuild::Built b;
        std::string error;
        EXPECT_TRUE(appbuild::build_text(json, "", &b, &error)) << error;
        return b;
    }
    void install(const appbuild::Built &b) {
        write_file("/mnt/cfg/config.pgm", str(b.config));
        write_file("/mnt/cfg/ladder.pgm", str(b.ladder));
    }
    appbuild::Placed part(const appbuild::Built &b, const std::string &name) {
        appbuild::Placed p;
        EXPECT_TRUE(appbuild::find_part(b.manifest, name, &p)) << name;
        return p;
    }
    // A start of the panel on what the root folder holds, as after a power-on.
    void start() {
        panel_reset_all();
        unlink(host::path("/var/log/console.log").c_str());
        host::config_set("uname", "Linux panel 2.6.35.3-1037 #1");
        sr_put(198, 3300);
        host::trace_start();
        ASSERT_EQ(Startup(1), 0);
    }
    std::string console() { return read_file("/var/log/console.log"); }
};

TEST_F(AppFileTest, ApplicationBuiltByTheBuilderLoadsValidatesAndSavesBack) {
    appbuild::Built b = build(kFullApp);
    install(b);
    ASSERT_EQ(LoadProgram(), 1);
    EXPECT_EQ(le32(io_config_bl + 4), 12u);
    EXPECT_EQ(le32(io_config_bl + 12), 255u);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(plc_reg + app::kSecurityOffset), 6), "secret");
    EXPECT_EQ(sr_get(28), part(b, "security").crc);
    EXPECT_EQ(le32(rom_map_tbl + 516), 2 * app::kBmpSlotSize + 3);
    EXPECT_EQ(bmp_table[2 * app::kBmpSlotSize + 2], 3);
    EXPECT_EQ(le32(promgr_table), 8u) << "promgr_table points at the table's data";
    EXPECT_EQ(le32(ladder_bl + 4), part(b, "ladder").length);
    // The force table of a unit with this application.
    sr_put32(15, 4);
    sr_put(25, crc16(plc_reg + reg::kF, 4));
    EXPECT_EQ(nvram_init(0, 0, 0), 0);
    EXPECT_EQ(NV_EditorFeatures, 183u);
    EXPECT_EQ(sr_get(4) & 0x4004, 0) << "nothing repaired";
    // Saved back, the files are the ones the builder made.
    ASSERT_TRUE(CrtAutoSaveRegFile());
    ASSERT_EQ(SaveProgram(), 1);
    EXPECT_EQ(read_file("/mnt/cfg/config.pgm"), str(b.config));
    EXPECT_EQ(read_file("/mnt/cfg/ladder.pgm"), str(b.ladder));
    EXPECT_EQ(read_file("/mnt/cfg/autoreg.dta").size(), size_t(app::kRegFileSize));
}

TEST_F(AppFileTest, EveryBlockWithOneFlippedByteIsReplacedAndReported) {
    struct Case {
        const char *part;
        uint16_t sr4;     // fault bit expected (0: none)
        size_t data_skip; // bytes of the part's header
    };
    const std::string program = "User Program\n    Memory Error",
                      graphics = "User Graphics\n    Memory Error";
    // clang-format off
    const Case cases[] = {
        // A program that fails to load stops the load of the blocks file too.
        {"ladder", 0x4004, 8}, {"io_config", 0x4, 8}, {"net_config", 0x4, 8},
        // The register file, loaded after the blocks, carries the record as well.
        {"security", 0, 4},
        {"kesta_pgm", 0x4000, 8}, {"bitmaps", 0x4000, app::kRomMapSize}, {"string_table", 0x4000, 8},
        {"text_table", 0x4000, 8}, {"font_table", 0x4000, 8}, {"promgr_table", 0x4, 8},
        {"sms_table", 0x4, 8}, {"datalog_table", 0x4, 8}, {"flash_parm_tbl", 0, 8},
        {"report_table", 0x4, 8}, {"recipe_tbl", 0x4, 8}, {"login_tbl", 0x4, 8}, {"mqtt_tbl", 0x4, 8},
    };
    // clang-format on
    appbuild::Built good = build(kFullApp);
    // A unit that ran this application: its registers hold the mirrors.
    install(good);
    start(); // a new unit: the defaults are loaded and saved over the files
    install(good);
    ASSERT_EQ(LoadProgram(), 1);
    sr_put32(15, 4);
    sr_put(25, crc16(plc_reg + reg::kF, 4));
    ASSERT_EQ(AutoSaveRegisters(), 1);
    start();
    ASSERT_EQ(sr_get(4) & 0x4004, 0) << console();
    ASSERT_NE(console().find("*** Self-Test Passed ***"), std::string::npos);
    std::string registers = read_file("/mnt/cfg/autoreg.dta");

    for (const Case &c : cases) {
        appbuild::Built bad = good;
        appbuild::Placed p = part(good, c.part);
        std::vector<uint8_t> &file = std::string(c.part) == "ladder" ? bad.ladder : bad.config;
        file[p.offset + c.data_skip + 1] ^= 0x20;
        install(bad);
        write_file("/mnt/cfg/autoreg.dta", registers);
        start();
        SCOPED_TRACE(c.part);
        EXPECT_EQ(sr_get(4) & 0x4004, c.sr4);
        std::string text = console();
        EXPECT_EQ(text.find(program) != std::string::npos, (c.sr4 & 0x4) != 0);
        EXPECT_EQ(text.find(graphics) != std::string::npos, (c.sr4 & 0x4000) != 0);
        if (c.sr4 & 0x4) {
            EXPECT_EQ(le32(ladder_bl + 4), 0u) << "an empty program";
            EXPECT_EQ(le16(ladder_bl + 8), 9) << "that is the END instruction";
            EXPECT_EQ(le32(io_config_bl + 8), 255u);
            EXPECT_EQ(count(host::trace_calls(), "SetPlcMode"), 2u)
                << "mode 0, then the saved mode";
        }
        if (c.sr4 & 0x4000) {
            EXPECT_EQ(le32(kesta_pgm_bl + 4), 0u);
        }
    }
}

TEST_F(AppFileTest, SizeLimitsOfTheFilesAreKeptWithoutReadingPastABuffer) {
    struct Case {
        const char *what;
        std::function<void(appbuild::Built &)> edit;
        int loads;
        uint32_t status;
    };
    auto set32 = [](std::vector<uint8_t> &f, size_t at, uint32_t v) { put_le32(f.data() + at, v); };
    // clang-format off
    std::vector<Case> cases = {
        {"program longer than its buffer", [&](appbuild::Built &b) { set32(b.ladder, 4, app::kLadderMax + 1); }, 0, 0x40},
        {"program length past the file's end", [&](appbuild::Built &b) { set32(b.ladder, 4, 100); }, 0, 0x40},
        {"security record of 81 bytes", [&](appbuild::Built &b) {
            size_t at = part(b, "security").offset;
            put_le16(b.config.data() + at, 81);
            b.config.insert(b.config.begin() + long(at) + 4 + 80, 1, 0x55); }, 0, 0x100},
        {"block longer than its buffer", [&](appbuild::Built &b) { set32(b.config, part(b, "io_config").offset + 4, 2000000); }, 0, 0x100},
        {"last block cut short", [&](appbuild::Built &b) { b.config.resize(b.config.size() - 1); }, 0, 0x100},
        {"bitmap area beyond its table", [&](appbuild::Built &b) { set32(b.config, part(b, "bitmaps").offset + 516, app::kBmpTableSize + 1); }, 0, 0x100},
    };
    // clang-format on
    for (auto &c : cases) {
        panel_reset_all();
        appbuild::Built b = build(R"({"security": {"zeros": 80}})");
        c.edit(b);
        install(b);
        std::memcpy(plc_reg + reg::kMarker, "WATCHBAT", 8);
        EXPECT_EQ(LoadProgram(), c.loads) << c.what;
        EXPECT_EQ(Persist_Get() & 0x140, c.status) << c.what;
        EXPECT_EQ(std::memcmp(plc_reg + reg::kMarker, "WATCHBAT", 8), 0) << c.what;
        Persist_Set(0);
    }
}

TEST_F(AppFileTest, LongestProgramLoadsAndStaysValidAtTheNextStart) {
    // The whole buffer: what loads is also accepted by the validation.
    std::vector<uint8_t> program(app::kLadderMax, 0);
    put_le16(program.data() + program.size() - 2, 9);
    std::string file(8, '\0');
    put_le32(file.data(), crc16(program.data(), program.size()));
    put_le32(file.data() + 4, uint32_t(program.size()));
    write_file("/mnt/cfg/config.pgm", str(build("{}").config));
    write_file("/mnt/cfg/ladder.pgm", file + str(program));
    ASSERT_EQ(LoadProgram(), 1);
    sr_put32(15, 4);
    sr_put(25, crc16(plc_reg + reg::kF, 4));
    nvram_init(0, 0, 0);
    EXPECT_EQ(sr_get(4) & 0x4, 0);
    EXPECT_EQ(le32(ladder_bl + 4), app::kLadderMax);
}

TEST_F(AppFileTest, IecApplicationWritesItsCodeFileAndStartsTheRuntime) {
    install(build(R"({"ladder": {"xti": {"code": {"text": "IEC CODE"}}}})"));
    host::trace_start();
    ASSERT_EQ(LoadProgram(), 1);
    EXPECT_EQ(read_file("/mnt/cfg/tr.cod"), "IEC CODE");
    EXPECT_EQ(TrevantRuntime, 1);
    EXPECT_EQ(trevant_code_ptr, ladder_bl + 8 + 16);
    EXPECT_EQ(TrevantI0_VarLoc, ladder_bl + 8 + 16 + 8);
    auto calls = host::trace_calls();
    EXPECT_EQ(count(calls, "Trevant_init"), 1u);
    // The network and I/O configuration are applied again once.
    EXPECT_EQ(count(calls, "NetIoConfig"), 1u);
    EXPECT_EQ(count(calls, "IoConfig"), 1u);

    // A code length running past the program: not an IEC application.
    appbuild::Built b = build(R"({"ladder": {"xti": {"code": {"text": "IEC CODE"}}}})");
    put_le32(b.ladder.data() + 8 + 8, 0xFFFFFFF0u);
    put_le32(b.ladder.data(), crc16(b.ladder.data() + 8, b.ladder.size() - 8));
    write_file("/mnt/cfg/ladder.pgm", str(b.ladder));
    host::trace_start();
    ASSERT_EQ(LoadLadder(), 1);
    EXPECT_EQ(TrevantRuntime, 0);
    EXPECT_EQ(count(host::trace_calls(), "IoConfig"), 1u);
}

TEST_F(AppFileTest, RegisterFilesAtStart) {
    // A new unit: the files are made and the defaults requested.
    EXPECT_EQ(AutoLoadRegisters(), 0);
    EXPECT_EQ(fwload_set_def, 1);
    EXPECT_EQ(read_file("/mnt/cfg/autoreg.dta"), "");
    EXPECT_EQ(read_file("/mnt/cfg/bbram.dta"), "");
    EXPECT_EQ(Persist_Restarts(), 1u) << "the first start";
    EXPECT_EQ(sr_get(52), 0) << "the restart count file starts at 0";

    // Saved, then loaded whole.
    sr_put(300, 4321);
    put_le16(plc_reg + reg::kR, 77);
    bbram[10] = 0xAB;
    ASSERT_EQ(AutoSaveRegisters(), 1);
    std::string saved = read_file("/mnt/cfg/autoreg.dta");
    ASSERT_EQ(saved.size(), size_t(app::kRegFileSize));
    EXPECT_EQ(le16(saved.data()),
              crc16(reinterpret_cast<const uint8_t *>(saved.data()) + 8, 109176));
    EXPECT_EQ(le32(saved.data() + 4), 109176u);
    EXPECT_EQ(read_file("/mnt/cfg/bbram.dta")[10], char(0xAB));

    struct Case {
        const char *what;
        std::function<void()> damage;
        bool fram_good;
        uint32_t status;
        uint16_t sr300; // the file's register outside the FRAM regions
    };
    auto good_fram = [] {
        FRAM_XChange_Data(0, 1);
        FRAM_BBRAM_XChange_Data(bbram, 4096, 0, 1);
    };
    // clang-format off
    std::vector<Case> cases = {
        {"good file", [] {}, false, 0, 4321},
        {"bad CRC, FRAM good: the image as read", [&] { std::string s = saved; s[9] ^= 1; write_file("/mnt/cfg/autoreg.dta", s); }, true, 0, 4321},
        {"bad CRC, FRAM blank: cleared", [&] { std::string s = saved; s[9] ^= 1; write_file("/mnt/cfg/autoreg.dta", s); }, false, 0x10, 0},
        {"short file, FRAM blank", [&] { write_file("/mnt/cfg/autoreg.dta", saved.substr(0, 5000)); }, false, 0x14, 0},
    };
    // clang-format on
    for (auto &c : cases) {
        panel_reset_all();
        write_file(host::kFramImage, "");
        write_file("/mnt/cfg/autoreg.dta", saved);
        FRAM_Init();
        if (c.fram_good) good_fram();
        std::memset(plc_reg, 0, sizeof plc_reg);
        std::memset(bbram, 0, sizeof bbram);
        c.damage();
        Persist_Set(0x8000);
        EXPECT_EQ(AutoLoadRegisters(), c.fram_good ? 1 : 0) << c.what;
        EXPECT_EQ(Persist_Get(), c.status) << c.what << ": 0x8000 cleared at start";
        EXPECT_EQ(sr_get(199), c.status | 0x8000) << c.what << ": as found, before the clearing";
        EXPECT_EQ(sr_get(300), c.sr300) << c.what;
        EXPECT_EQ(fwload_set_def, 0) << c.what;
    }

    // A save never creates the register file.
    unlink(host::path("/mnt/cfg/autoreg.dta").c_str());
    Persist_Set(0);
    EXPECT_EQ(AutoSaveRegisters(), 0);
    EXPECT_EQ(Persist_Get(), 0u) << "no status bit";
    EXPECT_EQ(access(host::path("/mnt/cfg/autoreg.dta").c_str(), F_OK), -1);
}

TEST_F(AppFileTest, RestartCounterCountsEachStartOnceHoweverOftenTheLoadIsTried) {
    for (int start = 1; start <= 3; ++start) {
        panel_reset_all();
        for (int i = 0; i < 10 && !AutoLoadRegisters(); ++i) {
        }
        EXPECT_EQ(Persist_Restarts(), uint32_t(start));
    }
}

TEST_F(AppFileTest, OnlyTheMainThreadsSaveSetsTheClock) {
    ASSERT_TRUE(CrtAutoSaveRegFile());
    host::trace_start();
    std::thread([] { AutoSaveRegisters(); }).join();
    EXPECT_EQ(count(host::trace_calls(), "RtcSet"), 0u)
        << "the watchdog thread's registers are stale";
    AutoSaveRegisters();
    EXPECT_EQ(count(host::trace_calls(), "RtcSet"), 1u);
}

TEST_F(AppFileTest, PowerFailSignalIsMarkedAndPowerDownSavesThenSwitchesOff) {
    GPIOInit();
    FRAM_Init();
    EXPECT_EQ(read_file("/proc/powerdown"), std::to_string(getpid()) + "\n");
    raise(host::kPowerFailSignal);
    EXPECT_EQ(PowerdownSignal, 1) << "the handler only marks";
    ASSERT_TRUE(CrtAutoSaveRegFile());
    put_le16(plc_reg + reg::kR, 1234);
    Persist_Set(0);
    EXPECT_EXIT(PowerDown(), ::testing::ExitedWithCode(11), "");
    EXPECT_EQ(le16(read_file("/mnt/cfg/autoreg.dta").data() + 8 + reg::kR), 1234);
    EXPECT_EQ(Persist_Get(), 0x8000u);
    // The FRAM holds the same registers, so the next start does not go back.
    panel_reset_all();
    std::memset(plc_reg, 0, sizeof plc_reg);
    FRAM_Init();
    EXPECT_EQ(AutoLoadRegisters(), 1);
    EXPECT_EQ(le16(plc_reg + reg::kR), 1234);
}

// The FRAM block holds %EM, or %M for a program with 16-bit register tokens.
// The start-up reads it back before the feature word is taken into
// NV_EditorFeatures, so the table must come from the program just loaded;
// with the other table %EM would take the bits of %M. A warm reset and a
// restore from the backup both end with both banks written and a restart.
TEST_F(AppFileTest, RetentiveBlockComesBackWithTheTableOfTheLoadedProgram) {
    enum class Reset { Warm, Restore };
    struct Case {
        uint32_t features;
        Reset reset;
    };
    const Case cases[] = {
        {0x8000, Reset::Warm}, {0x8000, Reset::Restore}, {0, Reset::Warm}, {0, Reset::Restore}};
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.features) + (c.reset == Reset::Warm ? " warm" : " restore"));
        panel_reset_all();
        install(build(R"({"ladder": {"program": {"u16": [9]}, "features": )" +
                      std::to_string(c.features) + "}}"));
        ASSERT_EQ(LoadProgram(), 1);
        ASSERT_TRUE(CrtAutoSaveRegFile());
        FRAM_Init();
        NV_EditorFeatures = c.features; // as the start-up validation sets it
        std::memset(plc_reg, 0, sizeof plc_reg);
        plc_reg[reg::kM] = 0x05;  // %M1 and %M3
        plc_reg[reg::kEM] = 0x0A; // %EM2 and %EM4
        if (c.reset == Reset::Warm) {
            EXPECT_EXIT(SYS_WarmReset(), ::testing::ExitedWithCode(host::kExitReboot), "");
        } else {
            ASSERT_EQ(StoreBBRAM(), 1);
            plc_reg[reg::kM] = 0x30;
            plc_reg[reg::kEM] = 0xC0;
            EXPECT_EXIT(RestoreBBRAM(0), ::testing::ExitedWithCode(host::kExitReboot), "");
        }
        // The restart: the program is loaded, then the registers.
        panel_reset_all();
        std::memset(plc_reg, 0, sizeof plc_reg);
        FRAM_Init();
        ASSERT_EQ(LoadProgram(), 1);
        ASSERT_EQ(AutoLoadRegisters(), 1);
        EXPECT_EQ(plc_reg[reg::kM], 0x05);
        EXPECT_EQ(plc_reg[reg::kEM], 0x0A);
        EXPECT_EQ(NV_EditorFeatures, 0u) << "set later, by the start-up validation";
    }
}

TEST_F(AppFileTest, SideFiles) {
    // Restart count file.
    sr_put(52, 7);
    K7_WDCountCheck(0);
    EXPECT_EQ(sr_get(52), 0) << "made with count 0";
    EXPECT_EQ(read_file("/mnt/cfg/watchdog_cnt.dta"), std::string(2, '\0'));
    sr_put(52, 5);
    K7_WDCountCheck(0);
    EXPECT_EQ(sr_get(52), 4);
    EXPECT_EQ(le16(read_file("/mnt/cfg/watchdog_cnt.dta").data()), 4);
    sr_put(52, 1);
    K7_WDCountCheck(0);
    EXPECT_EQ(sr_get(52), 4);
    K7_WDCountCheck(1);
    EXPECT_EQ(sr_get(52), 0);
    EXPECT_EQ(access(host::path("/mnt/cfg/watchdog_cnt.dta").c_str(), F_OK), -1);

    // Touch calibration.
    const uint32_t cal[6] = {1, 2, 3, 4, 5, 6};
    uint32_t back[6] = {};
    ASSERT_EQ(StrTchClb(cal), 1);
    ASSERT_EQ(ReadTchClb(back), 1);
    EXPECT_EQ(std::vector<uint32_t>(back, back + 6), std::vector<uint32_t>(cal, cal + 6));

    // Register backup file.
    put_le32(crcsize_tbl + 4, 109176);
    crcsize_tbl[8 + 5] = 0x5A;
    crcsize_tbl[109184] = 90;
    ASSERT_EQ(BkpRegisters(), 1);
    EXPECT_EQ(read_file("/mnt/cfg/bkpreg.dta").size(), 109176u + 16);
    std::memset(crcsize_tbl, 0, 109200);
    ASSERT_EQ(LoadRegisters(), 1);
    EXPECT_EQ(crcsize_tbl[13], 0x5A);
    EXPECT_EQ(ClrRegFile(), 1);
    EXPECT_EQ(crcsize_tbl[109188], 255);
    EXPECT_EQ(crcsize_tbl[109184], 0);
    EXPECT_EQ(LoadRegisters(), 0);

    // Deleting the application and the register file.
    install(build("{}"));
    EXPECT_EQ(DeleteProgram(), 1);
    EXPECT_EQ(DeleteProgram(), 1) << "absent files count as removed";
    ASSERT_TRUE(CrtAutoSaveRegFile());
    sr_put(29, 12);
    sr_put(30, 3);
    Persist_Set(0x11);
    EXPECT_EQ(DelAutoRegFile(), 1);
    EXPECT_EQ(Persist_Get(), 0x8000u);
    EXPECT_EQ(read_file("/mnt/cfg/retnreg.dta"), std::string("\x0c\0\x03\0", 4));
    sr_put(29, 0);
    ASSERT_TRUE(CrtAutoSaveRegFile());
    EXPECT_EQ(sr_get(29), 12) << "network id kept through the new register file";
}

TEST_F(AppFileTest, MacAddresses) {
    uint8_t mac[6];
    struct Case {
        const char *text;
        int result;
    };
    for (Case c :
         {Case{"02:50:4e:00:00:01", 1}, Case{"02:50:4E:AA:bb:CC", 1}, Case{"00:11:22:33:44:55", 0},
          Case{"02:50:4E:00:00:0G", 0}, Case{"02-50-4E-00-00-01", 0}})
        EXPECT_EQ(convert_MACSTR_MACINT(c.text, mac), c.result) << c.text;
    char hex[3] = {};
    convert_BYTE_ASCIIHEX(hex, 0xA7);
    EXPECT_STREQ(hex, "A7");

    uint8_t identity[124] = {};
    EXPECT_EQ(SaveMACID(identity, 0), 3) << "no file";
    write_file("/mnt/USB/MACIDS.TXT", "02:50:4E:00:00:FF\r\n02:50:4E:00:01:00\r\n");
    EXPECT_EQ(SaveMACID(identity, 0), 0);
    EXPECT_EQ(identity[13], 0xFF);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(identity) + 32), "02:50:4E:00:00:FF");
    EXPECT_EQ(read_file("/mnt/USB/MACIDS.TXT").substr(0, 17), "02:50:4E:00:01:00")
        << "next, with carry";
    EXPECT_EQ(read_file("/mnt/cfg/TINYIMGE.BIN").size(), 124u);
    EXPECT_EQ(SaveMACID(identity, 1), 0);
    EXPECT_EQ(identity[14 + 4], 0x01);
    EXPECT_EQ(SaveMACID(identity, 1), 0) << "already assigned: written unchanged";
    uint8_t fresh[124] = {};
    EXPECT_EQ(SaveMACID(fresh, 0), 4) << "range used up";
    write_file("/mnt/USB/MACIDS.TXT", "nonsense");
    EXPECT_EQ(SaveMACID(fresh, 0), 2);

    std::memcpy(tinyImage + 8, "\x02\x50\x4E\x01\x02\x03", 6);
    EXPECT_EQ(SaveAndSetMACID(), 0);
    EXPECT_EQ(sr_get(35), 0x0203);
    EXPECT_EQ(sr_get(36), 0x4E01);
    tinyImage[8] = 0;
    EXPECT_EQ(SaveAndSetMACID(), 1);
}
