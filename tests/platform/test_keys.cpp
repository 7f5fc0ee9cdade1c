// Key and touch rings, system-key actions and the press-key emulation.
#include "panel_fixture.h"
#include "platform/keys.h"
#include "plc/ladder.h"
#include "regs/plc_reg.h"
#include "system/loop.h"
#include "system/touch.h"

#include <vector>

namespace {
std::vector<int> g_put; // keys handed to the function-key registers
int g_refuse = 0;       // refusals still to give
int record_put(uint8_t key) {
    if (g_refuse > 0) {
        --g_refuse;
        return 0;
    }
    g_put.push_back(key);
    return 1;
}
std::vector<TouchEntry> g_touch;
int record_touch(int code, int x, int y) {
    g_touch.push_back({uint16_t(code), uint16_t(x), uint16_t(y)});
    return 1;
}
void drain() {
    for (int i = 0; i < 64; ++i)
        KEY_Check(record_touch);
}
std::vector<int> touch_codes() {
    std::vector<int> v;
    for (auto &e : g_touch)
        v.push_back(e.code);
    return v;
}
} // namespace

class KeysTest : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        g_put.clear();
        g_touch.clear();
        g_refuse = 0;
        KEY_SetPut(record_put);
    }
};

TEST_F(KeysTest, KeyRingKeepsSevenAndNeverLosesARelease) {
    for (int k = 1; k <= 8; ++k)
        KEY_Press(k, 0, 0);
    EXPECT_EQ(KEY_Waiting(), 7); // the eighth key is dropped
    KEY_Press(kKeyRelease, 0, 0);
    EXPECT_EQ(KEY_Waiting(), 7);
    drain();
    EXPECT_EQ(g_put, (std::vector<int>{1, 2, 3, 4, 5, 6, 255}));
    // Key code 16 is a key message and travels in the touch ring.
    KEY_Press(kKeyMessage, 13, 0);
    EXPECT_EQ(KEY_Waiting(), 0);
    EXPECT_EQ(KEY_TouchWaiting(), 1);
}

TEST_F(KeysTest, TouchRingKeepsThirtyOneAndARelease) {
    for (int i = 0; i < 32; ++i)
        KEY_Press(kTouchDown, i, i);
    EXPECT_EQ(KEY_TouchWaiting(), 31);
    KEY_Press(kTouchUp, 100, 200); // overwrites the newest waiting event
    EXPECT_EQ(KEY_TouchWaiting(), 31);
    drain();
    ASSERT_EQ(g_touch.size(), 31u);
    EXPECT_EQ(g_touch[29].code, kTouchDown);
    EXPECT_EQ(g_touch[29].x, 29);
    EXPECT_EQ(g_touch[30].code, kTouchUp);
    EXPECT_EQ(g_touch[30].x, 100);
    EXPECT_EQ(g_touch[30].y, 200);
    EXPECT_EQ(KEY_Check(nullptr), 0);
}

TEST_F(KeysTest, FlushesEmptyTheRingsAndFlushDownsKeepsTheNewest) {
    struct Case {
        std::vector<int> in, out;
    };
    const Case cases[] = {
        {{512, 512, 256}, {256}}, {{512, 512, 512}, {512}},    {{512}, {512}},
        {{256, 512}, {256, 512}}, {{512, 16, 512}, {16, 512}},
    };
    for (const Case &c : cases) {
        KEY_FlushTouch();
        g_touch.clear();
        for (int code : c.in)
            KEY_Press(code, 1, 1);
        KEY_FlushDowns();
        drain();
        EXPECT_EQ(touch_codes(), c.out);
    }
    KEY_Press(3, 0, 0);
    KEY_Press(kTouchDown, 0, 0);
    KEY_Flush();
    KEY_FlushTouch();
    EXPECT_EQ(KEY_Waiting(), 0);
    EXPECT_EQ(KEY_TouchWaiting(), 0);
}

TEST_F(KeysTest, RefusedKeyIsDeliveredLaterWithoutASecondBeep) {
    g_refuse = 2;
    KEY_Press(5, 0, 0);
    KEY_Check(nullptr);
    EXPECT_EQ(beep_count, 3);
    EXPECT_EQ(KEY_state, 1);
    beep_count = 0;
    KEY_Check(nullptr);
    EXPECT_EQ(KEY_state, 1);
    KEY_Check(nullptr);
    EXPECT_EQ(KEY_state, 0);
    EXPECT_EQ(beep_count, 0);
    EXPECT_EQ(g_put, (std::vector<int>{5}));
    EXPECT_EQ(KEY_Waiting(), 0);
    // A release does not beep.
    KEY_Press(kKeyRelease, 0, 0);
    KEY_Check(nullptr);
    EXPECT_EQ(beep_count, 0);
}

