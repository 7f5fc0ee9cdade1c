// The Wi-Fi menu record and the choice tables of the Wi-Fi screen.
#include "net/wifi_menu.h"

#include <array>
#include <cstddef>
#include <cstdio>
#include <initializer_list>
#include <utility>

WifiMenuCntInfo wifiMenuCntInfo;

namespace {

template <size_t N> struct EnumTable {
    std::array<uint8_t, N> b{};
    size_t at = 0;
    constexpr void u16(uint16_t v) {
        b[at++] = uint8_t(v);
        b[at++] = uint8_t(v >> 8);
    }
    constexpr void u32(uint32_t v) {
        u16(uint16_t(v));
        u16(uint16_t(v >> 16));
    }
};

constexpr size_t length(const char *s) {
    size_t n = 0;
    while (s[n])
        ++n;
    return n;
}

template <size_t N>
constexpr std::array<uint8_t, N> table(std::initializer_list<std::pair<uint32_t, const char *>> e) {
    EnumTable<N> t;
    t.u16(0xFFFF);
    t.u16(uint16_t(e.size()));
    size_t text = 4 + 8 * e.size();
    for (const auto &[value, s] : e) {
        t.u32(value);
        t.u32(uint32_t(text));
        text += length(s) + 1;
    }
    for (const auto &[value, s] : e) {
        for (size_t i = 0; s[i]; ++i)
            t.b[t.at++] = uint8_t(s[i]);
        t.b[t.at++] = 0;
    }
    return t.b;
}

// Values in ascending order, as the field editor steps through them. The
// encryption values are stored as the Wi-Fi manager reads them: 2 a secured
// access point, 32 an open one.
constexpr auto kMode =
    table<4 + 3 * 8 + 8 + 13 + 7>({{0, "Disable"}, {1, "Access Point"}, {2, "Client"}});
constexpr auto kEncryption = table<4 + 2 * 8 + 5 + 5>({{2, "WPA2"}, {32, "Open"}});
constexpr auto kChannel =
    table<4 + 4 * 8 + 5 + 6 + 6 + 7>({{0, "Auto"}, {1, "CHA 1"}, {6, "CHA 6"}, {11, "CHA 11"}});
constexpr auto kAuto = table<4 + 2 * 8 + 3 + 4>({{0, "No"}, {1, "Yes"}});

template <size_t N> struct Image {
    alignas(4) uint8_t b[N];
    constexpr explicit Image(const std::array<uint8_t, N> &a) : b{} {
        for (size_t i = 0; i < N; ++i)
            b[i] = a[i];
    }
};
constexpr Image gMode(kMode);
constexpr Image gEncryption(kEncryption);
constexpr Image gChannel(kChannel);
constexpr Image gAuto(kAuto);

} // namespace

const uint8_t *const wifiMode_enum = gMode.b;
const uint8_t *const apModeEncryption_enum = gEncryption.b;
const uint8_t *const apModeChannel_enum = gChannel.b;
const uint8_t *const stAutoCon_enum = gAuto.b;

void getIpString(uint32_t address, char *text) {
    std::snprintf(text, 16, "%u.%u.%u.%u", unsigned(address >> 24),
                  unsigned((address >> 16) & 0xFF), unsigned((address >> 8) & 0xFF),
                  unsigned(address & 0xFF));
}

void WifiMenu_Reset() {
    wifiMenuCntInfo = WifiMenuCntInfo{};
    wifiMenuCntInfo.scan_count = 0xFFFF;
    wifiMenuCntInfo.set.security = 2;
}
