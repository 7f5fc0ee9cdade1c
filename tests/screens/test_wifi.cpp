// The Wi-Fi settings screen, driven through its class row: rows by mode,
// choices and their change bits, the keypads' stores, the scan list and the
// two Escapes.
#include "base/le.h"
#include "host/clock.h"
#include "net/net.h"
#include "png_snapshot.h"
#include "screens/objm_int.h"
#include "video_fixture.h"

#include <cstring>
#include <string>

namespace {

constexpr uint8_t kUp = 30, kDown = 31, kEsc = 27, kEnter = 13;

class WifiTest : public VideoTest {
protected:
    DC *dc = nullptr;
    alignas(8) uint8_t def[32] = {};
    alignas(8) uint8_t pool[4096] = {};
    ObjInst *inst = reinterpret_cast<ObjInst *>(pool);
    WifiMenuCntInfo &m = wifiMenuCntInfo;

    void SetUp() override {
        VideoTest::SetUp();
        dc = start(false, "480x272");
        pDC = dc;
        put_le16(def, 35);
        put_le32(def + 2, 0x4005); // shown, outlined list, touch
        put_le16(def + 18, 0xFFDF);
        inst->dc = dc;
        inst->state = 0x8000; // what the screen must put back
        ASSERT_GE(WIFI_Class.Create(def, inst), int16_t(sizeof(ObjInst)));
        update();
    }
    // Opens the screen again, from the state it finds.
    void recreate() {
        inst->state = 0x8000;
        WIFI_Class.Create(def, inst);
        update();
    }
    uint16_t signal(int msg, uint32_t arg) { return WIFI_Class.Signal(def, inst, msg, arg); }
    uint16_t key(uint8_t code) { return signal(objmsg::kKey, code); }
    uint16_t update() { return signal(objmsg::kUpdate, 0); }
    void paint(int mode = 1) { WIFI_Class.Paint(def, inst, mode); }
    // The text the keypad edits, typed in and stored.
    uint16_t type(const char *text) {
        for (const char *p = text; *p; ++p)
            key(uint8_t(*p));
        return key(kEnter);
    }
    KeypadHost &host() { return *reinterpret_cast<KeypadHost *>(inst); }
    // Moves the selection down to row `row` from row 1.
    void down_to(int steps) {
        for (int i = 0; i < steps; ++i)
            key(kDown);
    }
};

TEST_F(WifiTest, RowsActOnlyInTheirMode) {
    // Disabled: Enter on "Network Name" (row 5) and "Join Network" (12) does nothing.
    down_to(1);
    EXPECT_EQ(key(kEnter), 0);
    down_to(5); // 6 7 8 9 12
    EXPECT_EQ(key(kEnter), 0);
    EXPECT_EQ(m.change, 0);
    paint();
    EXPECT_EQ(screen_snapshot_diff("tests/screens/snapshots/wifi_disabled.png"), "");

    // Access point: the name opens the text keypad and stores what it typed.
    m.mode = 1;
    m.dongle = 1;
    std::memcpy(m.mac, "02:50:4E:00:00:01", 18);
    update();
    recreate();
    down_to(1);
    EXPECT_EQ(key(kEnter), objmsg::kMorph | objmsg::kRepaint);
    EXPECT_EQ(type("plant7"), objmsg::kRefuse | objmsg::kRepaint) << "the keypad closes";
    EXPECT_STREQ(m.set.ap_ssid, "plant7");
    EXPECT_EQ(m.change, wifi::kChApName);

    // A cancelled entry keeps the stored text.
    EXPECT_EQ(key(kEnter), objmsg::kMorph | objmsg::kRepaint);
    key('x');
    EXPECT_EQ(key(kEsc), objmsg::kRefuse | objmsg::kRepaint);
    EXPECT_STREQ(m.set.ap_ssid, "plant7");

    // The address keypad.
    m.change = 0;
    down_to(3); // 6 7 8
    EXPECT_EQ(key(kEnter), objmsg::kMorph | objmsg::kRepaint);
    for (const char *p = "192.168.7.1"; *p; ++p)
        key(*p == '.' ? 15 : uint8_t(16 + (*p - '0')));
    key(kEnter);
    EXPECT_EQ(m.set.ap_address, 0xC0A80701u);
    EXPECT_EQ(m.change, wifi::kChApAddr);
    update();
    paint();
    EXPECT_EQ(screen_snapshot_diff("tests/screens/snapshots/wifi_access_point.png"), "");
}

TEST_F(WifiTest, ChoicesStoreTheirValueAndChangeBit) {
    struct Case {
        const char *what;
        uint8_t mode;
        int row_steps; // Downs from row 1
        int ups;       // Ups while editing
        uint32_t (*stored)(const WifiMenuCntInfo &);
        uint32_t value;
        uint16_t bit;
    };
    const Case cases[] = {
        {"mode client", 0, 0, 2, [](const WifiMenuCntInfo &w) { return uint32_t(w.mode); }, 2,
         wifi::kChMode},
        {"CHA 6", 1, 5, 2, [](const WifiMenuCntInfo &w) { return uint32_t(w.set.channel); }, 6,
         wifi::kChChannel},
        {"open", 1, 3, 1, [](const WifiMenuCntInfo &w) { return uint32_t(w.set.security); }, 32,
         wifi::kChSecurity},
        {"connect auto", 2, 8, 1, [](const WifiMenuCntInfo &w) { return uint32_t(w.set.st_flag); },
         1, wifi::kChAuto},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        WifiMenu_Reset();
        m.mode = c.mode;
        recreate();
        down_to(c.row_steps);
        EXPECT_EQ(key(kEnter), objmsg::kRepaint) << "edited in place";
        for (int i = 0; i < c.ups; ++i)
            EXPECT_EQ(key(kUp), objmsg::kRepaint);
        EXPECT_EQ(key(kEnter), objmsg::kRepaint);
        EXPECT_EQ(c.stored(m), c.value);
        EXPECT_EQ(m.change, c.bit);
    }
    // Cancelling leaves the stored choice.
    WifiMenu_Reset();
    recreate();
    key(kEnter);
    key(kUp);
    EXPECT_EQ(key(kEsc), objmsg::kRepaint);
    EXPECT_EQ(m.mode, 0);
    EXPECT_EQ(m.change, 0);
}

TEST_F(WifiTest, ScanListJoinsANetworkAndEscapesTwice) {
    m.mode = 2;
    recreate();
    down_to(6); // 5 6 7 8 9 12
    EXPECT_EQ(key(kEnter), objmsg::kRepaint);
    EXPECT_EQ(m.change, wifi::kChScan);
    EXPECT_EQ(key(kEnter), 0) << "nothing to join before results";
    paint();
    EXPECT_EQ(screen_snapshot_diff("tests/screens/snapshots/wifi_scanning.png"), "");

    // The manager's results: three networks (the count minus one).
    const char *names[3] = {"Line-A", "Office", "Yard"};
    const int levels[3] = {-40, -67, -80};
    for (int i = 0; i < 3; ++i) {
        std::snprintf(m.scan[i].name, sizeof m.scan[i].name, "%s", names[i]);
        m.scan[i].level = levels[i];
    }
    m.scan_count = 2;
    EXPECT_EQ(update() & objmsg::kRepaint, objmsg::kRepaint);
    paint();
    EXPECT_EQ(screen_snapshot_diff("tests/screens/snapshots/wifi_scan_list.png"), "");
    for (int i = 0; i < 5; ++i)
        key(kDown);
    EXPECT_EQ(key(kEnter), objmsg::kRepaint) << "the last entry, not past it";
    EXPECT_STREQ(m.set.st_ssid, "Yard");
    EXPECT_EQ(m.change, wifi::kChJoin) << "the scan request is cleared";

    // Esc in the list only closes it; a second Esc closes the screen.
    key(kEnter);
    EXPECT_EQ(key(kEsc), objmsg::kRepaint);
    EXPECT_EQ(m.change & wifi::kChScan, 0);
    EXPECT_EQ(key(kEsc), objmsg::kRefuse);
    EXPECT_EQ(inst->state, 0x8000) << "the saved state is put back";
}

// The record's list holds 16 networks: a larger count never reads past it.
TEST_F(WifiTest, ScanCountBeyondTheListIsBounded) {
    m.mode = 2;
    recreate();
    down_to(6);
    key(kEnter);
    for (int i = 0; i < wifi::kScanEntries; ++i)
        std::snprintf(m.scan[i].name, sizeof m.scan[i].name, "net%02d", i);
    m.scan_count = 40;
    update();
    for (int i = 0; i < 30; ++i)
        key(kDown);
    key(kEnter);
    EXPECT_STREQ(m.set.st_ssid, "net15");
}

// A held Down key moves at once, again after a second, then every 100 ms;
// letting go stops it.
TEST_F(WifiTest, HeldKeyRepeats) {
    auto at = [](int x, int y) { return uint32_t(x) << 16 | uint32_t(y); };
    signal(objmsg::kTouchDown, at(440, 110)); // Down: row 5
    host::clock_advance_ms(900);
    update();
    host::clock_advance_ms(150);
    update(); // 6
    host::clock_advance_ms(100);
    update(); // 7
    signal(objmsg::kTouchUp, at(440, 110));
    host::clock_advance_ms(1000);
    update();
    m.mode = 1;
    update();
    EXPECT_EQ(key(kEnter), objmsg::kRepaint) << "Encryption, a choice edited in place";
    EXPECT_EQ(host().fld.table, apModeEncryption_enum);
}

TEST_F(WifiTest, StatusRowsFollowTheRecord) {
    EXPECT_EQ(update(), 0) << "nothing changed";
    m.set.st_state = 2;
    m.set.st_address = 0x0A000005;
    m.set.level = -50;
    EXPECT_EQ(update(), objmsg::kRepaint);
    EXPECT_EQ(update(), 0);
}

} // namespace
