// Host file transfer in process: command texts, file data and listings
// through the programming port in intercept mode, against real media folders.
#include "host/media.h"
#include "host/root.h"
#include "panel_fixture.h"
#include "platform/slice.h"
#include "platform/unit.h"
#include "regs/plc_reg.h"
#include "regs/sr.h"
#include "serial/command.h"
#include "serial/fxp.h"
#include "serial/serial.h"
#include "serial/vcomm.h"
#include "tools/lib/cmdframe.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint8_t kSeed = 5, kOwnId = 1;

class FxpTest : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        host::media_insert(host::kMediumSd);
        host::media_insert(host::kMediumUsb);
        host::make_dirs("/mnt/cfg");
        crc_header[3] = kSeed;
        sr_put(sr::kNetId, kOwnId);
        Vcomm_Init();
        SCI2_Init(0);
        Vcomm_Drv[0].SetIntrcpt(1);
        Cmd_Init();
    }
    Bytes exchange(uint8_t op, Bytes args) {
        for (uint8_t c : cmdframe::command(kSeed, kOwnId, op, std::move(args)))
            Vcomm_Drv[0].StuffRx(c);
        for (int i = 0; i < 6; ++i) {
            Cmd_Check();
            FxpMain(1);
        }
        Bytes out;
        uint8_t b;
        while (Vcomm_Drv[0].DrainTx(&b))
            out.push_back(b);
        return out;
    }
    // The data of a data packet answer ({} and a failure for anything else).
    Bytes packet_data(const Bytes &answer) {
        if (answer.size() < 3 || answer[0] != 0xFF || answer[1] + 3u != answer.size()) {
            ADD_FAILURE() << "not a data packet: " << answer.size() << " bytes";
            return {};
        }
        return Bytes(answer.begin() + 2, answer.end() - 1);
    }
    // A command text's reply code; its value in *value (0xFFFFFFFF none).
    uint32_t fxp(const std::string &text, uint32_t *value = nullptr) {
        Bytes args(text.begin(), text.end());
        args.push_back(0);
        Bytes d = packet_data(exchange(28, args));
        if (d.size() != 2 && d.size() != 6) return 0;
        if (value)
            *value =
                d.size() == 6 ? d[2] | d[3] << 8 | d[4] << 16 | uint32_t(d[5]) << 24 : 0xFFFFFFFFu;
        return d[0] | d[1] << 8;
    }
    // Sends data after a stor in packets of `chunk`, then the end; every
    // answer byte.
    Bytes put(const Bytes &data, size_t chunk = 200) {
        Bytes answers;
        for (size_t pos = 0;; pos += chunk) {
            size_t n = std::min(chunk, data.size() - std::min(pos, data.size()));
            Bytes part(data.begin() + long(std::min(pos, data.size())),
                       data.begin() + long(std::min(pos, data.size()) + n));
            for (uint8_t b : exchange(29, part))
                answers.push_back(b);
            if (n == 0) return answers;
        }
    }
    // What a retr or list sends, up to its empty closing packet.
    std::string get() {
        std::string all;
        for (int guard = 0; guard < 1000; ++guard) {
            Bytes d = packet_data(exchange(30, {}));
            if (d.empty()) return all;
            all.append(d.begin(), d.end());
        }
        ADD_FAILURE() << "no closing packet";
        return all;
    }
    std::string file(const std::string &board) {
        std::ifstream in(host::path(board), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    bool is_dir(const std::string &board) {
        struct stat st;
        return ::stat(host::path(board).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }
};

TEST_F(FxpTest, CommandsOnTheMediaFolders) {
    ASSERT_EQ(fxp("mkd A:\\LOGS\\2024\\JAN"), 257u);
    EXPECT_TRUE(is_dir("/mnt/USB0/LOGS/2024/JAN"));
    // Case does not matter to the command word nor to the names.
    EXPECT_EQ(fxp("MKD a:\\logs\\2024\\jan"), 614u);
    ASSERT_EQ(fxp("cwd A:\\LOGS"), 250u);

    // A file of 5000 bytes goes round the 2048-byte ring both ways.
    Bytes data(5000);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = uint8_t(i * 7 + (i >> 8));
    ASSERT_EQ(fxp("stor x.txt"), 150u);
    EXPECT_EQ(put(data), Bytes(26, kAck));
    EXPECT_EQ(file("/mnt/USB0/LOGS/X.TXT"), std::string(data.begin(), data.end()));
    uint32_t value = 0;
    ASSERT_EQ(fxp("retr X.TXT", &value), 619u);
    EXPECT_EQ(value, 5000u);
    EXPECT_EQ(get(), std::string(data.begin(), data.end()));
    // Data asked for with nothing being read.
    EXPECT_EQ(exchange(30, {}), Bytes{kRefused});

    const struct {
        std::string text;
        uint32_t code;
    } cases[] = {
        {"stor X.TXT", 614},                    // exists
        {"retr 2024", 450},                     // not a file
        {"retr NONE.TXT", 550},                 //
        {"rmd 2024", 617},                      // not empty
        {"rmd A:\\LOGS", 501},                  // the current directory
        {"dele 2024", 501},                     // not a file
        {"dele X.TXT", 250},                    //
        {"dele X.TXT", 550},                    //
        {"rnfr 2024", 501},                     // no new name
        {"rnfr 2024 2025", 200},                //
        {"cwd A:\\NOPE", 550},                  //
        {"cwd", 611},                           //
        {"retr A:\\..\\..\\etc\\passwd", 501},  // above the drive's root
        {"list ..\\..\\..", 501},               //
        {"mkd Q:\\X", 501},                     // no such drive
        {"frobnicate A:\\", 500},               //
        {"   ", 500},                           //
        {"stor " + std::string(257, 'N'), 501}, // a word longer than 256
        {"cwd 2025\\JAN\\..\\..\\..", 250},     // ".." inside the drive
        {"cdup", 618},                          // now in the root
        {"cwd A:\\LOGS\\2025", 250},            //
        {"cdup", 200},                          //
        {"list B:\\", 619},                     // the stick
        {"list Z:\\", 619},                     // the internal flash
    };
    for (const auto &c : cases) {
        EXPECT_EQ(fxp(c.text), c.code) << c.text;
        if (c.code == 619) get();
    }
    EXPECT_TRUE(is_dir("/mnt/USB0/LOGS/2025/JAN"));

    // A medium that is not there.
    host::media_remove(host::kMediumUsb);
    EXPECT_EQ(fxp("list B:\\"), 611u);
    EXPECT_EQ(fxp("mkd B:\\X"), 611u);
}

TEST_F(FxpTest, ListingLinesAndQuotedNames) {
    host::make_dirs("/mnt/USB0/SUB");
    { std::ofstream(host::path("/mnt/USB0/DATA.CSV")) << "1,2,3"; }
    std::string csv = host::path("/mnt/USB0/DATA.CSV");
    tm t{};
    t.tm_year = 124, t.tm_mon = 1, t.tm_mday = 3, t.tm_hour = 9, t.tm_min = 5, t.tm_sec = 7;
    t.tm_isdst = -1;
    timespec ts[2] = {{mktime(&t), 0}, {mktime(&t), 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, csv.c_str(), ts, 0), 0);
    ASSERT_EQ(chmod(csv.c_str(), 0444), 0);

    const std::string line = "F DATA.CSV 5 09:05:07 03/02/24 Rsh\r\n";
    uint32_t value = 0;
    for (const char *text : {"list A:\\DATA.CSV", "LIST a:\\data.csv"}) {
        ASSERT_EQ(fxp(text, &value), 619u) << text;
        EXPECT_EQ(value, line.size());
        EXPECT_EQ(get(), line) << text;
    }
    // The whole directory: the count announced is what comes.
    ASSERT_EQ(fxp("list", &value), 619u);
    std::string all = get();
    EXPECT_EQ(all.size(), value);
    EXPECT_NE(all.find(line), std::string::npos) << all;
    EXPECT_NE(all.find("D SUB 0 "), std::string::npos) << all;
    EXPECT_EQ(all.find(" . "), std::string::npos) << all;

    // A quoted name keeps its blanks.
    ASSERT_EQ(fxp("stor \"A:\\MY FILE.TXT\""), 150u);
    EXPECT_EQ(put({'h', 'i'}), Bytes(2, kAck));
    EXPECT_EQ(file("/mnt/USB0/MY FILE.TXT"), "hi");
}

TEST_F(FxpTest, RefusedTextsPendingCommandsAndSlicedPasses) {
    // A text without its end, and one longer than the interface holds.
    Bytes open_text = {'l', 'i', 's', 't'};
    EXPECT_EQ(exchange(28, open_text), Bytes{kRefused});
    Bytes long_text(600, 'x');
    long_text.push_back(0);
    EXPECT_EQ(exchange(28, long_text), Bytes{kRefused});
    // Data with no file being stored.
    EXPECT_EQ(exchange(29, {1, 2, 3}), Bytes{kRefused});

    // A command left behind by an abandoned poll: the next one hears 612 and
    // the reply nobody collected is dropped, so the one after runs.
    Fxp_DoParseCommand("mkd A:\\OLD");
    FxpMain(1);
    EXPECT_EQ(fxp("mkd A:\\NEW"), 612u);
    EXPECT_EQ(fxp("mkd A:\\NEW"), 257u);
    EXPECT_TRUE(is_dir("/mnt/USB0/OLD"));

    // A sliced pass does no file work.
    Fxp_DoParseCommand("mkd A:\\SLICED");
    g_in_sliced_pass = true;
    FxpMain(1);
    g_in_sliced_pass = false;
    EXPECT_FALSE(is_dir("/mnt/USB0/SLICED"));
    EXPECT_EQ(FxpInterface.pending, 1);
    FxpMain(1);
    EXPECT_TRUE(is_dir("/mnt/USB0/SLICED"));
    EXPECT_EQ(FxpInterface.reply_code, 257u);
    FxpInterface.done = 0; // collected

    // A stor left half-written by a new command is deleted.
    ASSERT_EQ(fxp("stor A:\\HALF.TXT"), 150u);
    EXPECT_EQ(exchange(29, {'a', 'b'}), Bytes{kAck});
    EXPECT_EQ(fxp("list A:\\"), 619u);
    get();
    EXPECT_FALSE(is_dir("/mnt/USB0/HALF.TXT"));
    struct stat st;
    EXPECT_NE(::stat(host::path("/mnt/USB0/HALF.TXT").c_str(), &st), 0);
}

TEST(FxpParse, WordsAndPaths) {
    std::string w[3];
    int n = 0;
    ASSERT_TRUE(Fxp_SplitWords("  rnfr   \"A B\"  c  d", w, &n));
    EXPECT_EQ(n, 3);
    EXPECT_EQ(w[1], "A B");
    EXPECT_EQ(w[2], "c");
    EXPECT_FALSE(Fxp_SplitWords(("stor " + std::string(257, 'x')).c_str(), w, &n));
    EXPECT_TRUE(Fxp_SplitWords(("stor " + std::string(256, 'x')).c_str(), w, &n));

    const std::string cwd[3] = {"\\LOGS\\2024", "", "\\CFG"};
    const struct {
        const char *arg;
        bool ok;
        int drive;
        const char *path;
    } cases[] = {
        {"jan", true, 0, "\\LOGS\\2024\\JAN"},
        {"\\x", true, 0, "\\X"},
        {"..\\..", true, 0, ""},
        {"..\\..\\..", false, 0, ""},
        {"B:x/./y", true, 1, "\\X\\Y"},
        {"z:..", true, 2, ""},
        {"A:\\..", false, 0, ""},
        {"C:\\x", false, 0, ""},
        {"a:b:c", false, 0, ""},
        {"", true, 0, "\\LOGS\\2024"},
    };
    for (const auto &c : cases) {
        int drive = -1;
        std::string path;
        ASSERT_EQ(Fxp_ResolvePath(c.arg, 0, cwd, &drive, &path), c.ok) << c.arg;
        if (!c.ok) continue;
        EXPECT_EQ(drive, c.drive) << c.arg;
        EXPECT_EQ(path, c.path) << c.arg;
    }
}

} // namespace
