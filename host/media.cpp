#include "host/media.h"

#include "host/config.h"
#include "host/ctl.h"
#include "host/root.h"
#include "host/shell.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>

namespace host {
namespace {
namespace fs = std::filesystem;

struct MediumInfo {
    const char *block;     // entry under /sys/block
    const char *partition; // first partition's device name
    const char *folder;    // the medium's contents
    const char *word;      // its name on the control socket
    const char *what;
};
// clang-format off
const MediumInfo kMedia[2] = {
    {"mmcblk0", "mmcblk0p1", "/mnt/USB0", "sd",  "sd card"},
    {"sda",     "sda1",      "/mnt/USB1", "usb", "usb stick"},
};
// clang-format on

std::map<std::string, std::string> g_mounts; // mount point -> device
std::set<std::string> g_links;               // mount points that show another folder
int g_fail_next[2];
bool g_booted;

std::string trim_slashes(std::string p) {
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    return p;
}

int medium_of_device(const std::string &device) {
    for (int m = 0; m < 2; ++m) {
        std::string whole = std::string("/dev/") + kMedia[m].block;
        if (device == whole || device == std::string("/dev/") + kMedia[m].partition) return m;
    }
    return -1;
}

bool exists(const std::string &board_path) {
    struct stat st;
    return ::lstat(path(board_path).c_str(), &st) == 0;
}

bool is_dir(const std::string &board_path) {
    struct stat st;
    return ::stat(path(board_path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool device_mounted(int medium) {
    for (auto &[mp, dev] : g_mounts)
        if (medium_of_device(dev) == medium) return true;
    return false;
}

// Removes everything inside a folder, keeping the folder.
void empty_folder(const std::string &board_dir) {
    std::error_code ec;
    for (auto it = fs::directory_iterator(path(board_dir), ec);
         !ec && it != fs::directory_iterator(); it.increment(ec))
        fs::remove_all(it->path(), ec);
}

// "mount [-o OPTIONS] DEVICE MOUNTPOINT": exit status 0, or 32 as mount(8) on failure.
int shell_mount(const std::vector<std::string> &w) {
    std::string options, device;
    for (size_t i = 1; i < w.size(); ++i) {
        if (w[i] == "-o" && i + 1 < w.size())
            options = w[++i];
        else if (device.empty() && w[i].rfind("/dev/", 0) == 0)
            device = w[i];
    }
    if (w.size() < 3) return 1;
    std::string mp = trim_slashes(w.back());
    if (options.find("remount") != std::string::npos) return g_mounts.count(mp) ? 0 : 32;
    return sys_mount(device, mp, "vfat") == 0 ? 0 : 32;
}

int shell_umount(const std::vector<std::string> &w) {
    if (w.size() < 2) return 1;
    return sys_umount2(w.back(), 0) == 0 ? 0 : 32;
}

// "mkfs.vfat -I DEVICE": formatting empties the medium; a mounted or absent
// device is refused as mkfs would.
int shell_mkfs(const std::vector<std::string> &w) {
    std::string device;
    for (size_t i = 1; i < w.size(); ++i)
        if (w[i].rfind("/dev/", 0) == 0) device = w[i];
    int m = medium_of_device(device);
    if (m < 0 || !exists(device) || device_mounted(m)) return 1;
    empty_folder(kMedia[m].folder);
    return 0;
}
} // namespace

bool media_insert(int medium) {
    if (medium < 0 || medium > 1) return false;
    const MediumInfo &m = kMedia[medium];
    bool ok =
        make_dirs(std::string("/sys/block/") + m.block) && make_dirs("/dev") && make_dirs(m.folder);
    for (const char *dev : {m.block, m.partition}) {
        std::string file = path(std::string("/dev/") + dev);
        if (FILE *f = std::fopen(file.c_str(), "a"))
            std::fclose(f);
        else
            ok = false;
    }
    return ok;
}

bool media_remove(int medium) {
    if (medium < 0 || medium > 1) return false;
    const MediumInfo &m = kMedia[medium];
    std::error_code ec;
    fs::remove_all(path(std::string("/sys/block/") + m.block), ec);
    fs::remove(path(std::string("/dev/") + m.partition), ec);
    fs::remove(path(std::string("/dev/") + m.block), ec);
    return true;
}

bool media_inserted(int medium) {
    if (medium < 0 || medium > 1) return false;
    return exists(std::string("/dev/") + kMedia[medium].block);
}

const char *media_folder(int medium) {
    return medium >= 0 && medium <= 1 ? kMedia[medium].folder : "";
}

void media_boot() {
    if (g_booted) return;
    g_booted = true;
    // The internal flash's volume is always there.
    if (!exists("/dev/ubi0_2") && make_dirs("/dev")) {
        if (FILE *f = std::fopen(path("/dev/ubi0_2").c_str(), "a")) std::fclose(f);
    }
    // The board's flash tools (emulated by the command runner) are part of
    // its root file system; the installer looks for this one.
    if (!exists("/usr/bin/ubiformat") && make_dirs("/usr/bin")) {
        if (FILE *f = std::fopen(path("/usr/bin/ubiformat").c_str(), "a")) std::fclose(f);
    }
    const char *keys[2] = {"sd_card", "usb_stick"};
    for (int m = 0; m < 2; ++m) {
        std::string v = config(keys[m]);
        if (v == "1")
            media_insert(m);
        else if (v == "0")
            media_remove(m);
    }
}

int sys_mount(const std::string &device, const std::string &mount_point,
              const std::string &fstype) {
    int m = medium_of_device(device);
    if (m < 0 || fstype != "vfat") {
        errno = ENODEV;
        return -1;
    }
    if (g_fail_next[m]) {
        errno = g_fail_next[m];
        g_fail_next[m] = 0;
        return -1;
    }
    if (!exists(device)) {
        errno = ENOENT;
        return -1;
    }
    std::string mp = trim_slashes(mount_point);
    if (g_mounts.count(mp)) {
        errno = EBUSY;
        return -1;
    }
    if (!is_dir(mp)) {
        errno = ENOENT;
        return -1;
    }
    if (mp != kMedia[m].folder) {
        // Another mount point shows the medium's folder while mounted.
        std::error_code ec;
        if (!fs::is_empty(path(mp), ec) || ec) {
            errno = EBUSY;
            return -1;
        }
        fs::remove(path(mp), ec);
        fs::create_directory_symlink(path(kMedia[m].folder), path(mp), ec);
        if (ec) {
            make_dirs(mp);
            errno = EIO;
            return -1;
        }
        g_links.insert(mp);
    }
    g_mounts[mp] = device;
    return 0;
}

int sys_umount2(const std::string &mount_point, int) {
    std::string mp = trim_slashes(mount_point);
    if (!g_mounts.erase(mp)) {
        errno = EINVAL;
        return -1;
    }
    if (g_links.erase(mp)) {
        std::error_code ec;
        fs::remove(path(mp), ec);
        make_dirs(mp);
    }
    return 0;
}

std::string media_mounted_device(const std::string &mount_point) {
    auto it = g_mounts.find(trim_slashes(mount_point));
    return it == g_mounts.end() ? "" : it->second;
}

void media_fail_next_mount(int medium, int err) {
    if (medium >= 0 && medium <= 1) g_fail_next[medium] = err;
}

void media_shell_install() {
    shell_register("mount", shell_mount);
    shell_register("umount", shell_umount);
    shell_register("mkfs.vfat", shell_mkfs);
}

std::string media_ctl(const std::vector<std::string> &a) {
    const char *usage = "error: usage: media insert|remove sd|usb";
    if (a.size() != 3 || (a[1] != "insert" && a[1] != "remove")) return usage;
    int m = a[2] == "sd" ? kMediumSd : a[2] == "usb" ? kMediumUsb : -1;
    if (m < 0) return usage;
    bool insert = a[1] == "insert";
    bool was = media_inserted(m);
    if (!(insert ? media_insert(m) : media_remove(m)))
        return std::string("error: the ") + kMedia[m].what + " cannot be " +
               (insert ? "inserted" : "removed");
    std::string reply = std::string("ok ") + kMedia[m].what + (insert ? " inserted" : " removed");
    if (was == insert) reply += " (it already was)";
    return reply;
}

void media_ctl_register() {
    ctl_register("media", media_ctl);
}

void media_reset() {
    g_mounts.clear();
    g_links.clear();
    g_fail_next[0] = g_fail_next[1] = 0;
    g_booted = false;
}

} // namespace host
