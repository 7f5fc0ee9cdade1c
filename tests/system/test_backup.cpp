// Backup and restore of the retentive data: the backup image, "bkpreg.dta",
// the %SR164 state bits and the start-up mirrors.
#include "base/crc16.h"
#include "base/le.h"
#include "base/trace.h"
#include "host/power.h"
#include "host/root.h"
#include "iec/kernel/iec.h"
#include "panel_fixture.h"
#include "regs/plc_reg.h"
#include "system/appfile.h"
#include "system/backup.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <vector>

namespace {

constexpr uint32_t kImage = reg::kImageSize;
constexpr uint32_t kMarker = app::kRegFileSize, kFlag = app::kRegFileSize + 4;
const char *const kFile = "/mnt/cfg/bkpreg.dta";

bool bit164(int bit) {
    return (sr_get(164) >> bit) & 1;
}
size_t count(const std::vector<std::string> &calls, const char *name) {
    return size_t(std::count(calls.begin(), calls.end(), name));
}

class BackupTest : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        write_file("/mnt/cfg/.keep", "");
        host::trace_start();
    }
    void TearDown() override {
        host::trace_stop();
        PanelTest::TearDown();
    }
    bool exists(const char *board_path) { return std::filesystem::exists(host::path(board_path)); }
    // Takes a backup of an image holding %R1 = 1234 and run mode 1.
    void store() {
        put_le16(plc_reg + reg::kR, 1234);
        sr_put(5, 1);
        ASSERT_EQ(StoreBBRAM(), 1);
    }
};

TEST_F(BackupTest, StoreWritesTheImageTheFileAndTheStateBits) {
    sr_put(164, 0x44); // store requested, taken over by an earlier restore
    store();
    EXPECT_EQ(le32(crcsize_tbl + 4), kImage);
    EXPECT_EQ(le32(crcsize_tbl), crc16(crcsize_tbl + 8, kImage));
    EXPECT_EQ(le16(crcsize_tbl + 8 + reg::kR), 1234);
    // The image carries the request bit already cleared.
    EXPECT_EQ(le16(crcsize_tbl + 8 + sr_offset(164)) & 0x40, 0);
    EXPECT_EQ(crcsize_tbl[kMarker], 90);
    EXPECT_FALSE(bit164(6));
    EXPECT_TRUE(bit164(3));
    EXPECT_FALSE(bit164(2));
    std::string file = read_file(kFile);
    ASSERT_EQ(file.size(), app::kRegFileSize + 8);
    EXPECT_EQ(std::memcmp(file.data(), crcsize_tbl, file.size()), 0);
    EXPECT_EQ(count(host::trace_calls(), "TCH_BeepOvrd"), 1u);
}

TEST_F(BackupTest, RestoreCopiesTheImageKeepsTheRunModeAndWarmResets) {
    // The restore ends in a warm reset, which reboots: it runs in a child, and
    // the register file that the reset saves shows the restored image.
    const std::string trace_file = host::path("/restore.trace");
    auto restore = [&](int keep) {
        std::remove(trace_file.c_str());
        EXPECT_EXIT(
            {
                host::trace_to_file(trace_file);
                RestoreBBRAM(keep);
            },
            ::testing::ExitedWithCode(host::kExitReboot), "");
        std::string regs = read_file("/mnt/cfg/autoreg.dta");
        EXPECT_EQ(regs.size(), app::kRegFileSize);
        regs.resize(app::kRegFileSize);
        std::vector<uint8_t> image(regs.begin() + 8, regs.end());
        return image;
    };
    for (int keep : {0, 1}) {
        SCOPED_TRACE(keep);
        panel_reset_all();
        ASSERT_EQ(CrtAutoSaveRegFile(), 1);
        crcsize_tbl[kFlag] = 255;
        store();
        put_le16(plc_reg + reg::kR, 99);
        sr_put(5, 2);
        sr_put(164, 0); // the present bit comes back only when it was set
        std::vector<uint8_t> image = restore(keep);
        EXPECT_EQ(le16(image.data() + reg::kR), 1234);
        EXPECT_EQ(le16(image.data() + sr_offset(5)), 2);
        uint16_t sr164 = le16(image.data() + sr_offset(164));
        EXPECT_FALSE((sr164 >> 3) & 1);
        EXPECT_EQ((sr164 >> 2) & 1, keep == 1 ? 1 : 0);
        // Taken over: the file says so.
        EXPECT_EQ(uint8_t(read_file(kFile).at(kFlag)), keep == 1 ? 0 : 255);
        std::vector<std::string> calls;
        std::istringstream lines(read_file("/restore.trace"));
        for (std::string line; std::getline(lines, line);)
            calls.push_back(line);
        // The registers are saved before the reset.
        auto reset = std::find(calls.begin(), calls.end(), "SYS_WarmReset");
        ASSERT_NE(reset, calls.end());
        EXPECT_NE(std::find(calls.begin(), reset, "AutoSaveRegisters"), reset);
        EXPECT_EQ(count(calls, "TCH_BeepOvrd"), 1u);
    }
    // A set present bit is kept through the restore.
    sr_put(164, 0x08);
    std::vector<uint8_t> image = restore(0);
    EXPECT_TRUE((le16(image.data() + sr_offset(164)) >> 3) & 1);
}

