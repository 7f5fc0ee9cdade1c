// The media request manager: the round-robin table scan, the request server
// on real folders, the file mailboxes and the generic slot's requests.
#include "base/le.h"
#include "data/cfm.h"
#include "data/data.h"
#include "host/clock.h"
#include "host/media.h"
#include "host/root.h"
#include "panel_fixture.h"
#include "platform/cf_api.h"
#include "platform/media.h"
#include "platform/tick.h"
#include "regs/plc_reg.h"
#include "regs/sr.h"
#include "serial/serial.h"
#include "system/sys.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::string> g_messages;

class CfmTest : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        g_messages.clear();
        CfmHooks h = CFM_Hooks();
        h.debug_msg = [](const char *t) { g_messages.push_back(t); };
        CFM_SetHooks(h);
        CFM_Open();
    }
    void insert() {
        host::media_insert(host::kMediumSd);
        host::media_insert(host::kMediumUsb);
        BackTskUpdate(); // the free-space child's figures
    }
    // One main-loop pass as the manager's clients see it: the server, then
    // the screen loop's system update.
    void pass() {
        CFM_TheLoop(0);
        SYS_Update();
    }
    // Runs a request to its end on a block; the result.
    uint32_t run(CFCB *b, uint32_t drive, uint32_t code, const void *a1 = nullptr,
                 const void *a2 = nullptr) {
        CFM_LoadReq(b, drive, code, reinterpret_cast<uintptr_t>(a1),
                    reinterpret_cast<uintptr_t>(a2));
        uint32_t result = 0xDEAD;
        for (int i = 0; i < 4 && CFM_PollReq(b, &result) == 2; ++i)
            CFM_TheLoop(0);
        return result;
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
};

TEST_F(CfmTest, TableServesRoundRobinFromTheRowAfterTheLastCompleted) {
    // Row 5 goes out at once (the manager is idle); the rest wait for it.
    for (int row : {5, 0, 1, 2, 3, 4, 6, 7, 8, 9, 10, 11, 12, 13})
        CFM_LoadReq(&tCFCB[row], 0, cfm::kRefused, uintptr_t(100 + row), 0);
    EXPECT_EQ(tCFCB[5].state, kCfcbRunning);
    EXPECT_EQ(tCFCB[0].state, kCfcbPending);
    std::vector<int> order;
    for (int i = 0; i < 14; ++i) {
        CFM_TheLoop(0);
        EXPECT_EQ(CFM_IsAllHalted(), i == 13 ? 1 : 0);
        for (int row = 0; row < kCfcbCount; ++row)
            if (tCFCB[row].state == kCfcbDone) {
                order.push_back(row);
                EXPECT_EQ(tCFCB[row].result, uint32_t(100 + row));
                tCFCB[row].state = kCfcbIdle;
            }
    }
    EXPECT_EQ(order, (std::vector<int>{5, 6, 7, 8, 9, 10, 11, 12, 13, 0, 1, 2, 3, 4}));
    // A client that posts again at once waits for the others.
    CFM_LoadReq(&tCFCB[4], 0, cfm::kRefused, 1, 0);
    CFM_LoadReq(&tCFCB[3], 0, cfm::kRefused, 2, 0);
    EXPECT_EQ(tCFCB[4].state, kCfcbRunning);
    EXPECT_EQ(tCFCB[3].state, kCfcbPending);
}

TEST_F(CfmTest, PollBeforeAndAfterTheServerCancelAndIdleBlocks) {
    uint32_t result = 0;
    CFM_LoadReq(pDirCFCB, 0, cfm::kRefused, 42, 0);
    EXPECT_EQ(CFM_PollReq(pDirCFCB, &result), 2);
    CFM_TheLoop(0);
    EXPECT_EQ(CFM_PollReq(pDirCFCB, &result), 4);
    EXPECT_EQ(result, 42u);
    EXPECT_EQ(pDirCFCB->state, kCfcbIdle);
    // An idle block answers 97 and stays idle.
    EXPECT_EQ(CFM_PollReq(pDirCFCB, &result), 4);
    EXPECT_EQ(result, kCfmFailed);

    // Cancel a running request and load again before its reply.
    CFM_LoadReq(pDirCFCB, 0, cfm::kRefused, 1, 0);
    CFM_CancelReq(pDirCFCB);
    EXPECT_EQ(pDirCFCB->state, kCfcbCancelled);
    CFM_LoadReq(pDirCFCB, 0, cfm::kRefused, 2, 0);
    ASSERT_EQ(g_messages.size(), 1u);
    EXPECT_EQ(g_messages[0].rfind("Bad State on ", 0), 0u);
    CFM_TheLoop(0);
    EXPECT_EQ(CFM_PollReq(pDirCFCB, &result), 4);
    EXPECT_EQ(result, kCfmFailed) << "the reply found the block pending";
    EXPECT_EQ(pDirCFCB->state, kCfcbIdle);
    // The table is free again.
    EXPECT_EQ(run(pDirCFCB, 0, cfm::kRefused, reinterpret_cast<void *>(7)), 7u);
}

