// Boot installer screen: from a micro-SD card or USB stick it installs the
// whole system (boot stream, flash volumes, firmware, key image, MAC
// addresses, splash screen, extra steps), updates the firmware alone, or
// programs the FPGA alone. Every step is a board command or a file operation
// and is written to "log.txt" on the medium.
#include "base/le.h"
#include "gdi/gdi.h"
#include "gdi/text.h"
#include "gdi/util.h"
#include "platform/io.h"
#include "platform/osif.h"
#include "platform/slice.h"
#include "platform/tick.h"
#include "regs/plc_reg.h"
#include "screens/objm_int.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr const char *kMount = "/mnt/USB";
constexpr COLOR kBack = 0xFFDF, kTitle = 0x003F, kRed = 0xF820, kFaceDefault = 0xC638;
constexpr int kFaceOffset = 18;
// Board byte of the extended system word whose value 1 marks the panels that
// keep their FPGA image over a firmware update.
constexpr size_t kExtSystemWord = 0x1A80E;

// fileList bits.
constexpr uint8_t kTools = 0x01, kFirmware = 0x02, kMacSource = 0x04, kFpgaImage = 0x08,
                  kMounted = 0x10;

enum Screen : uint16_t {
    kLooking = 1,
    kMenu = 2,
    kConfirm = 3,
    kChecking = 4,
    kRunning = 5,
    kResult = 6
};
enum Action : uint16_t { kNone = 0, kInstall = 1, kUpdate = 2, kFpga = 3 };

const char *const kLabels[3] = {"Install Bootloader", "Update Firmware", "Update FPGA"};

struct BootInst {
    ObjInst hdr;
    RECT button[3];
    RECT box, yes, no, ok;
    uint16_t state;
    uint16_t action;
    uint16_t success;
    uint16_t checked; // the checks of state 4 passed: its paint starts the work
};

// A counted multi-line text: the line count, then the lines, each ended by 0.
constexpr size_t kMultiBytes = 200;
struct MultiStr {
    uint8_t b[kMultiBytes + 1];
    size_t used;
    void clear() {
        b[0] = 0;
        used = 1;
    }
    // A line that no longer fits is left out.
    void add(const char *line) {
        size_t n = std::strlen(line) + 1;
        if (b[0] == 255 || used + n > sizeof b) return;
        std::memcpy(b + used, line, n);
        used += n;
        ++b[0];
    }
    const char *text() const { return reinterpret_cast<const char *>(b + 1); }
    int lines() const { return b[0]; }
};

struct State {
    char bnMntD[20];    // the medium's device node
    uint8_t fileList;   // kTools ...
    MultiStr bnStr;     // the result text
    MultiStr lpStr;     // the closing lines
    char cpStr[40];     // the firmware copy command
    char firmLine[32];  // the closing line naming the firmware installed
    uint32_t logFile;   // the log's handle, 0 while closed
    const BootInst *up; // the screen's instance while it is up
    int MACID_Save_error;
    int FPGA_Save_error;
};
State g;
BootHooks hooks;

// ------------------------------------------------------------------ board

int run(const std::string &cmd) {
    return hooks.shell ? hooks.shell(cmd.c_str()) : -1;
}
int mount_medium() {
    return hooks.mount ? hooks.mount(g.bnMntD, kMount, "vfat") : ENODEV;
}
void umount(const char *mount_point, int flags = 0) {
    if (hooks.umount2) hooks.umount2(mount_point, flags);
}
bool exists(const std::string &board_path) {
    return OsFile_Exists(board_path.c_str());
}

void log_line(const std::string &text) {
    if (!g.logFile) return;
    std::string line = text + "\n";
    OsFile_Write(g.logFile, line.data(), line.size());
    OsFile_Flush(g.logFile);
}
void close_log() {
    if (g.logFile) OsFile_Close(g.logFile);
    g.logFile = 0;
}

