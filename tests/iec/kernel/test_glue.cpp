// The runtime glue: start-up, requests, the programming link's hand-back and
// the VM cycle in the control scan, with stand-ins for the comm and event
// servers.
#include "base/le.h"
#include "base/trace.h"
#include "host/clock.h"
#include "host/root.h"
#include "iec/comm/trcs.h"
#include "iec/kernel/iec.h"
#include "iec/kernel/trdb.h"
#include "iec/kernel/trglue.h"
#include "iec/kernel/trstatus.h"
#include "iec/kernel/trvm.h"
#include "iec_app.h"
#include "panel_fixture.h"
#include "platform/tick.h"
#include "regs/plc_reg.h"

#include <algorithm>
#include <deque>

namespace {

// The comm server's stand-in: requests queued by the test, answers recorded.
struct Comm {
    std::deque<int> questions;
    std::vector<uint32_t> answers;
    int asked = 0;
    bool start_ok = true, load_ok = true;
    TrLoadInfo load{1, 0, "tr", nullptr};
    bool evs_fails = false;
};
Comm *g_comm;

const TrCommStandIn kStandIn{
    [](uint16_t *slot) {
        ++g_comm->asked;
        if (g_comm->questions.empty()) return 0;
        int q = g_comm->questions.front();
        g_comm->questions.pop_front();
        *slot = 1;
        return q;
    },
    [](uint16_t, TrStartInfo *info) {
        *info = TrStartInfo{1, 0, "tr"};
        return g_comm->start_ok ? 0 : 1;
    },
    [](uint16_t, TrLoadInfo *info) {
        *info = g_comm->load;
        return g_comm->load_ok ? 0 : 1;
    },
    [](uint16_t, uint32_t code) { g_comm->answers.push_back(code); },
    [] { return g_comm->evs_fails ? 1 : 0; },
};

class Glue : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        g_comm = &comm;
        TrComm_StandIn = &kStandIn;
        host::make_dirs("/mnt/cfg");
    }
    void TearDown() override {
        __Exit();
        TrComm_StandIn = nullptr;
        g_comm = nullptr;
        PanelTest::TearDown();
    }
    void install(const std::string &source = iec_app()) {
        write_file("/mnt/cfg/tr.cod", as_text(iec_image(source)));
    }
    // One request through the server's pass; its answer.
    uint32_t ask(int code) {
        comm.answers.clear();
        comm.questions.push_back(code);
        _Serve();
        return comm.answers.empty() ? 0xFFFFFFFFu : comm.answers.back();
    }
    uint32_t cycles() { return le32(TrVM_Status(pDB) + trst::kCycleCount); }
    Comm comm;
};

TEST_F(Glue, StartUpPrintsTheBannerAndColdStartsTheApplication) {
    install();
    host::trace_start();
    testing::internal::CaptureStdout();
    Trevant_init();
    std::string out = testing::internal::GetCapturedStdout();
    host::trace_stop();
    const char *lines[] = {"Tr runtime - Linux Multithreaded - May 10 2021\n",
                           "1.2.0\n",
                           "\nReady - Press CTRL+C to exit.\n\n",
                           "RT capabilities disabled\n",
                           "ERROR: Cant open TCP port\n",
                           "Tr_main_loop_start\n",
                           "TrevantFirstRun_func\n"};
    size_t at = 0;
    for (const char *l : lines) {
        size_t found = out.find(l, at);
        ASSERT_NE(found, std::string::npos) << l << " in order in:\n" << out;
        at = found;
    }
    std::vector<std::string> want = {"Trevant_init",     "TrCS_Open",           "TrEvs_Open",
                                     "IoStop",           "TrIos_Open",          "TrDDKC_Build",
                                     "TrEvs_OnAppStart", "Trevant_Comm_service"};
    std::vector<std::string> calls = host::trace_calls();
    calls.erase(std::remove(calls.begin(), calls.end(), "io_driver"), calls.end());
    EXPECT_EQ(calls, want);
    EXPECT_EQ(Tr_init, 1);
    EXPECT_EQ(iVmAlive, 1);
    EXPECT_EQ(TrevantFirstRun, 1);
    ASSERT_NE(pDB, nullptr);
    EXPECT_EQ(sbit_get(1), 1);
    EXPECT_EQ(sr_get(1), 1);
    std::string info = read_file("/trinfo.txt");
    EXPECT_EQ(std::count(info.begin(), info.end(), '\n'), 2) << info;
    EXPECT_EQ(info.rfind("Tr runtime - Linux Multithreaded - May 10 2021\n", 0), 0u);
    // A second call runs no start-up again.
    testing::internal::CaptureStdout();
    Trevant_init();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST_F(Glue, WithoutCodeTheServersAreStillServed) {
    comm.evs_fails = true; // and without an event server
    testing::internal::CaptureStdout();
    Trevant_init();
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.find("Tr_main_loop_start"), std::string::npos);
    EXPECT_EQ(pDB, nullptr);
    EXPECT_EQ(iVmAlive, 0);
    EXPECT_EQ(pEvData, nullptr);
    // The panel's protocols own the link: nothing is asked.
    Trevant_Comm_service();
    EXPECT_EQ(comm.asked, 0);
    Tr_Connect_Serial();
    Trevant_Comm_service();
    EXPECT_EQ(comm.asked, 8);
    // A download then starts the application.
    std::vector<uint8_t> image = iec_image(iec_app());
    comm.load = TrLoadInfo{1, 0, "tr", nullptr};
    testing::internal::CaptureStdout();
    EXPECT_EQ(ask(2), 0u);
    comm.load = TrLoadInfo{1, uint32_t(image.size()), "tr", image.data()};
    EXPECT_EQ(ask(3), 0u);
    EXPECT_EQ(ask(4), 0u);
    out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("TrCSRQ_LOAD\n"), std::string::npos);
    EXPECT_NE(out.find("TrCSRQ_ENDLOAD\n"), std::string::npos);
    EXPECT_NE(pDB, nullptr);
    EXPECT_EQ(iVmAlive, 1);
    EXPECT_EQ(read_file("/mnt/cfg/tr.cod"), as_text(image));
}

