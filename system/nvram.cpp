#include "system/nvram.h"

#include "base/crc16.h"
#include "base/le.h"
#include "base/trace.h"
#include "plc/sysreg.h"
#include "regs/plc_reg.h"
#include "system/appfile.h"
#include "system/backup.h"
#include "system/run_ctrl.h"

#include <algorithm>
#include <cstring>

uint8_t io_force[256];

namespace {

using namespace app;

// One checked block: its buffer, capacity, accepted length and mirrors.
struct Checked {
    uint8_t *block;
    uint32_t capacity;
    uint32_t max; // largest length accepted
    int crc_sr;   // 0: no mirror
    int len_sr;
    bool inverted; // mirrors hold the ones' complement
};

uint32_t cap(int part) {
    return kConfigParts[part].capacity;
}

// A block's length never exceeds what its buffer holds, whatever the table says.
Checked checked(uint8_t *block, uint32_t capacity, uint32_t max, int crc_sr, int len_sr,
                bool inverted = false) {
    return {block, capacity, std::min(max, capacity - 8), crc_sr, len_sr, inverted};
}

Checked c_io() {
    return checked(io_config_bl, cap(0), 520192, sr::kIoConfigCrc, sr::kIoConfigLength);
}
Checked c_ladder() {
    return checked(ladder_bl, kLadderCapacity, kLadderMax, sr::kLadderCrc, sr::kLadderLength);
}
Checked c_net() {
    return checked(net_config_bl, cap(1), 4096, sr::kNetConfigCrc, sr::kNetConfigLength);
}
Checked c_kesta() {
    return checked(kesta_pgm_bl, cap(3), 1048576, sr::kScreenPgmCrc, sr::kScreenPgmLength);
}
Checked c_string() {
    return checked(string_table_bl, cap(5), 520192, sr::kStringsCrc, sr::kStringsLength);
}
Checked c_text() {
    return checked(text_table_bl, cap(6), 520192, sr::kTextsCrc, sr::kTextsLength);
}
Checked c_font() {
    return checked(font_table_bl, cap(7), 4194304, sr::kFontsCrc, sr::kFontsLength);
}
Checked c_promgr() {
    return checked(promgr_table_bl, cap(8), 4194304, sr::kProMgrCrc, sr::kProMgrLength);
}
Checked c_sms() {
    return checked(sms_table_bl, cap(9), 131072, sr::kSmsCrc, sr::kSmsLength);
}
Checked c_datalog() {
    return checked(datalog_table, cap(10), 131072, sr::kDatalogCrc, sr::kDatalogLength, true);
}
Checked c_report() {
    return checked(report_table, cap(12), 262144, 0, 0);
}
Checked c_recipe() {
    return checked(recipe_tbl, cap(13), 262144, 0, 0);
}
Checked c_login() {
    return checked(login_tbl, cap(14), 65536, 0, 0);
}
Checked c_mqtt() {
    return checked(mqtt_tbl, cap(15), 8388608, 0, 0);
}

bool valid(const Checked &c) {
    uint32_t len = le32(c.block + 4);
    return len >= 1 && len <= c.max && crc16(c.block + 8, len) == le16(c.block);
}

// Sets the first min(size, 1024) bytes to 0xFF, as erasing a flash block did.
void block_erase(uint8_t *buffer, uint32_t size) {
    std::memset(buffer, 0xFF, std::min(size, 1024u));
}

// Writes data and header: "default" = CRC and length of the data, "empty" =
// both 0; the mirrors follow the header.
void set_block(const Checked &c, const uint8_t *data, uint32_t len, bool empty) {
    block_erase(c.block, c.capacity);
    nv_write(c.block + 8, data, len);
    uint16_t crc = empty ? 0 : crc16(c.block + 8, len);
    uint32_t hlen = empty ? 0 : len;
    put_le32(c.block, crc);
    put_le32(c.block + 4, hlen);
    if (!c.crc_sr) return;
    sr_put(c.crc_sr, c.inverted ? uint16_t(~crc) : crc);
    sr_put32(c.len_sr, c.inverted ? ~hlen : hlen);
}

constexpr uint8_t kEmptyTable[8] = {8, 0, 0, 0, 0, 0, 0, 0};

bool control_blocks_valid() {
    if (!valid(c_io()) || !valid(c_ladder()) || !valid(c_net())) return false;
    uint32_t flen = sr_get32(sr::kForceLength);
    if (flen < 1 || flen > sizeof io_force) return false;
    std::memcpy(io_force, plc_reg + reg::kF, flen);
    if (crc16(io_force, flen) != sr_get(sr::kForceCrc)) return false;
    uint32_t slen = sr_get32(sr::kSecurityLength);
    if (slen < 1 || slen > kSecurityMax) return false;
    if (crc16(plc_reg + kSecurityOffset, slen) != sr_get(sr::kSecurityCrc)) return false;
    nv_get_features();
    uint32_t f = NV_EditorFeatures;
    if ((f & 0x01) && !valid(c_promgr())) return false;
    if ((f & 0x02) && !valid(c_sms())) return false;
    if ((f & 0x04) && !valid(c_datalog())) return false;
    if ((f & 0x10) && !valid(c_report())) return false;
    if ((f & 0x20) && !valid(c_recipe())) return false;
    if ((f & 0x80) && !valid(c_login())) return false;
    if ((f & 0x90) && !valid(c_mqtt())) return false;
    return true;
}

void reset_control_blocks(bool empty) {
    fwload_set_def = 0;
    const uint8_t end_program[2] = {9, 0};
    if (empty) {
        sr_put(sr::kStatus, sr_get(sr::kStatus) | sr4::kUserProgram);
        SetPlcMode(sr::kModeIdle);
    }
    set_block(c_ladder(), end_program, 2, empty);
    uint8_t io[12];
    for (int i = 0; i < 3; ++i)
        put_le32(io + 4 * i, 255);
    set_block(c_io(), io, sizeof io, empty);
    uint8_t net[34] = {};
    net[5] = 0x40;
    set_block(c_net(), net, sizeof net, empty);

    sbit_put(sbit::kForceEnable, 0);
    std::memset(io_force, 0, 4);
    std::memset(plc_reg + reg::kF, 0, 4);
    sr_put(sr::kForceCrc, crc16(io_force, 4));
    sr_put32(sr::kForceLength, 4);

    std::memset(plc_reg + kSecurityOffset, 0, kSecurityMax);
    sr_put(sr::kSecurityCrc, empty ? 0 : crc16(plc_reg + kSecurityOffset, kSecurityMax));
    sr_put32(sr::kSecurityLength, empty ? 0 : kSecurityMax);

    for (const Checked &c :
         {c_promgr(), c_sms(), c_datalog(), c_report(), c_recipe(), c_login(), c_mqtt()})
        set_block(c, kEmptyTable, sizeof kEmptyTable, empty);
}

bool hmi_blocks_valid() {
    if (!valid(c_kesta()) || !valid(c_text()) || !valid(c_string())) return false;
    uint32_t total = le32(rom_map_tbl + 516);
    if (total < 1 || total > kBmpTableSize) return false;
    std::memcpy(ram_map_tbl, rom_map_tbl, kRomMapSize);
    for (uint32_t n = 0; n < 64; ++n) {
        uint32_t len = le32(ram_map_tbl + 8 * n + 4);
        if (len > kBmpSlotSize) return false;
        if (crc16(bmp_table + n * kBmpSlotSize, len) != le16(ram_map_tbl + 8 * n)) return false;
    }
    const uint8_t *hmi = kesta_pgm_bl + 8;
    if (le32(hmi + 20) != 0 && le16(hmi + 8) >= 24 && !valid(c_font())) return false;
    return true;
}

void reset_hmi_blocks(bool empty) {
    if (empty) sr_put(sr::kStatus, sr_get(sr::kStatus) | sr4::kGraphics);
    for (const Checked &c : {c_kesta(), c_text(), c_string()})
        set_block(c, kEmptyTable, sizeof kEmptyTable, empty);
    block_erase(bmp_table, kBmpTableSize);
    nv_write(bmp_table, kEmptyTable, sizeof kEmptyTable);
    uint16_t crc = empty ? 0 : crc16(bmp_table, 8);
    uint32_t len = empty ? 0 : 8;
    put_le32(ram_map_tbl + 512, crc);
    put_le32(ram_map_tbl + 516, len);
    sr_put(sr::kBitmapsCrc, crc);
    sr_put32(sr::kBitmapsLength, len);
    for (uint32_t n = 0; n < 64; ++n) {
        put_le32(ram_map_tbl + 8 * n, crc16(bmp_table + n * kBmpSlotSize, 8));
        put_le32(ram_map_tbl + 8 * n + 4, 8);
    }
    std::memcpy(rom_map_tbl, ram_map_tbl, kRomMapSize);
    set_block(c_font(), kEmptyTable, sizeof kEmptyTable, empty);
}

void repair_ranges() {
    struct Range {
        int sr;
        uint32_t lo, hi;
        uint16_t repair;
    };
    // A register that the system-register table limits keeps the limits a
    // register write accepts, read from the table; %SR31 and %SR137, which no
    // write reaches, carry their own.
    auto written = [](int n, uint16_t repair) {
        return Range{n, sr_row(n).min, sr_row(n).max, repair};
    };
    // clang-format off
    const Range kRanges[] = {
        written(sr::kRunMode, 0), written(sr::kContrast, 16), written(sr::kKeyToggle, 0),
        {sr::kNetConfig, 0, 127, 0}, {sr::kReserved137, 500, 0xFFFF, 500},
        written(sr::kKeysDisabled, 0), written(sr::kPopupMode, 0), written(sr::kBeepEnable, 1),
        written(sr::kSaverEnable, 0), written(sr::kSaverMinutes, 15), written(sr::kExtOptions, 0),
        written(sr::kSlicePeriod, 2)};
    // clang-format on
    for (const Range &r : kRanges) {
        uint16_t v = sr_get(r.sr);
        if (v < r.lo || v > r.hi) sr_put(r.sr, r.repair);
    }
}

void load_default_registers() {
    // clang-format off
    static constexpr uint16_t kDefaults[][2] = {
        {sr::kReserved169, 32767}, {sr::kReserved170, 32768}, {sr::kRunMode, sr::kModeIdle},
        {sr::kContrast, 16},       {sr::kKeyToggle, 0},       {sr::kNetConfig, 0},
        {sr::kReserved137, 500},   {sr::kKeysDisabled, 0},    {sr::kPopupMode, 0},
        {sr::kBeepEnable, 1},      {sr::kSaverEnable, 0},     {sr::kSaverMinutes, 15},
        {sr::kExtOptions, 0},      {sr::kSlicePeriod, 2},     {sr::kMenuOptions, 0},
        {sr::kMenuOption2, 0}};
    // clang-format on
    for (auto &d : kDefaults)
        sr_put(d[0], d[1]);
}

} // namespace

