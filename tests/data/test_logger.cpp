// The data logger and the debug log, stepped scan by scan with the media
// manager between scans, on real folders and the virtual clock.
#include "base/le.h"
#include "data/cfm.h"
#include "data/data.h"
#include "data/logger.h"
#include "host/clock.h"
#include "host/media.h"
#include "host/root.h"
#include "panel_fixture.h"
#include "platform/media.h"
#include "plc/appblocks.h"
#include "regs/plc_reg.h"
#include "regs/regname.h"
#include "regs/sr.h"
#include "system/sys.h"
#include "tools/lib/appbuild.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> g_console;

uint32_t reg_ref(const std::string &name) {
    uint32_t r = 0, bits = 0;
    std::string error;
    EXPECT_TRUE(RegName_Parse(name, &r, &bits, &error)) << name;
    return r;
}
uint16_t word(const std::string &name) {
    uint8_t v[2] = {};
    PlcReg_Get(v, reg_ref(name), 16);
    return le16(v);
}
void set_word(const std::string &name, uint16_t value) {
    uint8_t v[2];
    put_le16(v, value);
    PlcReg_Store(reg_ref(name), v, 16);
}
void set_bit(const std::string &name, int on) {
    uint8_t v = uint8_t(on);
    PlcReg_Store(reg_ref(name), &v, 1);
}

time_t at(int y, int mo, int d, int h, int mi, int s) {
    tm x{};
    x.tm_year = y - 1900;
    x.tm_mon = mo - 1;
    x.tm_mday = d;
    x.tm_hour = h;
    x.tm_min = mi;
    x.tm_sec = s;
    return timegm(&x);
}
// The clock registers %SR44-%SR50 (weekday 1 = Sunday).
void set_clock(time_t t) {
    tm x{};
    gmtime_r(&t, &x);
    const int v[7] = {x.tm_sec,     x.tm_min,         x.tm_hour,    x.tm_mday,
                      x.tm_mon + 1, x.tm_year + 1900, x.tm_wday + 1};
    for (int i = 0; i < 7; ++i)
        sr_put(sr::kClock + i, uint16_t(v[i]));
}

std::vector<std::string> lines(const std::string &text) {
    std::vector<std::string> out;
    size_t from = 0;
    while (from < text.size()) {
        size_t end = text.find("\r\n", from);
        if (end == std::string::npos) {
            out.push_back(text.substr(from) + "<no CR LF>");
            break;
        }
        out.push_back(text.substr(from, end - from));
        from = end + 2;
    }
    return out;
}
std::vector<std::string> fields(const std::string &line) {
    std::vector<std::string> out;
    std::stringstream ss(line);
    std::string f;
    while (std::getline(ss, f, ','))
        out.push_back(f);
    if (!line.empty() && line.back() == ',') out.push_back("");
    return out;
}

class LoggerTest : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        g_console.clear();
        LOG_SetConsole([](const char *t) { g_console.push_back(t); });
        CFM_Open();
        sr_put(sr::kRunMode, sr::kModeRun);
    }
    void TearDown() override {
        LOG_SetConsole(nullptr);
        PanelTest::TearDown();
    }
    // The data-log block from its readable description.
    void configure(const std::string &datalog) {
        appbuild::Built b;
        std::string error;
        ASSERT_TRUE(appbuild::build_text(R"({"datalog_table": {"datalog": )" + datalog + "}}", "",
                                         &b, &error))
            << error;
        appbuild::Placed p;
        ASSERT_TRUE(appbuild::find_part(b.manifest, "datalog_table", &p));
        std::memcpy(datalog_table, b.config.data() + p.offset, p.size);
    }
    // The configuration: the block's data after its 8-byte header.
    static uint8_t *cfg() { return datalog_table + 8; }
    void insert() {
        host::media_insert(host::kMediumSd);
        BackTskUpdate(); // the free-space child's figures
        host::clock_advance_ms(1100);
        CFM_Update(); // the status cycle finds the card
    }
    void remove() {
        host::media_remove(host::kMediumSd);
        host::clock_advance_ms(1100);
        CFM_Update();
    }
    // One main-loop pass as the loggers see it: the control scan's two
    // writers, then the media manager and the screen loop's system update.
    void pass(int n = 1) {
        for (int i = 0; i < n; ++i) {
            LOG_Update();
            DLOG_Update();
            CFM_TheLoop(0);
            SYS_Update();
            host::clock_advance_ms(5);
            CFM_Update();
        }
    }
    // Runs `seconds` seconds of the panel's clock from t, `per` passes each.
    void run_seconds(time_t &t, int seconds, int per = 25) {
        for (int i = 0; i < seconds; ++i, ++t) {
            set_clock(t);
            pass(per);
        }
    }
    std::string python(const std::string &script) {
        std::string cmd = "/usr/bin/python3 -c '" + script + "' " + root_dir;
        std::string out;
        FILE *p = popen(cmd.c_str(), "r");
        char buf[512];
        while (size_t n = fread(buf, 1, sizeof buf, p))
            out.append(buf, n);
        pclose(p);
        return out;
    }
    // Every CSV file of the card as Python's csv module reads it: path,
    // header and the number of rows, one file a line.
    std::string csv_files() {
        return python("import csv,os,sys\n"
                      "top=sys.argv[1]+\"/mnt/USB0\"\n"
                      "for d,_,fs in sorted(os.walk(top)):\n"
                      "  for f in sorted(fs):\n"
                      "    if not f.endswith(\".CSV\"): continue\n"
                      "    rows=list(csv.reader(open(os.path.join(d,f),newline=\"\")))\n"
                      "    print(os.path.relpath(os.path.join(d,f),top), \"|\".join(rows[0]), "
                      "len(rows)-1, len(set(len(r) for r in rows)))\n");
    }
    bool mode_group_readable(const std::string &board) {
        struct stat st {};
        EXPECT_EQ(::stat(host::path(board).c_str(), &st), 0) << board;
        return st.st_mode & S_IRGRP;
    }
};

