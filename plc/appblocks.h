// The application's blocks in memory. Every block lives in a fixed buffer of
// its own that starts with the block header: u32 check word (CRC-16 of the
// data in the low half), u32 data length, then the data. The application
// files fill them (system/appfile.h); every layer from the controller up reads
// them.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace app {
enum class PartKind : uint8_t { Block, Security, Bitmaps };
struct PartInfo {
    const char *name; // also the key of the application builder's description
    PartKind kind;
    uint32_t capacity; // buffer size: a block's data may use capacity - 8 bytes
};
// clang-format off
constexpr PartInfo kConfigParts[16] = {
    {"io_config",     PartKind::Block,    1040384},
    {"net_config",    PartKind::Block,    4096},
    {"security",      PartKind::Security, 0},
    {"kesta_pgm",     PartKind::Block,    1048576},
    {"bitmaps",       PartKind::Bitmaps,  0},
    {"string_table",  PartKind::Block,    520192},
    {"text_table",    PartKind::Block,    520192},
    {"font_table",    PartKind::Block,    4194304},
    {"promgr_table",  PartKind::Block,    4194304},
    {"sms_table",     PartKind::Block,    131072},
    {"datalog_table", PartKind::Block,    131072},
    {"flash_parm_tbl",PartKind::Block,    65536},
    {"report_table",  PartKind::Block,    262144},
    {"recipe_tbl",    PartKind::Block,    262144},
    {"login_tbl",     PartKind::Block,    65536},
    {"mqtt_tbl",      PartKind::Block,    8388608},
};
// clang-format on
// The index of a part by name (-1 for none), for use at compile time.
constexpr int PartIndex(std::string_view name) {
    for (int i = 0; i < 16; ++i)
        if (name == kConfigParts[i].name) return i;
    return -1;
}
constexpr uint32_t kLadderCapacity = 4194304;
constexpr uint32_t kLadderMax = kLadderCapacity - 8; // program bytes a block holds
constexpr uint32_t kRomMapSize = 520;                // 65 entries {u32 CRC, u32 length}
constexpr uint32_t kBmpTableSize = 16777216;
constexpr uint32_t kBmpSlotSize = 262144;
// The security record lives in the register image's tail, in front of the
// image's own marker "WATCHBAT"; it never reaches the marker.
constexpr uint32_t kSecurityOffset = 109088, kSecurityMax = 80;
constexpr uint32_t kRegFileSize = 8 + 109176;
constexpr uint32_t kCrcSizeTblSize = 262144;
// Type word and tag of an IEC application inside the control program.
constexpr uint32_t kXtiType = 74;
constexpr uint32_t kVarLocWords = 6464;
// Status word bits.
constexpr uint32_t kStAutoregSave = 0x1, kStAutoregShort = 0x4, kStAutoregCreate = 0x8;
constexpr uint32_t kStRegsCleared = 0x10, kStLadderSave = 0x20, kStLadderLoad = 0x40;
constexpr uint32_t kStConfigSave = 0x80, kStConfigLoad = 0x100, kStAlive = 0x8000;
} // namespace app

// The block buffers.
extern uint8_t *ladder_bl;    // the control program block (header and data)
extern uint8_t *promgr_table; // data of the protocol-driver table block
extern uint8_t io_config_bl[], net_config_bl[], kesta_pgm_bl[], rom_map_tbl[], bmp_table[];
extern uint8_t string_table_bl[], text_table_bl[], font_table_bl[], promgr_table_bl[];
extern uint8_t sms_table_bl[], datalog_table[], flash_parm_tbl[], report_table[], recipe_tbl[];
extern uint8_t login_tbl[], mqtt_tbl[];
extern uint8_t ram_map_tbl[]; // working copy of the bitmap map
// The buffer of part `index` of kConfigParts (null for the security record).
uint8_t *AppPart_Buffer(int index);
// The data length part `index`'s header claims, never more than its buffer
// holds after the header (0 for the security record).
uint32_t AppPart_DataLength(int index);

extern uint8_t crcsize_tbl[];   // register backup image (bkpreg.dta)
extern uint8_t tinyImage[124];  // factory identity record
extern uint16_t fwload_set_def; // no register file was found: load default settings once

// The IEC application carried in the control program.
extern uint8_t *trevant_ptr, *trevant_code_ptr, *TrevantI0_VarLoc;

// Empty block headers and the buffers back in place (test fixtures).
void AppBlocks_Reset();
