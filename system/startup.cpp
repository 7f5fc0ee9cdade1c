#include "system/startup.h"

#include "base/le.h"
#include "base/trace.h"
#include "data/cfm.h"
#include "data/data.h"
#include "gdi/gdi.h"
#include "gdi/tty.h"
#include "host/clock.h"
#include "host/config.h"
#include "host/console.h"
#include "host/ctl.h"
#include "host/root.h"
#include "host/root_lock.h"
#include "host/shell.h"
#include "host/thread.h"
#include "host/wait.h"
#include "net/net.h"
#include "net/tx.h"
#include "objects/objects.h"
#include "platform/can.h"
#include "platform/io.h"
#include "platform/keys.h"
#include "platform/media.h"
#include "platform/pass_wait.h"
#include "platform/tick.h"
#include "platform/video.h"
#include "plc/fram.h"
#include "plc/sysreg.h"
#include "regs/plc_reg.h"
#include "screens/screens.h"
#include "serial/serial.h"
#include "system/appfile.h"
#include "system/ctl_cmds.h"
#include "system/loop.h"
#include "system/msg.h"
#include "system/nvram.h"
#include "system/oem.h"
#include "system/pgm.h"
#include "system/reglink.h"
#include "system/run_ctrl.h"
#include "system/sys.h"
#include "system/touch.h"
#include "system/wiring.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {
char g_product[64];
// One request message of the media manager (native arguments) and one reply.
uint32_t g_cfi_request_buf[kCfmRequestWords], g_cfi_response_buf[2];
pthread_t g_watchdog_thread;
bool g_watchdog_started = false;

void create_cfi_queues() {
    _txe_queue_create(&CfiRequestQueue, "CFI_REQUEST", kCfmRequestWords, g_cfi_request_buf,
                      sizeof g_cfi_request_buf);
    _txe_queue_create(&CfiResponseQueue, "CFI_RESPONSE", 2, g_cfi_response_buf,
                      sizeof g_cfi_response_buf);
}

struct SelfTestLine {
    uint16_t bit;
    const char *line1, *line2;
};
// clang-format off
const SelfTestLine kSelfTest[] = {
    {0x8,    "Static RAM",           "Memory Error"},
    {0x1,    "BIOS Flash",           "Memory Error"},
    {0x2,    "Engine Flash",         "Memory Error"},
    {0x4,    "User Program",         "Memory Error"},
    {0x4000, "User Graphics",        "Memory Error"},
    {0x200,  "Real-Time-Clock",      "Default Set"},
    {0x40,   "I/O Module",           "Config Error"},
    {0x80,   nullptr,                nullptr}, // text depends on the network status
    {0x10,   "Duplicate Network ID", "Network Disabled"},
    {0x1000, "Battery",              "Missing or Low Voltage"},
};
// clang-format on

void self_test_report() {
    if (sr_get(sr::kStatusShown) == 0) {
        SystemMsg(pDC, pProduct, "*** Self-Test Passed ***");
        return;
    }
    uint16_t status = sr_get(sr::kStatus);
    for (const SelfTestLine &t : kSelfTest) {
        if (!(status & t.bit)) continue;
        TCH_Beep(50);
        const char *l1 = t.line1, *l2 = t.line2;
        if (t.bit == 0x80) {
            int net = Net_Status();
            if (net & 1)
                l1 = "No Network Power", l2 = "Network Offline";
            else if (net & 2)
                l1 = "No Network Response", l2 = "Network Offline";
        }
        if (l1) SystemMsg(pDC, l1, l2);
        Delay(300);
    }
    SystemMsg(pDC, pProduct, "*** Self-Test FAILED ***");
}