uint32_t nv_program_features() {
    uint32_t len = le32(ladder_bl + 4);
    const uint8_t *p = ladder_bl + 8;
    // The feature word stands 9 bytes from the end: a shorter program has none.
    if (len < 9 || len > kLadderMax || p[len - 1] >= 254) return 0;
    return le32(p + len - 9);
}

void nv_get_features() {
    NV_EditorFeatures = nv_program_features();
}

void nv_write(uint8_t *destination, const uint8_t *source, uint32_t length) {
    uint32_t even = length & ~1u;
    for (uint32_t i = 0; i < even; i += 2) {
        destination[i] = source[i];
        destination[i + 1] = source[i + 1];
    }
    if (length & 1) {
        destination[even] = source[even];
        destination[even + 1] = 0xFF;
    }
}

int nvram_init(int load_defaults, int clear_control, int clear_hmi) {
    host::trace("nvram_init");
    RestoreSRReg(load_defaults, clear_control, clear_hmi);
    if (load_defaults) EraseBackupData();
    int d = fwload_set_def ? 1 : load_defaults;

    uint16_t own = sr_get(sr::kNetIdCount);
    if (own < 1 || own > 253) sr_put(sr::kNetIdCount, own = 1);
    uint16_t id = sr_get(sr::kNetId);
    if (id == 0 || id > 254 - own) {
        sr_put(sr::kNetId, uint16_t(254 - own));
        sr_put(sr::kStatus, sr_get(sr::kStatus) | sr4::kNetIdRange);
    }
    if (sr_get(sr::kNetBaud) > sr_row(sr::kNetBaud).max) sr_put(sr::kNetBaud, 0);

    if (d)
        load_default_registers();
    else
        repair_ranges();
    sr_put(sr::kOnlineChange, 0);

    bool failed = !d && !clear_control && !control_blocks_valid();
    if (d || clear_control || failed) {
        if (sr_get(sr::kRunMode) != sr::kModeRun) reset_control_blocks(failed || clear_control);
    }

    if (d || clear_hmi)
        reset_hmi_blocks(clear_hmi != 0);
    else if (!hmi_blocks_valid())
        reset_hmi_blocks(true);

    sr_put(sr::kFwUpdate, sr_get(sr::kFwUpdate) & 0x3FFF);
    return d;
}

void Nvram_Reset() {
    std::memset(io_force, 0, sizeof io_force);
    NV_EditorFeatures = 0;
}