TEST_F(LoggerTest, TwoGroupsWriteHourlyAndDailyFilesEachStartingWithItsHeader) {
    insert();
    configure(R"({"enable": "%M1", "status": "%R54", "groups": [
        {"folder": "FAST", "base": "\\LOGS", "period": 10, "status": "%R50",
         "date_style": 11, "time_style": 1,
         "columns": [{"register": "%R1", "type": "uint16", "name": "Count"},
                     {"register": "%R2", "type": "int16", "name": "Temp"}]},
        {"folder": "SLOW", "base": "\\LOGS\\", "period": 1, "unit": "minutes", "status": "%R52",
         "date_style": 1, "time_style": 0,
         "columns": [{"register": "%R3", "type": "uint16", "name": "Level"}]}]})");
    set_bit("%M1", 1);
    set_word("%R2", uint16_t(-3));
    set_word("%R3", 500);
    LOG_Start();
    // 15 March 2025, 14:59:40 to 15:00:44; %R1 counts the seconds.
    time_t t = at(2025, 3, 15, 14, 59, 40);
    for (int i = 0; i < 65; ++i) {
        set_word("%R1", uint16_t(i));
        run_seconds(t, 1);
    }
    pass(200);
    EXPECT_EQ(read_file("/mnt/USB0/LOGS/FAST/031514.CSV"), "Date,Time,Count,Temp\r\n"
                                                           "2025-03-15,14:59:40,0,-3\r\n"
                                                           "2025-03-15,14:59:50,10,-3\r\n");
    EXPECT_EQ(read_file("/mnt/USB0/LOGS/FAST/031515.CSV"), "Date,Time,Count,Temp\r\n"
                                                           "2025-03-15,15:00:00,20,-3\r\n"
                                                           "2025-03-15,15:00:10,30,-3\r\n"
                                                           "2025-03-15,15:00:20,40,-3\r\n"
                                                           "2025-03-15,15:00:30,50,-3\r\n"
                                                           "2025-03-15,15:00:40,60,-3\r\n");
    EXPECT_EQ(read_file("/mnt/USB0/LOGS/SLOW/250315.CSV"),
              "Date,Time,Level\r\n03/15/25,14:59,500\r\n03/15/25,15:00,500\r\n");
    EXPECT_EQ(csv_files(), "LOGS/FAST/031514.CSV Date|Time|Count|Temp 2 1\n"
                           "LOGS/FAST/031515.CSV Date|Time|Count|Temp 5 1\n"
                           "LOGS/SLOW/250315.CSV Date|Time|Level 2 1\n");
    // Only the file in use keeps the system attribute.
    EXPECT_TRUE(mode_group_readable("/mnt/USB0/LOGS/FAST/031514.CSV"));
    EXPECT_FALSE(mode_group_readable("/mnt/USB0/LOGS/FAST/031515.CSV"));
    // Status: no error, nothing buffered; the card's use in percent.
    EXPECT_EQ(word("%R50"), 0);
    EXPECT_EQ(word("%R51"), 0);
    EXPECT_EQ(word("%R52"), 0);
    EXPECT_EQ(word("%R54"), 0);
    uint32_t total = sr_get32(sr::kMediaTotal), free = sr_get32(sr::kMediaFree);
    ASSERT_GT(total, 0u);
    EXPECT_EQ(word("%R55"), (total - free) / ((total + 50) / 100));
}