TEST_F(CfmTest, AFailedSendFailsTheRequestInsteadOfHoldingTheTable) {
    CfmHooks h = CFM_Hooks();
    h.send_request = [](const CfmRequestMsg *) { return uint32_t(11); };
    CFM_SetHooks(h);
    uint32_t result = 0;
    CFM_LoadReq(pVidCFCB, 0, cfm::kStatus, 0, 0);
    ASSERT_EQ(g_messages.size(), 1u);
    EXPECT_EQ(g_messages[0], "CompactFlash CFI msg err = 11");
    EXPECT_EQ(CFM_PollReq(pVidCFCB, &result), 4);
    EXPECT_EQ(result, kCfmFailed);
    EXPECT_EQ(CFM_IsAllHalted(), 1);
}

TEST_F(CfmTest, RequestsOnRealFolders) {
    insert();
    CFCB *b = pDirCFCB;
    EXPECT_EQ(run(b, 0, cfm::kStatus), 0u);
    uint32_t total = 0, free = 0;
    EXPECT_EQ(run(b, 0, cfm::kFreeSpace, &total, &free), 0u);
    EXPECT_EQ(run(b, 0, cfm::kMakeDir, "A:\\LOGS"), 0u);
    EXPECT_EQ(run(b, 0, cfm::kChangeDir, "A:\\LOGS"), 0u);
    // Create, open, write, close, read back through the file requests.
    write_file("/mnt/USB0/LOGS/F.TXT", "");
    FxFile f{};
    uint32_t n = 0;
    char text[] = "hello";
    CfmFileArgs a{&f, "A:\\LOGS\\F.TXT", 1, text, 5, &n};
    EXPECT_EQ(run(b, 0, cfm::kOpen, &a), 0u);
    EXPECT_EQ(run(b, 0, cfm::kWrite, &a), 0u);
    EXPECT_EQ(n, 5u);
    EXPECT_EQ(run(b, 0, cfm::kClose, &a), 0u);
    char back[8] = {};
    CfmFileArgs r{&f, "A:\\LOGS\\F.TXT", 0, back, sizeof back, &n};
    EXPECT_EQ(run(b, 0, cfm::kOpen, &r), 0u);
    EXPECT_EQ(run(b, 0, cfm::kRead, &r), 0u);
    EXPECT_EQ(std::string(back, n), "hello");
    EXPECT_EQ(run(b, 0, cfm::kClose, &r), 0u);
    // Rename, copy, delete, whole-file write and read.
    const char *ren[2] = {"A:\\LOGS\\F.TXT", "A:\\LOGS\\G.TXT"};
    EXPECT_EQ(run(b, 0, cfm::kRename, ren), 0u);
    const char *cp[2] = {"A:\\LOGS\\G.TXT", "B:\\G.TXT"};
    EXPECT_EQ(run(b, 0, cfm::kCopy, cp), 0u);
    uint8_t vals[4] = {1, 0, 2, 0};
    uint32_t done = 0;
    CsvFileRequest w{};
    w.kind = 1;
    w.path = "A:\\LOGS\\V.CSV";
    w.data = vals;
    w.type = 4;
    w.count = 2;
    w.result = &done;
    w.position = 2;
    w.open_mode = 2;
    w.end_of_row = 1;
    EXPECT_EQ(run(b, 0, cfm::kWriteFile, &w), 0u);
    uint8_t got[4] = {};
    CsvFileRequest rd = w;
    rd.data = got;
    rd.position = 0;
    rd.end_of_row = 0;
    EXPECT_EQ(run(b, 0, cfm::kReadFile, &rd), 0u);
    EXPECT_EQ(done, 2u);
    EXPECT_EQ(std::memcmp(got, vals, 4), 0);
    const char *del[1] = {"A:\\LOGS\\G.TXT"};
    EXPECT_EQ(run(b, 0, cfm::kDelete, del), 0u);
    // What Python sees of both media.
    EXPECT_EQ(python("import os,sys; r=sys.argv[1]+\"/mnt/\"; "
                     "print(sorted(os.listdir(r+\"USB0/LOGS\")), sorted(os.listdir(r+\"USB1\")), "
                     "open(r+\"USB1/G.TXT\").read())"),
              "['V.CSV'] ['G.TXT'] hello\n");
    EXPECT_EQ(run(b, 0, cfm::kRemoveDir, "A:\\LOGS"), 0u);
    EXPECT_EQ(python("import os,sys; print(os.listdir(sys.argv[1]+\"/mnt/USB0\"))"), "[]\n");
    // Missing records fail; codes without work answer 0; a recipe is not built.
    EXPECT_EQ(run(b, 0, cfm::kOpen), kCfmFailed);
    EXPECT_EQ(run(b, 0, cfm::kReadFile), kCfmFailed);
    EXPECT_EQ(run(b, 0, 26), 0u);
    EXPECT_EQ(run(b, 0, cfm::kRecipe), kCfmFailed);
    // The program header: the command client gets the port, but no dispatcher
    // serves the programming protocol here, so its first command goes unanswered.
    uint8_t header[80];
    EXPECT_EQ(run(b, 0, cfm::kPgmHeader, header), 2006u);
}

