#include "system/backup.h"

#include "base/crc16.h"
#include "base/le.h"
#include "base/trace.h"
#include "host/root.h"
#include "iec/kernel/iec.h"
#include "platform/nvfile.h"
#include "platform/video.h"
#include "regs/plc_reg.h"
#include "system/appfile.h"
#include "system/loop.h"
#include "system/sys.h"
#include "system/touch.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

using namespace app;

// crcsize_tbl: {u32 check word, u32 length, image, marker byte, flag byte}.
constexpr uint32_t kImage = reg::kImageSize;
constexpr uint32_t kMarker = kRegFileSize, kFlag = kRegFileSize + 4;
constexpr uint8_t kMarkerPresent = 90;
// %SR164 bits: 2 the backup was taken over by a restore, 3 a backup is
// present, 6 a store was requested.
constexpr int kBitTaken = 2, kBitPresent = 3, kBitStoreRequest = 6;

const char *const kWarmFile = "/mnt/cfg/Tr_BKP.RET";
const char *const kRetainFile = "/mnt/cfg/tr.ret";

bool sr164_bit(int bit) {
    return (sr_get(sr::kMenuOptions) >> bit) & 1;
}

// Through the register write so that the bit's register actions run.
void sr164_set(int bit, int on) {
    uint8_t v = on ? 1 : 0;
    PlcReg_Set(sr_ref(sr::kMenuOptions) + uint32_t(bit), &v, 1);
}

// Erasing a flash block set its first 1024 bytes to 0xFF.
void erase_image() {
    std::memset(crcsize_tbl, 0xFF, 1024);
}

bool image_valid() {
    return le32(crcsize_tbl + 4) == kImage && crc16(crcsize_tbl + 8, kImage) == le16(crcsize_tbl);
}

// Copies the header CRC and length of a block into its mirror registers.
void mirror(const uint8_t *header, int crc_sr, int len_sr) {
    sr_put(crc_sr, le16(header));
    sr_put32(len_sr, le32(header + 4));
}

} // namespace

int tr_reg_store_backup() {
    // The retained variables live in the runtime's database, which this
    // build does not hold yet: there is nothing to save.
    return 1;
}

int tr_reg_load_backup() {
    // No runtime database to load into yet: only the working file is brought
    // up to date. It is replaced whole or not at all, and a missing backup
    // leaves it as it is.
    int in = ::open(host::path(kWarmFile).c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return 0;
    NvFile out;
    bool ok = out.open(kRetainFile);
    uint8_t chunk[1024];
    while (ok) {
        ssize_t n = ::read(in, chunk, sizeof chunk);
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        if (out.write(chunk, size_t(n)) != size_t(n)) {
            std::perror("write failed\n");
            ok = false;
        }
    }
    ::fsync(in);
    ::close(in);
    if (!ok) return 0;
    return out.commit(true) ? 1 : 0;
}

int StoreBBRAM() {
    host::trace("StoreBBRAM");
    // The request bit is cleared first so that the image does not carry it.
    if (sr164_bit(kBitStoreRequest)) sr164_set(kBitStoreRequest, 0);
    erase_image();
    TCH_BeepOvrd(0);
    std::memcpy(crcsize_tbl + 8, plc_reg, kImage);
    put_le32(crcsize_tbl, crc16(crcsize_tbl + 8, kImage));
    put_le32(crcsize_tbl + 4, kImage);
    sr164_set(kBitPresent, 1);
    sr164_set(kBitTaken, 0);
    crcsize_tbl[kMarker] = kMarkerPresent;
    if (TrevantRuntime) tr_reg_store_backup();
    return BkpRegisters();
}

void RestoreBBRAM(int keep) {
    if (!image_valid()) return;
    TCH_BeepOvrd(0);
    uint16_t mode = sr_get(sr::kRunMode);
    bool present = sr164_bit(kBitPresent);
    std::memcpy(plc_reg, crcsize_tbl + 8, kImage);
    if (TrevantRuntime) tr_reg_load_backup();
    sr_put(sr::kRunMode, mode & 0xFF);
    if (present) sr164_set(kBitPresent, 1);
    if (keep == 1) {
        sr164_set(kBitTaken, 1);
        crcsize_tbl[kFlag] = 0;
    }
    VDR_Close(pDC);
    if (keep == 1) BkpRegisters();
    AutoSaveRegisters();
    SYS_WarmReset();
}

int EraseBackupData() {
    host::trace("EraseBackupData");
    if (le32(crcsize_tbl + 4) != 0xFFFFFFFFu) {
        erase_image();
        TCH_BeepOvrd(0);
        sr164_set(kBitPresent, 0);
        sr164_set(kBitTaken, 0);
    }
    return ClrRegFile();
}

void RestoreSRReg(int, int, int) {
    host::trace("RestoreSRReg");
    LoadRegisters();
    // clang-format off
    const struct { const uint8_t *header; int crc_sr, len_sr; } blocks[] = {
        {ladder_bl,         sr::kLadderCrc,    sr::kLadderLength},
        {io_config_bl,      sr::kIoConfigCrc,  sr::kIoConfigLength},
        {net_config_bl,     sr::kNetConfigCrc, sr::kNetConfigLength},
        {kesta_pgm_bl,      sr::kScreenPgmCrc, sr::kScreenPgmLength},
        {string_table_bl,   sr::kStringsCrc,   sr::kStringsLength},
        {rom_map_tbl + 512, sr::kBitmapsCrc,   sr::kBitmapsLength},
        {text_table_bl,     sr::kTextsCrc,     sr::kTextsLength},
        {font_table_bl,     sr::kFontsCrc,     sr::kFontsLength},
        {promgr_table_bl,   sr::kProMgrCrc,    sr::kProMgrLength},
        {sms_table_bl,      sr::kSmsCrc,       sr::kSmsLength},
    };
    // clang-format on
    for (const auto &b : blocks)
        mirror(b.header, b.crc_sr, b.len_sr);
    TCH_BeepOvrd(0);
}