TEST_F(LoggerTest, EveryValueTypeAsText) {
    struct Case {
        const char *type;
        std::vector<uint8_t> raw; // the register's bytes (a bit: its value)
        const char *text;
    };
    auto le = [](uint64_t v, int n) {
        std::vector<uint8_t> b;
        for (int i = 0; i < n; ++i)
            b.push_back(uint8_t(v >> (8 * i)));
        return b;
    };
    auto f32 = [&](float f) {
        uint32_t u;
        std::memcpy(&u, &f, 4);
        return le(u, 4);
    };
    auto f64 = [&](double d) {
        uint64_t u;
        std::memcpy(&u, &d, 8);
        return le(u, 8);
    };
    auto text = [](const char *s) { return std::vector<uint8_t>(s, s + std::strlen(s) + 1); };
    // clang-format off
    const std::vector<Case> cases = {
        {"bit",     {1},                           "1"},
        {"bit",     {0},                           "0"},
        {"binary",  le(0xA5F0, 2),                 "1010010111110000B"},
        {"int16",   le(uint16_t(-1234), 2),        "-1234"},
        {"int32",   le(uint32_t(-100000), 4),      "-100000"},
        {"uint16",  le(65535, 2),                  "65535"},
        {"uint32",  le(4000000000u, 4),            "4000000000"},
        {"hex",     le(0xAF, 2),                   "00AFH"},
        {"text",    text("HELLO WORLD 1234567890"), "HELLO WORLD 1234"},
        {"text",    text("ab"),                    "ab"},
        {"float",   f32(21.5f),                    "21.5"},
        {"float",   f32(1e-7f),                    "1e-07"},
        {"address", le(0xC0A8010A, 4),             "192.168.1.10"},
        {"date",    le(0x1234, 6),                 ""},
        {"time",    le(0x1234, 6),                 ""},
        {"double",  f64(-3.25e100),                "-3.25e+100"},
    };
    // clang-format on
    std::string columns;
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case &c = cases[i];
        bool bit = std::string(c.type) == "bit";
        std::string reg = bit ? "%M" + std::to_string(10 + i) : "%R" + std::to_string(100 + 20 * i);
        if (bit)
            set_bit(reg, c.raw[0]);
        else
            std::memcpy(PlcReg_Ptr(reg_ref(reg), 8 * uint32_t(c.raw.size())), c.raw.data(),
                        c.raw.size());
        columns += std::string(i ? "," : "") + R"({"register": ")" + reg + R"(", "type": ")" +
                   c.type + R"(", "name": "C)" + std::to_string(i) + "\"}";
    }
    // A reference that names no register samples as zeros.
    columns += R"(, {"register": 15728640, "type": "uint32", "name": "NONE"})";
    insert();
    configure(R"({"enable": "%M1", "groups": [{"folder": "TYPES", "period": 60,
                  "date_style": 11, "time_style": 1, "columns": [)" +
              columns + "]}]}");
    set_bit("%M1", 1);
    LOG_Start();
    time_t t = at(2025, 3, 15, 14, 0, 0);
    run_seconds(t, 1, 80);
    std::vector<std::string> l = lines(read_file("/mnt/USB0/TYPES/031514.CSV"));
    ASSERT_EQ(l.size(), 2u);
    std::vector<std::string> f = fields(l[1]);
    ASSERT_EQ(f.size(), cases.size() + 3) << l[1];
    EXPECT_EQ(f[0], "2025-03-15");
    EXPECT_EQ(f[1], "14:00:00");
    for (size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(f[2 + i], cases[i].text) << "column " << i << " (" << cases[i].type << ")";
    EXPECT_EQ(f.back(), "0");
    EXPECT_EQ(fields(l[0]).size(), f.size()) << "a header name for every column";
}

TEST_F(LoggerTest, DateAndTimeStyles) {
    struct Case {
        int date, time, hour;
        const char *date_text, *time_text;
    };
    // clang-format off
    const Case cases[] = {
        {0,  0, 9,  "03/05",       "09:07"},
        {1,  1, 9,  "03/05/25",    "09:07:03"},
        {2,  2, 9,  "03/05/2025",  "09:07 AM"},
        {3,  3, 9,  "05-Mar",      "09:07:03 AM"},
        {4,  2, 13, "05-Mar-25",   "01:07 PM"},
        {5,  3, 0,  "05-Mar-2025", "12:07:03 AM"},
        {6,  2, 12, "05-03",       "12:07 PM"},
        {7,  3, 23, "05-03-25",    "11:07:03 PM"},
        {8,  4, 9,  "05-03-2025",  ""},
        {9,  1, 9,  "03-05",       "09:07:03"},
        {10, 1, 9,  "25-03-05",    "09:07:03"},
        {11, 1, 9,  "2025-03-05",  "09:07:03"},
        {12, 1, 9,  "",            "09:07:03"},
    };
    // clang-format on
    insert();
    set_bit("%M1", 1);
    for (const Case &c : cases) {
        LOG_Reset();
        std::string folder = "S" + std::to_string(c.date);
        configure(R"({"enable": "%M1", "groups": [{"folder": ")" + folder +
                  R"(", "period": 60, "date_style": )" + std::to_string(c.date) +
                  R"(, "time_style": )" + std::to_string(c.time) +
                  R"(, "columns": [{"register": "%R1", "type": "uint16", "name": "V"}]}]})");
        LOG_Start();
        time_t t = at(2025, 3, 5, c.hour, 7, 3);
        run_seconds(t, 1, 40);
        char name[32];
        std::snprintf(name, sizeof name, "/0305%02d.CSV", c.hour);
        std::vector<std::string> l = lines(read_file("/mnt/USB0/" + folder + name));
        ASSERT_EQ(l.size(), 2u) << "style " << c.date;
        EXPECT_EQ(l[1], std::string(c.date_text) + "," + c.time_text + ",0")
            << "date style " << c.date << ", time style " << c.time;
    }
}

