#include "system/fwupdate.h"

#include "base/trace.h"
#include "host/clock.h"
#include "host/power.h"
#include "host/root.h"
#include "host/shell.h"
#include "regs/plc_reg.h"
#include "system/appfile.h"
#include "system/sys.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

CfFindRecord sdfwEntryTbl[kFwEntryMax];
int sdfwEntryCount;
uint16_t controller_mode;

namespace {
bool g_in_progress; // an update is being installed
CfFindRecord g_listing;

constexpr const char *kFirmDir = "/mnt/firm";
constexpr const char *kFirmware = "/mnt/firm/firmware";
constexpr const char *kFirmwareNew = "/mnt/firm/firmware.new";

void sr154_clear(uint16_t bits) {
    sr_put(sr::kFwUpdate, uint16_t(sr_get(sr::kFwUpdate) & ~bits));
}
void sr154_set(uint16_t bits) {
    sr_put(sr::kFwUpdate, uint16_t(sr_get(sr::kFwUpdate) | bits));
}

// Directories first, then by the first 8 bytes of the name, then by the extension.
bool entry_before(const CfFindRecord &a, const CfFindRecord &b) {
    bool da = a.attributes & fx::kDirectory, db = b.attributes & fx::kDirectory;
    if (da != db) return da;
    int c = std::strncmp(a.short_name, b.short_name, 8);
    if (c) return c < 0;
    return std::strncmp(a.extension, b.extension, 3) < 0;
}

// Decimal number of at most `n` characters from `s`, up to the first non-digit.
unsigned number_at(const char *s, size_t n) {
    unsigned v = 0;
    for (size_t i = 0; i < n && std::isdigit(static_cast<unsigned char>(s[i])); ++i)
        v = v * 10 + unsigned(s[i] - '0');
    return v;
}

long long file_size(const std::string &board) {
    struct stat st;
    return ::stat(host::path(board).c_str(), &st) == 0 ? st.st_size : -1;
}

// Removes every file of the firmware folder but the firmware itself.
void remove_old_firmware_files() {
    DIR *d = ::opendir(host::path(kFirmDir).c_str());
    if (!d) return;
    std::vector<std::string> old;
    while (dirent *e = ::readdir(d)) {
        std::string n = e->d_name;
        if (n != "." && n != ".." && n != "firmware") old.push_back(n);
    }
    ::closedir(d);
    for (auto &n : old)
        host::run_argv({"rm", "-f", host::path(std::string(kFirmDir) + "/" + n)});
}
} // namespace

int GetFirmwareDir(int drive, CfFindRecord *listing, uint32_t) {
    if (drive != 0 && drive != 1) drive = 0;
    if (CF_GetStatus(drive) != cf::kOk || g_in_progress) {
        sr154_clear(0xC000);
        return 1;
    }
    CfFindRecord *rec = listing ? listing : &g_listing;
    // The pattern names its drive, so the listing is of the medium asked for.
    std::string pattern = std::string(drive == 1 ? "B:" : "A:") + "UPDATE\\*.*";
    int16_t st = CF_GetFirst(drive, rec, pattern.c_str());
    if (st == cf::kExists) return 1000;
    if (st != cf::kOk) return st;
    sdfwEntryCount = 0;
    for (; st == cf::kOk; st = CF_GetNext(drive, rec)) {
        if (!std::strcmp(rec->long_name, ".") || !std::strcmp(rec->long_name, "..")) continue;
        if (sdfwEntryCount == kFwEntryMax) {
            sdfwEntryTbl[kFwEntryMax - 1].attributes |= 0x80;
            break;
        }
        sdfwEntryTbl[sdfwEntryCount++] = *rec;
    }
    CF_GetDone(drive, rec);
    if (sdfwEntryCount == 0) return 1002;
    std::stable_sort(sdfwEntryTbl, sdfwEntryTbl + sdfwEntryCount, entry_before);

    const CfFindRecord *best = nullptr;
    unsigned best_major = 0, best_minor = 0;
    for (int i = 0; i < sdfwEntryCount; ++i) {
        const CfFindRecord &e = sdfwEntryTbl[i];
        if (!(e.attributes & fx::kDirectory) || e.short_name[0] != 'V') continue;
        unsigned major = number_at(e.short_name + 1, 4);
        unsigned minor = std::strlen(e.short_name) > 5 ? number_at(e.short_name + 5, 3) : 0;
        if (!best || major > best_major || (major == best_major && minor > best_minor)) {
            best = &e;
            best_major = major;
            best_minor = minor;
        }
    }
    unsigned running_major = sr_get(sr::kFirmwareMajor), running_minor = sr_get(sr::kFirmwareMinor);
    if (best && (best_major > running_major ||
                 (best_major == running_major && best_minor > running_minor))) {
        std::string path = std::string(drive == 1 ? "B:" : "A:") + "UPDATE/" +
                           std::string(best->long_name).substr(0, 8) + "/k7";
        if (SD_check_fw_file(path.c_str())) {
            g_in_progress = true;
            Load_fw_file_from_mSD(path.c_str());
            g_in_progress = false;
            sr154_set(0x4000);
            return 0;
        }
    }
    sr154_clear(0x8000);
    return 0;
}