// A command whose output goes to the log, each line cut at 1035 characters.
int LOGCMD(const std::string &cmd) {
    log_line("--------------------Starting Req Cmd");
    int rc = -1;
    if (hooks.shell_lines)
        rc = hooks.shell_lines(
            cmd.c_str(),
            [](void *, const char *text) { log_line(std::string(text).substr(0, 1035)); }, nullptr);
    log_line("----------------------Ended Req Cmd");
    return rc;
}

// A command of the install, logged with its result.
int step(const std::string &cmd) {
    int rc = run(cmd);
    log_line(cmd + (rc == 0 ? "" : " : failed"));
    return rc;
}

// ---------------------------------------------------------------- results

void result(std::initializer_list<const char *> lines) {
    g.bnStr.clear();
    for (const char *l : lines)
        g.bnStr.add(l);
}

void closing_lines() {
    g.lpStr.clear();
    for (const char *l : {"    ", "Operation Completed", static_cast<const char *>(g.firmLine),
                          "Remove SD/USB media", "and RESET the unit"})
        g.lpStr.add(l);
}

// The firmware image on the medium: its variant letter goes into the copy
// command and names the firmware installed. False when there is none.
bool find_firmware() {
    struct Variant {
        const char *file;
        char letter;
        const char *line;
    };
    static constexpr Variant kVariants[] = {
        {"k7", ' ', "Installed Vibus Firmware"},
        {"k7c", 'c', "Installed CANopen Firm'e"},
        {"k7j", 'j', "Installed J1939 Firmware"},
        {"k7d", 'd', "Installed DeviceNet Firm"},
    };
    for (const Variant &v : kVariants) {
        if (!exists(std::string(kMount) + "/" + v.file)) continue;
        std::snprintf(g.cpStr, sizeof g.cpStr, "cp /mnt/USB/k7%c /mnt/firm/firmware", v.letter);
        std::snprintf(g.firmLine, sizeof g.firmLine, "%s", v.line);
        closing_lines();
        g.fileList |= kFirmware;
        return true;
    }
    return false;
}

// ------------------------------------------------------------------ layout

int screen_w(const ObjInst *inst) {
    return inst->dc ? inst->dc->bounds.right + 1 : 480;
}
int screen_h(const ObjInst *inst) {
    return inst->dc ? inst->dc->bounds.bottom + 1 : 272;
}

void layout(BootInst *b) {
    const int W = screen_w(&b->hdr), H = screen_h(&b->hdr);
    const int cx = W / 2, bw = W >= 1024 ? W / 6 : W / 2;
    const int h6 = H / 6, h12 = H / 12;
    GDI_SetRect(&b->button[0], cx - bw / 2, h6, cx + bw / 2, 2 * h6);
    GDI_SetRect(&b->button[1], cx - bw / 2, h12 + 2 * h6, cx + bw / 2, h12 + 3 * h6);
    GDI_SetRect(&b->button[2], cx - bw / 2, 2 * h12 + 3 * h6, cx + bw / 2, 2 * h12 + 4 * h6);
    const int m = 9 * bw / 10;
    GDI_SetRect(&b->box, cx - 40 - m / 2, H / 2 - h12 - 90, cx + 40 + m / 2, H / 2 + h12 + 90);
    const int y = H / 2 + h6 / 4 - 13;
    GDI_SetRect(&b->yes, cx - 65, y, cx - 10, y + 27);
    GDI_SetRect(&b->no, cx + 10, y, cx + 65, y + 27);
    const int bottom = b->box.bottom;
    GDI_SetRect(&b->ok, cx - 27, bottom - 40, cx + 27, bottom - 13);
    GDI_SetRect(&b->hdr.area, 0, 0, W - 1, H - 1);
}

// ------------------------------------------------------------------ state 1