TEST_F(CfmTest, StatusFormatAndWaitRequests) {
    // No card: the status answers "not mounted".
    EXPECT_EQ(int16_t(run(pDirCFCB, 0, cfm::kStatus)), cf::kAbsent);
    uint32_t total = 1, free = 1;
    EXPECT_EQ(int16_t(run(pDirCFCB, 0, cfm::kFreeSpace, &total, &free)), cf::kAbsent);
    EXPECT_EQ(total, 0u);
    EXPECT_EQ(free, 0u);
    EXPECT_NE(run(pDirCFCB, 0, cfm::kFormat), 0u) << "an unmountable card fails";
    insert();
    write_file("/mnt/USB0/X.TXT", "x");
    EXPECT_EQ(run(pDirCFCB, 0, cfm::kFormat), 0u);
    EXPECT_EQ(python("import os,sys; print(os.listdir(sys.argv[1]+\"/mnt/USB0\"))"), "[]\n");
    // The wait spins about four seconds of the 10 ms tick.
    uint32_t t0 = FPGA_GetFrt();
    EXPECT_EQ(run(pDirCFCB, 0, cfm::kWait), 0u);
    uint32_t spent = FPGA_GetFrt() - t0;
    EXPECT_GE(spent, 39900u);
    EXPECT_LE(spent, 40200u);
}

TEST_F(CfmTest, DeletingTheLastListingStopsAtAPathPast511Characters) {
    insert();
    const std::string dir = "D/" + std::string(250, 'P');
    for (const char *f : {"A.TXT", "SUB/B.TXT", "C.TXT", "KEEP.TXT"})
        write_file("/mnt/USB0/" + dir + "/" + f, "x");
    std::snprintf(cfmListing.base, sizeof cfmListing.base, "\\D\\%s", dir.c_str() + 2);
    auto add = [](const std::string &name, const char *ext, uint8_t attr) {
        CfmListEntry &e = cfmListing.entry[cfmListing.count++];
        std::snprintf(e.name, sizeof e.name, "%s", name.c_str());
        std::strcpy(e.extension, ext);
        e.attributes = attr;
    };
    add("..      ", "", 0x10);
    add("A       ", "TXT", 0);
    add("SUB", "", 0x10);
    add("VOL", "", 0x08);
    add(std::string(255, 'M'), "TXT", 0); // 513 characters: the deletion ends here
    add("C", "TXT", 0);
    EXPECT_EQ(run(pDirCFCB, 0, cfm::kDeleteListing), 0u);
    EXPECT_EQ(
        python("import os,sys; print(sorted(os.listdir(sys.argv[1]+\"/mnt/USB0/" + dir + "\")))"),
        "['C.TXT', 'KEEP.TXT']\n");
}