TEST_F(LoggerTest, SamplingOverMidnightTheWeeksEndTriggersAndTheEnableBit) {
    // The card is out: rows stay in the ring where they can be counted.
    configure(R"({"enable": "%M1", "groups": [
        {"folder": "P", "period": 10, "columns": [{"register": "%R1", "type": "uint16"}]},
        {"folder": "T", "trigger": "%M2", "columns": [{"register": "%R1", "type": "uint16"}]}]})");
    set_bit("%M1", 1);
    set_bit("%M2", 1); // already set when logging starts
    LOG_Start();
    // Saturday 23:59:55 to Sunday 00:00:06 (weekday 7 to 1).
    time_t t = at(2025, 3, 15, 23, 59, 55);
    run_seconds(t, 10, 1);
    EXPECT_EQ(LOG_RowsBuffered(0), 1u) << "23:59:55 only, until 00:00:05";
    run_seconds(t, 2, 1);
    EXPECT_EQ(LOG_RowsBuffered(0), 2u) << "00:00:05: ten seconds after, over the week's end";
    EXPECT_EQ(LOG_RowsBuffered(1), 0u) << "a trigger set at start waits for its next edge";
    set_bit("%M2", 0);
    pass();
    set_bit("%M2", 1);
    pass(3);
    EXPECT_EQ(LOG_RowsBuffered(1), 1u);
    // Enable off: nothing is sampled; back on, every periodic group at once.
    set_bit("%M1", 0);
    run_seconds(t, 30, 1);
    EXPECT_EQ(LOG_RowsBuffered(0), 2u);
    set_bit("%M1", 1);
    pass();
    EXPECT_EQ(LOG_RowsBuffered(0), 3u);
    EXPECT_EQ(LOG_WriteState(), 0) << "waiting for the card";
}

TEST_F(LoggerTest, RowStampedBeforeMidnightLandsInItsDaysFileAndEnableOffStillWrites) {
    configure(R"({"enable": "%M1", "groups": [{"folder": "DAY", "period": 1, "unit": "minutes",
                  "status": "%R50", "date_style": 11, "time_style": 1,
                  "columns": [{"register": "%R1", "type": "uint16", "name": "V"}]}]})");
    set_bit("%M1", 1);
    LOG_Start();
    time_t t = at(2025, 3, 15, 23, 59, 59);
    run_seconds(t, 1, 1); // sampled, not written: no card yet
    set_bit("%M1", 0);    // no more samples, but the writing goes on
    set_word("%R50", 0xFFFF);
    t = at(2025, 3, 16, 0, 0, 30);
    insert();
    run_seconds(t, 2);
    EXPECT_EQ(read_file("/mnt/USB0/DAY/250315.CSV"), "Date,Time,V\r\n2025-03-15,23:59:59,0\r\n");
    EXPECT_EQ(read_file("/mnt/USB0/DAY/250316.CSV"), "");
    EXPECT_EQ(word("%R50"), 0) << "status written with the enable bit at 0";
}

TEST_F(LoggerTest, ThreeFloatColumnsTakeThreeScansToFormat) {
    insert();
    configure(R"({"enable": "%M1", "groups": [{"folder": "F", "period": 60, "columns": [
        {"register": "%R1", "type": "float"}, {"register": "%R3", "type": "float"},
        {"register": "%R5", "type": "float"}]}]})");
    set_bit("%M1", 1);
    LOG_Start();
    set_clock(at(2025, 3, 15, 14, 0, 0));
    int formatting = 0;
    for (int i = 0; i < 60 && LOG_WriteState() != 12; ++i) {
        pass();
        if (LOG_WriteState() == 11 || LOG_WriteState() == 12) ++formatting;
    }
    EXPECT_EQ(formatting, 3) << "two pauses, then the end of the line";
}

