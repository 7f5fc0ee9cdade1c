// Firmware update from removable media: the newest version directory is
// found, copied into the firmware folder and started; older or equal ones are
// left; an interrupted copy keeps the old firmware.
#include "host/media.h"
#include "host/power.h"
#include "host/root.h"
#include "panel_fixture.h"
#include "regs/plc_reg.h"
#include "system/fwupdate.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

class FwUpdateTest : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        host::media_insert(host::kMediumSd);
        host::media_insert(host::kMediumUsb);
        host::make_dirs("/mnt/cfg");
        write_file("/mnt/firm/firmware", "old firmware");
        sr_put(38, 1552);
        sr_put(59, 10);
    }
    void TearDown() override {
        if (!saved_path.empty()) setenv("PATH", saved_path.c_str(), 1);
        PanelTest::TearDown();
    }
    // Puts a program named `name` in front of PATH.
    void fake_command(const std::string &name, const std::string &script) {
        std::string dir = root_dir + "/fakebin";
        ::mkdir(dir.c_str(), 0755);
        std::ofstream(dir + "/" + name) << "#!/bin/sh\n" << script;
        ::chmod((dir + "/" + name).c_str(), 0755);
        saved_path = std::getenv("PATH");
        setenv("PATH", (dir + ":" + saved_path).c_str(), 1);
    }
    bool exists(const std::string &board) {
        struct stat st;
        return ::stat(host::path(board).c_str(), &st) == 0;
    }
    std::string saved_path;
};

TEST_F(FwUpdateTest, TheNewestVersionIsInstalledAndStarted) {
    write_file("/mnt/USB0/UPDATE/V1552010/k7", "firmware 1552/010");
    write_file("/mnt/USB0/UPDATE/V1553001/k7", "firmware 1553/001");
    write_file("/mnt/USB0/UPDATE/README.TXT", "notes");
    write_file("/mnt/USB0/keys.bmp", "keys");
    write_file("/mnt/firm/pq9e", "old fpga");
    sr_put(5, 2);
    sr_put(154, 0x8000 | 0x200);
    EXPECT_EXIT(GetFirmwareDir(0), ::testing::ExitedWithCode(host::kExitReboot), "");
    EXPECT_EQ(read_file("/mnt/firm/firmware"), "firmware 1553/001");
    EXPECT_FALSE(exists("/mnt/firm/firmware.new"));
    EXPECT_FALSE(exists("/mnt/firm/pq9e")) << "the old firmware's other files go";
    EXPECT_EQ(read_file("/mnt/cfg/keys.bmp"), "keys");
    struct stat st;
    ASSERT_EQ(::stat(host::path("/mnt/firm/firmware").c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_IXUSR) << "the supervisor can start it";
}

TEST_F(FwUpdateTest, FromTheStick) {
    write_file("/mnt/USB1/update/v1600000/K7", "stick firmware");
    write_file("/mnt/USB0/UPDATE/V1599000/k7", "card firmware");
    EXPECT_EXIT(GetFirmwareDir(1), ::testing::ExitedWithCode(host::kExitReboot), "");
    EXPECT_EQ(read_file("/mnt/firm/firmware"), "stick firmware");
}

TEST_F(FwUpdateTest, OlderOrEqualVersionsAreLeft) {
    write_file("/mnt/USB0/UPDATE/V1552010/k7", "same");
    write_file("/mnt/USB0/UPDATE/V1551999/k7", "older");
    write_file("/mnt/USB0/UPDATE/X9999999/k7", "not a version");
    sr_put(154, 0x8000 | 0x4000);
    sr_put(5, 2);
    EXPECT_EQ(GetFirmwareDir(0), 0);
    EXPECT_EQ(sdfwEntryCount, 3);
    EXPECT_EQ(sr_get(154), 0x4000) << "bit 15 cleared when nothing is taken";
    EXPECT_EQ(sr_get(5), 2);
    EXPECT_EQ(read_file("/mnt/firm/firmware"), "old firmware");
}

TEST_F(FwUpdateTest, NothingToFind) {
    EXPECT_EQ(GetFirmwareDir(0), 66) << "no update folder";
    host::make_dirs("/mnt/USB0/UPDATE");
    EXPECT_EQ(GetFirmwareDir(0), 1002);
    write_file("/mnt/USB0/UPDATE/V1600000/k7", "");
    sr_put(5, 3);
    EXPECT_EQ(GetFirmwareDir(0), 0) << "an empty firmware file is not taken";
    EXPECT_EQ(sr_get(5), 3) << "the run mode is put back";
    host::media_remove(host::kMediumSd);
    sr_put(154, 0xC000);
    EXPECT_EQ(GetFirmwareDir(0), 1);
    EXPECT_EQ(sr_get(154), 0);
    EXPECT_EQ(read_file("/mnt/firm/firmware"), "old firmware");
}

TEST_F(FwUpdateTest, AnInterruptedCopyKeepsTheOldFirmware) {
    write_file("/mnt/USB0/UPDATE/V1600000/k7", std::string(4096, 'N'));
    sr_put(5, 2);
    struct Cut {
        const char *what, *script;
    };
    for (Cut c : {Cut{"stick pulled", "head -c 1000 \"$1\" > \"$2\"; exit 1\n"},
                  Cut{"short copy reported done", "head -c 1000 \"$1\" > \"$2\"; exit 0\n"}}) {
        fake_command("cp", c.script);
        sr_put(154, 0);
        EXPECT_EQ(GetFirmwareDir(0), 0) << c.what;
        EXPECT_EQ(read_file("/mnt/firm/firmware"), "old firmware") << c.what;
        EXPECT_FALSE(exists("/mnt/firm/firmware.new")) << c.what;
        EXPECT_EQ(sr_get(154) & 0x4000, 0x4000) << c.what;
        EXPECT_EQ(sr_get(5), 2) << c.what;
        setenv("PATH", saved_path.c_str(), 1);
    }
}
