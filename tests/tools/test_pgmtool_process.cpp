// The programming tool against a running panel over the programming port's
// pty: every writable memory type downloaded, read back byte for byte and
// verified with its mirrors in the system registers; refusals; a download
// abandoned by the tool; the register, mode, link and version commands.
#include "base/crc16.h"
#include "process_util.h"
#include "supervised_panel.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

class PgmToolProcessTest : public SupervisedPanelTest {
protected:
    void SetUp() override {
        SupervisedPanelTest::SetUp();
        write_file("/host.conf", "screen = 480x272\n");
    }
    // A new unit loads its defaults over what it finds: start it once, then
    // put the application in and start it again.
    void install() {
        start();
        stop();
        write_file("/app.json", R"({"kesta_pgm": {"screens": {"start_screen": 1,
                                    "pages": [{"screen": 1, "background": 31}]}}})");
        int rc = 0;
        std::string out =
            run(bin("mkapp") + " -o " + app_dir() + " " + root_dir + "/app.json", &rc);
        ASSERT_EQ(rc, 0) << out;
        out = run(bin("mkapp") + " -o " + root_dir + "/mnt/cfg " + root_dir + "/app.json", &rc);
        ASSERT_EQ(rc, 0) << out;
        start();
        ASSERT_TRUE(wait_for([&] { return field("PGM_state") == "5"; }, 10000)) << ctl("status");
    }
    std::string app_dir() { return root_dir + "/app"; }
    std::string tool(const std::string &args, int *rc) {
        return run(bin("pgmtool") + " --port " + root_dir + "/dev/ttySP0.peer " + args + " 2>&1",
                   rc);
    }
    void put(const std::string &name, const Bytes &b) {
        std::ofstream(root_dir + "/" + name, std::ios::binary)
            .write(reinterpret_cast<const char *>(b.data()), long(b.size()));
    }
    Bytes get(const std::string &name) {
        std::ifstream in(root_dir + "/" + name, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    // How often the panel validated its application tables (trace log).
    size_t validations() {
        std::ifstream in(trace_log);
        size_t n = 0;
        for (std::string line; std::getline(in, line);)
            n += line.find("nvram_init") != std::string::npos;
        return n;
    }
};

Bytes pattern(size_t n, unsigned salt) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = uint8_t((i * 31 + salt) ^ (i >> 7));
    return b;
}

// Slow: a minute or more of tool runs.
TEST_F(PgmToolProcessTest, SlowEveryMemoryTypeDownloadsUploadsAndVerifies) {
    install();
    struct Case {
        int type;
        std::string source; // "app": the block of the mkapp folder, else a pattern
        size_t size;
        int crc_sr, len_sr; // mirrors, 0 none
        std::string extra;  // bitmap slot offset
    };
    const Case cases[] = {
        {0, "app", 0, 23, 11, ""},
        {2, "", 16, 25, 15, ""},
        {4, "app", 0, 28, 21, ""},
        {5, "app", 0, 26, 17, ""},
        {7, "app", 0, 125, 113, ""},
        {8, "app", 0, 126, 115, ""},
        {9, "", 3000, 0, 0, "--offset 524288"},
        {10, "app", 0, 128, 119, ""},
        {11, "app", 0, 129, 121, ""},
        {19, "", 116, 0, 0, ""},
        {20, "", 700, 130, 123, ""},
        {21, "", 129, 147, 143, ""},
        {22, "", 64, 0, 0, ""},
        {24, "", 65, 0, 0, ""},
        {25, "", 1, 0, 0, ""},
        {26, "", 300, 0, 0, ""},
        {29, "", 200, 0, 0, ""},
        {33, "", 2000, 0, 0, ""},
        {6, "app", 0, 0, 0, ""},
    };
    for (const Case &c : cases) {
        std::string what = "type " + std::to_string(c.type);
        std::string t = std::to_string(c.type);
        std::string file = c.source == "app" ? app_dir() : root_dir + "/in" + t;
        if (c.source != "app") put("in" + t, pattern(c.size, unsigned(c.type)));
        std::string up = root_dir + "/up" + t;
        std::string count = c.type == 9 ? " --count " + std::to_string(c.size) : "";
        // Download, read back, verify what came back, and the mirrors, in one run.
        std::string args = "download " + t + " " + file + " " + c.extra + " ';' upload " + t + " " +
                           c.extra + count + " -o " + up + " ';' verify " + t + " " + up + " " +
                           c.extra;
        if (c.crc_sr)
            for (int sr : {c.crc_sr, c.len_sr, c.len_sr + 1})
                args += " ';' getreg %SR" + std::to_string(sr);
        int rc = -1;
        std::string out = tool(args, &rc);
        ASSERT_EQ(rc, 0) << what << ": " << out;
        Bytes back = get("up" + t);
        if (c.source != "app")
            EXPECT_EQ(back, pattern(c.size, unsigned(c.type))) << what;
        else
            EXPECT_FALSE(back.empty()) << what;
        if (c.crc_sr) {
            auto value = [&](int sr) {
                std::string key = "%SR" + std::to_string(sr) + " = ";
                size_t at = out.find(key);
                return at == std::string::npos ? -1L : std::atol(out.c_str() + at + key.size());
            };
            EXPECT_EQ(value(c.crc_sr), crc16(back.data(), uint32_t(back.size()))) << what;
            EXPECT_EQ(value(c.len_sr) | value(c.len_sr + 1) << 16, long(back.size())) << what;
        }
    }
    // The downloaded screen program runs again.
    EXPECT_TRUE(wait_for([&] { return field("PGM_state") == "5"; }, 10000)) << ctl("status");
}

