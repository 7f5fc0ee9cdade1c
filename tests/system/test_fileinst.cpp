// The ladder program's file instructions, assembled from text and run scan by
// scan with the media manager between scans, on real folders.
#include "data/cfm.h"
#include "data/data.h"
#include "host/media.h"
#include "host/root.h"
#include "host/shell.h"
#include "ladder_fixture.h"
#include "platform/media.h"
#include "serial/serial.h"
#include "system/fileinst.h"
#include "system/sys.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

namespace {

// A name operand on a line of its own: its word count (32 bits), then its
// text, as raw words.
std::string name_words(const std::string &text) {
    std::string t = text;
    t += '\0';
    if (t.size() % 2) t += '\0';
    std::string out = "\n        .word " + std::to_string(t.size() / 2) + ", 0";
    for (size_t i = 0; i < t.size(); i += 2) {
        char w[16];
        std::snprintf(w, sizeof w, ", 0x%04X", unsigned(uint8_t(t[i]) | uint8_t(t[i + 1]) << 8));
        out += w;
    }
    return out + "\n";
}

class FileInstTest : public LadderTest {
protected:
    void TearDown() override {
        FileInst_Reset();
        LadderTest::TearDown();
    }
    // A scan, then the media manager's turn and the screen loop's update.
    void pass() {
        scan();
        CFM_TheLoop(0);
        SYS_Update();
    }
    // Passes until the status register leaves -2 (at most n).
    int16_t settle(const std::string &status, int n = 20) {
        for (int i = 0; i < n && int16_t(word(status)) == -2; ++i) {
            pass();
            std::this_thread::sleep_for(std::chrono::milliseconds(i > 3 ? 20 : 0));
        }
        return int16_t(word(status));
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
    void insert_both() {
        host::media_insert(host::kMediumSd);
        host::media_insert(host::kMediumUsb);
    }
};

// %M1 write, %M2 read, %M3 rename, %M4 copy, %M5 delete, %M6 a second write
// on slot 0.
std::string file_program(const std::string &copy_src = "A:/DATA/*.CSV",
                         const std::string &del = "B:/BACKUP/*.CSV",
                         const std::string &write_name = "A:/DATA/$M$D.CSV") {
    return ".tokens 32\n"
           "        LD %M1\n"
           "        FILE3 0, 0x1201, %R1, 5, K32 10, K32 10, %R100" +
           name_words(write_name) +
           "        LD %M2\n"
           "        FILE2 0, 0x0001, %R21, 5, K32 0, K32 10, %R110" +
           name_words("A:/DATA/$M$D.CSV") +
           "        LD %M3\n"
           "        FILE4 0, %R120" +
           name_words("A:/DATA/$M$D.CSV") + name_words("A:/DATA/R.CSV") +
           "        LD %M4\n"
           "        FILE1 1, %R130, K32 0" +
           name_words(copy_src) + name_words("B:/BACKUP/") +
           "        LD %M5\n"
           "        FILE5 1, %R140" +
           name_words(del) +
           "        LD %M6\n"
           "        FILE3 0, 0x1201, %R1, 5, K32 10, K32 10, %R150" +
           name_words("A:/OTHER.CSV") + "        END\n";
}

TEST_F(FileInstTest, WriteReadRenameCopyDelete) {
    load(file_program());
    sr_put(sr::kClock + 3, 24); // day
    sr_put(sr::kClock + 4, 12); // month
    for (int i = 1; i <= 10; ++i)
        set_word("%R" + std::to_string(i), uint16_t(i * 11));
    pass();
    EXPECT_EQ(int16_t(word("%R100")), -4) << "idle while unpowered";

    // No card: the write answers "not mounted".
    set_bit("%M1", 1);
    pass();
    EXPECT_EQ(int16_t(word("%R100")), -2);
    EXPECT_EQ(settle("%R100"), 2);
    EXPECT_EQ(bit("%M1"), 1);
    set_bit("%M1", 0);
    pass();

    insert_both();
    set_bit("%M1", 1);
    pass();
    EXPECT_EQ(int16_t(word("%R100")), -2);
    set_bit("%M6", 1); // a second instruction on the slot waits
    pass();
    EXPECT_EQ(int16_t(word("%R150")), -3);
    EXPECT_EQ(settle("%R100"), 0);
    EXPECT_EQ(word("%R101"), 10u);
    set_bit("%M6", 0);
    set_bit("%M1", 0);
    pass();
    set_bit("%M1", 1); // a second line
    pass();
    EXPECT_EQ(settle("%R100"), 0);
    set_bit("%M1", 0);
    pass();
    EXPECT_EQ(python("import csv,sys; r=csv.reader(open(sys.argv[1]+\"/mnt/USB0/DATA/1224.CSV\")); "
                     "print([row for row in r])"),
              "[['11', '22', '33', '44', '55', '66', '77', '88', '99', '110'], "
              "['11', '22', '33', '44', '55', '66', '77', '88', '99', '110']]\n");

    // Read the first line back into %R21..%R30.
    set_bit("%M2", 1);
    pass();
    EXPECT_EQ(settle("%R110"), 0);
    EXPECT_EQ(word("%R111"), 10u);
    for (int i = 1; i <= 10; ++i)
        EXPECT_EQ(word("%R" + std::to_string(20 + i)), uint16_t(i * 11));
    set_bit("%M2", 0);

    // Rename, copy the wildcard to B:, delete it there.
    set_bit("%M3", 1);
    pass();
    EXPECT_EQ(settle("%R120"), 0);
    set_bit("%M3", 0);
    set_bit("%M4", 1);
    pass();
    EXPECT_EQ(settle("%R130", 200), 0);
    set_bit("%M4", 0);
    pass();
    EXPECT_EQ(python("import os,sys; r=sys.argv[1]+\"/mnt/\"; "
                     "print(os.listdir(r+\"USB0/DATA\"), os.listdir(r+\"USB1/BACKUP\"))"),
              "['R.CSV'] ['R.CSV']\n");
    set_bit("%M5", 1);
    pass();
    EXPECT_EQ(settle("%R140", 200), 0);
    EXPECT_EQ(python("import os,sys; print(os.listdir(sys.argv[1]+\"/mnt/USB1/BACKUP\"))"), "[]\n");
}

TEST_F(FileInstTest, RefusalsOfTheWorkers) {
    struct Case {
        const char *what;
        std::string src, del;
        bool usb;
        int16_t copy, remove;
    };
    // clang-format off
    const Case cases[] = {
        {"B: not mounted",        "A:/DATA/*.CSV", "B:/X.CSV",      false, 2,  2},
        {"empty wildcard folder", "A:/EMPTY/*.CSV", "A:/EMPTY/*",   true,  66, 66},
        {"no match",              "A:/DATA/*.TXT", "A:/DATA/*.TXT", true,  66, 66},
        {"missing file",          "A:/DATA/NO.CSV", "A:/NO/X",      true,  66, 66},
        {"512 characters",        "A:/" + std::string(509, 'N'), "A:/" + std::string(509, 'N'),
                                                                    true,  86, 86},
        {"a .. component",        "A:/DATA/../../../etc/*", "A:/DATA/../..", true, 86, 86},
    };
    // clang-format on
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        panel_reset_all();
        host::media_insert(host::kMediumSd);
        if (c.usb) host::media_insert(host::kMediumUsb);
        write_file("/mnt/USB0/DATA/A.CSV", "1\r\n");
        host::make_dirs("/mnt/USB0/EMPTY");
        load(file_program(c.src, c.del));
        set_bit("%M4", 1);
        set_bit("%M5", 1);
        pass();
        EXPECT_EQ(int16_t(word("%R130")), c.copy);
        EXPECT_EQ(int16_t(word("%R140")), c.remove);
        EXPECT_EQ(bit("%M4"), 1);
        FileInst_Reset();
    }
    // Slot words above 1 touch no slot entry.
    panel_reset_all();
    load(".tokens 32\n        LD %M1\n        FILE6 2, %R100\n        END\n");
    set_bit("%M1", 1);
    pass();
    EXPECT_EQ(int16_t(word("%R100")), 86);
    EXPECT_EQ(FileStatus[0] | FileStatus[1], 0u);
    // Data past the registers is refused before anything is posted.
    load(".tokens 32\n        LD %M1\n        FILE3 0, 0x1201, %R1, 5, K32 10, K32 60000, %R100" +
         name_words("A:/X.CSV") + "        END\n");
    pass();
    EXPECT_EQ(int16_t(word("%R100")), 86);
    EXPECT_EQ(dpram[mbox::kGeneric], dpram[mbox::kGeneric + 1]) << "nothing posted";
    // A long name on the write.
    load(file_program("A:/X", "A:/X", "A:/" + std::string(200, 'W') + ".CSV"));
    pass();
    EXPECT_EQ(int16_t(word("%R100")), 86);
}

TEST_F(FileInstTest, DroppingARunningCopyEndsThatCopyOnly) {
    insert_both();
    host::make_dirs("/mnt/USB0/DATA");
    std::string fifo = host::path("/mnt/USB0/DATA/PIPE.CSV");
    std::string other = host::path("/mnt/USB0/OTHER");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(mkfifo(other.c_str(), 0600), 0);
    // A cp of the test's own, also blocked on a pipe.
    pid_t mine = host::spawn_exec({"cp", other, other + ".copy"}, -1);
    ASSERT_GT(mine, 0);
    load(file_program("A:/DATA/PIPE.CSV"));
    set_bit("%M4", 1);
    pass();
    for (int i = 0; i < 20; ++i) {
        pass();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(int16_t(word("%R130")), -2) << "cp waits on the pipe";
    EXPECT_EQ(FileInst_WorkersRunning(), 1);
    set_bit("%M4", 0);
    pass();
    EXPECT_EQ(int16_t(word("%R130")), -4);
    for (int i = 0; i < 250 && FileInst_WorkersRunning(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(FileInst_WorkersRunning(), 0) << "the worker's cp ended";
    EXPECT_EQ(kill(mine, 0), 0) << "the test's cp survives";
    EXPECT_EQ(CopyRet.load(), -4);
    host::end_child(mine);
    // Powered again, the copy starts anew.
    set_bit("%M4", 1);
    pass();
    EXPECT_EQ(int16_t(word("%R130")), -2);
    FILE *w = fopen(fifo.c_str(), "w");
    ASSERT_TRUE(w);
    fputs("x\r\n", w);
    fclose(w);
    EXPECT_EQ(settle("%R130", 250), 0);
}

} // namespace
