// Drives of the media file layer: the mount table, mounting on demand and
// removal detection, formatting, the free-space query and its child process.
#include "platform/media.h"

#include "base/le.h"
#include "base/trace.h"
#include "host/clock.h"
#include "host/media.h"
#include "host/root.h"
#include "host/shell.h"
#include "host/thread.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

MntDriveRow MntDrive[3] = {
    {"", "/mnt/USB0", 0}, {"", "/mnt/USB1", 0}, {"/dev/ubi0_2", "/mnt/cfg", 0}};
MntDriveRow *MntDrivePtr1, *MntDrivePtr2;
FxMedia Cf_Media, Cf_Media2, Cf_Media3;
volatile uint8_t FileMutex;

namespace {
constexpr const char *kSpaceFile = "/dev/shm/read.dat";

void copy_text(char *dst, size_t size, const std::string &src) {
    std::snprintf(dst, size, "%s", src.c_str());
}

void init_table() {
    std::memset(MntDrive, 0, sizeof MntDrive);
    copy_text(MntDrive[0].mount_point, sizeof MntDrive[0].mount_point, "/mnt/USB0");
    copy_text(MntDrive[1].mount_point, sizeof MntDrive[1].mount_point, "/mnt/USB1");
    copy_text(MntDrive[2].device, sizeof MntDrive[2].device, "/dev/ubi0_2");
    copy_text(MntDrive[2].mount_point, sizeof MntDrive[2].mount_point, "/mnt/cfg");
}

bool device_answers(const char *device) {
    struct statfs sf;
    return ::statfs(host::path(device).c_str(), &sf) == 0;
}

bool readable(const std::string &board_path) {
    int fd = ::open(host::path(board_path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

// The first block device under "/sys/block" whose name holds `key`.
std::string find_block_device(const char *key) {
    std::string found;
    if (DIR *d = ::opendir(host::path("/sys/block").c_str())) {
        while (dirent *e = ::readdir(d)) {
            if (std::strstr(e->d_name, key)) {
                found = e->d_name;
                break;
            }
        }
        ::closedir(d);
    }
    return found;
}

int run_board_command(const std::string &cmd) {
    host::media_shell_install();
    host::alarm_disarm();
    return host::shell(cmd);
}

// The card is mounted again through the shell with the group of the FTP
// account and a umask of 002, so the FTP daemon may write to it.
bool remount_for_ftp(const std::string &device, const char *mount_point) {
    run_board_command(std::string("umount ") + mount_point);
    int st = run_board_command("mount -o umask=002,gid=$(id -g ftp| awk '{print $1}') " + device +
                               " " + mount_point);
    run_board_command("mount -o remount,rw " + device + " " + mount_point);
    return st == 0;
}

uint32_t saturate32(uint64_t v) {
    return v > 0xFFFFFFFFull ? 0xFFFFFFFFu : uint32_t(v);
}

bool mount_removable(int drive) {
    MntDriveRow &row = MntDrive[drive];
    const char *mount_point = row.mount_point;
    std::string entry = find_block_device(drive == 0 ? "mmcblk" : "sd");
    if (entry.empty()) return false;
    UnmountDrive(mount_point);
    std::string device = "/dev/" + entry + (drive == 0 ? "p1" : "1");
    if (!readable(device)) {
        device = "/dev/" + entry;
        if (!readable(device)) return false;
    }
    if (host::sys_mount(device, mount_point, "vfat") == 0) {
        if (drive == 0 && !remount_for_ftp(device, mount_point)) return false;
    } else if (errno == EROFS || errno == EBUSY) {
        // A write-protected or busy medium: mount it through the shell instead.
        // Only a mount that took counts: a drive marked mounted over an empty
        // mount folder would send the files into the internal flash.
        bool ok;
        if (drive == 0) {
            ok = remount_for_ftp(device, mount_point);
        } else {
            ok = run_board_command("mount -o umask=002 " + device + " " + mount_point) == 0;
            run_board_command("mount -o remount,rw " + device + " " + mount_point);
        }
        if (!ok) return false;
    } else {
        return false;
    }
    copy_text(row.device, sizeof row.device, device);
    return true;
}
} // namespace

FxMedia *Fx_MediaOf(int drive) {
    if (drive == 1) return &Cf_Media2;
    if (drive == 2) return &Cf_Media3;
    return &Cf_Media;
}

int MountDrive(int drive, char *out) {
    host::media_boot();
    if (drive < 0 || drive > 2) return 0;
    MntDriveRow &row = MntDrive[drive];
    if (row.mounted) {
        if (!FileMutex) {
            FileMutex = 1;
            bool there = device_answers(row.device);
            FileMutex = 0;
            if (!there) {
                // The medium has gone: forget the mount.
                row.mounted = 0;
                UnmountDrive(row.mount_point);
                return 0;
            }
        }
        std::strcpy(out, row.mount_point);
        return 1;
    }
    MntDrivePtr1 = &MntDrive[0];
    MntDrivePtr2 = &MntDrive[1];
    if (drive == 2) {
        struct stat st;
        if (::stat(host::path(row.mount_point).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            row.mounted = 1;
            Cf_Media3.drive = 2;
            std::strcpy(out, row.mount_point);
            return 1;
        }
        row.mounted = 0;
        return 0;
    }
    if (!mount_removable(drive)) return 0;
    row.mounted = 1;
    std::strcpy(out, row.mount_point);
    return 1;
}

int UnmountDrive(const char *mount_point) {
    host::alarm_disarm();
    int r = host::sys_umount2(mount_point, MNT_FORCE);
    if (r != 0) std::perror("umount2");
    return r & 0xFF;
}

int Cf_Check(int drive) {
    host::trace("Cf_Check");
    char out[kFxPathMax];
    return MountDrive(drive, out) ? 3 : 0;
}

int Cf_Format(uint32_t, int drive) {
    // The internal flash holds the application: it is never formatted here.
    if (drive == 2) return 2;
    char out[kFxPathMax];
    if (!MountDrive(drive, out)) return 0;
    MntDriveRow &row = MntDrive[drive];
    row.mounted = 0;
    UnmountDrive(row.mount_point);
    host::sleep_ms(2000);
    // A format that failed is reported as failed, not as formatted.
    if (run_board_command(std::string("mkfs.vfat -I ") + row.device + " > /dev/shm/a") != 0)
        return 2;
    return MountDrive(drive, out) ? 3 : 2;
}

void Cf_Init() {}

uint32_t _fxe_media_space_available(FxMedia *media, uint32_t *free_kb) {
    char out[kFxPathMax];
    int drive = int(media->drive);
    if (!MountDrive(drive, out)) return fx::kMediaNotOpen;
    if (FileMutex) return fx::kAccessError;
    FileMutex = 1;
    uint64_t free_blocks = 0, total_blocks = 0, block_size = 0;
    bool ok = false;
    if (drive == 2) {
        // The internal flash is always there: its own figures, taken directly.
        struct statfs sf;
        if (::statfs(host::path(MntDrive[2].mount_point).c_str(), &sf) == 0) {
            free_blocks = sf.f_bfree;
            total_blocks = sf.f_blocks;
            block_size = uint64_t(sf.f_bsize);
            ok = true;
        }
    } else {
        int fd = ::open(host::path(kSpaceFile).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            uint8_t rec[24];
            ssize_t n;
            do {
                n = ::pread(fd, rec, sizeof rec, 0);
            } while (n < 0 && errno == EINTR);
            ::close(fd);
            if (n == ssize_t(sizeof rec)) {
                const uint8_t *r = rec + (drive == 1 ? 12 : 0);
                free_blocks = le32(r);
                total_blocks = le32(r + 4);
                block_size = le32(r + 8);
                ok = true;
            }
        }
    }
    if (!ok) {
        FileMutex = 0;
        if (free_kb) *free_kb = 0;
        return fx::kAccessError;
    }
    media->block_kb = uint32_t(block_size / 1024);
    media->total_blocks = saturate32(total_blocks);
    media->block_factor = 1;
    if (free_kb) *free_kb = saturate32(free_blocks * media->block_kb);
    FileMutex = 0;
    return total_blocks ? fx::kSuccess : fx::kAccessError;
}

uint32_t _fxe_media_flush(FxMedia *) {
    return fx::kSuccess;
}

void BackTskUpdate() {
    struct statfs sd;
    if (::statfs(host::path("/mnt/USB0").c_str(), &sd) != 0) return;
    struct statfs usb;
    if (::statfs(host::path("/mnt/USB1").c_str(), &usb) != 0) std::memset(&usb, 0, sizeof usb);
    uint8_t rec[24];
    put_le32(rec + 0, saturate32(sd.f_bfree));
    put_le32(rec + 4, saturate32(sd.f_blocks));
    put_le32(rec + 8, saturate32(uint64_t(sd.f_bsize)));
    put_le32(rec + 12, saturate32(usb.f_bfree));
    put_le32(rec + 16, saturate32(usb.f_blocks));
    put_le32(rec + 20, saturate32(uint64_t(usb.f_bsize)));
    // Written beside and renamed into place: a reader never meets a half
    // written file (which would read as no free space at all).
    host::make_dirs("/dev/shm");
    std::string file = host::path(kSpaceFile);
    std::string tmp = file + ".new";
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0) return;
    ssize_t n;
    do {
        n = ::write(fd, rec, sizeof rec);
    } while (n < 0 && errno == EINTR);
    ::close(fd);
    if (n == ssize_t(sizeof rec))
        ::rename(tmp.c_str(), file.c_str());
    else
        ::unlink(tmp.c_str());
}

namespace {
std::mutex g_back_mutex;
std::condition_variable g_back_wake;
bool g_back_stop = false;
bool g_back_running = false;
pthread_t g_back_thread;

void *back_task(void *) {
    std::unique_lock<std::mutex> lock(g_back_mutex);
    while (!g_back_stop) {
        lock.unlock();
        BackTskUpdate();
        lock.lock();
        // Real time whatever clock the panel runs on.
        g_back_wake.wait_for(lock, std::chrono::seconds(1), [] { return g_back_stop; });
    }
    return nullptr;
}
} // namespace

void BackTsk() {
    host::trace("BackTsk");
    BackTsk_Stop();
    std::lock_guard<std::mutex> lock(g_back_mutex);
    g_back_stop = false;
    g_back_running = host::thread_create(&g_back_thread, back_task, nullptr) == 0;
}

void BackTsk_Stop() {
    {
        std::lock_guard<std::mutex> lock(g_back_mutex);
        if (!g_back_running) return;
        g_back_stop = true;
        g_back_running = false;
    }
    g_back_wake.notify_all();
    pthread_join(g_back_thread, nullptr);
}

void Media_Reset() {
    BackTsk_Stop();
    for (FxMedia *m : {&Cf_Media, &Cf_Media2, &Cf_Media3}) {
        if (m->listing) ::closedir(m->listing);
        std::memset(m, 0, sizeof *m);
    }
    init_table();
    MntDrivePtr1 = MntDrivePtr2 = nullptr;
    FileMutex = 0;
}
