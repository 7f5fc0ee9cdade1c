// The application builder as a command and as a library: descriptions that
// build, and descriptions refused with the part named.
#include "base/crc16.h"
#include "base/le.h"
#include "panel_fixture.h"
#include "system/appfile.h"
#include "tools/lib/appbuild.h"

#include <sys/wait.h>

#include <cstdio>

namespace {
std::string bin(const std::string &name) {
    const char *dir = std::getenv("PANEL_BIN");
    return std::string(dir ? dir : "build/bin") + "/" + name;
}
} // namespace

using MkappTest = PanelTest;

TEST_F(MkappTest, CommandWritesTheFilesAndTheManifest) {
    write_file("/app/logo.bin", "LOGO");
    write_file("/app/app.json",
               R"({"io_config": {"hex": "01 02 03 04"}, "bitmaps": {"1": {"file": "logo.bin"}}})");
    std::string cmd = bin("mkapp") + " -o " + root_dir + "/app " + root_dir + "/app/app.json";
    ASSERT_EQ(std::system((cmd + " >/dev/null").c_str()), 0);
    std::string config = read_file("/app/config.pgm"), manifest = read_file("/app/manifest.json");
    EXPECT_EQ(le32(config.data() + 4), 4u) << "io_config first";
    EXPECT_EQ(le16(config.data()), crc16(reinterpret_cast<const uint8_t *>("\x01\x02\x03\x04"), 4));
    auto m = nlohmann::json::parse(manifest);
    appbuild::Placed p;
    ASSERT_TRUE(appbuild::find_part(m, "bitmaps", &p));
    EXPECT_EQ(p.length, app::kBmpSlotSize + 4);
    EXPECT_EQ(config.substr(p.offset + app::kRomMapSize + app::kBmpSlotSize, 4), "LOGO");
    EXPECT_EQ(m["config.pgm"].size(), 16u);
    EXPECT_EQ(read_file("/app/ladder.pgm").size(), 10u) << "the default program, one END word";
    EXPECT_NE(std::system((bin("mkapp") + " " + root_dir + "/nothing.json 2>/dev/null").c_str()),
              0);
}

TEST_F(MkappTest, WrongDescriptionsAreRefusedWithThePartNamed) {
    struct Case {
        const char *json, *message;
    };
    const Case cases[] = {
        {"[1]", "expected an object"},
        {"{", "not valid JSON"},
        {R"({"colour": "default"})", "colour: unknown part"},
        {R"({"net_config": {"zeros": 4089}})",
         "net_config: 4089 bytes do not fit its 4088-byte block"},
        {R"({"security": {"zeros": 81}})", "security: at most 80 bytes"},
        {R"({"io_config": {"hex": "0g"}})", "io_config: not a hex digit"},
        {R"({"io_config": {"bytes": [256]}})", "io_config: number 256 too large"},
        {R"({"io_config": "plenty"})", "io_config: unknown contents"},
        {R"({"bitmaps": {"64": {"text": "x"}}})", "bitmaps.64: slot must be 0 to 63"},
        {R"({"sms_table": {"file": "/no/such/file"}})", "sms_table: cannot read"},
        {R"({"sms_table": {"file": "/tmp"}})", "sms_table: cannot read /tmp: not a regular file"},
        {R"({"sms_table": {"file": "/dev/zero"}})", "not a regular file"},
        {R"({"ladder": {"ladasm": "/tmp"}})", "ladder: cannot read /tmp: not a regular file"},
        {R"({"datalog_table": {"datalog": {"groups": [{"columns": []}]}}})",
         "datalog_table: datalog.groups[0]: a group needs \"folder\""},
        {R"({"datalog_table": {"datalog": {"groups": [{"folder": "A", "unit": "hours"}]}}})",
         "datalog.groups[0].unit: \"seconds\" or \"minutes\", not \"hours\""},
        {R"({"datalog_table": {"datalog": {"groups": [{"folder": "A",
             "columns": [{"register": "%R1", "type": "word"}]}]}}})",
         "datalog.groups[0].columns[0].type: unknown type \"word\" (types: bit, binary"},
        {R"({"datalog_table": {"datalog": {"enable": "%Z1"}}})", "datalog.enable: "},
        {R"({"datalog_table": {"datalog": {"period": 1}}})",
         "datalog: unknown key \"period\" (keys: enable, status, groups)"},
    };
    for (const Case &c : cases) {
        appbuild::Built b;
        std::string error;
        EXPECT_FALSE(appbuild::build_text(c.json, "", &b, &error)) << c.json;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.json << ": " << error;
    }
}