// ---------------------------------------------------------------------------
// The data logger's slot.

TEST_F(CfmTest, LoggerSlotPostsPollsAndAnswers) {
    insert();
    write_file("/mnt/USB0/LOG.TXT", "");
    FxFile f{};
    static const char path[] = "A:\\LOG.TXT";
    EXPECT_EQ(CFDL_Open(&f, path, 2), -2);
    EXPECT_EQ(CFDL_Close(&f), -3) << "a second post on the busy slot";
    EXPECT_EQ(CFDL_Result(), -2) << "polled in the pass that posted";
    pass(); // loaded and sent
    EXPECT_EQ(CFDL_Result(), -2);
    pass(); // served, answered
    EXPECT_EQ(CFDL_Result(), 0);
    uint32_t count = 0;
    static const char line[] = "1,2\r\n";
    EXPECT_EQ(CFDL_Write(&f, line, 5, &count), -2);
    pass();
    pass();
    EXPECT_EQ(CFDL_Result(), 0);
    EXPECT_EQ(count, 5u);
    EXPECT_EQ(CFDL_Close(&f), -2);
    pass();
    pass();
    EXPECT_EQ(CFDL_Result(), 0);
    EXPECT_EQ(read_file("/mnt/USB0/LOG.TXT"), "1,2\r\n");
    EXPECT_EQ(CFM_WriteCloseCount(), 2u);

    // An opcode the slot does not take is answered 97 a pass after loading.
    uint8_t *slot = dpram + mbox::kLogger;
    slot[mbox::kRequest] = uint8_t(1 - slot[mbox::kAnswer]);
    slot[mbox::kOpcode] = 6;
    pass();
    EXPECT_EQ(CFDL_Result(), -2);
    pass();
    EXPECT_EQ(CFDL_Result(), 97);
}

TEST_F(CfmTest, PulledCardAndSafeRemoval) {
    insert();
    CFM_Update(); // the status cycle sees the card
    EXPECT_EQ(sr_get(sr::kMediaStatus), 0);
    EXPECT_EQ(CFDL_GetStatus(), 0);
    // Safe removal holds a posted request; clearing it lets the request run.
    sr_put(sr::kMediaControl, 1);
    CFM_Update();
    FxFile f{};
    EXPECT_EQ(CFDL_MakeDir(0, "A:\\NEW"), -2);
    for (int i = 0; i < 3; ++i)
        pass();
    EXPECT_EQ(CFDL_Result(), -2);
    sr_put(sr::kMediaControl, 0);
    CFM_Update();
    pass();
    pass();
    EXPECT_EQ(CFDL_Result(), 0);
    EXPECT_EQ(python("import os,sys; print(os.path.isdir(sys.argv[1]+\"/mnt/USB0/NEW\"))"),
              "True\n");

    // Pulled card: while the request waits the client reads the media status.
    host::media_remove(host::kMediumSd);
    CF_GetStatus(0); // the file layer finds it gone
    host::clock_advance_ms(1100);
    CFM_Update();
    EXPECT_EQ(sr_get(sr::kMediaStatus), 2);
    EXPECT_EQ(CFDL_GetStatus(), 2);
    EXPECT_EQ(CFDL_Open(&f, "A:\\X", 1), -2);
    EXPECT_EQ(CFDL_Result(), 2);
    pass();
    pass();
    EXPECT_NE(CFDL_Result(), 0) << "answered with the file layer's error";
}

// ---------------------------------------------------------------------------
// The generic slot.

class DpramTest : public CfmTest {
protected:
    uint8_t *slot() { return dpram + mbox::kGeneric; }
};