TEST_F(Glue, RequestCodes) {
    install();
    Trevant_init();
    Tr_Connect_Serial();
    std::string code_file = read_file("/mnt/cfg/tr.cod");
    struct Case {
        const char *what;
        int code;
        bool running_before;
        uint32_t answer;
        const char *print; // null: nothing printed
    };
    const Case cases[] = {
        {"START while running", 6, true, 1, "TrCSRQ_START\n"},
        {"LOAD while the code is loaded", 2, true, 1, "TrCSRQ_LOAD\n"},
        {"ENDLOAD while the code is loaded", 4, true, 1, "TrCSRQ_ENDLOAD\n"},
        {"VM request without buffers", 1, true, 1, nullptr},
        {"Modbus request without buffers", 17, true, 1, nullptr},
        {"unknown code", 9, true, 1, nullptr},
        {"CHANGE without a change file", 8, true, 1, "TrCSRQ_CHANGE\n"},
        {"HOTSTART while running", 7, true, 1, "TrCSRQ_HOTSTART\n"},
        {"STOP while running", 5, true, 0, "TrCSRQ_STOP\nApplication stopped\n\n"},
        {"STOP while idle", 5, false, 1, "TrCSRQ_STOP\n"},
        {"START while idle", 6, false, 0, "TrCSRQ_START\n"},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(pDB != nullptr, c.running_before) << c.what;
        testing::internal::CaptureStdout();
        EXPECT_EQ(ask(c.code), c.answer) << c.what;
        std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(out, c.print ? c.print : "") << c.what;
        EXPECT_EQ(read_file("/mnt/cfg/tr.cod"), code_file) << c.what;
    }
    // A request whose record cannot be read is answered 1 with nothing printed.
    comm.start_ok = false;
    testing::internal::CaptureStdout();
    _Stop();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Application stopped\n\n");
    testing::internal::CaptureStdout();
    EXPECT_EQ(ask(6), 1u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(pDB, nullptr);
}

TEST_F(Glue, StopWritesTheHotImageAndTheNextCycleEndsTheVm) {
    install();
    Trevant_init();
    uint32_t size = pDBSize;
    testing::internal::CaptureStdout();
    __Exit();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(read_file("/tr.hot").size(), size);
    EXPECT_EQ(iVmAlive, 2);
    EXPECT_EQ(Tr_init, 1);
    _VMThread();
    EXPECT_EQ(iVmAlive, 0);
    EXPECT_EQ(Tr_init, 0);
    // An empty hot image makes the hot start fail.
    Trevant_init();
    Tr_Connect_Serial();
    testing::internal::CaptureStdout();
    _Stop();
    write_file("/tr.hot", "");
    EXPECT_NE(ask(7), 0u);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(pDB, nullptr);
}

TEST_F(Glue, TheLinkGoesBackAfterMoreThan65SecondsWithoutAFrame) {
    host::clock_use_virtual();
    Trevant_init();
    struct Case {
        const char *what;
        uint32_t frame_at; // tick of a "Tr" frame, 0 none
        uint32_t look_at;
        bool back;
    };
    const Case cases[] = {
        {"exactly 65 s", 0, kTrLinkIdleTicks, false},
        {"one tick more", 0, kTrLinkIdleTicks + 1, true},
        {"a frame at 649,999 restarts the count", 649999, kTrLinkIdleTicks + 1, false},
        {"65 s after that frame", 649999, 649999 + kTrLinkIdleTicks + 1, true},
    };
    for (const Case &c : cases) {
        Tr_Connect_Serial();
        uint32_t start = FPGA_GetFrt();
        if (c.frame_at) {
            host::clock_advance_ns(uint64_t(c.frame_at) * 100000);
            tr_rcv = 1;
            _Serve();
            host::clock_advance_ns(uint64_t(c.look_at - c.frame_at) * 100000);
        } else {
            host::clock_advance_ns(uint64_t(c.look_at) * 100000);
        }
        ASSERT_EQ(FPGA_GetFrt() - start, c.look_at) << c.what;
        _Serve();
        EXPECT_EQ(IsCommMode_Vibus, c.back ? 1 : 0) << c.what;
    }
}

TEST_F(Glue, CyclesInTheScan) {
    install();
    Trevant_init();
    testing::internal::CaptureStdout();
    _VMThread();
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "_VMThread\ns_reg(res_scn) is 0\ns_reg(sus_scn) is 0\n");
    EXPECT_EQ(sbit_get(1), 1) << "the first cycle keeps %S1";
    EXPECT_EQ(cycles(), 1u);
    sbit_put(10, 1);
    _VMThread();
    EXPECT_EQ(sbit_get(1), 0);
    EXPECT_EQ(sbit_get(10), 0);
    EXPECT_EQ(cycles(), 2u);
    // A busy runtime mutex skips the cycle.
    ASSERT_EQ(_TakeMutex(), 1);
    _VMThread();
    EXPECT_EQ(cycles(), 2u);
    _ReleaseMutex();
    _VMThread();
    EXPECT_EQ(cycles(), 3u);
    // Run mode 0 leaves the VM alone.
    iVmAlive = 3;
    _VMThread();
    EXPECT_EQ(cycles(), 3u);
}

