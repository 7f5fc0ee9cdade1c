// The boot installer screen on a 480 x 272 panel: looking for the medium,
// the three actions with their checks, the recorded command transcript and
// the result box.
#include "host/media.h"
#include "host/root.h"
#include "host/shell.h"
#include "platform/io.h"
#include "platform/keys.h"
#include "png_snapshot.h"
#include "screens/objm_int.h"
#include "tools/lib/fpgaimg.h"
#include "video_fixture.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

// Places on the 480 x 272 screen: the three buttons, Yes, No and OK.
constexpr int kInstall[2] = {240, 60}, kUpdate[2] = {240, 130}, kFpga[2] = {240, 200};
constexpr int kYes[2] = {200, 145}, kNo[2] = {270, 145}, kOk[2] = {240, 220};

class BootTest : public VideoTest {
protected:
    DC *dc = nullptr;
    void SetUp() override {
        VideoTest::SetUp();
        dc = start(false, "480x272");
        pDC = dc;
        host::media_shell_install();
        host::make_dirs("/mnt/USB");
        host::make_dirs("/mnt/firm");
        host::make_dirs("/mnt/cfg");
        host::make_dirs("/usr/bin");
        write_file("/usr/bin/ubiformat", "");
        OBJM_Init();
    }
    void TearDown() override {
        OBJM_DestroyPage();
        VideoTest::TearDown();
    }
    void open() { ASSERT_EQ(OBJM_OpenPage(dc, BootPage), 1); }
    void pass(int n = 1) {
        for (int i = 0; i < n; ++i)
            OBJM_Update(dc);
    }
    void tap(const int at[2]) {
        KEY_Press(kTouchDown, at[0], at[1]);
        KEY_Press(kTouchUp, at[0], at[1]);
        pass();
    }
    // Opens the screen with the card in and runs an action to its result.
    void run_action(const int button[2]) {
        open();
        host::media_insert(host::kMediumSd);
        pass();
        ASSERT_EQ(BOOT_ScreenState(), 2);
        tap(button);
        ASSERT_EQ(BOOT_ScreenState(), 3);
        host::shell_log_clear();
        tap(kYes);
        pass(4);
        ASSERT_EQ(BOOT_ScreenState(), 6);
    }
    std::string result() {
        char text[256];
        BOOT_ResultText(text, sizeof text);
        return text;
    }
    // The result box's title is red unless the action succeeded.
    bool red_title() { return px(dc, 150, 32) == 0xF820; }
    void card(const std::vector<std::string> &files) {
        for (const std::string &f : files)
            write_file("/mnt/USB0/" + f, "x");
    }
    void system_files() { card({"pqkern.sb", "pqinit.ufs", "pqfirm.ufs", "pqcfg.ufs"}); }
    static std::vector<std::string> log_from(const std::string &first) {
        auto log = host::shell_log();
        auto it = std::find(log.begin(), log.end(), first);
        return std::vector<std::string>(it, log.end());
    }
};

TEST_F(BootTest, WaitsForTheMediumThenShowsTheMenu) {
    open();
    EXPECT_EQ(host::shell_log(), std::vector<std::string>{"umount -f /mnt/USB0"});
    pass(3);
    EXPECT_EQ(BOOT_ScreenState(), 1) << "no card, no stick";
    EXPECT_EQ(screen_snapshot_diff("tests/screens/snapshots/boot_looking.png"), "");
    host::media_insert(host::kMediumUsb);
    pass();
    EXPECT_EQ(BOOT_ScreenState(), 2);
    EXPECT_EQ(screen_snapshot_diff("tests/screens/snapshots/boot_menu.png"), "");
    tap(kUpdate);
    EXPECT_EQ(BOOT_ScreenState(), 3);
    EXPECT_EQ(screen_snapshot_diff("tests/screens/snapshots/boot_confirm.png"), "");
    tap(kNo);
    EXPECT_EQ(BOOT_ScreenState(), 2);
    // The stick's partition is what mounts: its log is written.
    write_file("/mnt/USB1/k7", "x");
    tap(kUpdate);
    tap(kYes);
    pass(4);
    EXPECT_NE(read_file("/mnt/USB1/log.txt").find("--Checking files for UPDATE"),
              std::string::npos);
}

