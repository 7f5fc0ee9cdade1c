// The application files in "/mnt/cfg": the application blocks, the control
// program, the register image and battery-backed memory files, and the small
// side files; the persistent status word; the power-fail path.
#include "system/appfile.h"

#include "base/crc16.h"
#include "base/le.h"
#include "base/trace.h"
#include "host/clock.h"
#include "host/config.h"
#include "host/power.h"
#include "host/powerfail.h"
#include "host/root.h"
#include "host/shell.h"
#include "iec/kernel/iec.h"
#include "net/net.h"
#include "platform/board.h"
#include "platform/nvfile.h"
#include "platform/rtc.h"
#include "plc/fram.h"
#include "regs/plc_reg.h"
#include "serial/serial.h"
#include "system/loop.h"
#include "system/nvram.h"
#include "system/reginit.h"
#include "system/run_ctrl.h"
#include "system/sys.h"

#include <execinfo.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

using namespace app;

// ---------------------------------------------------------------- buffers

// An assigned MAC address starts with the maker's identifier.
const uint8_t kMakerOui[3] = {0x02, 0x50, 0x4E};

namespace {

const char *const kConfigFile = "/mnt/cfg/config.pgm";
const char *const kLadderFile = "/mnt/cfg/ladder.pgm";
const char *const kAutoregFile = "/mnt/cfg/autoreg.dta";
const char *const kBbramFile = "/mnt/cfg/bbram.dta";
const char *const kTrCodFile = "/mnt/cfg/tr.cod";
const char *const kBkpregFile = "/mnt/cfg/bkpreg.dta";
const char *const kRetnregFile = "/mnt/cfg/retnreg.dta";
const char *const kWdCountFile = "/mnt/cfg/watchdog_cnt.dta";
const char *const kTinyFile = "/mnt/cfg/TINYIMGE.BIN";

// Register backup image: header, image, marker byte, flag byte.
constexpr uint32_t kBkpMarker = 109184, kBkpFlag = 109188;

struct AppState {
    // Restart counter of this start, counted once however often the
    // registers are loaded.
    bool restart_counted = false;
    uint32_t restarts = 0;
};
AppState g;
// The main thread and the watchdog thread both save the registers.
std::mutex g_save_lock;
uint8_t g_snapshot[reg::kImageSize];

bool in_run_mode() {
    return sr_get(sr::kRunMode) == sr::kModeRun;
}

bool main_thread() {
    return gettid() == getpid();
}

uint32_t be32(const uint8_t *p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

size_t read_exact(FILE *f, void *dst, size_t n) {
    return n ? std::fread(dst, 1, n, f) : 0;
}

uint32_t block_length(const uint8_t *block) {
    return le32(block + 4);
}

// Writes a block as it lies in its buffer: header, then `length` data bytes.
bool write_block(NvFile &f, const uint8_t *block, uint32_t capacity) {
    uint32_t len = block_length(block);
    if (len > capacity - 8) return false;
    return f.write(block, 8 + size_t(len)) == 8 + size_t(len);
}

// Reads a block into its buffer; a length beyond the buffer fails the part
// and leaves an empty header behind.
bool read_block(FILE *f, uint8_t *block, uint32_t capacity) {
    if (read_exact(f, block, 8) != 8) return false;
    uint32_t len = block_length(block);
    if (len > capacity - 8) {
        std::memset(block, 0, 8);
        return false;
    }
    return read_exact(f, block + 8, len) == len;
}

bool write_security(NvFile &f) {
    uint32_t len = sr_get32(sr::kSecurityLength);
    if (len > kSecurityMax) return false;
    uint8_t h[4];
    put_le16(h, uint16_t(len));
    put_le16(h + 2, sr_get(sr::kSecurityCrc));
    return f.write(h, 4) == 4 && f.write(plc_reg + kSecurityOffset, len) == len;
}

bool read_security(FILE *f) {
    uint8_t h[4];
    if (read_exact(f, h, 4) != 4) return false;
    uint16_t len = le16(h);
    if (len > kSecurityMax) return false; // would overwrite the image's marker
    sr_put32(sr::kSecurityLength, len);
    sr_put(sr::kSecurityCrc, le16(h + 2));
    return read_exact(f, plc_reg + kSecurityOffset, len) == len;
}

bool write_bitmaps(NvFile &f) {
    uint32_t n = le32(rom_map_tbl + 516);
    if (n > kBmpTableSize) return false;
    return f.write(rom_map_tbl, kRomMapSize) == kRomMapSize && f.write(bmp_table, n) == n;
}

bool read_bitmaps(FILE *f) {
    if (read_exact(f, rom_map_tbl, kRomMapSize) != kRomMapSize) return false;
    uint32_t n = le32(rom_map_tbl + 516);
    if (n > kBmpTableSize) return false;
    return read_exact(f, bmp_table, n) == n;
}

} // namespace

// ------------------------------------------------- persistent status word

// ------------------------------------------------------ control program

namespace {
// Writes "ladder.pgm"; fsync is skipped in run mode. 1 when the data were
// written whole and the fsync, where done, succeeded; *synced_ok false when
// a done fsync failed.
bool write_ladder(bool *sync_failed) {
    *sync_failed = false;
    NvFile f;
    if (!f.open(kLadderFile)) return false;
    if (!write_block(f, ladder_bl, kLadderCapacity)) return false;
    bool sync = !in_run_mode();
    if (!f.commit(sync)) {
        *sync_failed = sync;
        return false;
    }
    return true;
}
} // namespace

int LoadLadder() {
    FILE *f = std::fopen(host::path(kLadderFile).c_str(), "rb");
    if (!f) return 1;
    bool ok = read_block(f, ladder_bl, kLadderCapacity) &&
              crc16(ladder_bl + 8, block_length(ladder_bl)) == le16(ladder_bl);
    std::fclose(f);
    if (!ok) {
        Persist_Or(kStLadderLoad);
        return 0;
    }
    TrevantStart();
    return 1;
}

int SaveLadder() {
    bool sync_failed;
    if (!write_ladder(&sync_failed)) {
        Persist_Or(kStLadderSave);
        return 0;
    }
    if (TrevantRuntime) {
        TrevantStop();
        DeleteTrevantProgram();
    }
    TrevantStart();
    return 1;
}

int TrSaveLadderPgm() {
    bool sync_failed;
    return write_ladder(&sync_failed) ? 1 : 0;
}

void TrevantStart() {
    trevant_ptr = ladder_bl + 8;
    LoadTrevant(trevant_ptr, block_length(ladder_bl));
}

void LoadTrevant(uint8_t *block, uint32_t length) {
    TrevantI0_VarLoc = nullptr;
    bool xti = length >= 16 && le32(block) == kXtiType && std::memcmp(block + 4, "XTI", 4) == 0;
    uint32_t code_len = xti ? le32(block + 8) : 0;
    // A code length that runs past the program is not an IEC application.
    if (xti && code_len > length - 16) xti = false;
    if (!xti) {
        IoConfig(0);
        TrevantRuntime = 0;
        return;
    }
    trevant_code_ptr = block + 16;
    nv_remove(kTrCodFile);
    NvFile f;
    if (f.open(kTrCodFile)) {
        size_t n = f.write(trevant_code_ptr, code_len);
        // The location table follows the code; it is taken only when whole.
        if (n > 0 && uint64_t(length) - 16 - code_len >= 4ull * kVarLocWords)
            TrevantI0_VarLoc = trevant_code_ptr + code_len;
        f.commit(true);
    }
    Tr_init = 0;
    TrevantRuntime = 1;
    Trevant_init();
    J1939_init_start = 1;
    CmdNetIoConfigUpdated = 1;
    NetIoConfig();
    J1939_init_start = 0;
}

void TrevantStop() {
    host::trace("TrevantStop");
    __Exit();
    ClearTrevantFlags();
}

// ------------------------------------------------------ application file

int LoadProgram() {
    host::trace("LoadProgram");
    if (!LoadLadder()) return 0;
    FILE *f = std::fopen(host::path(kConfigFile).c_str(), "rb");
    if (!f) return 1;
    bool ok = true;
    for (int i = 0; i < 16 && ok; ++i) {
        const PartInfo &p = kConfigParts[i];
        switch (p.kind) {
        case PartKind::Block:
            ok = read_block(f, AppPart_Buffer(i), p.capacity);
            break;
        case PartKind::Security:
            ok = read_security(f);
            break;
        case PartKind::Bitmaps:
            ok = read_bitmaps(f);
            break;
        }
    }
    std::fclose(f);
    if (!ok) {
        Persist_Or(kStConfigLoad);
        return 0;
    }
    return 1;
}

int SaveProgram() {
    host::trace("SaveProgram");
    if (!SaveLadder()) return 0;
    NvFile f;
    if (!f.open(kConfigFile)) {
        Persist_Or(kStConfigSave);
        return 0;
    }
    int complete = 0;
    for (int i = 0; i < 16; ++i) {
        const PartInfo &p = kConfigParts[i];
        bool ok = false;
        switch (p.kind) {
        case PartKind::Block:
            ok = write_block(f, AppPart_Buffer(i), p.capacity);
            break;
        case PartKind::Security:
            ok = write_security(f);
            break;
        case PartKind::Bitmaps:
            ok = write_bitmaps(f);
            break;
        }
        complete += ok;
    }
    if (complete != 16) {
        f.abort();
        Persist_Or(kStConfigSave);
        return 0;
    }
    // The flash sync may take longer than the watchdog allows.
    bool watchdog = wdog >= 0;
    if (watchdog) StopWatchdog();
    bool committed = f.commit(true);
    if (watchdog) StartWatchdog();
    if (!committed) {
        Persist_Or(kStConfigSave);
        return 0;
    }
    int r = AutoSaveRegisters();
    if (!r) {
        Persist_Or(kStConfigSave);
        return 0;
    }
    return r;
}

int DeleteProgram() {
    bool a = nv_remove(kLadderFile);
    bool b = nv_remove(kConfigFile);
    return a && b ? 1 : 0;
}

// ------------------------------------------------------- register files

namespace {
bool writable(const char *board_path) {
    int fd = ::open(host::path(board_path).c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}
} // namespace

int AutoSaveRegisters() {
    host::trace("AutoSaveRegisters");
    std::lock_guard<std::mutex> guard(g_save_lock);
    // The files are created at start only; a save never creates them.
    if (writable(kBbramFile)) {
        NvFile f;
        if (f.open(kBbramFile)) {
            bool whole = f.write(bbram, sizeof bbram) == sizeof bbram;
            if (whole) f.commit(true);
        }
    }
    if (!writable(kAutoregFile)) return 0;
    // The scan may change registers meanwhile: the CRC and the bytes written
    // come from one snapshot.
    std::memcpy(g_snapshot, plc_reg, sizeof g_snapshot);
    uint8_t h[8];
    put_le16(h, crc16(g_snapshot, sizeof g_snapshot));
    put_le16(h + 2, 0);
    put_le32(h + 4, reg::kImageSize);
    NvFile f;
    bool ok = f.open(kAutoregFile) && f.write(h, 8) == 8 &&
              f.write(g_snapshot, sizeof g_snapshot) == sizeof g_snapshot && f.commit(true);
    if (!ok) Persist_Or(kStAutoregSave);
    // The clock chip belongs to the main thread; the watchdog thread saves
    // while the scan has stopped, so its calendar registers are stale.
    if (main_thread()) {
        uint16_t cal[7];
        for (int i = 0; i < sr::kClockWords; ++i)
            cal[i] = le16(g_snapshot + sr_offset(sr::kClock + i));
        RtcSet(cal);
    }
    return ok ? 1 : 0;
}

int CrtAutoSaveRegFile() {
    for (const char *file : {kBbramFile, kAutoregFile}) {
        host::make_dirs("/mnt/cfg");
        int fd = ::open(host::path(file).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (file == kAutoregFile) return 0;
            continue;
        }
        ::close(fd);
    }
    std::string r;
    if (nv_read_file(kRetnregFile, &r) && r.size() >= 4) {
        sr_put(sr::kNetId, le16(r.data()));
        sr_put(sr::kNetBaud, le16(r.data() + 2));
    }
    return 1;
}

int AutoLoadRegisters() {
    host::trace("AutoLoadRegisters");
    FramBanks banks = FRAM_NewestBanks();
    bool bbram_ok =
        banks.bbram_bank && FRAM_BBRAM_XChange_Data(bbram, sizeof bbram, 1, banks.bbram_bank);

    std::string oem;
    // Without the factory's OEM file the host configuration names the
    // identity (`oem`, default 0).
    if (nv_read_file("/mnt/cfg/oeminfo", &oem) && !oem.empty())
        crc_header[3] = uint8_t(oem[0]);
    else
        crc_header[3] = uint8_t(host::config_int("oem", 0));

    uint16_t found;
    if (FILE *f = std::fopen(host::path(kAutoregFile).c_str(), "rb")) {
        uint8_t h[8] = {};
        size_t head = read_exact(f, h, 8);
        size_t n = head == 8 ? read_exact(f, plc_reg, reg::kImageSize) : 0;
        std::fclose(f);
        bool full = n == reg::kImageSize;
        if (!full) Persist_Or(kStAutoregShort);
        if ((!full || crc16(plc_reg, reg::kImageSize) != le16(h)) && !bbram_ok) {
            PlcRegInit(1);
            Persist_Or(kStRegsCleared);
        }
        found = uint16_t(Persist_Get());
    } else {
        bool created = CrtAutoSaveRegFile();
        fwload_set_def = 1;
        found = uint16_t(Persist_Get() | (created ? 0 : kStAutoregCreate));
    }

    // The FRAM block was written with the table of the program that ran, the
    // one LoadProgram has just put back; NV_EditorFeatures is set later
    // (nvram_init), and stays 0 if that program is replaced by the default.
    int result =
        banks.reg_bank && FRAM_XChange_DataFor(1, banks.reg_bank, nv_program_features()) ? 1 : 0;
    // Set after the FRAM copy, which holds the previous start's value.
    sr_put(sr::kStartStatus, found);
    sr_put(sr::kInitRdVer, uint16_t(InitRdVer));
    std::memcpy(plc_reg + sr_offset(sr::kKernelRev), KernelRev, 10);

    if (!g.restart_counted) {
        g.restart_counted = true;
        g.restarts = Persist_Restarts() + 1;
        Persist_SetRestarts(g.restarts);
    }
    Persist_Clear(kStAlive);
    sr_put(sr::kRestarts, uint16_t(g.restarts));
    K7_WDCountCheck(0);
    return result;
}

void K7_WDCountCheck(int clear) {
    if (clear) {
        nv_remove(kWdCountFile);
        sr_put(sr::kRestarts, 0);
        return;
    }
    std::string s;
    if (!nv_exists(kWdCountFile)) {
        NvFile f;
        uint8_t zero[2] = {0, 0};
        if (f.open(kWdCountFile)) {
            f.write(zero, 2);
            f.commit(true);
        }
        sr_put(sr::kRestarts, 0);
        return;
    }
    if (!nv_read_file(kWdCountFile, &s) || !writable(kWdCountFile)) {
        sr_put(sr::kRestarts, 0);
        return;
    }
    uint16_t count = s.size() >= 2 ? le16(s.data()) : 0;
    uint16_t now = sr_get(sr::kRestarts);
    if (now == count || now < 2) {
        sr_put(sr::kRestarts, count);
        return;
    }
    sr_put(sr::kRestarts, uint16_t(now - 1));
    uint8_t b[2];
    put_le16(b, sr_get(sr::kRestarts));
    NvFile f;
    if (f.open(kWdCountFile)) {
        f.write(b, 2);
        f.commit(true);
    }
}

int DelAutoRegFile() {
    uint8_t r[4];
    put_le16(r, sr_get(sr::kNetId));
    put_le16(r + 2, sr_get(sr::kNetBaud));
    NvFile f;
    if (f.open(kRetnregFile)) {
        f.write(r, 4);
        f.commit(true);
    }
    Persist_Set(kStAlive);
    Persist_SetRestarts(0);
    K7_WDCountCheck(1);
    return nv_remove(kAutoregFile) ? 1 : 0;
}

int LoadRegisters() {
    FILE *f = std::fopen(host::path(kBkpregFile).c_str(), "rb");
    if (!f) {
        crcsize_tbl[kBkpFlag] = 255;
        return 0;
    }
    bool ok = read_exact(f, crcsize_tbl, 8) == 8;
    uint32_t len = le32(crcsize_tbl + 4);
    // The file holds the header, the image and the 8 bytes behind it.
    ok = ok && len == reg::kImageSize && read_exact(f, crcsize_tbl + 8, len + 8) == len + 8;
    std::fclose(f);
    return ok ? 1 : 0;
}

int BkpRegisters() {
    uint32_t len = le32(crcsize_tbl + 4);
    if (len != reg::kImageSize) return 0;
    NvFile f;
    return f.open(kBkpregFile) && f.write(crcsize_tbl, len + 16) == len + 16 && f.commit(true) ? 1
                                                                                               : 0;
}

int ClrRegFile() {
    crcsize_tbl[kBkpFlag] = 255;
    crcsize_tbl[kBkpMarker] = 0;
    if (TrevantRuntime) DelTrevantRetentiveFile();
    return nv_remove(kBkpregFile) ? 1 : 0;
}

// ------------------------------------------------------------ side files

int StrTchClb(const uint32_t record[6]) {
    uint8_t b[24];
    for (int i = 0; i < 6; ++i)
        put_le32(b + 4 * i, record[i]);
    NvFile f;
    return f.open("/mnt/cfg/cal.dta") && f.write(b, 24) == 24 && f.commit(true) ? 1 : 0;
}

int ReadTchClb(uint32_t record[6]) {
    std::string s;
    if (!nv_read_file("/mnt/cfg/cal.dta", &s) || s.size() < 24) return 0;
    for (int i = 0; i < 6; ++i)
        record[i] = le32(s.data() + 4 * i);
    return 1;
}

int GenLogFile() {
    void *frames[32];
    int n = backtrace(frames, 32);
    host::make_dirs("/mnt/cfg");
    int fd = ::open(host::path("/mnt/cfg/logfile").c_str(),
                    O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return 0;
    backtrace_symbols_fd(frames, n, fd);
    fdatasync(fd);
    ::close(fd);
    return 1;
}

// ------------------------------------------------------------ MAC addresses

void convert_BYTE_ASCIIHEX(char *text, uint8_t value) {
    static const char kHex[] = "0123456789ABCDEF";
    text[0] = kHex[value >> 4];
    text[1] = kHex[value & 0xF];
}

int convert_MACSTR_MACINT(const char *text, uint8_t *bytes) {
    auto digit = [](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    uint8_t out[6];
    for (int i = 5; i >= 0; --i) {
        const char *p = text + 3 * i;
        int hi = digit(p[0]), lo = digit(p[1]);
        if (hi < 0 || lo < 0 || (i < 5 && p[2] != ':')) return 0;
        out[i] = uint8_t(hi * 16 + lo);
    }
    std::memcpy(bytes, out, 6);
    return std::memcmp(out, kMakerOui, 3) == 0 ? 1 : 0;
}

namespace {
bool write_identity(const uint8_t *identity) {
    NvFile f;
    return f.open(kTinyFile) && f.write(identity, 124) == 124 && f.commit(true);
}
} // namespace

int SaveAndSetMACID() {
    if (std::memcmp(tinyImage + 8, kMakerOui, 3) != 0) return 1;
    if (!write_identity(tinyImage)) return 1;
    Etn_SetMacId(tinyImage + 8, 0);
    sr_put(sr::kMacLow, uint16_t((tinyImage[12] << 8) | tinyImage[13]));
    sr_put(sr::kMacMid, uint16_t((tinyImage[10] << 8) | tinyImage[11]));
    return 0;
}

int SaveMACID(uint8_t *identity, int index) {
    if (index < 0 || index > 1) return 2;
    const char *usb = "/mnt/USB/MACIDS.TXT";
    std::string file;
    bool present = nv_read_file(usb, &file);
    if (file.size() > 128) file.resize(128);
    uint8_t next[6] = {}, last[6] = {};
    if (present) {
        if (file.size() < 36 || !convert_MACSTR_MACINT(file.c_str(), next) ||
            !convert_MACSTR_MACINT(file.c_str() + 19, last))
            return 2;
    }
    uint8_t *mac = identity + 8 + 6 * index;
    char *text = reinterpret_cast<char *>(identity) + 32 + 18 * index;
    if (std::memcmp(mac, kMakerOui, 3) == 0) return write_identity(identity) ? 0 : 1;
    if (!present) return 3;
    if (be32(next + 2) > be32(last + 2)) return 4;

    std::memcpy(text, file.data(), 17);
    text[17] = 0;
    std::memcpy(mac, next, 6);
    for (int i = 5; i >= 3; --i)
        if (++next[i] != 0) break;
    for (int i = 3; i < 6; ++i)
        convert_BYTE_ASCIIHEX(&file[size_t(3 * i)], next[i]);
    nv_remove(usb);
    NvFile f;
    if (f.open(usb)) {
        f.write(file.data(), file.size());
        f.commit(true);
    }
    std::string back;
    if (!nv_read_file(usb, &back) || back.substr(0, file.size()) != file) return 5;
    if (!write_identity(identity)) return 1;
    std::memcpy(tinyImage, identity, 124);
    return 0;
}

// ------------------------------------------------------------ power fail

void PowerDownSignaled(int) {
    PowerdownSignal = 1;
}

void GPIOInit() {
    host::trace("GPIOInit");
    Board_InitPower();
    // The status LEDs and the power-fail input need no set-up on the host.
    host::powerfail_install(PowerDownSignaled);
    host::shell("echo " + std::to_string(getpid()) + " > /proc/powerdown");
}

void PowerDown() {
    host::trace("PowerDown");
    StopWatchdog();
    StartWatchdog();
    AutoSaveRegisters();
    // The FRAM gets this pass's registers too, so that the copy read at the
    // next start is not older than the file just saved.
    int bank = count_function == 0 ? 1 : 0;
    FRAM_XChange_Data(0, bank);
    FRAM_BBRAM_XChange_Data(bbram, sizeof bbram, 0, bank);
    if (TrevantRuntime) {
        TrevantStop();
        host::shell("sync");
    }
    Persist_Or(kStAlive);
    host::wait_step();
    Board_PowerReset();
    host::power_off(); // the supply did not switch off: end as if it had
}

// The board's and the block buffers' resets are rows of their own in the
// table of resets (system/resets.cpp).
void AppFile_Reset() {
    g = AppState{};
    J1939_init_start = 0;
}
