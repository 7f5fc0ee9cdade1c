// The application's block buffers.
#include "plc/appblocks.h"

#include "base/le.h"

#include <algorithm>
#include <cstring>

using namespace app;

namespace {
uint8_t g_ladder_block[kLadderCapacity];
} // namespace

uint8_t io_config_bl[1040384], net_config_bl[4096], kesta_pgm_bl[1048576];
uint8_t rom_map_tbl[kRomMapSize], ram_map_tbl[kRomMapSize], bmp_table[kBmpTableSize];
uint8_t string_table_bl[520192], text_table_bl[520192], font_table_bl[4194304];
uint8_t promgr_table_bl[4194304], sms_table_bl[131072], datalog_table[131072];
uint8_t flash_parm_tbl[65536], report_table[262144], recipe_tbl[262144], login_tbl[65536];
uint8_t mqtt_tbl[8388608];
uint8_t *ladder_bl = g_ladder_block;
uint8_t *promgr_table = promgr_table_bl + 8;
uint8_t crcsize_tbl[kCrcSizeTblSize];
uint8_t tinyImage[124];
uint16_t fwload_set_def;
uint8_t *trevant_ptr, *trevant_code_ptr, *TrevantI0_VarLoc;
namespace {
// clang-format off
uint8_t *const kPartBuffers[16] = {
    io_config_bl, net_config_bl, nullptr, kesta_pgm_bl, rom_map_tbl, string_table_bl,
    text_table_bl, font_table_bl, promgr_table_bl, sms_table_bl, datalog_table, flash_parm_tbl,
    report_table, recipe_tbl, login_tbl, mqtt_tbl};
// clang-format on
static_assert(sizeof io_config_bl == kConfigParts[0].capacity);
static_assert(sizeof mqtt_tbl == kConfigParts[15].capacity);
static_assert(sizeof kesta_pgm_bl == kConfigParts[3].capacity);
static_assert(sizeof font_table_bl == kConfigParts[7].capacity);
static_assert(sizeof promgr_table_bl == kConfigParts[8].capacity);
} // namespace

uint8_t *AppPart_Buffer(int index) {
    return index >= 0 && index < 16 ? kPartBuffers[index] : nullptr;
}

uint32_t AppPart_DataLength(int index) {
    const uint8_t *b = AppPart_Buffer(index);
    if (!b) return 0;
    return std::min<uint32_t>(le32(b + 4), kConfigParts[index].capacity - 8);
}

void AppBlocks_Reset() {
    ladder_bl = g_ladder_block;
    promgr_table = promgr_table_bl + 8;
    // Whole buffers, not only their headers: a test reads what a block holds
    // past its header (a program segment, a page) and must not find what an
    // earlier one left there.
    for (int i = 0; i < 16; ++i)
        if (kPartBuffers[i]) std::memset(kPartBuffers[i], 0, kConfigParts[i].capacity);
    std::memset(g_ladder_block, 0, sizeof g_ladder_block);
    std::memset(rom_map_tbl, 0, sizeof rom_map_tbl);
    std::memset(ram_map_tbl, 0, sizeof ram_map_tbl);
    std::memset(bmp_table, 0, sizeof bmp_table);
    std::memset(crcsize_tbl, 0, sizeof crcsize_tbl);
    std::memset(tinyImage, 0, sizeof tinyImage);
    fwload_set_def = 0;
    trevant_ptr = trevant_code_ptr = TrevantI0_VarLoc = nullptr;
}
