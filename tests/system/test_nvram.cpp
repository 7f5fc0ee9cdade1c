// Start-up validation: system registers brought into range or to their
// defaults, blocks checked and replaced, mirrors and fault bits.
#include "base/crc16.h"
#include "base/le.h"
#include "base/trace.h"
#include "panel_fixture.h"
#include "plc/sysreg.h"
#include "regs/plc_reg.h"
#include "system/appfile.h"
#include "system/nvram.h"
#include "tools/lib/appbuild.h"

#include <algorithm>

class NvramTest : public PanelTest {
protected:
    // Loads an application made from a description, with the force table and
    // security record mirrors of a unit that ran it.
    void load(const std::string &json) {
        appbuild::Built b;
        std::string error;
        ASSERT_TRUE(appbuild::build_text(json, "", &b, &error)) << error;
        write_file("/mnt/cfg/config.pgm", std::string(b.config.begin(), b.config.end()));
        write_file("/mnt/cfg/ladder.pgm", std::string(b.ladder.begin(), b.ladder.end()));
        ASSERT_EQ(LoadProgram(), 1);
        sr_put32(15, 4);
        sr_put(25, crc16(plc_reg + reg::kF, 4));
        sr_put(61, 1);
        sr_put(29, 1);
    }
};

TEST_F(NvramTest, SystemRegistersAreRepairedOrSetToTheirDefaults) {
    struct Case {
        int sr;
        uint16_t value, repaired, defaulted;
    };
    // clang-format off
    const Case cases[] = {
        {5, 3, 3, 0}, {5, 5, 0, 0}, {152, 4, 4, 0}, {152, 5, 0, 0}, {32, 0, 16, 16}, {32, 41, 16, 16},
        {33, 2, 0, 0}, {31, 128, 0, 0}, {137, 499, 500, 500}, {173, 2, 0, 0}, {180, 3, 0, 0},
        {183, 2, 1, 1}, {185, 2, 0, 0}, {186, 4, 15, 15}, {186, 1201, 15, 15}, {167, 51, 2, 2},
        {167, 20, 20, 2}, {169, 5, 5, 32767}, {30, 5, 0, 0}, {154, 0xFFFF, 0x3FFF, 0x3FFF}};
    // clang-format on
    for (const Case &c : cases) {
        for (int defaults : {0, 1}) {
            panel_reset_all();
            load("{}");
            sr_put(c.sr, c.value);
            EXPECT_EQ(nvram_init(defaults, 0, 0), defaults);
            EXPECT_EQ(sr_get(c.sr), defaults ? c.defaulted : c.repaired)
                << "%SR" << c.sr << " = " << c.value << (defaults ? " (defaults)" : "");
        }
    }
}

// The start-up's defaults and repairs of the settings that the system-register
// table limits are values a register write takes: they read the table's limits.
TEST_F(NvramTest, DefaultsAndRepairsAreWithinTheWriteLimits) {
    for (int n : {sr::kRunMode, sr::kContrast, sr::kKeyToggle, sr::kKeysDisabled, sr::kPopupMode,
                  sr::kBeepEnable, sr::kSaverEnable, sr::kSaverMinutes, sr::kExtOptions,
                  sr::kSlicePeriod, sr::kNetBaud}) {
        const SrInfo &row = sr_row(n);
        ASSERT_EQ(row.width, 16) << "%SR" << n;
        ASSERT_LE(row.min, row.max) << "%SR" << n;
        for (int defaults : {0, 1}) {
            for (uint32_t bad : {row.max + 1, row.min - 1}) {
                if (bad > 0xFFFF) continue; // no 16-bit value lies outside there
                panel_reset_all();
                load("{}");
                sr_put(n, uint16_t(bad));
                nvram_init(defaults, 0, 0);
                uint16_t v = sr_get(n);
                EXPECT_GE(v, row.min) << "%SR" << n << " = " << bad << " defaults " << defaults;
                EXPECT_LE(v, row.max) << "%SR" << n << " = " << bad << " defaults " << defaults;
            }
        }
    }
}

TEST_F(NvramTest, NetworkIdsOutOfRange) {
    struct Case {
        uint16_t own, id, own_after, id_after;
        bool fault;
    };
    for (Case c : {Case{0, 5, 1, 5, false}, Case{1, 254, 1, 253, true}, Case{1, 0, 1, 253, true},
                   Case{200, 60, 200, 54, true}, Case{200, 54, 200, 54, false}}) {
        panel_reset_all();
        load("{}");
        sr_put(61, c.own);
        sr_put(29, c.id);
        nvram_init(0, 0, 0);
        EXPECT_EQ(sr_get(61), c.own_after);
        EXPECT_EQ(sr_get(29), c.id_after) << c.own << "/" << c.id;
        EXPECT_EQ((sr_get(4) & 0x20) != 0, c.fault) << c.own << "/" << c.id;
    }
}