// Looks for a medium in "/sys/block": a card ("mmcblk", partition "p1") or a
// stick ("sd", partition "1"). A name whose device does not fit bnMntD is
// passed over.
bool find_medium() {
    char names[32][32];
    int n = hooks.block_devices ? hooks.block_devices(names, 32) : 0;
    for (int i = 0; i < n; ++i) {
        const char *name = names[i];
        const char *part = std::strstr(name, "mmcblk") ? "p1"
                           : std::strstr(name, "sd")   ? "1"
                                                       : nullptr;
        if (!part) continue;
        const std::string whole = std::string("/dev/") + name, dev = whole + part;
        const std::string &pick = exists(dev) ? dev : whole;
        if (pick.size() >= sizeof g.bnMntD) continue;
        std::memcpy(g.bnMntD, pick.c_str(), pick.size() + 1);
        return true;
    }
    return false;
}

// ------------------------------------------------------------------ state 4

// Mounts the medium and opens its log; false (with the result set) when the
// medium is gone.
bool mount_and_log() {
    int err = mount_medium();
    if (err == EROFS) {
        run(std::string("mount ") + g.bnMntD + " " + kMount);
        run(std::string("mount -o remount,rw ") + g.bnMntD + " " + kMount);
    } else if (err == ENOENT || err == ENODEV || err == ENXIO) {
        result({"Missing MICRO-SD or USB", "Insert and Try Again"});
        return false;
    }
    close_log();
    g.logFile = OsFile_Open("/mnt/USB/log.txt", "ab");
    log_line("File Successfully opened");
    g.fileList |= kMounted;
    return true;
}

// The checks before the work; false (with the result set) when it cannot go on.
bool check(BootInst *b) {
    g.fileList = 0;
    if (!mount_and_log()) return false;
    switch (b->action) {
    case kInstall: {
        log_line("--INSTALL Mode");
        for (const char *f : {"pqkern.sb", "pqinit.ufs", "pqfirm.ufs", "pqcfg.ufs"}) {
            if (!exists(std::string(kMount) + "/" + f)) {
                char missing[40];
                std::snprintf(missing, sizeof missing, "Missing File:%s", f);
                log_line(missing);
                result({missing});
                return false;
            }
        }
        if (!find_firmware()) {
            log_line("Missing File:k7/c/j/d");
            result({"Missing File:k7/c/j/d"});
            return false;
        }
        if (!exists("/usr/bin/ubiformat")) {
            log_line("Required tools are missing");
            result({"Required tools are missing"});
            return false;
        }
        g.fileList |= kTools;
        if (exists("/mnt/cfg/TINYIMGE.BIN") || exists("/mnt/USB/MACIDS.TXT"))
            g.fileList |= kMacSource;
        bool fpga_ok = true;
        if (FPGA_Check()) {
            fpga_ok = exists("/mnt/USB/pq9ef.hex");
            if (fpga_ok) g.fileList |= kFpgaImage;
        }
        b->success = (g.fileList & kMacSource) && fpga_ok;
        log_line("--Files checked for INSTALL");
        return true;
    }
    case kUpdate:
        log_line("--Checking files for UPDATE");
        if (!find_firmware()) {
            log_line("Missing File:k7/c/j/d");
            result({"Missing File:k7/c/j/d"});
            return false;
        }
        b->success = 1;
        return true;
    default:
        log_line("--Checking for UPDATEFPGA");
        if (!exists("/mnt/USB/pq9ef.hex")) {
            log_line("Missing File:pq9ef.hex");
            result({"Missing File:pq9ef.hex"});
            return false;
        }
        g.fileList |= kFpgaImage;
        return true;
    }
}

// ------------------------------------------------------------------ state 5

// Runs the lines of "path.info". The file comes from the medium: a line that
// names a path through ".." is refused, so nothing reaches outside the
// panel's own folders.
void run_path_info() {
    constexpr size_t kMaxBytes = 64 * 1024;
    uint32_t h = OsFile_Open("/dev/shm/update/path.info", "rb");
    if (!h) {
        log_line("Missing File:path.info");
        return;
    }
    std::string text(kMaxBytes, '\0');
    text.resize(OsFile_Read(h, text.data(), text.size()));
    OsFile_Close(h);
    BOOT_PathInfoLines(
        text.data(), text.size(),
        [](void *, const char *line) {
            if (std::strstr(line, ".."))
                log_line(std::string("Refused: ") + line);
            else
                step(line);
        },
        nullptr);
}

