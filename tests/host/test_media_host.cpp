// The removable-media stand-in: device files, the mount table, the board's
// mount commands and the control-socket command.
#include "host/ctl.h"
#include "host/media.h"
#include "host/root.h"
#include "host/shell.h"
#include "panel_fixture.h"

#include <sys/stat.h>

#include <cerrno>

namespace {
bool exists(const std::string &board) {
    struct stat st;
    return ::lstat(host::path(board).c_str(), &st) == 0;
}
} // namespace

class MediaHostTest : public PanelTest {};

TEST_F(MediaHostTest, InsertAndRemoveShowTheBlockDevices) {
    EXPECT_FALSE(host::media_inserted(host::kMediumSd));
    ASSERT_TRUE(host::media_insert(host::kMediumSd));
    ASSERT_TRUE(host::media_insert(host::kMediumUsb));
    for (const char *f : {"/sys/block/mmcblk0", "/dev/mmcblk0", "/dev/mmcblk0p1", "/sys/block/sda",
                          "/dev/sda", "/dev/sda1", "/mnt/USB0", "/mnt/USB1"})
        EXPECT_TRUE(exists(f)) << f;
    write_file("/mnt/USB0/KEEP.TXT", "data");
    host::media_remove(host::kMediumSd);
    EXPECT_FALSE(exists("/dev/mmcblk0p1"));
    EXPECT_FALSE(exists("/sys/block/mmcblk0"));
    EXPECT_TRUE(host::media_inserted(host::kMediumUsb));
    EXPECT_EQ(read_file("/mnt/USB0/KEEP.TXT"), "data")
        << "the card keeps its files while it is out";
}

TEST_F(MediaHostTest, MountNeedsTheDeviceAndAFreeMountPoint) {
    host::make_dirs("/mnt/USB0");
    errno = 0;
    EXPECT_EQ(host::sys_mount("/dev/mmcblk0p1", "/mnt/USB0", "vfat"), -1);
    EXPECT_EQ(errno, ENOENT) << "no card";
    host::media_insert(host::kMediumSd);
    EXPECT_EQ(host::sys_mount("/dev/mmcblk0p1", "/mnt/USB0", "vfat"), 0);
    EXPECT_EQ(host::media_mounted_device("/mnt/USB0/"), "/dev/mmcblk0p1");
    EXPECT_EQ(host::sys_mount("/dev/mmcblk0p1", "/mnt/USB0", "vfat"), -1);
    EXPECT_EQ(errno, EBUSY);
    EXPECT_EQ(host::sys_mount("/dev/ubi0_2", "/mnt/cfg", "vfat"), -1);
    EXPECT_EQ(errno, ENODEV);
    EXPECT_EQ(host::sys_umount2("/mnt/USB0", 0), 0);
    EXPECT_EQ(host::sys_umount2("/mnt/USB0", 0), -1);
    EXPECT_EQ(errno, EINVAL);
    host::media_fail_next_mount(host::kMediumSd, EROFS);
    EXPECT_EQ(host::sys_mount("/dev/mmcblk0p1", "/mnt/USB0", "vfat"), -1);
    EXPECT_EQ(errno, EROFS);
    EXPECT_EQ(host::sys_mount("/dev/mmcblk0p1", "/mnt/USB0", "vfat"), 0)
        << "only the next one fails";
}

TEST_F(MediaHostTest, AnotherMountPointShowsTheMediumWhileMounted) {
    host::media_insert(host::kMediumUsb);
    write_file("/mnt/USB1/FILE.TXT", "stick");
    host::make_dirs("/mnt/USB");
    ASSERT_EQ(host::sys_mount("/dev/sda1", "/mnt/USB", "vfat"), 0);
    EXPECT_EQ(read_file("/mnt/USB/FILE.TXT"), "stick");
    ASSERT_EQ(host::sys_umount2("/mnt/USB", 0), 0);
    EXPECT_FALSE(exists("/mnt/USB/FILE.TXT"));
    EXPECT_TRUE(exists("/mnt/USB")) << "the empty mount folder comes back";
}

TEST_F(MediaHostTest, BoardCommands) {
    host::media_shell_install();
    host::media_insert(host::kMediumSd);
    write_file("/mnt/USB0/SUB/A.TXT", "a");
    EXPECT_EQ(host::shell(
                  "mount -o umask=002,gid=$(id -g ftp| awk '{print $1}') /dev/mmcblk0p1 /mnt/USB0"),
              0);
    EXPECT_EQ(host::shell("mount -o remount,rw /dev/mmcblk0p1 /mnt/USB0"), 0);
    EXPECT_NE(host::shell("mkfs.vfat -I /dev/mmcblk0p1 > /dev/shm/a"), 0) << "mounted: refused";
    EXPECT_EQ(read_file("/mnt/USB0/SUB/A.TXT"), "a");
    EXPECT_EQ(host::shell("umount /mnt/USB0"), 0);
    EXPECT_NE(host::shell("umount /mnt/USB0"), 0);
    EXPECT_NE(host::shell("mount -o remount,rw /dev/mmcblk0p1 /mnt/USB0"), 0);
    EXPECT_EQ(host::shell("mkfs.vfat -I /dev/mmcblk0p1 > /dev/shm/a"), 0);
    EXPECT_FALSE(exists("/mnt/USB0/SUB"));
    EXPECT_TRUE(exists("/mnt/USB0")) << "formatting empties the card's folder";
    host::media_remove(host::kMediumSd);
    EXPECT_NE(host::shell("mkfs.vfat -I /dev/mmcblk0p1"), 0) << "no card";
}

TEST_F(MediaHostTest, ControlCommand) {
    host::media_ctl_register();
    EXPECT_EQ(host::ctl_handle("media insert sd"), "ok sd card inserted\n");
    EXPECT_TRUE(host::media_inserted(host::kMediumSd));
    EXPECT_EQ(host::ctl_handle("media insert sd"), "ok sd card inserted (it already was)\n");
    EXPECT_EQ(host::ctl_handle("media insert usb"), "ok usb stick inserted\n");
    EXPECT_EQ(host::ctl_handle("media remove usb"), "ok usb stick removed\n");
    EXPECT_FALSE(host::media_inserted(host::kMediumUsb));
    for (const char *bad :
         {"media", "media insert", "media eject sd", "media insert cf", "media remove sd usb"})
        EXPECT_EQ(host::ctl_handle(bad), "error: usage: media insert|remove sd|usb\n") << bad;
}

TEST_F(MediaHostTest, HostConfigInsertsAtStart) {
    write_file("/host.conf", "sd_card = 1\nusb_stick = 0\n");
    host::media_insert(host::kMediumUsb);
    host::media_boot();
    EXPECT_TRUE(host::media_inserted(host::kMediumSd));
    EXPECT_FALSE(host::media_inserted(host::kMediumUsb));
}