TEST_F(LoggerTest, ChangedConfigurationRecreatesTheDaysFileARestartAppends) {
    insert();
    auto describe = [](const char *name) {
        return std::string(R"({"enable": "%M1", "groups": [{"folder": "CFG", "period": 1,
            "unit": "minutes", "date_style": 11, "time_style": 1,
            "columns": [{"register": "%R1", "type": "uint16", "name": ")") +
               name + "\"}]}]}";
    };
    configure(describe("A"));
    set_bit("%M1", 1);
    LOG_Start();
    time_t t = at(2025, 3, 15, 10, 0, 0);
    run_seconds(t, 61);
    EXPECT_EQ(read_file("/mnt/USB0/CFG/250315.CSV"),
              "Date,Time,A\r\n2025-03-15,10:00:00,0\r\n2025-03-15,10:01:00,0\r\n");
    // The same configuration after a stop: appended.
    LOG_Stop();
    LOG_Start();
    run_seconds(t, 60);
    EXPECT_EQ(lines(read_file("/mnt/USB0/CFG/250315.CSV")).size(), 4u);
    // A changed column: the day's file starts anew with the new header.
    LOG_Stop();
    configure(describe("B"));
    LOG_Start();
    run_seconds(t, 2);
    EXPECT_EQ(read_file("/mnt/USB0/CFG/250315.CSV"), "Date,Time,B\r\n2025-03-15,10:02:01,0\r\n");
}

TEST_F(LoggerTest, RemovedCardBuffersUntilTheRingIsFullAndInsertingWritesEveryRow) {
    // 30 text columns: a 492-byte row, 83 rows in the ring.
    std::string columns;
    for (int i = 0; i < 30; ++i)
        columns += std::string(i ? "," : "") + R"({"register": "%R1", "type": "text", "name": "T)" +
                   std::to_string(i) + "\"}";
    configure(R"({"enable": "%M1", "groups": [{"folder": "RING", "period": 1, "status": "%R50",
                  "time_style": 1, "columns": [)" +
              columns + "]}]}");
    std::memcpy(PlcReg_Ptr(reg_ref("%R1"), 128), "ABCDEFGHIJKLMNOP", 16);
    set_bit("%M1", 1);
    LOG_Start();
    ASSERT_EQ(LOG_RowCapacity(0), 83u);
    // Only the USB stick: the writer of the card waits.
    host::media_insert(host::kMediumUsb);
    time_t t = at(2025, 3, 15, 14, 0, 0);
    run_seconds(t, 3);
    EXPECT_EQ(LOG_WriteState(), 0);
    EXPECT_EQ(LOG_RowsBuffered(0), 3u);
    insert();
    run_seconds(t, 2);
    pass(100); // everything written before the card goes
    EXPECT_EQ(LOG_RowsBuffered(0), 0u);
    remove();
    run_seconds(t, 100, 2);
    EXPECT_EQ(LOG_WriteState(), 0);
    EXPECT_EQ(LOG_RowsBuffered(0), 83u);
    EXPECT_EQ(word("%R51"), 100) << "fill in percent";
    insert();
    run_seconds(t, 60, 60);
    // The first rows, the 83 buffered while the card was out, then the rest.
    std::vector<std::string> l = lines(read_file("/mnt/USB0/RING/031514.CSV"));
    ASSERT_GE(l.size(), 1u + 5 + 83 + 50);
    EXPECT_EQ(l[1].substr(0, 15), "03/15,14:00:00,");
    EXPECT_EQ(fields(l[1]).size(), 32u);
    // Seconds 5-87 buffered; 88-104 dropped with the ring full.
    std::vector<std::string> times;
    for (size_t i = 1; i < l.size(); ++i)
        times.push_back(fields(l[i])[1]);
    auto has = [&](const char *s) {
        return std::find(times.begin(), times.end(), s) != times.end();
    };
    EXPECT_TRUE(has("14:00:05") && has("14:01:27")) << "buffered while out";
    EXPECT_FALSE(has("14:01:30")) << "dropped: the ring was full";
    EXPECT_TRUE(has("14:01:50")) << "after the card came back";
    EXPECT_EQ(word("%R50"), 0);
    std::string csv = csv_files();
    EXPECT_EQ(csv.rfind("RING/031514.CSV Date|Time|T0|T1|", 0), 0u) << csv;
    EXPECT_EQ(csv.substr(csv.size() - 3), " 1\n") << "every row as long as the header";
}

TEST_F(LoggerTest, AnyStatusOfAnAbsentCardWaitsAndKeepsTheRows) {
    configure(R"({"enable": "%M1", "groups": [{"folder": "W", "period": 1, "status": "%R50",
                  "columns": [{"register": "%R1", "type": "uint16"}]}]})");
    set_bit("%M1", 1);
    LOG_Start();
    // The card is being formatted: not mounted, its status 82.
    sr_put(sr::kMediaStatus, 82);
    time_t t = at(2025, 3, 15, 14, 0, 0);
    for (int i = 0; i < 10; ++i, ++t) {
        set_clock(t);
        LOG_Update();
    }
    EXPECT_EQ(LOG_RowsBuffered(0), 10u);
    EXPECT_EQ(LOG_WriteState(), 0);
    EXPECT_EQ(word("%R50"), 0) << "no error of the group";
}

