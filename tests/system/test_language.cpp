// The text language as the screen loop runs it: a three-language program
// whose language register switches every text of the shown page, with one
// reopen of the page per change.
#include "base/le.h"
#include "base/trace.h"
#include "gdi/field.h"
#include "objects/records.h"
#include "plc/appblocks.h"
#include "png_snapshot.h"
#include "regs/plc_reg.h"
#include "screen_program.h"
#include "screens/screens.h"
#include "system/pgm.h"
#include "video_fixture.h"

#include <algorithm>
#include <cstring>

namespace {

class LanguagePageTest : public VideoTest {
protected:
    static uint8_t *lang_ptr() { return plc_reg + reg::kR + 18; }
    // Three segments of 200 bytes (table length 604), each with the same
    // layout: the page's two texts at offsets 1 and 40.
    static void strings() {
        const char *texts[3][2] = {{"Pump running", "Level\nlow"},
                                   {"Pumpe laeuft", "Pegel\nniedrig"},
                                   {"Pompe en marche", "Niveau\nbas"}};
        std::memset(string_table_bl, 0, 1024);
        put_le32(string_table_bl + 4, 604 + 4);
        put_le32(string_table_bl + 8, 604);
        for (int l = 0; l < 3; ++l) {
            uint8_t *seg = string_table_bl + 16 + 200 * l;
            for (int t = 0; t < 2; ++t) {
                uint8_t *at = seg + (t ? 39 : 0);
                std::string s = texts[l][t];
                at[0] = uint8_t(1 + std::count(s.begin(), s.end(), '\n'));
                std::replace(s.begin(), s.end(), '\n', '\0');
                std::memcpy(at + 1, s.data(), s.size());
            }
        }
    }
    int opens_in(int passes) {
        host::trace_start();
        for (int i = 0; i < passes; ++i)
            PGM_TheLoop(0);
        auto calls = host::trace_calls();
        host::trace_stop();
        return int(std::count(calls.begin(), calls.end(), "OBJM_OpenPage"));
    }
};

TEST_F(LanguagePageTest, RegisterSwitchesEveryTextAndReopensThePageOnce) {
    start(false, "480x272");
    pDC = GDI_CreateDC(0, 0);
    ASSERT_TRUE(load_screen_program(
        R"({"language_register": 32912, "languages": 3, "pages": [{"screen": 1, "objects": [
            {"type": 1, "flags": 2049, "rect": [20, 20, 459, 79]},
            {"type": 1, "flags": 2053, "rect": [20, 100, 459, 199]}]}]})"));
    // The records' fields: colours, texts, fonts.
    uint8_t *page = kesta_pgm_bl + 8 + 56;
    uint8_t *rec = page + Page_FirstRecord(page);
    for (int i = 0; i < 2; ++i, rec += 32) {
        put_le16(rec + rec::text::kFill, i ? 0xFFE0 : 0xFFFF);
        put_le16(rec + rec::text::kColour, 0x001F);
        put_le32(rec + rec::text::kText, i ? 40 : 1);
        rec[rec::text::kAlign] = 0x24;
        rec[rec::text::kFont] = 3;
    }
    strings();
    put_le16(lang_ptr(), 0);
    PGM_Create(1);
    PGM_TheLoop(0);
    ASSERT_EQ(PGM_state, 5);
    opens_in(2);

    put_le16(lang_ptr(), 1);
    EXPECT_EQ(opens_in(3), 1) << "one reopen for the change";
    EXPECT_EQ(pPGM_Strings, string_table_bl + 216);
    VID_Update();
    EXPECT_EQ(screen_snapshot_diff("tests/system/snapshots/language_1.png"), "");
    // Beyond the last language, or the language in force: nothing happens.
    for (uint16_t v : {3, 1}) {
        put_le16(lang_ptr(), v);
        EXPECT_EQ(opens_in(3), 0) << v;
    }
    put_le16(lang_ptr(), 0);
    EXPECT_EQ(opens_in(3), 1);
    EXPECT_EQ(pPGM_Strings, string_table_bl + 16) << "the first segment";
    VID_Update();
    EXPECT_EQ(screen_snapshot_diff("tests/system/snapshots/language_0.png"), "");
}

} // namespace
