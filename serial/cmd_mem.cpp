// The programming protocol's memory commands: download (opcode 4), upload
// (5) and verify (3) of one memory type, a row of the table file_info that
// names the block, where its CRC-16 and length are kept and mirrored, and
// how much of it is erased before writing.
//
// Data never lands past a block's capacity: a packet that would reach past
// it is refused and the download ends as aborted. A bitmap download writes
// one 256 KB slot (its offset a slot start) or the slot directory.
#include "base/crc16.h"
#include "base/le.h"
#include "platform/io.h"
#include "platform/tick.h"
#include "platform/unit.h"
#include "plc/appblocks.h"
#include "regs/plc_reg.h"
#include "regs/sr.h"
#include "serial/command.h"

#include <algorithm>
#include <cstring>

namespace {

using namespace app;

constexpr uint32_t kKB = 1024;
constexpr uint32_t kWholeDirectory = 0xFFFFFFFFu;
constexpr uint32_t kSlots = 64;
constexpr uint32_t kDirectoryBytes = 512;
constexpr int kMaxType = 33;

// Where a type's CRC and length are stored.
enum class Store : uint8_t { None, Header, Registers, SlotInfo, Bitmaps };

struct FileInfo {
    Store store;
    int part;         // kConfigParts index of the block, -1 for the others
    int crc_sr;       // mirror of the CRC (0 none); for Registers the store itself
    int len_sr;       // mirror of the length (32 bits)
    uint16_t erase_k; // KB erased before writing (0 none)
};
// clang-format off
constexpr FileInfo file_info[kMaxType + 1] = {
    {Store::Header,    -1, sr::kLadderCrc,    sr::kLadderLength,    256}, // 0 ladder_bl
    {Store::None,      -1, 0, 0, 0},
    {Store::Registers, -1, sr::kForceCrc,     sr::kForceLength,     0},   // 2 the %F area
    {Store::None,      -1, 0, 0, 0},
    {Store::Registers, -1, sr::kSecurityCrc,  sr::kSecurityLength,  0},   // 4 security record
    {Store::Header,     0, sr::kIoConfigCrc,  sr::kIoConfigLength,  128},
    {Store::Header,     1, sr::kNetConfigCrc, sr::kNetConfigLength, 0},
    {Store::Header,     3, sr::kScreenPgmCrc, sr::kScreenPgmLength, 256},
    {Store::Header,     5, sr::kStringsCrc,   sr::kStringsLength,   128},
    {Store::Bitmaps,   -1, sr::kBitmapsCrc,   sr::kBitmapsLength,   256},
    {Store::Header,     6, sr::kTextsCrc,     sr::kTextsLength,     128},
    {Store::Header,     7, sr::kFontsCrc,     sr::kFontsLength,     256},
    {Store::None,      -1, 0, 0, 0}, {Store::None, -1, 0, 0, 0}, {Store::None, -1, 0, 0, 0},
    {Store::None,      -1, 0, 0, 0}, {Store::None, -1, 0, 0, 0},
    {Store::SlotInfo,  -1, 0, 0, 0},                                      // 17 upload only
    {Store::None,      -1, 0, 0, 0},
    {Store::Header,    -1, 0, 0, 0},                                      // 19 tinyImage
    {Store::Header,     8, sr::kProMgrCrc,    sr::kProMgrLength,    64},
    {Store::Header,     9, sr::kSmsCrc,       sr::kSmsLength,       64},
    {Store::Header,    10, 0, 0, 0},                                      // 22 datalog_table
    {Store::None,      -1, 0, 0, 0},
    {Store::Header,    12, 0, 0, 64},
    {Store::Header,    13, 0, 0, 64},
    {Store::Header,    -1, 0, 0, 64},                                     // 26 ladder_olp
    {Store::None,      -1, 0, 0, 0}, {Store::None, -1, 0, 0, 0},
    {Store::Header,    14, 0, 0, 64},
    {Store::None,      -1, 0, 0, 0}, {Store::None, -1, 0, 0, 0}, {Store::None, -1, 0, 0, 0},
    {Store::Header,    15, 0, 0, 64},
};
// clang-format on

// The selected memory: where its data and stored CRC and length are.
struct Mem {
    int type = 0;
    uint8_t *block = nullptr; // the block with its 8-byte header (Header rows)
    uint8_t *data = nullptr;
    uint32_t cap = 0;         // bytes the data may take
    uint32_t offset = 0;      // bitmaps: the slot's offset, or kWholeDirectory
    bool header_only = false; // upload: the 8-byte header alone
    uint32_t pos = 0, count = 0;
    bool screens = false; // the download mode of the screens began
    uint8_t mask[8] = {}; // bitmap slots that stay after a directory download
    uint8_t scratch[8] = {};
};
Mem m;
uint32_t s_accepted; // upload: tick of the acceptance
uint8_t s_ss_copy[128];

uint8_t *block_of(int type) {
    const FileInfo &f = file_info[type];
    if (type == 0) return ladder_bl;
    if (type == 19) return tinyImage;
    if (type == 26) return ladder_olp;
    return f.part >= 0 ? AppPart_Buffer(f.part) : nullptr;
}
uint32_t block_capacity(int type) {
    if (type == 0) return kLadderCapacity;
    if (type == 19) return sizeof tinyImage;
    if (type == 26) return kLadderOlpSize;
    return kConfigParts[file_info[type].part].capacity;
}

// The type the command names; 0 selects the online-edit program while
// online-edit mode is on.
int command_type() {
    int type = CmdBuf.length < 2 ? 0 : cmd_arg(1);
    if (type == 0 && OLPMode) type = 26;
    return type;
}

uint32_t command_offset() {
    return CmdBuf.length >= 6 ? uint32_t(cmd_arg16(2)) | uint32_t(cmd_arg16(4)) << 16
                              : kWholeDirectory;
}

// Selects the memory of `type` for writing (download, verify); false when
// the type cannot be written or the bitmap offset is not a slot start.
bool select_for_write(int type) {
    m = Mem{};
    m.type = type;
    if (type > kMaxType || type == 3 || type == 17) return false;
    const FileInfo &f = file_info[type];
    switch (f.store) {
    case Store::None:
    case Store::SlotInfo:
        return false;
    case Store::Header:
        m.block = block_of(type);
        if (!m.block) return false;
        m.data = m.block + 8;
        m.cap = block_capacity(type) - 8;
        return true;
    case Store::Registers:
        m.data = plc_reg + (type == 2 ? reg::kF : kSecurityOffset);
        // The security record stops short of the image's marker.
        m.cap = type == 2 ? 256 : kSecurityMax;
        return true;
    case Store::Bitmaps:
        m.offset = command_offset();
        if (m.offset == kWholeDirectory) {
            m.data = ram_map_tbl;
            m.cap = kDirectoryBytes;
            return true;
        }
        if (m.offset % kBmpSlotSize != 0 || m.offset / kBmpSlotSize >= kSlots) return false;
        m.data = bmp_table + m.offset;
        m.cap = kBmpSlotSize;
        return true;
    }
    return false;
}

void put_header(uint8_t *to, uint32_t crc, uint32_t len) {
    put_le32(to, crc);
    put_le32(to + 4, len);
}

// The 16-bit copy of the flash writes: an odd length is padded with 0xFF,
// but never past the block.
void write_data(const uint8_t *src, uint32_t n) {
    std::memcpy(m.data + m.pos, src, n);
    if ((n & 1) && m.pos + n < m.cap) m.data[m.pos + n] = 0xFF;
}

void erase() {
    const FileInfo &f = file_info[m.type];
    if (f.store == Store::Bitmaps) {
        if (m.offset == kWholeDirectory)
            std::memset(rom_map_tbl, 0xFF, kRomMapSize);
        else
            std::memset(bmp_table + m.offset, 0xFF, kKB);
        return;
    }
    if (f.erase_k && m.block) std::memset(m.block, 0xFF, std::min<uint32_t>(f.erase_k * kKB, kKB));
}

void mirror(const FileInfo &f, uint16_t crc, uint32_t len) {
    if (!f.crc_sr) return;
    sr_put(f.crc_sr, crc);
    sr_put32(f.len_sr, len);
}

void finish_download() {
    const FileInfo &f = file_info[m.type];
    const CmdHooks &h = Cmd_Hooks();
    if (f.store == Store::Bitmaps) {
        if (m.offset == kWholeDirectory) {
            uint32_t total = 0;
            for (uint32_t n = 0; n < kSlots; ++n) {
                uint8_t *e = ram_map_tbl + 8 * n;
                if (m.mask[n / 8] & (1u << (n % 8))) {
                    total += le32(e + 4);
                    continue;
                }
                std::memset(bmp_table + n * kBmpSlotSize, 0, 8);
                put_header(e, crc16(bmp_table + n * kBmpSlotSize, 8), 8);
            }
            uint16_t crc = crc16(ram_map_tbl, kDirectoryBytes);
            put_header(ram_map_tbl + kDirectoryBytes, crc, total);
            mirror(f, crc, total);
            std::memcpy(rom_map_tbl, ram_map_tbl, kRomMapSize);
        } else {
            put_header(ram_map_tbl + 8 * (m.offset / kBmpSlotSize), crc16(m.data, m.count),
                       m.count);
        }
    } else {
        uint16_t crc = crc16(m.data, m.count);
        if (f.store == Store::Header) put_header(m.block, crc, m.count);
        mirror(f, crc, m.count);
    }
    switch (m.type) {
    case 0:
        sr_put(sr::kStatus, sr_get(sr::kStatus) & uint16_t(~0x0104));
        if (h.get_features) h.get_features();
        break;
    case 2:
        if (h.set_force) h.set_force(m.data, std::min<uint32_t>(m.count, 256));
        break;
    case 4:
        if (h.etn_update_security) h.etn_update_security();
        break;
    case 5:
        CmdNetIoConfigUpdated = 1;
        sr_put(sr::kNetConfigCrc, 0);
        sr_put32(sr::kNetConfigLength, 0);
        put_header(net_config_bl, 0, 0);
        break;
    case 6:
        CmdNetIoConfigUpdated = 1;
        NetIoConfig();
        break;
    case 19:
        if (h.save_mac_id) h.save_mac_id();
        break;
    default:
        break;
    }
    if (!(Vcomm_Lock & kLockComm)) CmdPanel(1, 0);
}

void refuse() {
    cmd_reply(kRefused);
    cmd_finish();
}

// A data packet too long to have been kept whole.
bool oversized() {
    return CmdBuf.length > kCmdDataKept;
}

} // namespace

