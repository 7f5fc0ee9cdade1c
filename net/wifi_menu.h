// The Wi-Fi menu record: the data the Wi-Fi system screen shows and changes,
// shared with the Wi-Fi manager. The screen marks each setting it changes in
// the change word; the manager applies the change, clears its bit and keeps
// the status fields current. It lives only in memory.
#pragma once
#include <cstdint>

namespace wifi {
// Change word bits.
constexpr uint16_t kChMode = 0x0001, kChApName = 0x0002, kChApPass = 0x0004, kChSecurity = 0x0008,
                   kChApAddr = 0x0010, kChChannel = 0x0020, kChJoin = 0x0040, kChStPass = 0x0080,
                   kChAuto = 0x0100, kChScan = 0x0200;
constexpr int kScanEntries = 16;
constexpr int kApText = 32, kStText = 36;
} // namespace wifi

// One network of a scan: its name first (40 bytes in all).
struct WifiScanEntry {
    char name[36];
    int32_t level;
};
static_assert(sizeof(WifiScanEntry) == 40);

// The settings of the Wi-Fi control block, in its order: the manager copies
// them whole into the menu record whenever they are applied or change.
struct WifiSettings {
    char ap_ssid[wifi::kApText];
    char ap_pass[wifi::kApText];
    uint8_t security;       // 2 secured, 32 open
    uint8_t channel;        // 0 automatic, 1, 6, 11
    uint8_t country_option; // bit 0
    char country[32];       // "US" by default
    uint32_t ap_address;    // IPv4, most significant byte first when shown
    char st_ssid[wifi::kStText];
    char st_pass[wifi::kStText];
    uint8_t st_option;
    uint8_t st_flag;  // connect automatically: 0 no, 1 yes
    uint8_t renew;    // address renewal pending
    uint8_t st_state; // 1 linked, 2 joining, 3 no link, 0 off
    int8_t level;     // signal level in dBm (negative), 0 none
    uint32_t st_address;
};

struct WifiMenuCntInfo {
    uint8_t mode;    // 0 off, 1 access point, 2 client
    uint8_t dongle;  // the Wi-Fi adapter is present
    uint16_t change; // wifi::kCh... bits
    char mac[18];    // "00:00:00:00:00:00"
    // The count of networks of the last scan minus one (0xFFFF: none yet).
    uint16_t scan_count;
    WifiScanEntry scan[wifi::kScanEntries];
    WifiSettings set;
};
extern WifiMenuCntInfo wifiMenuCntInfo;

// The choice tables of the Wi-Fi screen, as enumeration text tables of our
// own (marker 0xFFFF, count, {u32 value, u32 offset of the text from the
// table}, then the texts).
extern const uint8_t *const wifiMode_enum;
extern const uint8_t *const apModeEncryption_enum;
extern const uint8_t *const apModeChannel_enum;
extern const uint8_t *const stAutoCon_enum;

// Formats an IPv4 address, most significant byte first, as "%d.%d.%d.%d"
// (16 bytes at `text`).
void getIpString(uint32_t address, char *text);

void WifiMenu_Reset();