// The first three characters of "oeminfo.txt" as a decimal number; its low
// byte goes to "/mnt/cfg/oeminfo".
void copy_oem_info() {
    uint32_t h = OsFile_Open("/mnt/USB/oeminfo.txt", "rb");
    if (!h) return;
    char text[4] = {};
    OsFile_Read(h, text, 3);
    OsFile_Close(h);
    uint8_t code = uint8_t(std::strtoul(text, nullptr, 10));
    uint32_t out = OsFile_Open("/mnt/cfg/oeminfo", "wb");
    if (!out) {
        log_line("oeminfo not written");
        return;
    }
    OsFile_Write(out, &code, 1);
    OsFile_Flush(out);
    OsFile_Close(out);
    run("sync");
}

bool booted_from_flash() {
    uint32_t h = OsFile_Open("/proc/cmdline", "rb");
    if (!h) return false;
    char text[1024] = {};
    OsFile_Read(h, text, sizeof text - 1);
    OsFile_Close(h);
    return std::strstr(text, "rootfstype=ubifs") != nullptr;
}

void finish(BootInst *b) {
    close_log();
    umount(kMount);
    b->state = kResult;
}

void install(BootInst *b) {
    if (hooks.beeper_off) hooks.beeper_off();
    int32_t cal[6] = {};
    uint8_t identity[124] = {};
    // A panel without a calibration keeps none: storing the driver's
    // uncalibrated values would pass for a calibration at the next start.
    const bool have_cal = hooks.read_touch_cal && hooks.read_touch_cal(cal);
    if (hooks.get_mac_id) hooks.get_mac_id(identity);
    g.FPGA_Save_error = 0;

    if (step("flash_eraseall /dev/mtd0") != 0) {
        result({"Disk MTD0 Erase Error"});
        b->success = 0;
        return finish(b);
    }
    LOGCMD("cat /proc/meminfo");
    if (step("kobs-ng init /mnt/USB/pqkern.sb") != 0) {
        result({"Boot Update Error"});
        b->success = 0;
        return finish(b);
    }
    LOGCMD("cat /proc/meminfo");

    if (!booted_from_flash()) {
        // The flash volumes are made anew from the images on the medium.
        umount("/mnt/firm");
        umount("/mnt/cfg");
        for (const char *cmd : {
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
             })
            step(cmd);
        LOGCMD("cat /proc/meminfo");
    } else {
        // The running volumes stay: only what they hold of the old system goes.
        for (const char *cmd : {"rm /mnt/cfg/*.pgm", "rm /mnt/cfg/bbram.dta", "rm /mnt/firm/*"})
            step(cmd);
    }
    step("cp /mnt/USB/keys.bmp /mnt/cfg/");
    step(g.cpStr);
    step("sync");

    MultiStr lines;
    lines.clear();
    g.MACID_Save_error = hooks.save_mac_id ? hooks.save_mac_id(identity, 0) : 1;
    switch (g.MACID_Save_error) {
    case 0:
        break;
    case 1:
        lines.add("MACID Not Updated");
        break;
    case 2:
        lines.add("MACIDS.TXT: Invalid MACID");
        break;
    case 3:
        lines.add("Missing File: MACIDS.TXT");
        break;
    case 4:
        lines.add("MACID EMPTY");
        break;
    default:
        lines.add("MACID writing on SD failed");
        break;
    }
    log_line(g.MACID_Save_error ? "--MACID not saved" : "--MACID saved");

    copy_oem_info();
    if (have_cal && hooks.save_touch_cal) hooks.save_touch_cal(cal);
    if (hooks.del_auto_reg_file) hooks.del_auto_reg_file();

    for (const char *cmd : {"mount -t ubifs ubi0:rootfs1 /mnt/rwfs", "rm /mnt/rwfs/usr/splash.*",
                            "cp /mnt/USB/splash.bmp /mnt/rwfs/usr/", "sync"})
        step(cmd);

    if (exists("/mnt/USB/update.init")) {
        step("mkdir /dev/shm/update");
        step("unzip -o /mnt/USB/update.init -d /dev/shm/update");
        run_path_info();
    }

    if (FPGA_Check()) {
        if (exists("/mnt/USB/pq9ef.hex")) {
            Fpga_Close();
            if (FPGA_program() == 0) {
                lines.add("FPGA Update Failed");
                g.FPGA_Save_error = 1;
            }
        } else {
            lines.add("Missing File:pq9ef.hex");
            g.FPGA_Save_error = 1;
        }
    }

    run("sync");
    SYS_Wait(100);
    g.bnStr = lines;
    const char *p = g.lpStr.text();
    for (int i = 0; i < g.lpStr.lines(); ++i) {
        g.bnStr.add(p);
        p += std::strlen(p) + 1;
    }
    b->success = g.MACID_Save_error == 0 && g.FPGA_Save_error == 0;
    log_line("-- Completed Install !!!!!");
    log_line("Done Install Process");
    finish(b);
}