// An install on a panel that did not boot from its flash volumes makes them
// anew; a card holding only the J1939 firmware installs that one; without
// "MACIDS.TXT" (and with an FPGA but no image for it) the install completes
// with a red box.
TEST_F(BootTest, InstallMakesTheVolumesAnew) {
    system_files();
    card({"k7j", "keys.bmp", "splash.bmp"});
    ASSERT_EQ(Fpga_Init(), 1);
    run_action(kInstall);
    const std::vector<std::string> expected = {
        "flash_eraseall /dev/mtd0",
        "cat /proc/meminfo",
        "kobs-ng init /mnt/USB/pqkern.sb",
        "cat /proc/meminfo",
        "ubidetach /dev/ubi_ctrl -d 0",
        "ubiformat /dev/mtd1 -q",
        "ubiattach /dev/ubi_ctrl -d 0 -m 1",
        "ubimkvol /dev/ubi0 -N rootfs1 -s 26MiB",
        "ubimkvol /dev/ubi0 -N firm -s 15MiB",
        "ubimkvol /dev/ubi0 -N cfg -s 59MiB",
        "ubiupdatevol /dev/ubi0_0 /mnt/USB/pqinit.ufs",
        "ubiupdatevol /dev/ubi0_1 /mnt/USB/pqfirm.ufs",
        "ubiupdatevol /dev/ubi0_2 /mnt/USB/pqcfg.ufs",
        "mount -t ubifs ubi0:firm /mnt/firm",
        "mount -t ubifs ubi0:cfg /mnt/cfg",
        "cat /proc/meminfo",
        "cp /mnt/USB/keys.bmp /mnt/cfg/",
        "cp /mnt/USB/k7j /mnt/firm/firmware",
        "sync",
        "mount -t ubifs ubi0:rootfs1 /mnt/rwfs",
        "rm /mnt/rwfs/usr/splash.*",
        "cp /mnt/USB/splash.bmp /mnt/rwfs/usr/",
        "sync",
        "sync",
    };
    EXPECT_EQ(log_from("flash_eraseall /dev/mtd0"), expected);
    EXPECT_EQ(result(), "Missing File: MACIDS.TXT\nMissing File:pq9ef.hex\n    \n"
                        "Operation Completed\nInstalled J1939 Firmware\nRemove SD/USB media\n"
                        "and RESET the unit");
    EXPECT_TRUE(red_title());
    EXPECT_EQ(read_file("/mnt/firm/firmware"), "x");
    EXPECT_EQ(host::media_mounted_device("/mnt/USB"), "") << "unmounted at the end";
    const std::string log = read_file("/mnt/USB0/log.txt");
    EXPECT_NE(log.find("File Successfully opened\n--INSTALL Mode\n"), std::string::npos) << log;
    EXPECT_NE(log.find("--------------------Starting Req Cmd"), std::string::npos);
    EXPECT_NE(log.find("-- Completed Install !!!!!\nDone Install Process\n"), std::string::npos);
    EXPECT_EQ(screen_snapshot_diff("tests/screens/snapshots/boot_install_red.png"), "");

    // OK: back to the menu, the medium having been mounted.
    tap(kOk);
    EXPECT_EQ(BOOT_ScreenState(), 2);
}

// Booted from the flash volumes: they stay, and only the application files
// and the firmware go. With the MAC addresses handed out, the box is blue.
TEST_F(BootTest, InstallOnFlashBootKeepsTheVolumes) {
    write_file("/proc/cmdline", "console=ttyAM0 root=ubi0:rootfs1 rootfstype=ubifs");
    write_file("/mnt/cfg/config.pgm", "a");
    write_file("/mnt/cfg/ladder.pgm", "b");
    write_file("/mnt/cfg/cal.dta", std::string("\xe0\x01\0\0\x10\x01\0\0\0\0\0\0\0\0\0\0"
                                               "\xe0\x01\0\0\x10\x01\0\0",
                                               24));
    write_file("/mnt/firm/old", "c");
    system_files();
    card({"k7", "keys.bmp", "oeminfo.txt"});
    write_file("/mnt/USB0/oeminfo.txt", "261");
    write_file("/mnt/USB0/MACIDS.TXT", "02:50:4E:00:00:FF\r\n02:50:4E:00:01:00\r\n");
    run_action(kInstall);
    auto log = log_from("cat /proc/meminfo");
    EXPECT_EQ(std::vector<std::string>(log.begin() + 3, log.begin() + 9),
              (std::vector<std::string>{"rm /mnt/cfg/*.pgm", "rm /mnt/cfg/bbram.dta",
                                        "rm /mnt/firm/*", "cp /mnt/USB/keys.bmp /mnt/cfg/",
                                        "cp /mnt/USB/k7  /mnt/firm/firmware", "sync"}));
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [](const std::string &l) { return l.rfind("ubi", 0) == 0; }),
              0);
    EXPECT_EQ(read_file("/mnt/cfg/config.pgm"), "") << "deleted";
    EXPECT_EQ(read_file("/mnt/firm/old"), "") << "deleted";
    EXPECT_EQ(result(), "    \nOperation Completed\nInstalled Vibus Firmware\n"
                        "Remove SD/USB media\nand RESET the unit");
    EXPECT_FALSE(red_title());
    EXPECT_EQ(read_file("/mnt/cfg/oeminfo"), std::string(1, char(261 & 0xFF)));
    EXPECT_EQ(read_file("/mnt/cfg/cal.dta").size(), 24u) << "the calibration is kept";
}