TEST_F(LoggerTest, AFileErrorDropsThatGroupsRowsOnly) {
    insert();
    configure(R"({"enable": "%M1", "groups": [
        {"folder": "BAD", "period": 1, "status": "%R50",
         "columns": [{"register": "%R1", "type": "uint16"}]},
        {"folder": "GOOD", "period": 1, "status": "%R52",
         "columns": [{"register": "%R1", "type": "uint16"}]}]})");
    write_file("/mnt/USB0/BAD", "a file where the folder should be");
    set_bit("%M1", 1);
    LOG_Start();
    time_t t = at(2025, 3, 15, 14, 0, 0);
    run_seconds(t, 20);
    EXPECT_NE(word("%R50"), 0) << "the error code";
    EXPECT_NE(word("%R50"), 2);
    EXPECT_EQ(word("%R52"), 0);
    EXPECT_EQ(lines(read_file("/mnt/USB0/GOOD/031514.CSV")).size(), 21u);
    EXPECT_LE(LOG_RowsBuffered(0), 1u) << "its rows are dropped at each failure";
}

TEST_F(LoggerTest, ConfigurationsBeyondTheTablesAreRefusedWhole) {
    struct Case {
        const char *what;
        std::string desc;
        void (*patch)(uint8_t *cfg); // bytes changed after the build (null: none)
        bool refused;
    };
    auto group = [](const std::string &columns, const std::string &extra = "") {
        return R"({"folder": "G", "period": 1, "status": "%R50", )" + extra + R"("columns": [)" +
               columns + "]}";
    };
    // `type` as JSON: a name in quotes or a number.
    auto cols = [](int n, const char *type, int name_len = 1) {
        std::string s;
        for (int i = 0; i < n; ++i)
            s += std::string(i ? "," : "") + R"({"register": "%R1", "type": )" + type +
                 R"(, "name": ")" + std::string(size_t(name_len), 'N') + "\"}";
        return s;
    };
    auto groups = [&](int n) {
        std::string s;
        for (int i = 0; i < n; ++i)
            s += std::string(i ? "," : "") + group(cols(1, R"("uint16")"));
        return R"({"enable": "%M1", "groups": [)" + s + "]}";
    };
    auto one = [&](const std::string &g) { return R"({"enable": "%M1", "groups": [)" + g + "]}"; };
    // A path of 512 bytes: base (498) + "\" + folder "G" + "\" + 10 + NUL.
    // clang-format off
    const std::vector<Case> cases = {
        {"10 groups",                 groups(10),                                  nullptr, false},
        {"11 groups",                 groups(11),                                  nullptr, true},
        {"type 12",                   one(group(cols(1, "12"))),                   nullptr, false},
        {"type 13",                   one(group(cols(1, "13"))),                   nullptr, true},
        {"raw row of 492 bytes",      one(group(cols(30, R"("text")"))),                nullptr, false},
        {"raw row of 494 bytes",      one(group(cols(30, R"("text")") + "," + cols(1, R"("uint16")"))),
                                                                                   nullptr, true},
        {"header line of 589",        one(group(cols(34, R"("bit")", 16))),             nullptr, false},
        {"header line of 606",        one(group(cols(35, R"("bit")", 16))),             nullptr, true},
        {"row line past 595",         one(group(cols(31, R"("binary")"))),              nullptr, true},
        {"path of 512 bytes",         one(group(cols(1, R"("uint16")"), R"("base": ")" + std::string(498, 'B') + R"(", )")),
                                                                                   nullptr, false},
        {"path of 513 bytes",         one(group(cols(1, R"("uint16")"), R"("base": ")" + std::string(499, 'B') + R"(", )")),
                                                                                   nullptr, true},
        {"a .. in the base",          one(group(cols(1, R"("uint16")"), R"("base": "\\LOGS\\..\\..", )")),
                                                                                   nullptr, true},
        {"folder past the pool",      one(group(cols(1, R"("uint16")"))),
             [](uint8_t *c) { put_le32(c + 24 + 0, 0xFFFFFFF0u); },                         true},
        {"name length past the pool", one(group(cols(1, R"("uint16")"))),
             [](uint8_t *c) { put_le32(c + 24 + 44 + 12, 0x7FFFFFFFu); },                   true},
        {"columns past the size",     one(group(cols(1, R"("uint16")"))),
             [](uint8_t *c) { put_le32(c + 24 + 40, 0x10000001u); },                        true},
        {"size past the block",       one(group(cols(1, R"("uint16")"))),
             [](uint8_t *c) { put_le32(c, le32(c) + 1); },                                  true},
        {"wrong tag (ignored)",       one(group(cols(1, R"("uint16")"))),
             [](uint8_t *c) { put_le32(c + 4, 0x474F4C44u); },                              false},
    };
    // clang-format on
    insert();
    set_bit("%M1", 1);
    set_clock(at(2025, 3, 15, 14, 0, 0));
    for (const Case &c : cases) {
        LOG_Reset();
        g_console.clear();
        configure(c.desc);
        if (c.patch) c.patch(cfg());
        set_word("%R50", 0xBEEF);
        LOG_Start();
        pass(3);
        bool on = word("%R50") != 0xBEEF;
        bool tag_ok = le32(cfg() + 4) == logcfg::kTag;
        EXPECT_EQ(on, !c.refused && tag_ok) << c.what;
        EXPECT_EQ(g_console.size(), c.refused ? 1u : 0u) << c.what;
        if (c.refused && !g_console.empty()) {
            EXPECT_NE(g_console[0].find("the data logger stays off"), std::string::npos)
                << g_console[0];
        }
        char why[160];
        EXPECT_EQ(LOG_CheckBlock(datalog_table, app::kConfigParts[10].capacity, why, sizeof why),
                  c.refused ? -1 : 0)
            << c.what;
    }
}