void update_firmware(BootInst *b) {
    int err = mount_medium();
    if (err && err != EBUSY) log_line("--mount failed");
    step("cp /mnt/USB/keys.bmp /mnt/cfg/");
    step("rm /mnt/firm/*");
    step(g.cpStr);
    if (step("sync") != 0) {
        b->success = 0;
        result({"File Copy Error"});
        return finish(b);
    }
    b->success = 1;
    if (plc_reg[kExtSystemWord] != 1) OsFile_Remove("/mnt/firm/pq9e");
    if (hooks.delete_program) hooks.delete_program();
    if (hooks.del_auto_reg_file) hooks.del_auto_reg_file();
    if (hooks.clr_reg_file) hooks.clr_reg_file();
    run("sync");
    SYS_Wait(100);
    result({"Operation Completed", static_cast<const char *>(g.firmLine), "Remove SD/USB media",
            "and RESET the unit"});
    log_line("Done Update Process");
    finish(b);
}

void update_fpga(BootInst *b) {
    g.bnStr.clear();
    if (FPGA_Check()) {
        if (!exists("/mnt/USB/pq9ef.hex")) {
            g.bnStr.add("Missing File:pq9ef.hex");
        } else {
            Fpga_Close();
            if (FPGA_program() == 0)
                g.bnStr.add("FPGA Update Failed");
            else
                b->success = 1;
        }
    }
    if (g.bnStr.lines() == 0)
        result({"Operation Completed", "Remove SD/USB media", "and RESET the unit"});
    log_line(b->success ? "--FPGA updated" : "--FPGA not updated");
    finish(b);
}

// ------------------------------------------------------------------- paint

void text_in(DC *dc, const RECT &r, const MultiStr &s, COLOR colour) {
    GDI_SetTextColor(dc, colour);
    GDI_SetFillColor(dc, 0xFFFF);
    GDI_RectByteTextOut(dc, 36, &r, s.text());
}
void one_line(DC *dc, const RECT &r, const char *line, COLOR colour) {
    MultiStr s;
    s.clear();
    s.add(line);
    text_in(dc, r, s, colour);
}

void button(DC *dc, const RECT &r, const char *label, COLOR face) {
    GDI_SetPen(dc, 0, 0, 0);
    GDI_SetFillColor(dc, face);
    UTIL_Button(dc, &r, 0);
    one_line(dc, r, label, 0);
}

void message_box(DC *dc, const BootInst *b, const char *title, bool red) {
    const RECT &box = b->box;
    GDI_SetPen(dc, 0, 0, 0);
    GDI_SetFillColor(dc, kFaceDefault);
    GDI_Rectangle(dc, box.left, box.top, box.right, box.bottom);
    COLOR light, dark;
    UTIL_3DShades(0, kFaceDefault, &light, &dark);
    UTIL_ShadeRect(dc, &box, light, dark, 0);
    RECT bar{int16_t(box.left + 3), int16_t(box.top + 3), int16_t(box.right - 3),
             int16_t(box.top + 3 + 21)};
    GDI_SetFillColor(dc, red ? kRed : kTitle);
    GDI_Rectangle(dc, bar.left, bar.top, bar.right, bar.bottom);
    one_line(dc, bar, title, kBack);
}