TEST_F(NvramTest, FeatureWordDecidesWhichTablesAreChecked) {
    struct Case {
        const char *program;
        uint32_t features;
        bool fault; // with a bad MQTT table
    };
    // clang-format off
    const Case cases[] = {
        {R"({"program": {"u16": [9]}, "features": 16})", 16, true},
        {R"({"program": {"u16": [9]}, "features": 128})", 128, true},
        {R"({"program": {"u16": [9]}, "features": 1})", 1, false},
        {R"([{"u16": [9]}, {"u32": [16, 0]}, {"bytes": [254]}])", 0, false}, // last byte 254: no features
        {R"({"u16": [9]})", 0, false},                                       // too short to carry any
    };
    // clang-format on
    for (const Case &c : cases) {
        panel_reset_all();
        load(std::string(R"({"mqtt_tbl": {"u32": [8, 0]}, "ladder": )") + c.program + "}");
        mqtt_tbl[9] ^= 1; // CRC no longer matches
        nvram_init(0, 0, 0);
        EXPECT_EQ(NV_EditorFeatures, c.features) << c.program;
        EXPECT_EQ((sr_get(4) & 0x4) != 0, c.fault) << c.program;
    }
}

TEST_F(NvramTest, RunModeKeepsTheControlBlocksEvenWhenBad) {
    load(R"({"io_config": {"u32": [7]}})");
    io_config_bl[9] ^= 1;
    sr_put(5, 2);
    nvram_init(0, 0, 0);
    EXPECT_EQ(sr_get(4) & 0x4, 0);
    EXPECT_EQ(le32(io_config_bl + 4), 4u) << "kept as it is";
}

TEST_F(NvramTest, ClearingTheControlBlocksLeavesEmptyHeadersAndInvertedLoggerMirrors) {
    load("{}");
    host::trace_start();
    nvram_init(0, 1, 0);
    EXPECT_EQ(sr_get(4) & 0x4, 0x4);
    auto calls = host::trace_calls();
    EXPECT_NE(std::find(calls.begin(), calls.end(), "SetPlcMode"), calls.end());
    EXPECT_EQ(le32(ladder_bl + 4), 0u);
    EXPECT_EQ(le16(ladder_bl + 8), 9);
    EXPECT_EQ(sr_get(148), 0xFFFF) << "the data logger's CRC mirror is inverted";
    EXPECT_EQ(sr_get32(145), 0xFFFFFFFFu);
    EXPECT_EQ(sr_get32(21), 0u);
    EXPECT_EQ(sr_get32(15), 4u);
    EXPECT_EQ(sr_get(25), crc16(io_force, 4));

    // Defaults: headers that validate, the logger's mirrors inverted likewise.
    panel_reset_all();
    EXPECT_EQ(nvram_init(1, 0, 0), 1);
    EXPECT_EQ(sr_get(4) & 0x4004, 0);
    EXPECT_EQ(le32(ladder_bl + 4), 2u);
    EXPECT_EQ(sr_get(23), crc16(ladder_bl + 8, 2));
    EXPECT_EQ(uint16_t(~sr_get(148)), le16(datalog_table));
    EXPECT_EQ(~sr_get32(145), 8u);
    EXPECT_EQ(sr_get32(21), 80u);
    EXPECT_EQ(le32(rom_map_tbl + 516), 8u);
    EXPECT_EQ(nvram_init(0, 0, 0), 0) << "the defaults pass the next validation";
    EXPECT_EQ(sr_get(4) & 0x4004, 0);
}

TEST_F(NvramTest, BitmapSlotLongerThanItsSlotInvalidatesTheScreens) {
    load(R"({"bitmaps": {"1": {"text": "bmp"}}})");
    nvram_init(0, 0, 0);
    ASSERT_EQ(sr_get(4) & 0x4000, 0);
    put_le32(rom_map_tbl + 8 * 1 + 4, app::kBmpSlotSize + 1);
    nvram_init(0, 0, 0);
    EXPECT_EQ(sr_get(4) & 0x4000, 0x4000);
    EXPECT_EQ(le32(rom_map_tbl + 516), 0u);
    EXPECT_EQ(le32(rom_map_tbl + 12), 8u) << "every slot describes its first 8 bytes";
}

TEST(NvWrite, OddLengthGetsAPadByte) {
    uint8_t dst[4] = {0, 0, 0, 0};
    const uint8_t src[3] = {1, 2, 3};
    nv_write(dst, src, 3);
    EXPECT_EQ(dst[2], 3);
    EXPECT_EQ(dst[3], 0xFF);
}