TEST_F(LoggerTest, MediaUseInPercentNeverDividesByZero) {
    configure(R"({"enable": "%M1", "status": "%R54", "groups": [{"folder": "M", "period": 1,
                  "columns": [{"register": "%R1", "type": "uint16"}]}]})");
    LOG_Start();
    struct Case {
        uint32_t total, free;
        uint16_t percent;
    };
    // clang-format off
    const Case cases[] = {
        {0, 0, 0}, {49, 0, 0}, {49, 10, 0}, {100, 0, 100}, {150, 0, 75}, {1000, 250, 75},
        {1000, 2000, 0}, {0xFFFFFFFFu, 0, 99},
    };
    // clang-format on
    for (const Case &c : cases) {
        // As a write to %SR176-%SR179 leaves them.
        sr_put32(sr::kMediaFree, c.free);
        sr_put32(sr::kMediaTotal, c.total);
        LOG_Update();
        EXPECT_EQ(word("%R55"), c.percent) << c.total << " " << c.free;
    }
}

// ---------------------------------------------------------------------------
// The debug log.

class DebugLogTest : public LoggerTest {
protected:
    void SetUp() override {
        LoggerTest::SetUp();
        DbgLog = {reg_ref("%R200"), 1};
        set_word("%R200", 0x0003);
    }
    std::string log_file(const char *yymmdd) {
        return read_file(std::string("/mnt/USB0/DEBUG/dlog_") + yymmdd + ".log");
    }
};

TEST_F(DebugLogTest, WriteLogResults) {
    std::string big(20000, 'x');
    struct Case {
        const char *what;
        uint8_t on;
        uint16_t mode, mask;
        std::string text;
        int result;
    };
    // clang-format off
    const Case cases[] = {
        {"off",                0, sr::kModeRun, 1, "a", 3},
        {"not in Run",         1, 1,            1, "a", 3},
        {"mask not enabled",   1, sr::kModeRun, 4, "a", 2},
        {"empty text",         1, sr::kModeRun, 1, "",  1},
        {"20,000 bytes",       1, sr::kModeRun, 1, big, 0},
        {"then 480 more",      1, sr::kModeRun, 2, std::string(480, 'y'), 1},
        {"then 479 more",      1, sr::kModeRun, 2, std::string(479, 'y'), 0},
        {"then one more",      1, sr::kModeRun, 2, "z", 1},
    };
    // clang-format on
    for (const Case &c : cases) {
        DbgLog.on = c.on;
        sr_put(sr::kRunMode, c.mode);
        uint32_t before = DLOG_Buffered();
        EXPECT_EQ(DBG_WriteLog(c.mask, c.text.c_str()), c.result) << c.what;
        EXPECT_EQ(DLOG_Buffered() - before, c.result == 0 ? c.text.size() : 0u) << c.what;
    }
    EXPECT_EQ(DLOG_Buffered(), 20479u);
}

TEST_F(DebugLogTest, TextsOfOneScanReachTheDaysFileAsOneWrite) {
    insert();
    set_clock(at(2025, 3, 15, 14, 0, 0));
    pass(4); // nothing buffered: no step
    EXPECT_EQ(DBG_WriteLog(1, "AT+CSQ\n"), 0);
    EXPECT_EQ(DBG_WriteLog(2, "+CSQ: 17,0\n"), 0);
    uint32_t writes = CFM_WriteCloseCount();
    pass(40);
    EXPECT_EQ(log_file("250315"), "AT+CSQ\n+CSQ: 17,0\n");
    EXPECT_EQ(CFM_WriteCloseCount() - writes, 2u) << "one write and its close";
    EXPECT_EQ(DLOG_Buffered(), 0u);
    // The next text is appended to the same file.
    EXPECT_EQ(DBG_WriteLog(1, "OK\n"), 0);
    pass(40);
    EXPECT_EQ(log_file("250315"), "AT+CSQ\n+CSQ: 17,0\nOK\n");
    EXPECT_EQ(uint16_t(word("%R201")), 0xFFFF) << "-1: the card has space in use";
}