TEST_F(PgmToolProcessTest, RefusalsAndAnAbandonedDownload) {
    trace_log = root_dir + "/trace.log";
    install();
    put("big", pattern(81, 1));
    put("small", pattern(10, 2));
    struct Case {
        const char *what;
        std::string args;
        std::string says;
    };
    const Case cases[] = {
        {"slot identities are read-only", "download 17 " + root_dir + "/small", "refused"},
        {"security record holds 80 bytes", "download 4 " + root_dir + "/big",
         "download stopped at byte 64: refused"},
        {"bitmap offset inside a slot", "download 9 " + root_dir + "/small --offset 1", "refused"},
        {"verify of other data", "verify 5 " + root_dir + "/small", "verify stopped at byte 0"},
    };
    for (const Case &c : cases) {
        int rc = 0;
        std::string out = tool(c.args, &rc);
        EXPECT_EQ(rc, 1) << c.what;
        EXPECT_NE(out.find(c.says), std::string::npos) << c.what << ": " << out;
    }
    // The slot identities come back all the same.
    int rc = -1;
    tool("upload 17 -o " + root_dir + "/ss", &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(get("ss").size(), 98u);

    // A tool that starts a download and goes quiet: the link timer ends it.
    size_t before = validations();
    uint8_t id = uint8_t(reg("%SR29"));
    char raw[64];
    std::snprintf(raw, sizeof raw, "raw 04 02 %02X 07 %02X", id,
                  uint8_t(-(0x04 + 0x02 + id + 0x07)));
    std::string out = tool(raw, &rc);
    EXPECT_EQ(out, "A0\n");
    // The aborted download validates the tables again (the screen program,
    // erased at its start, is found invalid) and the screens start again.
    EXPECT_TRUE(wait_for([&] { return validations() > before; }, 5000));
    EXPECT_TRUE(wait_for([&] { return field("PGM_state") != "2"; }, 10000)) << ctl("status");
}

TEST_F(PgmToolProcessTest, RegisterModeLinkAndVersionCommands) {
    start();
    struct Case {
        const char *args;
        int rc;
        const char *says; // in the tool's output
    };
    const Case cases[] = {
        {"setreg %R1 5", 0, ""},    {"getreg %R1", 0, "%R1 = 5"},
        {"mode 2", 0, ""},          {"mode", 0, "mode 2"},
        {"version", 0, "version "}, {"negotiate 1025", 1, "refused"},
        {"negotiate 512", 0, ""},   {"commlock 1", 0, ""},
        {"commlock 0", 0, ""},      {"raw 08 01 01 F5", 0, "0F"}, // a wrong checksum
        {"baud 7", 0, ""},
    };
    for (const Case &c : cases) {
        int rc = -1;
        std::string out = tool(c.args, &rc);
        EXPECT_EQ(rc, c.rc) << c.args << ": " << out;
        EXPECT_NE(out.find(c.says), std::string::npos) << c.args << ": " << out;
    }
    EXPECT_EQ(reg("%R1"), 5);
    EXPECT_EQ(reg("%SR5"), 2);
    // The new speed holds for a while, then the port falls back to 9600.
    EXPECT_NE(ctl("serial").find("port 0: device /dev/ttySP0"), std::string::npos);
    EXPECT_NE(ctl("serial").find("mode 07 00 03 00 00 01"), std::string::npos) << ctl("serial");
    EXPECT_TRUE(wait_for(
        [&] {
            return ctl("serial").find("mode 05 00 03 00 00 01 protocol 1") != std::string::npos;
        },
        15000))
        << ctl("serial");
}

} // namespace
