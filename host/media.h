// Stand-in for the board's removable media: the SD card slot and the USB port.
//
// A medium's contents are the folder of its mount point in the root folder
// ("/mnt/USB0" for the card, "/mnt/USB1" for the stick), so they stay put
// while the medium is out, as they would on the card itself. Inserting a
// medium makes its block devices appear the way the kernel shows them: a
// folder under "/sys/block" and device files under "/dev" ("mmcblk0" and its
// partition "mmcblk0p1" for the card, "sda" and "sda1" for the stick);
// removing it deletes them. Mounting keeps a mount table of this process; a
// medium mounts only while its device files are there. Free space is that of
// the folders on the host (what `stat -f` shows).
#pragma once
#include <string>
#include <vector>

namespace host {

constexpr int kMediumSd = 0;
constexpr int kMediumUsb = 1;

// Inserts or removes a medium (its device files). Removing leaves the mount
// table as it is: the firmware finds out by querying the device, as on the board.
bool media_insert(int medium);
bool media_remove(int medium);
bool media_inserted(int medium);
// The folder holding the medium's contents: "/mnt/USB0" or "/mnt/USB1".
const char *media_folder(int medium);
// Once per process: makes the internal flash's device "/dev/ubi0_2" and
// applies "sd_card = 1|0" and "usb_stick = 1|0" of host.conf.
void media_boot();

// mount(2) and umount2(2) of the board, on board paths: 0, or -1 with errno.
// A medium mounts on its own folder, or on another existing empty folder,
// which then shows the medium's folder until it is unmounted.
int sys_mount(const std::string &device, const std::string &mount_point, const std::string &fstype);
int sys_umount2(const std::string &mount_point, int flags);
// The device mounted on a mount point, "" when none.
std::string media_mounted_device(const std::string &mount_point);
// The next mount of the medium fails with this errno (tests: read-only or busy cards).
void media_fail_next_mount(int medium, int err);

// Registers the emulations of "mount", "umount" and "mkfs.vfat" with the
// shell runner (idempotent; called before the firmware runs such commands).
void media_shell_install();
// Registers "media insert|remove sd|usb" on the control socket.
void media_ctl_register();
std::string media_ctl(const std::vector<std::string> &args);

void media_reset();

} // namespace host