TEST_F(DpramTest, WriteAndReadThroughTheSlot) {
    insert();
    host::make_dirs("/mnt/USB0/DATA");
    uint8_t vals[6] = {1, 0, 2, 0, 3, 0};
    uint32_t done = 0;
    CsvFileRequest w{};
    w.kind = 1;
    w.path = "A:/DATA/T.CSV trailing words";
    w.data = vals;
    w.type = 4;
    w.count = 3;
    w.result = &done;
    w.position = 3;
    w.open_mode = 2;
    w.end_of_row = 1;
    EXPECT_EQ(CF_DpramWriteFile(0, &w), -2);
    EXPECT_STREQ(reinterpret_cast<char *>(slot() + 64), "A:\\DATA\\T.CSV") << "cut at the blank";
    EXPECT_EQ(CF_DpramWriteFile(0, &w), -3);
    EXPECT_EQ(CF_DpramReadFile(0, &w), -3);
    EXPECT_EQ(CF_DpramWriteFile(kDpramPoll, &w), -2);
    pass();
    pass();
    EXPECT_EQ(CF_DpramWriteFile(kDpramPoll, &w), 0);
    EXPECT_EQ(done, 3u);
    EXPECT_EQ(read_file("/mnt/USB0/DATA/T.CSV"), "1,2,3\r\n");

    uint8_t got[6] = {};
    CsvFileRequest r = w;
    r.data = got;
    r.position = 0;
    r.end_of_row = 0;
    done = 0;
    EXPECT_EQ(CF_DpramReadFile(0, &r), -2);
    pass();
    pass();
    EXPECT_EQ(CF_DpramReadFile(kDpramPoll, &r), 0);
    EXPECT_EQ(done, 3u);
    EXPECT_EQ(std::memcmp(got, vals, 6), 0);
}

TEST_F(DpramTest, NamesAndDataThatDoNotFitAreRefusedUnposted) {
    CsvFileRequest r{};
    r.kind = 1;
    r.type = 4;
    r.count = 1;
    uint8_t v[2] = {};
    r.data = v;
    struct Case {
        const char *what;
        std::string name;
        bool read;
        int16_t want;
    };
    // clang-format off
    const Case cases[] = {
        {"512 characters",            "A:\\" + std::string(509, 'N'),   true,  cf::kInvalid},
        {"read name past the slot",   "A:\\" + std::string(209, 'N'),   true,  cf::kInvalid},
        {"read name at its limit",    "A:\\" + std::string(208, 'N'),   true,  -2},
        {"write name past the slot",  "A:\\" + std::string(197, 'N'),   false, cf::kInvalid},
        {"write name at its limit",   "A:\\" + std::string(196, 'N'),   false, -2},
        {"a .. component",            "A:\\DATA\\..\\..\\X.CSV",        true,  cf::kInvalid},
    };
    // clang-format on
    for (const Case &c : cases) {
        CFM_Reset();
        std::memset(slot(), 0, 264);
        r.path = c.name.c_str();
        int16_t st = c.read ? CF_DpramReadFile(0, &r) : CF_DpramWriteFile(0, &r);
        EXPECT_EQ(st, c.want) << c.what;
        EXPECT_EQ(slot()[0] != slot()[1], st == -2) << c.what << ": posted";
    }
    // More data than the 8192-byte area.
    std::memset(slot(), 0, 264);
    r.path = "A:\\X.CSV";
    r.count = 4097;
    EXPECT_EQ(CF_DpramWriteFile(0, &r), cf::kInvalid);
    EXPECT_EQ(CF_DpramReadFile(0, &r), cf::kInvalid);
    EXPECT_EQ(slot()[0], slot()[1]);
    // Rename and copy: the first name has 247 characters, the second 511.
    std::string first = "A:\\" + std::string(244, 'F'), second = "A:\\" + std::string(508, 'S');
    const char *names[2] = {first.c_str(), second.c_str()};
    EXPECT_EQ(CF_DpramCopyFile(0, names), -2);
    std::memset(slot(), 0, 264);
    std::string first2 = first + "F";
    names[0] = first2.c_str();
    EXPECT_EQ(CF_DpramRenameFile(0, names), cf::kInvalid);
    const char *del[1] = {first.c_str()};
    EXPECT_EQ(CF_DpramDeleteFile(0, del), -2) << "delete takes 251";
}