int SD_check_fw_file(const char *path) {
    controller_mode = sr_get(sr::kRunMode);
    sr_put(sr::kRunMode, sr::kModeIdle);
    FxFile f{};
    if (CF_Open(&f, path, 0) == cf::kOk) {
        uint32_t size = 0;
        CF_Size(&f, &size);
        CF_Close(&f);
        if (size > 0) return 1;
    }
    sr_put(sr::kRunMode, controller_mode);
    return 0;
}

int Load_fw_file_from_mSD(const char *path) {
    host::trace("Load_fw_file_from_mSD");
    sr154_clear(0xC000);
    // The firmware comes from the medium it was found on.
    int drive = Cf_PathDrive(path, 0);
    if (drive < 0) drive = 0;
    std::string rel = path[0] && path[1] == ':' ? path + 2 : path;
    std::replace(rel.begin(), rel.end(), '\\', '/');
    if (!rel.empty() && rel[0] == '/') rel.erase(0, 1);
    char mount_point[kFxPathMax];
    bool ok = MountDrive(drive, mount_point) != 0;
    std::string src = std::string(mount_point) + "/" + rel;
    if (ok) {
        host::make_dirs(kFirmDir);
        std::string keys = std::string(mount_point) + "/keys.bmp";
        if (file_size(keys) >= 0) host::run_argv({"cp", host::path(keys), host::path("/mnt/cfg/")});
        // The new firmware is copied beside the running one and takes its
        // place only once it is complete: an interrupted copy (a medium pulled
        // out) leaves the panel with the firmware it had.
        long long size = file_size(src);
        ok = size > 0 && host::run_argv({"cp", host::path(src), host::path(kFirmwareNew)}) == 0 &&
             file_size(kFirmwareNew) == size;
    }
    ok = host::shell("sync") == 0 && ok;
    sr_put(sr::kRunMode, controller_mode);
    if (ok)
        ok = ::chmod(host::path(kFirmwareNew).c_str(), 0755) == 0 &&
             ::rename(host::path(kFirmwareNew).c_str(), host::path(kFirmware).c_str()) == 0;
    if (!ok) {
        ::unlink(host::path(kFirmwareNew).c_str());
        sr154_set(0x4000);
        return -1;
    }
    host::shell("sync");
    remove_old_firmware_files();
    if (InitRdVer != 1) host::run_argv({"rm", "-f", host::path("/mnt/firm/pq9e")});
    if (!(sr_get(sr::kFwUpdate) & 0x400)) sr154_clear(0x200);
    sr154_clear(0x100);
    StopWatchdog();
    if (sr_get(sr::kFwUpdate) & 0x800) {
        DeleteProgram();
        DelAutoRegFile();
        ClrRegFile();
    } else {
        SaveProgram();
        AutoSaveRegisters();
    }
    Persist_Set(0x8000);
    host::wait_step();
    Persist_SetRestarts(0);
    host::shell("reboot");
    host::reboot();
}

void FwUpdate_Reset() {
    g_in_progress = false;
    sdfwEntryCount = 0;
    controller_mode = 0;
    std::memset(&g_listing, 0, sizeof g_listing);
}