TEST_F(KeysTest, SystemKeyActions) {
    struct Case {
        int param, sr173, autoload, sr3, beep;
    };
    const Case cases[] = {
        {0, 0, 0, 1, 3},  // system menu
        {0, 1, 0, 1, 3},  // the menu does not need the keypad
        {1, 0, 0, 21, 3}, // touch calibration
        {1, 1, 0, 0, 0},  // keypad disabled
        {0, 0, 1, 0, 0},  // automatic load running
        {7, 0, 0, 0, 0},  // other actions only reach the registers
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.param * 100 + c.sr173 * 10 + c.autoload);
        sr_put(3, 0);
        sr_put(173, uint16_t(c.sr173));
        Sys_AutoLoad = uint8_t(c.autoload);
        beep_count = 0;
        g_put.clear();
        KEY_Press(kKeySystem, c.param, 0);
        KEY_Check(nullptr);
        EXPECT_EQ(sr_get(3), c.sr3);
        EXPECT_EQ(beep_count, c.beep);
        EXPECT_EQ(g_put, (std::vector<int>{26}));
    }
}

TEST_F(KeysTest, HeldRepeatingKeyRepeatsAfter125CallsThenEvery50) {
    std::vector<int> queued_at;
    for (int call = 1; call <= 300; ++call) {
        EXPECT_EQ(Tr_PressKeyProcess(13, 1), 1);
        if (KEY_TouchWaiting()) {
            queued_at.push_back(call);
            drain();
        }
    }
    // 125 calls without a message between the first and the second, then 50.
    EXPECT_EQ(queued_at, (std::vector<int>{1, 127, 178, 229, 280}));
    for (auto &e : g_touch) {
        EXPECT_EQ(e.code, kKeyMessage);
        EXPECT_EQ(e.x, 13);
    }
    EXPECT_EQ(PressKeyON, 1);
    EXPECT_EQ(Tr_PressKeyProcess(13, 0), 1);
    EXPECT_EQ(PressKeyimageOFF, 0x40000u);
    EXPECT_EQ(PressKeyDelayCounter, 0);
    EXPECT_EQ(Tr_PressKeyProcess(13, 0), 0); // not held any more
    drain();
    EXPECT_EQ(g_put, (std::vector<int>{255}));
    // A new press starts with the long delay again.
    g_touch.clear();
    Tr_PressKeyProcess(13, 1);
    EXPECT_EQ(g_touch.size(), 0u);
    drain();
    EXPECT_EQ(g_touch.size(), 1u);
    EXPECT_EQ(PressKeyDelay, 125);
}

TEST_F(KeysTest, NonRepeatingAndForeignKeys) {
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(Tr_PressKeyProcess(3, 1), 1);
    EXPECT_EQ(PressKeyimageON, 0x8u);
    EXPECT_EQ(Tr_PressKeyProcess(8, 1), 0);
    EXPECT_EQ(Tr_PressKeyProcess(3, 0), 1);
    drain();
    EXPECT_EQ(g_put, (std::vector<int>{3, 3, 3, 255}));
}

TEST_F(KeysTest, LadderInstructionReadsItsOperands) {
    // key 3, a block marked 1023 of two words, then the register operand.
    const uint32_t ref = 1024 + 16 * 100;
    uint16_t words[] = {3, 1023, 2, 0xAAAA, 0xBBBB, uint16_t(ref), 0};
    uint8_t prog[sizeof words];
    for (size_t i = 0; i < std::size(words); ++i) {
        prog[2 * i] = uint8_t(words[i]);
        prog[2 * i + 1] = uint8_t(words[i] >> 8);
    }
    lad_prog = prog;
    lad_words = uint32_t(std::size(words));
    RegTokLen_16b = 1;
    struct Case {
        uint16_t value;
        uint8_t power, result;
        uint32_t image;
    };
    const Case cases[] = {
        {1, 1, 1, 0x8}, // pressed
        {0, 0, 0, 0x8}, // no power flow: nothing
        {0, 1, 1, 0},   // released
        {0, 1, 0, 0},   // released again: nothing to do
    };
    for (const Case &c : cases) {
        plc_reg[200] = uint8_t(c.value);
        uint32_t pc = 0;
        EXPECT_EQ(PressKeyProcess(&pc, c.power), c.result);
        EXPECT_EQ(pc, 6u);
        EXPECT_EQ(PressKeyimageON, c.image);
    }
    EXPECT_EQ(lad_fault, 0);
}

// A marked block longer than what is left of the program faults at its
// marker: the reported position stays inside the program.
TEST_F(KeysTest, KeyPressBlockPastTheEndFaultsInsideTheProgram) {
    const uint16_t words[] = {3, 1023, 0xFFF0, 0};
    uint8_t prog[2 * std::size(words)];
    for (size_t i = 0; i < std::size(words); ++i) {
        prog[2 * i] = uint8_t(words[i]);
        prog[2 * i + 1] = uint8_t(words[i] >> 8);
    }
    lad_prog = prog;
    lad_words = uint32_t(std::size(words));
    lad_fault = 0;
    uint32_t pc = 0;
    EXPECT_EQ(PressKeyProcess(&pc, 1), 0);
    EXPECT_EQ(lad_fault, 1);
    EXPECT_EQ(pc, 1u);
    EXPECT_EQ(PressKeyimageON, 0u);
}