bool cmd_downloading() {
    return Cmd_Downloading != 0;
}

void CmdPanel(int end, int type) {
    const CmdHooks &h = Cmd_Hooks();
    if (!end) {
        Cmd_Downloading = 1;
        if (h.pgm_destroy) h.pgm_destroy();
        if (h.web_stop) h.web_stop();
        if (h.dnld_msg) h.dnld_msg(type);
        return;
    }
    if (!Cmd_Downloading) return;
    Cmd_Downloading = 0;
    sr_put(sr::kForcedScreen, 0);
    sr_put(sr::kSystemScreen, 0);
    if (sr_get(sr::kRunMode) != sr::kModeRun && h.save_program) h.save_program();
    if (h.pgm_create) h.pgm_create(0);
}

void cmd_download_abort() {
    const CmdHooks &h = Cmd_Hooks();
    IoStop();
    if (h.dnld_halted) h.dnld_halted();
    if (h.nvram_init) h.nvram_init();
    CmdPanel(1, 0);
}

void download_memory() {
    const CmdHooks &h = Cmd_Hooks();
    switch (CmdMode) {
    case 0: {
        int type = command_type();
        if (!select_for_write(type)) {
            refuse();
            return;
        }
        if (type == 9 && m.offset == kWholeDirectory) {
            int n = std::min<int>(std::max<int>(CmdBuf.length - 6, 0), 36);
            for (int i = 0; i < n && i < int(sizeof m.mask); ++i)
                m.mask[i] = cmd_arg(6 + i);
        }
        CmdGrfxType = type >= 7 && type <= 11;
        m.screens = type != 2 && !OLPMode;
        if (m.screens) CmdPanel(0, type);
        // The web server gets the link's time to let go of the application.
        link_timer_start(cmd_time_out());
        CmdMode = 1;
        [[fallthrough]];
    }
    case 1:
        if (m.screens && h.web_stop && h.web_stop()) return;
        erase();
        putbyte(kAck);
        CmdBuf.time_out = byte_time_out();
        link_timer_start(CmdBuf.time_out);
        CmdMode = 2;
        return;
    default:
        break;
    }
    if (!get_packet()) return;
    if (CmdBuf.opcode != kDataOpcode || oversized() || uint64_t(m.count) + CmdBuf.length > m.cap) {
        putbyte(kRefused);
        cmd_download_abort();
        cmd_finish();
        return;
    }
    if (CmdBuf.length == 0) {
        finish_download();
        putbyte(kAck);
        cmd_finish();
        return;
    }
    if (m.type != 2 && !OLPMode && h.dnld_update) h.dnld_update();
    m.pos = m.count;
    write_data(CmdBuf.data, CmdBuf.length);
    m.count += CmdBuf.length;
    putbyte(kAck);
    link_timer_start(CmdBuf.time_out);
}