void body(DC *dc, const BootInst *b, std::initializer_list<const char *> lines, int bottom) {
    MultiStr s;
    s.clear();
    for (const char *l : lines)
        s.add(l);
    RECT r{int16_t(b->box.left + 3), int16_t(b->box.top + 24), int16_t(b->box.right - 3),
           int16_t(bottom)};
    text_in(dc, r, s, 0);
}

void BOOT_Paint(const uint8_t *def, ObjInst *inst, int) {
    auto *b = reinterpret_cast<BootInst *>(inst);
    DC *dc = inst->dc;
    if (!dc) return;
    const int W = screen_w(inst), H = screen_h(inst);
    GDI_SetPen(dc, 0, 0, 0);
    GDI_SetFillColor(dc, kBack);
    GDI_Rectangle(dc, 0, 0, W, H);
    GDI_SelectFont(dc, 32, nullptr, nullptr);
    RECT title{0, 10, int16_t(W), 31};
    one_line(dc, title, "Boot Installer Screen", kTitle);
    COLOR face = def ? le16(def + kFaceOffset) : kFaceDefault;
    for (int i = 0; i < 3; ++i)
        button(dc, b->button[i], kLabels[i], face);

    const char *label = b->action >= kInstall && b->action <= kFpga ? kLabels[b->action - 1] : "";
    const bool red = !b->success;
    switch (b->state) {
    case kLooking:
        message_box(dc, b, "SD Drive Mounting", false);
        body(dc, b, {"Please Wait.....", " ", "PLUG", "MICRO-SD or USB", "to the Controller"},
             b->box.bottom - 3);
        break;
    case kConfirm:
        message_box(dc, b, label, false);
        body(dc, b, {"Are you Sure?"}, b->yes.top);
        button(dc, b->yes, "Yes", kFaceDefault);
        button(dc, b->no, "No", kFaceDefault);
        break;
    case kChecking:
        message_box(dc, b, label, red);
        body(dc, b,
             {b->action == kFpga && FPGA_Check() ? "Takes about 5 sec" : "Takes about 1 min",
              "Please Wait.....", " ", "DO NOT UNPLUG", "MICRO-SD/USB or POWER"},
             b->box.bottom - 3);
        // The message is on the screen: the long work may start.
        if (b->checked) b->state = kRunning;
        break;
    case kResult: {
        message_box(dc, b, label, red);
        RECT r{int16_t(b->box.left + 3), int16_t(b->box.top + 24), int16_t(b->box.right - 3),
               int16_t(b->ok.top)};
        text_in(dc, r, g.bnStr, 0);
        button(dc, b->ok, "OK", kFaceDefault);
        break;
    }
    default:
        break;
    }
}

// ------------------------------------------------------------------ signal

bool in(const RECT &r, int x, int y) {
    return GDI_PtInRect(&r, x, y) != 0;
}
void beep() {
    objm::beep(3);
}

uint16_t touch(BootInst *b, int x, int y) {
    switch (b->state) {
    case kMenu:
        for (int i = 0; i < 3; ++i) {
            if (!in(b->button[i], x, y)) continue;
            beep();
            b->action = uint16_t(kInstall + i);
            b->state = kConfirm;
            return objmsg::kRepaint;
        }
        return 0;
    case kConfirm:
        if (in(b->yes, x, y)) {
            beep();
            b->success = 0;
            b->checked = 0;
            b->state = kChecking;
            return objmsg::kRepaint;
        }
        if (in(b->no, x, y)) {
            beep();
            b->state = kMenu;
            return objmsg::kRepaint;
        }
        return 0;
    case kResult:
        if (in(b->ok, x, y)) {
            beep();
            b->action = kNone;
            b->state = (g.fileList & kMounted) ? kMenu : kLooking;
            return objmsg::kRepaint;
        }
        return 0;
    default:
        return 0;
    }
}