TEST_F(MkappTest, MistakesArePlacedAndNamedAndOddScreensWarnedOf) {
    struct Case {
        const char *json, *message;
    };
    // clang-format off
    const Case refused[] = {
        {"{\n  \"io_config\": \"default\",\n  \"ladder\" \"x\"\n}", "not valid JSON: line 3, column 14"},
        {"{\"a\": 1,", "not valid JSON: line 1, column 9"},
        {"{\"a\": 1E641}", "not valid JSON: [json.exception.out_of_range.406] number overflow"},
        {R"({"colour": "default"})", "colour: unknown part (parts: ladder, io_config, net_config"},
        {R"({"kesta_pgm": {"screens": {"pages": [{"screen": 1, "background": "0xG"}]}}})",
         "kesta_pgm.pages[0].background: a colour is a number or 0x hex up to 0xFFFF"},
        {R"({"kesta_pgm": {"screens": {"pages": [{"screen": 1, "background": "0x10000"}]}}})",
         "a colour is a number or 0x hex"},
        {R"({"ladder": {"ladasm": {"text": "LD %M1\nOUTX %Q1\n"}}})", "ladder: ladasm text: line 2"},
    };
    // clang-format on
    for (const Case &c : refused) {
        appbuild::Built b;
        std::string error;
        EXPECT_FALSE(appbuild::build_text(c.json, "", &b, &error)) << c.json;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.json << ": " << error;
    }

    struct Warned {
        const char *screens;
        std::vector<std::string> warnings;
    };
    // clang-format off
    const Warned warned[] = {
        {R"({"pages": [{"screen": 1, "background": "0xF800"}]})", {}},
        {R"({"start_screen": 0, "pages": []})", {}},
        {R"({"start_screen": 2, "pages": [{"screen": 1}]})",
         {"kesta_pgm: start screen 2 has no page"}},
        {R"({"pages": [{"screen": 1}, {"screen": 1}]})",
         {"kesta_pgm.pages[1]: screen 1 is defined twice (first in pages[0])"}},
        {R"({"pages": [{"screen": 1, "objects": [{"type": 4000}]}]})",
         {"kesta_pgm.pages[0].objects[0]: unknown object type 4000 (written as a 32-byte record)"}},
    };
    // clang-format on
    for (const Warned &w : warned) {
        appbuild::Built b;
        std::string error;
        std::string json = std::string(R"({"kesta_pgm": {"screens": )") + w.screens + "}}";
        ASSERT_TRUE(appbuild::build_text(json, "", &b, &error)) << json << ": " << error;
        EXPECT_EQ(b.warnings, w.warnings) << json;
        EXPECT_FALSE(b.config.empty()) << "a warning still builds the files";
    }
    appbuild::Built red;
    std::string error;
    ASSERT_TRUE(appbuild::build_text(
        R"({"kesta_pgm": {"screens": {"pages": [{"screen": 1, "background": "0xF800"}]}}})", "",
        &red, &error));
    appbuild::Placed p;
    ASSERT_TRUE(appbuild::find_part(red.manifest, "kesta_pgm", &p));
    EXPECT_EQ(le16(reinterpret_cast<const uint8_t *>(red.config.data()) + p.offset + 8 + 56 + 6),
              0xF800)
        << "the page's background";
}

namespace {
// The data of a built part.
std::vector<uint8_t> part(const appbuild::Built &b, const std::string &name) {
    appbuild::Placed p;
    if (!appbuild::find_part(b.manifest, name, &p)) return {};
    auto at = b.config.begin() + long(p.offset) + 8;
    return std::vector<uint8_t>(at, at + long(p.length));
}
} // namespace