TEST_F(BackupTest, AnInvalidBackupIsRefusedWithNothingChanged) {
    struct Case {
        const char *name;
        void (*spoil)();
    };
    const Case cases[] = {
        {"data", [] { crcsize_tbl[8 + 100] ^= 1; }},
        {"check word", [] { crcsize_tbl[0] ^= 1; }},
        {"length", [] { put_le32(crcsize_tbl + 4, kImage - 2); }},
        {"erased", [] { std::memset(crcsize_tbl, 0xFF, 1024); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        store();
        c.spoil();
        put_le16(plc_reg + reg::kR, 99);
        std::vector<uint8_t> regs(plc_reg, plc_reg + kImage);
        std::vector<uint8_t> image(crcsize_tbl, crcsize_tbl + app::kRegFileSize + 8);
        std::string file = read_file(kFile);
        host::trace_start();
        RestoreBBRAM(1);
        EXPECT_TRUE(std::equal(regs.begin(), regs.end(), plc_reg));
        EXPECT_TRUE(std::equal(image.begin(), image.end(), crcsize_tbl));
        EXPECT_EQ(read_file(kFile), file);
        EXPECT_TRUE(host::trace_calls().empty());
    }
}

TEST_F(BackupTest, EraseClearsTheBackupAndRemovesTheFile) {
    store();
    EXPECT_EQ(EraseBackupData(), 1);
    EXPECT_FALSE(exists(kFile));
    EXPECT_EQ(le32(crcsize_tbl + 4), 0xFFFFFFFFu);
    EXPECT_EQ(crcsize_tbl[kMarker], 0);
    EXPECT_EQ(crcsize_tbl[kFlag], 255);
    EXPECT_FALSE(bit164(3));
    EXPECT_FALSE(bit164(2));
    // Nothing to restore afterwards.
    host::trace_start();
    RestoreBBRAM(0);
    EXPECT_EQ(count(host::trace_calls(), "SYS_WarmReset"), 0u);
}

TEST_F(BackupTest, EraseWithoutABackupStillRemovesTheFile) {
    std::memset(crcsize_tbl, 0xFF, 1024); // never taken: an erased image
    write_file(kFile, "stale");
    sr_put(164, 0x0C);
    EXPECT_EQ(EraseBackupData(), 1);
    EXPECT_FALSE(exists(kFile));
    EXPECT_EQ(crcsize_tbl[kFlag], 255);
    EXPECT_EQ(crcsize_tbl[kMarker], 0);
    // The image was not touched, so neither were the state bits.
    EXPECT_EQ(sr_get(164), 0x0C);
}

TEST_F(BackupTest, StartUpLoadsTheBackupAndMirrorsTheBlocks) {
    store();
    std::vector<uint8_t> stored(crcsize_tbl, crcsize_tbl + app::kRegFileSize + 8);
    std::memset(crcsize_tbl, 0, app::kRegFileSize + 8);

    struct Block {
        uint8_t *header;
        int crc_sr, len_sr;
    };
    const Block blocks[] = {
        {ladder_bl, 23, 11},       {io_config_bl, 26, 17},      {net_config_bl, 27, 19},
        {kesta_pgm_bl, 125, 113},  {string_table_bl, 126, 115}, {rom_map_tbl + 512, 127, 117},
        {text_table_bl, 128, 119}, {font_table_bl, 129, 121},   {promgr_table_bl, 130, 123},
        {sms_table_bl, 147, 143},
    };
    uint32_t n = 0;
    for (const Block &b : blocks) {
        ++n;
        put_le32(b.header, 0xABCD0000u | (0x1100u + n)); // only the low half is the CRC
        put_le32(b.header + 4, 0x00030000u + n);
    }
    put_le32(datalog_table, 0x5555);
    put_le32(datalog_table + 4, 77);
    sr_put(148, 0x1234);
    sr_put32(145, 0x00050006);

    host::trace_start();
    RestoreSRReg(0, 0, 0);
    EXPECT_TRUE(std::equal(stored.begin(), stored.end(), crcsize_tbl));
    n = 0;
    for (const Block &b : blocks) {
        ++n;
        SCOPED_TRACE(b.crc_sr);
        EXPECT_EQ(sr_get(b.crc_sr), 0x1100u + n);
        EXPECT_EQ(sr_get32(b.len_sr), 0x00030000u + n);
    }
    // The data-logger mirrors belong to the validation that follows.
    EXPECT_EQ(sr_get(148), 0x1234);
    EXPECT_EQ(sr_get32(145), 0x00050006u);
    auto calls = host::trace_calls();
    EXPECT_EQ(count(calls, "RestoreSRReg"), 1u);
    EXPECT_EQ(count(calls, "TCH_BeepOvrd"), 1u);
}

TEST_F(BackupTest, IecRestoreCopiesTheRetainedBackupToTheWorkingFile) {
    // Missing backup: the working file stays as it is.
    write_file("/mnt/cfg/tr.ret", "old");
    EXPECT_EQ(tr_reg_load_backup(), 0);
    EXPECT_EQ(read_file("/mnt/cfg/tr.ret"), "old");

    std::string retained(2500, '\0'); // more than two chunks
    for (size_t i = 0; i < retained.size(); ++i)
        retained[i] = char(i * 7);
    write_file("/mnt/cfg/Tr_BKP.RET", retained);
    TrevantRuntime = 1;
    store();
    EXPECT_EXIT(RestoreBBRAM(0), ::testing::ExitedWithCode(host::kExitReboot), "");
    EXPECT_EQ(read_file("/mnt/cfg/tr.ret"), retained);
    EXPECT_EQ(read_file("/mnt/cfg/Tr_BKP.RET"), retained);
}

} // namespace