TEST_F(Glue, ASlicedPassDoesNotReenterTheRequests) {
    Trevant_init();
    Tr_Connect_Serial();
    // The stand-in's first question runs the service again, as a sliced
    // pass inside the outer one would.
    static int inner_asked;
    static TrCommStandIn reentrant = kStandIn;
    reentrant.get_question = [](uint16_t *) {
        int before = g_comm->asked++;
        if (before == 0) {
            Trevant_Comm_service();
            inner_asked = g_comm->asked - 1;
        }
        return 0;
    };
    inner_asked = -1;
    TrComm_StandIn = &reentrant;
    Trevant_Comm_service();
    EXPECT_EQ(inner_asked, 0);
    EXPECT_EQ(comm.asked, 8);
}

TEST_F(Glue, ProgramAndRetainFilesAreRemoved) {
    struct Case {
        const char *what;
        bool exists;
        int (*remove)();
        const char *file;
        int result;
    };
    const Case cases[] = {
        {"code present", true, DeleteTrevantProgram, "/mnt/cfg/tr.cod", 1},
        {"code absent", false, DeleteTrevantProgram, "/mnt/cfg/tr.cod", 1},
        {"retains present", true, DelTrevantRetentiveFile, "/mnt/cfg/tr.ret", 1},
        {"retains absent", false, DelTrevantRetentiveFile, "/mnt/cfg/tr.ret", 0},
    };
    for (const Case &c : cases) {
        if (c.exists) write_file(c.file, "x");
        EXPECT_EQ(c.remove(), c.result) << c.what;
        EXPECT_EQ(read_file(c.file), "") << c.what;
    }
}

TEST_F(Glue, FullPath) {
    char buf[300];
    EXPECT_STREQ(Tr_GetFullPath("tr.hot", buf), "tr.hot");
    EXPECT_EQ(Tr_GetFullPath("", buf), nullptr);
    EXPECT_EQ(Tr_GetFullPath(nullptr, buf), nullptr);
    EXPECT_EQ(Tr_GetFullPath(std::string(255, 'a').c_str(), buf), nullptr);
    EXPECT_NE(Tr_GetFullPath(std::string(254, 'a').c_str(), buf), nullptr);
    EXPECT_EQ(Tr_GetFullPath("x", nullptr), nullptr);
}

} // namespace