// Screen objects by class name, with access level, static flag, state
// register, alternative colours, gradient extension and own length: the
// record as the classes read it.
TEST_F(MkappTest, ScreenObjectsAreWrittenAsTheirClassesReadThem) {
    struct Case {
        const char *object;
        uint16_t type;
        uint32_t flags;
        size_t length; // the record's bytes
        std::vector<std::pair<size_t, uint16_t>> words;
    };
    const Case cases[] = {
        {R"({"type": "TEXT", "level": 3, "static": true, "rect": [1, 2, 300, -4]})",
         0x3001,
         0x2001,
         32,
         {{6, 0}, {8, 0}, {10, 1}, {12, 2}, {14, 300}, {16, 0xFFFC}}},
        {R"({"type": "NULL40", "flags": 0, "length": 48})", 22, 0x1000, 48, {{30, 48}}},
        {R"({"type": "PAGE", "length": 34})", 5, 0x1001, 34, {{30, 34}}},
        {R"({"type": "PAGE", "state": {"register": "%R1", "mask": 241},
            "colors": [1, 2, 3, "0xF800"], "fields": {"caption_color": "0x07E0", "font": 3},
            "gradient": {"start": 31, "end": 63488, "mode": 2, "p1": 5, "p2": 6}})",
         0x8005,
         0x1001,
         60,
         {{6, 241},
          {8, 2},
          {18, 48},
          {20, 0x07E0},
          {26, 0x0300},
          {30, 60},
          {40, 1},
          {46, 0xF800},
          {48, 2},
          {50, 0},
          {52, 5},
          {54, 6},
          {56, 63488},
          {58, 31}}},
        {R"({"type": 5, "fields": {"face": 12345, "trigger": 900, "target_size": 16}})",
         5,
         1,
         40,
         {{18, 12345}, {32, 900}, {38, 16}}},
        // A trend graph: its pens, then the extension record, after byte 68.
        {R"({"type": "GRAPH", "fields": {"low": -5, "run": "%R1", "samples": 300},
            "pens": [{"colour": 31, "register": "%R2"}, {"style": 3, "register": 7}],
            "extension": {"flags": 9, "limit_font": 2}})",
         10,
         0x1001,
         100,
         {{28, 2},
          {30, 100},
          {46, 300},
          {48, 3},
          {50, 0x1000},
          {52, 0xFFFB},
          {54, 0xFFFF},
          {68, 31},
          {70, 1},
          {72, 2},
          {74, 16},
          {76, 0},
          {78, 3},
          {80, 7},
          {82, 16},
          {84, 0},
          {88, 9},
          {92, 0x0000},
          {94, 2}}},
    };
    for (const Case &c : cases) {
        appbuild::Built b;
        std::string error;
        std::string json = std::string(R"({"kesta_pgm": {"screens": {"pages": [{"screen": 1,
            "objects": [)") +
                           c.object + "]}]}}}";
        ASSERT_TRUE(appbuild::build_text(json, "", &b, &error)) << c.object << ": " << error;
        std::vector<uint8_t> pgm = part(b, "kesta_pgm");
        ASSERT_GE(pgm.size(), 56 + 24 + c.length) << c.object;
        const uint8_t *def = pgm.data() + 56 + 24;
        EXPECT_EQ(le16(def), c.type) << c.object;
        EXPECT_EQ(le32(def + 2), c.flags) << c.object;
        for (auto [at, v] : c.words)
            EXPECT_EQ(le16(def + at), v) << c.object << " at " << at;
        // Nothing but the page's link table follows the record.
        const uint32_t links = le32(pgm.data() + 56 + 10);
        EXPECT_EQ(links ? links : pgm.size(), 56 + 24 + c.length) << c.object;
    }
}