void start_master_script() {
    const char *script = "/opt/velmor/MasterScript.sh";
    if (access(host::path(script).c_str(), F_OK) != 0) return;
    MasterFilePresent = 1;
    host::shell("killall MasterScript.sh");
    // An old copy of our own is ended by the pid we recorded, never by name.
    if (MasterScriptPid > 0) host::end_child(MasterScriptPid);
    int fds[2];
    if (pipe(fds) != 0) {
        std::perror("pipe");
        return;
    }
    pid_t pid = host::spawn_exec({"/bin/sh", host::path(script)}, fds[0], fds[1]);
    if (pid < 0) {
        std::fprintf(stderr, "FORK failed\n");
        close(fds[0]);
        close(fds[1]);
        return;
    }
    close(fds[0]);
    MasterScriptPipefd = fds[1];
    MasterScriptPid = pid;
}

bool raise_file_limit() {
    rlimit rl;
    if (getrlimit(RLIMIT_NOFILE, &rl) != 0) {
        std::perror("Failed to get limit..\n");
        return false;
    }
    rl.rlim_cur = 4096;
    if (setrlimit(RLIMIT_NOFILE, &rl) != 0) {
        std::perror("Failed to set limit..\n");
        return false;
    }
    return true;
}
} // namespace

int KernelRevNumber() {
    const uint8_t *text = plc_reg + sr_offset(sr::kKernelRev);
    return (text[4] & 0xF) * 1000 + (text[5] & 0xF) * 100 + (text[7] & 0xF) * 10 + (text[8] & 0xF);
}