// Each failed check or step ends in the red result box with its text.
TEST_F(BootTest, FailedChecksAndStepsShowTheirText) {
    struct Case {
        const char *what;
        const int *button;
        std::vector<std::string> files;
        void (*before)();
        const char *text;
    };
    const std::vector<Case> cases = {
        {"card gone",
         kInstall,
         {},
         [] { host::media_remove(host::kMediumSd); },
         "Missing MICRO-SD or USB\nInsert and Try Again"},
        {"volume image",
         kInstall,
         {"pqkern.sb", "pqinit.ufs", "pqcfg.ufs", "k7"},
         nullptr,
         "Missing File:pqfirm.ufs"},
        {"no firmware",
         kInstall,
         {"pqkern.sb", "pqinit.ufs", "pqfirm.ufs", "pqcfg.ufs"},
         nullptr,
         "Missing File:k7/c/j/d"},
        {"no tools",
         kInstall,
         {"pqkern.sb", "pqinit.ufs", "pqfirm.ufs", "pqcfg.ufs", "k7"},
         [] { std::remove(host::path("/usr/bin/ubiformat").c_str()); },
         "Required tools are missing"},
        {"erase fails",
         kInstall,
         {"pqkern.sb", "pqinit.ufs", "pqfirm.ufs", "pqcfg.ufs", "k7"},
         [] { host::shell_register("flash_eraseall", [](const auto &) { return 1; }); },
         "Disk MTD0 Erase Error"},
        {"boot stream fails",
         kInstall,
         {"pqkern.sb", "pqinit.ufs", "pqfirm.ufs", "pqcfg.ufs", "k7"},
         [] { host::shell_register("kobs-ng", [](const auto &) { return 1; }); },
         "Boot Update Error"},
        {"update without firmware", kUpdate, {"keys.bmp"}, nullptr, "Missing File:k7/c/j/d"},
        {"update copy fails",
         kUpdate,
         {"k7d"},
         [] { host::shell_register("sync", [](const auto &) { return 1; }); },
         "File Copy Error"},
        {"FPGA without image", kFpga, {}, nullptr, "Missing File:pq9ef.hex"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        card(c.files);
        open();
        host::media_insert(host::kMediumSd);
        pass();
        tap(c.button);
        if (c.before) c.before();
        tap(kYes);
        pass(4);
        EXPECT_EQ(BOOT_ScreenState(), 6);
        EXPECT_EQ(result(), c.text);
        EXPECT_TRUE(red_title());
    }
}

TEST_F(BootTest, UpdateFirmwareDeletesTheApplication) {
    write_file("/mnt/cfg/config.pgm", "a");
    write_file("/mnt/firm/pq9e", "f");
    card({"k7c", "keys.bmp"});
    run_action(kUpdate);
    EXPECT_EQ(log_from("cp /mnt/USB/keys.bmp /mnt/cfg/"),
              (std::vector<std::string>{"cp /mnt/USB/keys.bmp /mnt/cfg/", "rm /mnt/firm/*",
                                        "cp /mnt/USB/k7c /mnt/firm/firmware", "sync", "sync"}));
    EXPECT_EQ(result(), "Operation Completed\nInstalled CANopen Firm'e\nRemove SD/USB media\n"
                        "and RESET the unit");
    EXPECT_FALSE(red_title());
    EXPECT_EQ(read_file("/mnt/cfg/config.pgm"), "") << "DeleteProgram";
    EXPECT_EQ(read_file("/mnt/firm/firmware"), "x");
    EXPECT_EQ(read_file("/mnt/firm/pq9e"), "");
}

TEST_F(BootTest, UpdateFpgaProgramsTheImage) {
    ASSERT_EQ(Fpga_Init(), 1);
    fpgaimg::Bytes body(fpgaimg::kBodyBytes);
    for (size_t i = 0; i < body.size(); ++i)
        body[i] = uint8_t(i * 7);
    fpgaimg::Bytes file = fpgaimg::image_file(fpgaimg::data_image(fpgaimg::stream(body), 0), 42);
    write_file("/mnt/USB0/pq9ef.hex", std::string(file.begin(), file.end()));
    run_action(kFpga);
    EXPECT_EQ(result(), "Operation Completed\nRemove SD/USB media\nand RESET the unit");
    EXPECT_FALSE(red_title());

    // A broken image: the FPGA is not programmed.
    write_file("/mnt/USB0/pq9ef.hex", "broken");
    tap(kOk);
    tap(kFpga);
    tap(kYes);
    pass(4);
    EXPECT_EQ(result(), "FPGA Update Failed");
    EXPECT_TRUE(red_title());
}

// The extra steps of "update.init": each line of "path.info" is a command;
// a line reaching outside through ".." is refused.
TEST_F(BootTest, ExtraStepsRunTheLinesOfPathInfo) {
    system_files();
    card({"k7", "update.init"});
    write_file("/dev/shm/update/path.info",
               "cp /dev/shm/update/a /mnt/cfg/\r\n\techo done > /tmp/x\r"
               "rm -rf /mnt/../../etc\r\rsync");
    run_action(kInstall);
    EXPECT_EQ(log_from("mkdir /dev/shm/update"),
              (std::vector<std::string>{
                  "mkdir /dev/shm/update", "unzip -o /mnt/USB/update.init -d /dev/shm/update",
                  "cp /dev/shm/update/a /mnt/cfg/", "echo done > /tmp/x", "sync", "sync"}));
    EXPECT_EQ(read_file("/tmp/x"), "done\n");
    EXPECT_NE(read_file("/mnt/USB0/log.txt").find("Refused: rm -rf /mnt/../../etc"),
              std::string::npos);
}

} // namespace