TEST_F(MkappTest, ScreenObjectMistakesAreRefused) {
    struct Case {
        const char *screens, *message;
    };
    // clang-format off
    const Case cases[] = {
        {R"({"pages": [{"screen": 1, "objects": [{"type": "PAGE", "static": true}]}]})",
         "objects[0]: a screen button (type 5) cannot be static"},
        {R"({"pages": [{"screen": 1, "objects": [{"type": "BUTTON"}]}]})",
         "objects[0].type: unknown class \"BUTTON\" (classes: SHAPE, TEXT, EDIT"},
        {R"({"pages": [{"screen": 1, "objects": [{"type": "PAGE", "fields": {"colour": 1}}]}]})",
         "objects[0].fields.colour: unknown field (fields: face, caption_color, caption, align"},
        {R"({"pages": [{"screen": 1, "objects": [{"type": 23, "fields": {"face": 1}}]}]})",
         "objects[0].fields.face: type 23 has no named fields"},
        {R"({"pages": [{"screen": 1, "objects": [{"type": 5, "colors": [1, 2, 3, 4]}]}]})",
         "objects[0]: alternative colours are chosen by state mask bits 4-7"},
        {R"({"pages": [{"screen": 1, "objects": [{"type": 5, "state": {"register": 5000, "mask": 16}}]}]})",
         "objects[0]: state mask bits 4-7 choose alternative colours: give \"colors\""},
        {R"({"pages": [{"screen": 1, "objects": [{"type": 3, "gradient": {"start": 1, "end": 2}}]}]})",
         "objects[0]: type 3 has no fill field for a gradient"},
        {R"({"pages": [{"screen": 1, "objects": [{"type": 5, "fields": {"face": 1}, "gradient": {"start": 1, "end": 2}}]}]})",
         "objects[0].fields.face: holds the gradient extension's offset"},
        {R"({"pages": [{"screen": 1, "objects": [{"type": 5, "gradient": {"start": 1, "end": 2}, "length": 40}]}]})",
         "objects[0]: a length of 40 does not hold the record's 52 bytes"},
        {R"({"pages": [{"screen": 1, "objects": [{"type": 5, "length": 34, "fields": {"target": 2}}]}]})",
         "objects[0].fields.target: lies past the record's 34 bytes"},
        {R"({"pages": [{"screen": 1, "objects": [{"type": 5, "level": 8}]}]})",
         "objects[0].level: number 8 too large"},
        {R"({"pages": [{"screen": 1, "objects": [{"type": 5, "fields": {"trigger": "%Z1"}}]}]})",
         "objects[0].fields.trigger: unknown register name"},
        {R"({"pages": [{"screen": 1, "objects": [{"type": 5, "fields": {"caption": "\u03a9"}}]}]})",
         "objects[0].fields.caption: a character above 0xFF needs Unicode texts"},
        {R"({"strings": {"languages": 2}, "pages": [{"screen": 1, "objects": [{"type": 5, "fields": {"caption": ["a"]}}]}]})",
         "a text is a string or a list of 2 strings, one per language"},
        {R"({"pages": [{"screen": 1, "objects": [{"type": "TEXT", "pens": []}]}]})",
         "objects[0]: \"pens\" and \"extension\" belong to a trend graph (GRAPH)"},
        {R"({"pages": [{"screen": 1, "objects": [{"type": "GRAPH", "pens": [{}, {}, {}, {}, {}]}]}]})",
         "objects[0].pens: takes a list of up to 4 pens"},
        {R"({"pages": [{"screen": 1, "objects": [{"type": "GRAPH", "fields": {"high": 2147483648}}]}]})",
         "objects[0].fields.high: expected a whole number from -2147483648 to 2147483647"},
        {R"({"strings": {"languages": 2}, "languages": 3})",
         "\"languages\" differs from the strings' languages"},
    };
    // clang-format on
    for (const Case &c : cases) {
        appbuild::Built b;
        std::string error;
        std::string json = std::string(R"({"kesta_pgm": {"screens": )") + c.screens + "}}";
        EXPECT_FALSE(appbuild::build_text(json, "", &b, &error)) << c.screens;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.screens << ": " << error;
    }
    // Texts come from the screens or from the part, not both.
    appbuild::Built b;
    std::string error;
    EXPECT_FALSE(appbuild::build_text(
        R"({"kesta_pgm": {"screens": {"strings": {"texts": ["a"]}}}, "string_table": "default"})",
        "", &b, &error));
    EXPECT_NE(error.find("string_table: given twice"), std::string::npos) << error;
    // A page links at most 1022 registers.
    std::string objects;
    for (int i = 1; i <= 1023; ++i)
        objects += std::string(i > 1 ? ", " : "") + R"({"type": 0, "state": {"register": "%R)" +
                   std::to_string(i) + "\"}}";
    EXPECT_FALSE(appbuild::build_text(
        R"({"kesta_pgm": {"screens": {"pages": [{"screen": 1, "objects": [)" + objects + "]}]}}}",
        "", &b, &error));
    EXPECT_NE(error.find("objects[1022].state.register: a page links at most 1022 registers"),
              std::string::npos)
        << error;
}