uint16_t update(BootInst *b) {
    switch (b->state) {
    case kLooking:
        g.fileList = 0;
        if (!find_medium()) return 0;
        b->state = kMenu;
        return objmsg::kRepaint;
    case kChecking:
        if (b->checked) return 0;
        if (!check(b)) {
            close_log();
            b->state = kResult;
        } else {
            b->checked = 1;
        }
        return objmsg::kRepaint;
    case kRunning:
        if (b->action == kInstall)
            install(b);
        else if (b->action == kUpdate)
            update_firmware(b);
        else
            update_fpga(b);
        return objmsg::kRepaint;
    default:
        return 0;
    }
}

uint16_t BOOT_Signal(const uint8_t *, ObjInst *inst, int msg, uint32_t arg) {
    auto *b = reinterpret_cast<BootInst *>(inst);
    switch (msg) {
    case objmsg::kUpdate:
        return update(b);
    case objmsg::kTouchDown:
        return touch(b, int(arg >> 16), int(int16_t(arg & 0xFFFF)));
    default:
        return 0;
    }
}

int16_t BOOT_Create(const uint8_t *, ObjInst *inst) {
    auto *b = reinterpret_cast<BootInst *>(inst);
    g.up = b;
    layout(b);
    b->state = kLooking;
    b->action = kNone;
    b->success = 0;
    b->checked = 0;
    inst->state |= kInstShown;
    // The long blocking steps of the install must trip neither the time
    // slice nor the watchdog.
    Enable_Interrupt(0);
    if (hooks.no_time_slice) hooks.no_time_slice();
    umount(kMount);
    run("umount -f /mnt/USB0");
    umount("/mnt/USB0", 1); // MNT_FORCE
    std::snprintf(g.cpStr, sizeof g.cpStr, "cp /mnt/USB/k7  /mnt/firm/firmware");
    std::snprintf(g.firmLine, sizeof g.firmLine, "Installed Vibus Firmware");
    closing_lines();
    if (hooks.watchdog_time) hooks.watchdog_time(180);
    return int16_t(sizeof(BootInst));
}

void BOOT_Destroy(const uint8_t *, ObjInst *) {
    g.up = nullptr;
    close_log();
    umount(kMount);
}

} // namespace

const ObjClass BOOT_Class{kObjRecordLength[29], BOOT_Create,      BOOT_Paint, BOOT_Signal,
                          BOOT_Destroy,         sizeof(BootInst), nullptr};

void BOOT_SetHooks(const BootHooks &h) {
    hooks = h;
}

void BOOT_PathInfoLines(const char *data, size_t size, void (*line)(void *ctx, const char *text),
                        void *ctx) {
    constexpr size_t kMaxLine = 1035;
    char out[kMaxLine + 1];
    size_t n = 0;
    for (size_t i = 0; i <= size; ++i) {
        const unsigned char c = i < size ? static_cast<unsigned char>(data[i]) : '\r';
        if (c == '\r') {
            out[n] = 0;
            if (n) line(ctx, out);
            n = 0;
        } else if (c >= 0x20 && c != 0x7F && n < kMaxLine) {
            out[n++] = char(c);
        }
    }
}

int BOOT_ScreenState() {
    return g.up ? g.up->state : 0;
}

void BOOT_ResultText(char *out, size_t size) {
    if (!out || size == 0) return;
    size_t at = 0;
    const char *p = g.bnStr.text();
    for (int i = 0; i < g.bnStr.lines(); ++i) {
        at += size_t(std::snprintf(out + at, size - at, "%s%s", i ? "\n" : "", p));
        if (at >= size) break;
        p += std::strlen(p) + 1;
    }
    out[std::min(at, size - 1)] = 0;
}

void Boot_Reset() {
    close_log();
    g = State{};
    g.bnStr.clear();
    g.lpStr.clear();
}
