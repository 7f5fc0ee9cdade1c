// The built-in pages of the system menu and their enumerations.
//
// A page is a byte record in the layout of the application's menu pages (u16
// page flags, u16 line count or class, 12-byte lines). Where an application
// page holds offsets of its texts and field descriptors, a built-in page
// holds handles: 1 + (source page << 8 | line), resolved by Menu_SysCaption
// and Menu_SysField into the tables below. The enumerations are tables of
// our own (marker 0xFFFF): their texts follow the entries, each entry's text
// word an offset from the table's start.
#include "regs/plc_reg.h"
#include "screens/menu_int.h"
#include "screens/screens.h"

#include <array>
#include <cstring>
#include <string_view>

namespace {

using Desc = std::array<uint8_t, menu::kFieldBytes>;

struct Line {
    uint16_t flags = 0, target = 0;
    const char *caption = nullptr;
    Desc field{};
    bool has_field = false;
};

constexpr void put16(uint8_t *p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
constexpr void put32(uint8_t *p, uint32_t v) {
    put16(p, v);
    put16(p + 2, v >> 16);
}

// A field descriptor: kind, value alignment (0 right, 2 left), width,
// decimals or format, minimum or enumeration number, maximum, column, size
// code and register reference.
constexpr Desc desc(int kind, int width, int dec, uint32_t min, uint32_t max, int bits,
                    uint32_t ref, int align = 0, int column = 0) {
    Desc d{};
    d[0] = uint8_t(kind);
    d[1] = uint8_t(align);
    d[2] = uint8_t(width);
    d[3] = uint8_t(dec);
    put32(d.data() + 4, min);
    put32(d.data() + 8, max);
    d[12] = uint8_t(column);
    d[13] = uint8_t(bits);
    put16(d.data() + 14, ref);
    return d;
}

constexpr uint32_t SR(int n) {
    return sr_ref(n);
}
constexpr uint32_t SRbit(int n, int b) {
    return sr_ref(n) + uint32_t(b);
}

constexpr int kNum = 1, kText = 6, kEnumK = 7, kTime = 9, kIP = 10;
constexpr int kTimeHMS = 0x02, kDateMDY = 0x20, kZone = 0x05;

// Lines.
constexpr Line text(const char *c) {
    return Line{0, 0, c, {}, false};
}
constexpr Line blank() {
    return Line{};
}
constexpr Line link(const char *c, int page) {
    return Line{menu::kLink, uint16_t(page), c, {}, false};
}
constexpr Line value(const char *c, const Desc &d, bool editable = false) {
    return Line{uint16_t(editable ? menu::kEditable : 0), 0, c, d, true};
}
constexpr Line num(const char *c, int width, int dec, uint32_t max, int bits, uint32_t ref,
                   bool editable = false, uint32_t min = 0) {
    return value(c, desc(kNum, width, dec, min, max, bits, ref), editable);
}
constexpr Line enumer(const char *c, int table, int width, int bits, uint32_t ref,
                      bool editable = false) {
    return value(c, desc(kEnumK, width, 0, uint32_t(table), 0, bits, ref), editable);
}
constexpr Line lit(const char *c, int width, uint32_t ref, int align = 0, int column = 0) {
    return value(c, desc(kText, width, 0, 0, 0, 0xC0 | width, ref, align, column));
}
constexpr Line ip(const char *c, uint32_t ref, bool editable) {
    return value(c, desc(kIP, 15, 0, 0, 0, 32, ref), editable);
}
constexpr Line when(const char *c, int format, int width, uint32_t ref, bool editable,
                    int bits = 48) {
    return value(c, desc(kTime, width, format, 0, 0, bits, ref), editable);
}

constexpr const char *kAdjust = "( Use \x08\x09 to adjust )";
constexpr const char *kBlankRow = nullptr;

struct Source {
    uint16_t flags; // 0xFFFF, 1 for a built-in screen, 0 for the variant 9A
    uint16_t count; // lines, or the class of a built-in screen
    const Line *lines;
};

// clang-format off
constexpr Line kPage0[] = {text("Not a Valid Menu Screen")};
constexpr Line kPage1[] = {
    link("Set Networks", 2), link("View Status", 5), link("View Diags", 6),
    link("View I/O Slots", 7), link("View Protocols", 14), link("Set Fkeys Mode", 8),
    link("Set Serial Ports", 9), link("Set Time/Date", 10), link("Set Screen", 12),
    link("Removable Media", 13), link("Fail-Safe System", 16), link("Clone Unit", 20),
    blank(), text("( Press ESC to exit )"),
};
constexpr Line kPage2[] = {
    link("CAN  Settings", 26), link("LAN  Settings", 27), link("WiFi Settings", 25),
};
constexpr Line kPage3[] = {blank()};
constexpr Line kPage4[] = {blank()};
constexpr Line kPage5[] = {
    lit("Model:", 10, SR(131)),
    enumer("Mode:", 1, 4, 16, SR(5), true),
    num("Scan Rate(mS):", 5, 1, 9999, 16, SR(6)),
    num("Lcl Net Use(%):", 5, 1, 1000, 16, SR(190)),
    num("All Net Use(%):", 5, 1, 1000, 16, SR(187)),
    num("Ladder Size:", 7, 0, 9999999, 32, SR(11)),
    num("Config Size:", 6, 0, 999999, 32, SR(17)),
    num("Graphics Size:", 7, 0, 9999999, 32, SR(113)),
    num("String Size:", 6, 0, 999999, 32, SR(115)),
    num("Bitmap Size:", 8, 0, 99999999, 32, SR(117)),
    num("Text Tbl Size:", 6, 0, 999999, 32, SR(119)),
    num("Font Tbl Size:", 8, 0, 99999999, 32, SR(121)),
    num("Protocol Size:", 6, 0, 999999, 32, SR(123)),
    num("SMS File Size:", 6, 0, 999999, 32, SR(143)),
    num("Firmware Rev:", 5, 2, 99999, 16, SR(38)),
    num("FPGA Rev:", 5, 1, 255, 16, SR(40)),
    enumer("FPGA Mode:", 17, 9, 16, 996),
    num("InitRD Rev:", 5, 2, 99999, 32, 1023),
    lit("OS Ver:", 10, 1022),
    enumer("Self-Test:", 2, 5, 16, SR(55)),
};
constexpr Line kPage6[] = {
    enumer("Logic Error:", 2, 5, 1, SRbit(55, 8)),
    enumer("User Program:", 2, 5, 1, SRbit(55, 2)),
    enumer("User Graphics:", 8, 4, 1, SRbit(55, 14)),
    num("W-Dog Trips:", 5, 0, 65535, 16, SR(52)),
    num("Net Errors:", 5, 0, 65535, 16, SR(51)),
    enumer("Network State:", 8, 4, 1, SRbit(55, 7)),
    enumer("Network ID:", 8, 4, 1, SRbit(55, 5)),
    enumer("Dup Net ID:", 8, 4, 1, SRbit(55, 4)),
    enumer("Clock Error:", 8, 4, 1, SRbit(55, 9)),
    enumer("I/O System:", 8, 4, 1, SRbit(55, 6)),
    enumer("Battery:", 8, 4, 1, SRbit(55, 12)),
};
constexpr Line kPage7[] = {
    lit(" Slot 1:", 12, SR(66), 2, 8), lit(" Slot 2:", 12, SR(78), 2, 8),
    lit(" Slot 3:", 12, SR(90), 2, 8),
};
constexpr Line kPage8[] = {
    enumer("Fkeys:", 5, 9, 16, SR(33), true), enumer("SYS-Fn enable:", 14, 3, 16, SR(173), true),
    blank(), text(kAdjust),
};
constexpr Line kPage9[] = {
    enumer("Dflt Pgm Port", 15, 7, 16, SR(163), true),
    enumer("PT2 RS485 Bias", 7, 3, 1, SRbit(164, 0), true), blank(), text(kAdjust),
};
constexpr Line kPage9A[] = {
    enumer("Dflt Pgm Port", 15, 7, 16, SR(163), true),
    enumer("PT2 RS485 Bias", 7, 3, 1, SRbit(164, 0), true), link("Set Ethernet (Enet)", 15),
    blank(), text(kAdjust),
};
constexpr Line kPage10[] = {
    text("Local Time"), when("Time:", kTimeHMS, 8, SR(44), true),
    when("Date:", kDateMDY, 8, SR(47), true), enumer("Day:", 9, 9, 16, SR(50)), blank(),
    text("UTC Time"), when("Time:", kTimeHMS, 8, 1007, false), when("Date:", kDateMDY, 8, 1008, false),
    blank(), when("Time Zone:", kZone, 6, 1005, true, 32),
    enumer("Daylight Saving:", 7, 3, 16, 1006, true), blank(), text(kAdjust),
    text("(    each field    )"), blank(),
};
constexpr Line kPage11[] = {
    enumer("Beeper enable:", 7, 3, 16, SR(183), true), blank(), text(kAdjust),
};
constexpr Line kPage12[] = {
    enumer("Saver enable:", 7, 3, 16, SR(185), true),
    num("Timeout(min):", 4, 0, 1200, 16, SR(186), true, 5),
    enumer("Popup Status:", 13, 7, 16, SR(180), true),
    num("Update Time(mS):", 2, 0, 50, 16, SR(167), true, 2), blank(),
    text(" Update time sets  "), text(" the maximum time  "), text(" used by graphics  "),
    text(" in the logic scan."),
};
constexpr Line kPage14[] = {
    text("PT1:"), blank(), blank(), blank(), text("PT2:"), blank(), blank(), blank(),
    text("COM:"), blank(), blank(), blank(),
};
constexpr Line kPage15[] = {
    ip("Addr:", SR(157), true), ip("Mask:", SR(159), true), ip("Gtwy:", SR(161), true), blank(),
    text("( Reset required to )"), text("(  enable changes   )"),
};
constexpr Line kPage16[] = {
    link("Backup/Restore Data", 17), link("Enable AutoRun", 18), link("Enable AutoLoad", 19),
    blank(), text("(ESC to exit)"),
};
constexpr Line kPage18[] = {
    enumer("Enable AutoRun", 7, 3, 1, SRbit(164, 4), true), blank(),
    text("(******CAUTION******)"), text("( Auto Enters RUN   )"), text("( after AutoLoad    )"),
    text("( or Battery Fail   )"),
};
constexpr Line kPage19[] = {
    enumer("Enable AutoLoad", 7, 3, 1, SRbit(164, 5), true), blank(),
    text("( AutoLoad from     )"), text("( Removable Media's )"), text("( AUTOLOAD.PGM file )"),
    text("( when triggered    )"),
};
constexpr Line kPage21[] = {
    num("CPU Temperature(C)", 3, 0, 150, 16, 1010), text("Charging State"),
    enumer(kBlankRow, 16, 24, 16, 1011), num("Charging Current(mA)", 4, 0, 1200, 16, 1012),
    num("Battery Voltage(mV)", 4, 0, 5000, 16, 1013),
};
constexpr Line kPage26[] = {
    enumer("CAN Ok?", 7, 3, 1, reg::kRefS + 1), num("CAN ID:", 3, 0, 253, 16, SR(29), true, 1),
    enumer("CAN Baud:", 3, 6, 16, SR(30), true), enumer("Enable CAN Power", 7, 3, 1, SRbit(152, 2), true),
};
constexpr Line kPage27[] = {
    text("LAN Settings"), blank(), enumer("DHCP:", 7, 3, 1, 992, true), text("MAC ID:"),
    lit(kBlankRow, 17, 1014), ip("IP:", 1015, true), ip("NetM:", 1016, true),
    ip("GatWy:", 1017, true), ip("DNS:", 994, true), blank(),
};
// clang-format on

template <size_t N> constexpr Source src(const Line (&l)[N], uint16_t flags = 0xFFFF) {
    return Source{flags, uint16_t(N), l};
}
constexpr Source screen_page(int cls) {
    return Source{1, uint16_t(cls), nullptr};
}
constexpr Source kNone{0, 0, nullptr};

// By page number; slot 28 is the variant 9A.
constexpr int kSources = 29, kVariant9A = 28;
constexpr Source kSource[kSources] = {
    src(kPage0),  src(kPage1),     src(kPage2),     src(kPage3),  src(kPage4),     src(kPage5),
    src(kPage6),  src(kPage7),     src(kPage8),     src(kPage9),  src(kPage10),    src(kPage11),
    src(kPage12), screen_page(20), src(kPage14),    src(kPage15), src(kPage16),    screen_page(25),
    src(kPage18), src(kPage19),    screen_page(26), src(kPage21), kNone,           kNone,
    kNone,        screen_page(35), src(kPage26),    src(kPage27), src(kPage9A, 0),
};

constexpr size_t kMaxRecord = 4 + 12 * menu::kMaxLines + 4;

constexpr std::array<uint8_t, kMaxRecord> record(int s) {
    std::array<uint8_t, kMaxRecord> b{};
    const Source &p = kSource[s];
    put16(b.data(), p.flags);
    put16(b.data() + 2, p.count);
    if (p.lines)
        for (int i = 0; i < p.count; ++i) {
            uint8_t *l = b.data() + 4 + 12 * i;
            const Line &ln = p.lines[i];
            const uint32_t handle = 1u + (uint32_t(s) << 8 | uint32_t(i));
            put16(l, ln.flags);
            put16(l + 2, ln.target);
            put32(l + 4, ln.caption ? handle : 0);
            put32(l + 8, ln.has_field ? handle : 0);
        }
    return b;
}

template <size_t... I> constexpr auto all_records(std::index_sequence<I...>) {
    return std::array<std::array<uint8_t, kMaxRecord>, sizeof...(I)>{record(int(I))...};
}
alignas(4) constexpr auto kRecords = all_records(std::make_index_sequence<kSources>{});

// Enumeration tables of our own: u16 0xFFFF, u16 count, count x {u32 value,
// u32 text offset from the table}, then the texts.
struct Entry {
    uint32_t value;
    const char *text;
};
constexpr size_t kEnumBytes = 512;
template <size_t N> constexpr std::array<uint8_t, kEnumBytes> enum_table(const Entry (&e)[N]) {
    std::array<uint8_t, kEnumBytes> b{};
    put16(b.data(), 0xFFFF);
    put16(b.data() + 2, uint16_t(N));
    size_t at = 4 + 8 * N;
    for (size_t i = 0; i < N; ++i) {
        put32(b.data() + 4 + 8 * i, e[i].value);
        put32(b.data() + 8 + 8 * i, uint32_t(at));
        for (const char *c = e[i].text; *c; ++c)
            b[at++] = uint8_t(*c);
        b[at++] = 0;
    }
    return b;
}

// clang-format off
constexpr Entry kE0[] = {{0, "Bad Entry"}};
constexpr Entry kE1[] = {{0, "Idle"}, {1, "DoIO"}, {2, " Run"}};
constexpr Entry kE2[] = {{0, "   Ok"}, {4095, "Fault"}};
constexpr Entry kE3[] = {{0, "125 KB"}, {1, "250 KB"}, {2, "500 KB"}, {3, "  1 MB"}, {4, " 50 KB"}};
constexpr Entry kE4[] = {{0, "Keypad (16)"}, {1, "Keypad (17)"}, {2, "Keypad (32)"}};
constexpr Entry kE5[] = {{0, "Momentary"}, {1, "   Toggle"}};
constexpr Entry kE6[] = {{0, "Update"}, {1, " Vibus"}};
constexpr Entry kE7[] = {{0, " No"}, {1, "Yes"}};
constexpr Entry kE8[] = {{0, "  Ok"}, {4095, "Warn"}};
constexpr Entry kE9[] = {{0, "?????????"}, {1, "   Sunday"}, {2, "   Monday"}, {3, "  Tuesday"},
                         {4, "Wednesday"}, {5, " Thursday"}, {6, "   Friday"}, {7, " Saturday"}};
constexpr Entry kE10[] = {{0, "125 KB"}, {1, "250 KB"}, {2, "500 KB"}};
constexpr Entry kE11[] = {{0, "Yes"}, {1, " No"}, {2, "Dup"}};
constexpr Entry kE12[] = {{0, " CPU"}, {1, "Main"}, {2, "   2"}, {3, "   3"}, {4, "   4"},
                          {5, "   5"}, {6, "   6"}, {7, "   7"}};
constexpr Entry kE13[] = {{0, "    Off"}, {1, "Warning"}, {2, "     On"}};
constexpr Entry kE14[] = {{0, "Yes"}, {1, " No"}};
constexpr Entry kE15[] = {{0, "PT1-232"}};
constexpr Entry kE15A[] = {{0, "PT1-232"}, {3, "   Enet"}};
constexpr Entry kE16[] = {
    {0, "            Battery Full"}, {1, "         Normal Charging"}, {2, "           REDC HOTCHRG1"},
    {3, "             BROKEN CHRG"}, {4, "Battery Temperature High"}, {5, "           Cold Charging"},
    {6, " Battery Temperature Low"}, {7, "     Battery Not Present"}, {8, "    Battery Not Charging"},
    {9, "                 CPU HOT"}, {10, "     Battery Voltage Low"}, {11, "                 Waiting"},
    {12, "     Battery Discharging"}};
constexpr Entry kE17[] = {{0, "No FPGA"}, {1, "2 counter"}, {2, "4 counter"}};
// clang-format on

struct Enums {
    alignas(4) std::array<uint8_t, kEnumBytes> t[menu::kSystemEnums + 1];
};
constexpr Enums kEnums{{enum_table(kE0), enum_table(kE1), enum_table(kE2), enum_table(kE3),
                        enum_table(kE4), enum_table(kE5), enum_table(kE6), enum_table(kE7),
                        enum_table(kE8), enum_table(kE9), enum_table(kE10), enum_table(kE11),
                        enum_table(kE12), enum_table(kE13), enum_table(kE14), enum_table(kE15),
                        enum_table(kE16), enum_table(kE17), enum_table(kE15A)}};

const uint8_t *page_at(int s) {
    return kSource[s].count || kSource[s].flags == 0 ? kRecords[size_t(s)].data() : nullptr;
}

const Line *line_of(uint32_t handle) {
    if (handle == 0) return nullptr;
    const uint32_t s = (handle - 1) >> 8, i = (handle - 1) & 0xFF;
    if (s >= uint32_t(kSources) || !kSource[s].lines || i >= kSource[s].count) return nullptr;
    return &kSource[s].lines[i];
}

} // namespace

// clang-format off
const uint8_t *const pBasicMenu[menu::kSystemPages] = {
    page_at(0),  page_at(1),  page_at(2),  page_at(3),  page_at(4),  page_at(5),  page_at(6),
    page_at(7),  page_at(8),  page_at(9),  page_at(10), page_at(11), page_at(12), page_at(13),
    page_at(14), page_at(15), page_at(16), page_at(17), page_at(18), page_at(19), page_at(20),
    page_at(21), nullptr,     nullptr,     nullptr,     page_at(25), page_at(26), page_at(27),
};
// clang-format on
const uint8_t *const sysMenu9A = page_at(kVariant9A);
const uint8_t *const sysEnum15 = kEnums.t[15].data();
const uint8_t *const sysEnum15Enet = kEnums.t[menu::kSystemEnums].data();
// clang-format off
const uint8_t *pSystemEnum[menu::kSystemEnums] = {
    kEnums.t[0].data(),  kEnums.t[1].data(),  kEnums.t[2].data(),  kEnums.t[3].data(),
    kEnums.t[4].data(),  kEnums.t[5].data(),  kEnums.t[6].data(),  kEnums.t[7].data(),
    kEnums.t[8].data(),  kEnums.t[9].data(),  kEnums.t[10].data(), kEnums.t[11].data(),
    kEnums.t[12].data(), kEnums.t[13].data(), kEnums.t[14].data(), kEnums.t[15].data(),
    kEnums.t[16].data(), kEnums.t[17].data(),
};
// clang-format on

void Menu_PagesReset() {
    for (int i = 0; i < menu::kSystemEnums; ++i)
        pSystemEnum[i] = kEnums.t[i].data();
}

const char *Menu_SysCaption(uint32_t handle) {
    const Line *l = line_of(handle);
    return l ? l->caption : nullptr;
}

const uint8_t *Menu_SysField(uint32_t handle) {
    const Line *l = line_of(handle);
    return l && l->has_field ? l->field.data() : nullptr;
}