// Unicode texts: 16-bit line counts and characters, lines ended by 0.
TEST_F(MkappTest, UnicodeTextsAreSixteenBitsWide) {
    appbuild::Built b;
    std::string error;
    ASSERT_TRUE(appbuild::build_text(
        R"({"kesta_pgm": {"screens": {"flags": 256, "strings": {"texts": ["\u03a9\nA"]}}}})", "",
        &b, &error))
        << error;
    const std::vector<uint8_t> t = part(b, "string_table");
    const std::vector<uint8_t> expected = {14, 0, 0,    0, 0, 0, 0,   0, // head
                                           2,  0, 0xA9, 3, 0, 0, 'A', 0, 0, 0};
    EXPECT_EQ(t, expected);
}

// Enumerations: tables of values and string offsets in the text tables,
// their texts in the string table; EDIT fields name them.
TEST_F(MkappTest, EnumerationsGoIntoTheTextTables) {
    appbuild::Built b;
    std::string error;
    ASSERT_TRUE(appbuild::build_text(R"({"kesta_pgm": {"screens": {
        "enumerations": {"A": [[-1, "no"], [7, "yes"]], "B": [[3, "yes"]]},
        "pages": [{"screen": 1, "objects": [{"type": "EDIT", "fields": {"enumeration": "B"}}]}]}}})",
                                     "", &b, &error))
        << error;
    const std::vector<uint8_t> t = part(b, "text_table");
    // clang-format off
    const std::vector<uint8_t> expected = {
        0, 0, 2, 0, 0xFF, 0xFF, 0xFF, 0xFF, 1, 0, 0, 0, 7, 0, 0, 0, 5, 0, 0, 0, // "A" at 0
        0, 0, 1, 0, 3, 0, 0, 0, 5, 0, 0, 0,                                     // "B" at 20
    };
    // clang-format on
    EXPECT_EQ(t, expected);
    const std::vector<uint8_t> s = part(b, "string_table");
    ASSERT_GE(s.size(), 8u + 8u);
    EXPECT_EQ(std::string(s.begin() + 8, s.begin() + 16), std::string("\1no\0\1yes\0", 8));
    struct Case {
        const char *enums, *field, *message;
    } cases[] = {
        {R"({"A": [[2, "b"], [1, "a"]]})", "\"A\"", "enumerations.A[1]: values must ascend"},
        {R"({"A": []})", "\"A\"", "enumerations.A: an enumeration is a list of [value, text]"},
        {R"({"A": [[1, "a"]]})", "\"C\"",
         "enumeration: unknown enumeration \"C\" (enumerations: A)"},
    };
    for (const Case &c : cases) {
        const std::string json =
            std::string(R"({"kesta_pgm": {"screens": {"enumerations": )") + c.enums +
            R"(, "pages": [{"screen": 1, "objects": [{"type": "EDIT", "fields": {"enumeration": )" +
            c.field + "}}]}]}}}";
        EXPECT_FALSE(appbuild::build_text(json, "", &b, &error)) << c.enums;
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
    }
    EXPECT_FALSE(appbuild::build_text(
        R"({"kesta_pgm": {"screens": {"enumerations": {"A": [[1, "a"]]}}}, "text_table": "default"})",
        "", &b, &error));
    EXPECT_NE(error.find("text_table: given twice"), std::string::npos) << error;
}