void verify_memory() {
    if (CmdMode == 0) {
        if (!select_for_write(command_type())) {
            refuse();
            return;
        }
        CmdPanel(1, 0);
        putbyte(kAck);
        link_timer_start(CmdBuf.time_out);
        CmdMode = 1;
        return;
    }
    if (!get_packet()) return;
    if (CmdBuf.length == 0) {
        putbyte(kAck);
        cmd_finish();
        return;
    }
    if (CmdBuf.opcode != kDataOpcode || oversized() || uint64_t(m.pos) + CmdBuf.length > m.cap ||
        std::memcmp(m.data + m.pos, CmdBuf.data, CmdBuf.length) != 0) {
        putbyte(kRefused);
        cmd_finish();
        return;
    }
    m.pos += CmdBuf.length;
    putbyte(kAck);
    link_timer_start(CmdBuf.time_out);
}

void upload_memory() {
    switch (CmdMode) {
    case 0: {
        m = Mem{};
        int type = command_type();
        m.type = type;
        // A bitmap command's byte 2 belongs to its offset.
        m.header_only = type != 9 && cmd_arg(2) != 0;
        const FileInfo *f = type <= kMaxType ? &file_info[type] : nullptr;
        const uint8_t *src = nullptr;
        uint32_t count = 0;
        if (!f || f->store == Store::None) {
            refuse();
            return;
        }
        switch (f->store) {
        case Store::Header: {
            uint8_t *b = block_of(type);
            if (!b) {
                refuse();
                return;
            }
            // Never more than the block holds, whatever its stored length says.
            src = m.header_only ? b : b + 8;
            count = m.header_only ? 8 : std::min(le32(b + 4), block_capacity(type) - 8);
            break;
        }
        case Store::Registers: {
            const uint8_t *d = plc_reg + (type == 2 ? reg::kF : kSecurityOffset);
            uint32_t len = std::min<uint32_t>(sr_get32(f->len_sr), type == 2 ? 256 : kSecurityMax);
            put_header(m.scratch, sr_get(f->crc_sr), sr_get32(f->len_sr));
            src = m.header_only ? m.scratch : d;
            count = m.header_only ? 8 : len;
            break;
        }
        case Store::SlotInfo: {
            uint32_t len = 0;
            const uint8_t *d = Cmd_Hooks().ss_info ? Cmd_Hooks().ss_info(&len) : nullptr;
            len = d ? std::min<uint32_t>(len, sizeof s_ss_copy) : 0;
            if (d) std::memcpy(s_ss_copy, d, len);
            put_header(m.scratch, crc16(s_ss_copy, len), len);
            src = m.header_only ? m.scratch : s_ss_copy;
            count = m.header_only ? 8 : len;
            break;
        }
        default: { // bitmaps
            uint32_t off = command_offset();
            if (off == kWholeDirectory) {
                src = m.header_only ? ram_map_tbl + kDirectoryBytes : ram_map_tbl;
                count = m.header_only ? 8 : kDirectoryBytes;
                break;
            }
            uint32_t n =
                CmdBuf.length >= 10 ? uint32_t(cmd_arg16(6)) | uint32_t(cmd_arg16(8)) << 16 : 0;
            if (m.header_only) {
                if (off % kBmpSlotSize || off / kBmpSlotSize >= kSlots) {
                    refuse();
                    return;
                }
                src = ram_map_tbl + 8 * (off / kBmpSlotSize);
                count = 8;
                break;
            }
            // The whole range must lie inside the bitmap table.
            if (uint64_t(off) + n > kBmpTableSize) {
                refuse();
                return;
            }
            src = bmp_table + off;
            count = n;
            break;
        }
        }
        stream_begin(src, count);
        putbyte(kAck);
        s_accepted = FPGA_GetFrt();
        CmdMode = 1;
        return;
    }
    case 1:
        // The tool gets a moment to turn the line around.
        if (FPGA_GetFrt() - s_accepted < (m.type == 3 ? 250u : 2500u)) return;
        CmdMode = 2;
        [[fallthrough]];
    default:
        if (stream_step()) cmd_finish();
    }
}

void CmdMem_Reset() {
    m = Mem{};
    s_accepted = 0;
    std::memset(s_ss_copy, 0, sizeof s_ss_copy);
}