int Startup(int argc) {
    host::trace("Startup");
    System_Wire();
    // 1. Open-file limit.
    if (!raise_file_limit()) return -1;
    // 2.
    SYS_HardwareCheck();
    GDI_Init();
    GPIOInit();
    // 3. Device contexts.
    pDC = GDI_CreateDC(0, 0);
    pMemDC = GDI_CreateDC(0, 1);
    pMem2DC = GDI_CreateDC(0, 4);
    pMem3DC = GDI_CreateDC(0, 5);
    RECT all{0, 0, 32767, 32767};
    GDI_SetClipRect(pDC, &all, nullptr);
    // 4.
    Timer_Init(&FrtLast, 100);
    KEY_Init();
    KEY_SlideInit();
    FRAM_Init();
    // 5. %R1025..%R4608.
    std::memset(plc_reg + 6016, 0, 7168);
    // 6. Start mode.
    BIS = argc;
    if (argc == 2) {
        BootMode = 1;
        sr_put(sr::kSystemScreen, sr::kSysScreenBoot);
    } else {
        if (argc < 2) host::shell("echo 0 > /proc/sys/kernel/printk");
        if (argc > 2) WatchDogDisable = 1;
        BootMode = 0;
        for (int i = 0; i < 10 && !LoadProgram(); ++i) {
        }
        for (int i = 0; i < 10 && !AutoLoadRegisters(); ++i) {
        }
    }
    // 7.
    WDmainPid = getpid();
    create_cfi_queues();
    // 8. The slice timer's signal.
    host::alarm_install();
    // 9. Free-space task.
    BackTsk();
    // 10. Watchdog thread, on kernels that report the time left.
    if (KernelRevNumber() > 3543) {
        g_watchdog_started =
            host::thread_create(&g_watchdog_thread, WatchdogScan, nullptr, true) == 0;
        host::trace("WatchdogScan");
    }
    // 11.
    VideoPlayStreamInit();
    // 12.
    start_master_script();
    // 13.
    StartWatchdog();
    TTY_Allocate(pDC);
    Dpram_Init();
    Fpga_Init();
    std::snprintf(g_product, sizeof g_product, "Controller: %.5s", "15.52");
    pProduct = g_product;
    int load_defaults = SYS_Init(g_product);
    SystemMsg(pDC, pProduct, "Self-test Running...");
    // 14.
    sr_put(sr::kStatus, 0);
    sr_put(sr::kPortAction, 0);
    // 15. Serial layer.
    Vcomm_Init();
    SCI0_Init(1);
    SCI2_Init(0);
    SCI3_Init(2);
    SCI4_Init(3);
    // 16. Menu options.
    SYS_MenuOption(0, sr_get(sr::kMenuOptions) & 1);
    SYS_MenuOption2(sr_get(sr::kMenuOption2));
    SYS_ExtendedOption(sr_get(sr::kExtOptions) & 4);
    // 17.
    int nv = nvram_init(load_defaults, 0, 0);
    if (nv) SaveProgram();
    // 18.
    PlcInit(nv);
    NetConfig();
    TickleWatchdogReal();
    // The battery is judged on the driver's figures of now, not on the ones
    // the registers kept from the last run (none on a unit's first start).
    TCH_ReadPowerdown();
    if (SYS_BattTest() == 0) sr_put(sr::kStatus, sr_get(sr::kStatus) | sr4::kBattery);
    // 19.
    IoConfig(0);
    // 20. Sign-on and model from the first local slot's module identity.
    int slot_id = Cmd_SS_Info[2] | (Cmd_SS_Info[3] << 8);
    // A host panel with nothing in slot 0 takes its model from the host
    // configuration (`model`, a module identity; 0 for none).
    if (slot_id == 0xFF) slot_id = int(host::config_int("model", 0x0100));
    Oem_GetSignon(g_product, sr_get(sr::kProduct), slot_id);
    Oem_GetModel(reinterpret_cast<char *>(plc_reg + sr_offset(sr::kModelText)),
                 sr_get(sr::kProduct), slot_id);
    // 21.
    Net_Test(1);
    NetStatusDecode();
    uint16_t st = sr_get(sr::kStatus);
    if (sr_get(sr::kNetConfig) == 0) st &= uint16_t(~sr4::kNetFaults);
    sr_put(sr::kStatusShown, st);
    TickleWatchdogReal();
    // 22.
    self_test_report();
    // 23.
    SYS_Wait(30);
    TickleWatchdogReal();
    // 24. Auto-load-run decision.
    if (sr_get(sr::kMenuOptions) & 0x20) {
        bool bad_tables = sr_get(sr::kStatus) & (sr4::kUserProgram | sr4::kGraphics);
        bool marked = ladder_bl && le32(ladder_bl + 4) == 2;
        if (bad_tables || marked) Sys_AppLoad = 1;
    }
    // 25.
    OCB_Open();
    Cmd_Init();
    OCB_Init();
    Loop_StatusBits();
    KEY_Flush();
    sr_put(sr::kForcedScreen, 0);
    sr_put(sr::kSystemScreen, sr::kSysScreenNone);
    SYS_ResetRCBs(2);
    CFM_Open();
    PGM_InitRunCtrl();
    RCT_Init();
    SYS_LoadRCBs();
    // 26.
    PGM_state = (sr_get(sr::kStatus) & sr4::kGraphics) ? 1 : 4;
    PGM_Create(1);
    PGM_state = 4;
    // 27. Saved run mode.
    int saved_mode = sr_get(sr::kRunMode) & 0xFF;
    sr_put(sr::kRunMode, sr::kModeIdle);
    REC_ScreenInit();
    SetPlcMode(saved_mode);
    if (sr_get(sr::kRunMode) > sr::kModeDoIo) IoStart();
    if ((sr_get(sr::kMenuOptions) & 0x20) && Sys_AppLoad && !Sys_AutoLoad) {
        Sys_AutoLoad = 1;
        Sys_ALstmcInited = 0;
        OBJM_DestroyPage();
        sr_put(sr::kSystemScreen, sr::kSysScreenNone);
        SystemMsg(pDC, "Absent/Corrupt User Tables", "Initializing Auto-Load-Run...");
        Delay(200);
    }
    // 28.
    VIDM_Init();
    if (BootMode) sr_put(sr::kNetId, 254);
    sr_put(sr::kFpgaVersion, FPGA_GetVer());
    // 29. A finished FTP upload leaves its marker on the card.
    if (FILE *f = std::fopen(host::path("/mnt/USB0/EndOfFTP.txt").c_str(), "r")) {
        std::fclose(f);
        host::shell("rm /mnt/USB0/EndOfFTP.txt");
        host::shell("sync");
    }
    // 30.
    // demoMutex and ParviQueryFilterMutex are initialised statically: the
    // watchdog thread, started above, may already hold the first.
    Cf_Check(0);
    Cf_Check(2);
    return 0;
}