TEST_F(DpramTest, LayoutReadAppendsCsvAndUnknownOpcodeFails) {
    CsvFileRequest r{};
    r.kind = 1;
    r.end_of_row = kCsvLayoutRead | (4u << 16);
    r.path = "A:\\LOG1";
    EXPECT_EQ(CF_DpramReadFile(0, &r), -2);
    EXPECT_STREQ(reinterpret_cast<char *>(slot() + 52), "A:\\LOG1.csv");
    std::memset(slot(), 0, 264);
    r.path = "A:\\LOG1.CSV";
    EXPECT_EQ(CF_DpramReadFile(0, &r), -2);
    EXPECT_STREQ(reinterpret_cast<char *>(slot() + 52), "A:\\LOG1.CSV");

    std::memset(slot(), 0, 264);
    slot()[0] = 1;
    slot()[mbox::kOpcode] = 9;
    pass();
    pass();
    EXPECT_EQ(slot()[0], slot()[1]);
    EXPECT_EQ(le32(slot() + 4), kCfmFailed);
}

TEST_F(DpramTest, RenameDeleteCopyAndFormatThroughTheSlot) {
    insert();
    write_file("/mnt/USB0/A.TXT", "a");
    auto finish = [&](int16_t (*poll)(uint32_t)) {
        pass();
        pass();
        return poll(kDpramPoll);
    };
    const char *ren[2] = {"A:/A.TXT", "A:/B.TXT"};
    ASSERT_EQ(CF_DpramRenameFile(0, ren), -2);
    EXPECT_EQ(finish([](uint32_t f) { return CF_DpramRenameFile(f, nullptr); }), 0);
    const char *cp[2] = {"A:/B.TXT", "B:/C.TXT"};
    ASSERT_EQ(CF_DpramCopyFile(0, cp), -2);
    EXPECT_EQ(finish([](uint32_t f) { return CF_DpramCopyFile(f, nullptr); }), 0);
    const char *del[1] = {"A:/B.TXT"};
    ASSERT_EQ(CF_DpramDeleteFile(0, del), -2);
    EXPECT_EQ(finish([](uint32_t f) { return CF_DpramDeleteFile(f, nullptr); }), 0);
    EXPECT_EQ(python("import os,sys; r=sys.argv[1]+\"/mnt/\"; "
                     "print(os.listdir(r+\"USB0\"), os.listdir(r+\"USB1\"))"),
              "[] ['C.TXT']\n");
    ASSERT_EQ(CF_DpramFormatCard(1), -2);
    EXPECT_EQ(finish([](uint32_t f) { return CF_DpramFormatCard(f | 1); }), 0);
    EXPECT_EQ(python("import os,sys; print(os.listdir(sys.argv[1]+\"/mnt/USB1\"))"), "[]\n");
}

TEST(ConvertMetaTest, MacrosCountersAndNamesWithout) {
    panel_reset_all();
    sr_put(sr::kClock, 7);
    sr_put(sr::kClock + 1, 8);
    sr_put(sr::kClock + 2, 9);
    sr_put(sr::kClock + 3, 5);
    sr_put(sr::kClock + 4, 3);
    sr_put(sr::kClock + 5, 2024);
    cfmMetaCounter[0] = {41, 99, 1};
    char a[512] = "A:\\DATA\\$Y$M$D_$h$m$s.CSV";
    ConvertMeta(a);
    EXPECT_STREQ(a, "A:\\DATA\\240305_090807.CSV");
    char b[512] = "LOG$1u3.BMP";
    ConvertMeta(b);
    EXPECT_STREQ(b, "LOG041.BMP");
    EXPECT_EQ(cfmMetaCounter[0].value, 42u);
    char c[512] = "A$Q$";
    ConvertMeta(c);
    EXPECT_STREQ(c, "A$Q$");
    // 5 March 2024: day 65 of a leap year that began on a Monday.
    char d[512] = "W$W";
    ConvertMeta(d);
    EXPECT_STREQ(d, "W10");
    // A long expansion is cut at 511 characters.
    char e[512];
    std::string pat(255, 'x');
    pat += "$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y"
           "$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y";
    pat +=
        "$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y$Y";
    ASSERT_LT(pat.size(), 512u);
    std::strcpy(e, pat.c_str());
    ConvertMeta(e);
    EXPECT_EQ(std::strlen(e), 511u);
    EXPECT_TRUE(CFM_HasDotDot("A:\\X\\..\\Y"));
    EXPECT_TRUE(CFM_HasDotDot(".."));
    EXPECT_FALSE(CFM_HasDotDot("A:\\X..Y\\..Z"));
}

} // namespace