TEST_F(DebugLogTest, AFileOpenedBeforeMidnightKeepsItsDay) {
    insert();
    set_clock(at(2025, 3, 15, 23, 59, 59));
    EXPECT_EQ(DBG_WriteLog(1, "before\n"), 0);
    for (int i = 0; i < 40 && DLOG_WriteState() != 12; ++i)
        pass();
    ASSERT_EQ(DLOG_WriteState(), 12) << "opened, about to write";
    set_clock(at(2025, 3, 16, 0, 0, 1));
    EXPECT_EQ(DBG_WriteLog(1, "after\n"), 0);
    pass(40);
    EXPECT_EQ(log_file("250315"), "before\nafter\n");
    EXPECT_EQ(DBG_WriteLog(1, "next day\n"), 0);
    pass(40);
    EXPECT_EQ(log_file("250316"), "next day\n");
}

TEST_F(DebugLogTest, TextAppendedWhileTheWriteIsUnderWayStaysBuffered) {
    insert();
    set_clock(at(2025, 3, 15, 14, 0, 0));
    EXPECT_EQ(DBG_WriteLog(1, "one\n"), 0);
    for (int i = 0; i < 40 && DLOG_WriteState() != 13; ++i)
        pass();
    ASSERT_EQ(DLOG_WriteState(), 13) << "the write is posted";
    EXPECT_EQ(DBG_WriteLog(1, "two\n"), 0);
    pass(40);
    EXPECT_EQ(log_file("250315"), "one\ntwo\n");
    EXPECT_EQ(DLOG_Buffered(), 0u);
}

TEST_F(DebugLogTest, EnableZeroDiscardsAndNoCardKeepsTexts) {
    set_clock(at(2025, 3, 15, 14, 0, 0));
    EXPECT_EQ(DBG_WriteLog(1, "kept\n"), 0);
    pass(10);
    EXPECT_EQ(DLOG_Buffered(), 5u) << "no card: the text waits";
    EXPECT_EQ(uint16_t(word("%R201")), 2) << "the card's status";
    set_word("%R200", 0);
    pass();
    EXPECT_EQ(DLOG_Buffered(), 0u);
    EXPECT_EQ(DBG_WriteLog(1, "refused\n"), 2);
    set_word("%R200", 1);
    insert();
    EXPECT_EQ(DBG_WriteLog(1, "new\n"), 0);
    pass(60);
    EXPECT_EQ(log_file("250315"), "new\n");
}

TEST_F(DebugLogTest, BothWritersShareTheMailboxWithoutLosingAnything) {
    insert();
    configure(R"({"enable": "%M1", "groups": [{"folder": "SHARE", "period": 1,
                  "date_style": 11, "time_style": 1,
                  "columns": [{"register": "%R1", "type": "uint16", "name": "V"}]}]})");
    set_bit("%M1", 1);
    LOG_Start();
    time_t t = at(2025, 3, 15, 14, 0, 0);
    std::string expect;
    for (int s = 0; s < 30; ++s) {
        set_clock(t++);
        for (int p = 0; p < 30; ++p) {
            if (p % 7 == 0) {
                std::string text = "line " + std::to_string(s) + "." + std::to_string(p) + "\n";
                ASSERT_EQ(DBG_WriteLog(1, text.c_str()), 0);
                expect += text;
            }
            pass();
        }
    }
    pass(200);
    EXPECT_EQ(log_file("250315"), expect);
    EXPECT_EQ(lines(read_file("/mnt/USB0/SHARE/031514.CSV")).size(), 31u);
    EXPECT_EQ(word("%R50"), 0);
}

} // namespace

namespace {

TEST_F(DebugLogTest, SwitchedOffWhileItHoldsTheMailboxTheLoggerGoesOn) {
    insert();
    configure(R"({"enable": "%M1", "groups": [{"folder": "ON", "period": 1, "time_style": 1,
                  "columns": [{"register": "%R1", "type": "uint16", "name": "V"}]}]})");
    set_bit("%M1", 1);
    LOG_Start();
    time_t t = at(2025, 3, 15, 14, 0, 0);
    set_clock(t);
    ASSERT_EQ(DBG_WriteLog(1, "x\n"), 0);
    auto waiting = [] { return DLOG_WriteState() % 2 == 1 && DLOG_WriteState() > 1; };
    for (int i = 0; i < 40 && !waiting(); ++i)
        pass();
    ASSERT_TRUE(waiting()) << "a debug request in flight";
    DbgLog.on = 0;
    run_seconds(t, 5);
    EXPECT_EQ(lines(read_file("/mnt/USB0/ON/031514.CSV")).size(), 6u);
    // Back on: the text is written after all.
    DbgLog.on = 1;
    pass(60);
    EXPECT_EQ(log_file("250315"), "x\n");
}

} // namespace
