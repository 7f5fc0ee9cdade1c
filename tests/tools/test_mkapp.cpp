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