namespace {
constexpr size_t kMaxWatched = 1024;
// Descriptors of the host's own services (control socket, children) in the wait.
constexpr size_t kHostWatched = 64;
uint64_t g_pass_min_ns;
uint64_t g_last_pass_end_ns;

// Between main-loop passes: the control socket, finished children, and a
// short rest so that an idle host panel does not spin a core at full speed
// (the board's passes take about a millisecond; "pass_min_us" in host.conf).
// Work the last wait found for the host's own services: a connection to the
// control socket, a child that ended. Both are looked at on the first pass.
struct HostDue {
    bool ctl = true;
    bool children = true;
};
HostDue g_due;

void host_poll() {
    if (g_due.ctl || host::ctl_active()) host::ctl_poll();
    if (g_due.children) host::reap_children();
    uint64_t now = host::mono_ns();
    uint64_t used = now - g_last_pass_end_ns;
    // The rest of the pacing is the time-out of the one wait over every
    // descriptor a service watches: a ready one, or work left for the next
    // pass, starts that pass at once.
    uint64_t rest = used < g_pass_min_ns ? g_pass_min_ns - used : 0;
    if (PassWait_TakePending()) rest = 0;
    pollfd fds[kMaxWatched + kHostWatched];
    const size_t watched = PassWait_Fill(fds, kMaxWatched);
    const size_t ctl_end = watched + host::ctl_wait_fds(fds + watched, kHostWatched / 2);
    bool unwatched_children = false;
    const size_t n =
        ctl_end + host::child_wait_fds(fds + ctl_end, kHostWatched / 2, &unwatched_children);
    int ready = 0;
    if (rest > 0 || n > 0) ready = host::wait_ready(fds, n, rest);
    if (ready < 0) // the wait failed: every service looks for itself
        for (size_t i = 0; i < n; ++i)
            fds[i].revents = fds[i].events;
    PassWait_Seen(fds, watched);
    auto any = [&](size_t from, size_t to) {
        for (size_t i = from; i < to; ++i)
            if (fds[i].revents) return true;
        return false;
    };
    g_due.ctl = ctl_end == watched || any(watched, ctl_end);
    g_due.children = unwatched_children || any(ctl_end, n);
    g_last_pass_end_ns = host::mono_ns();
}
} // namespace

int panel_main(int argc) {
    // One panel per root folder (under a supervisor, the supervisor's lock).
    std::string lock_error;
    if (!host::root_lock(host::root(), &lock_error)) {
        std::fprintf(stderr, "panel: %s\n", lock_error.c_str());
        return 1;
    }
    if (const char *trace_file = std::getenv("PANEL_TRACE")) host::trace_to_file(trace_file);
    CtlCmds_Register();
    host::ctl_open();
    MainLoopHostPoll = host_poll;
    g_pass_min_ns = uint64_t(host::config_int("pass_min_us", 1000)) * 1000;
    if (Startup(argc) != 0) return -1;
    MainLoop(-1);
    return -1;
}

void Startup_Reset() {
    std::memset(g_product, 0, sizeof g_product);
    std::memset(g_cfi_request_buf, 0, sizeof g_cfi_request_buf);
    std::memset(g_cfi_response_buf, 0, sizeof g_cfi_response_buf);
    create_cfi_queues(); // empty, as the start-up makes them
    g_watchdog_thread = pthread_t{};
    g_watchdog_started = false;
    g_pass_min_ns = 0;
    g_last_pass_end_ns = 0;
    g_due = HostDue{};
}
