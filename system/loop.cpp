#include "system/loop.h"

#include "base/le.h"
#include "base/trace.h"
#include "data/data.h"
#include "host/clock.h"
#include "host/watchdog.h"
#include "iec/kernel/iec.h"
#include "net/net.h"
#include "net/tx.h"
#include "platform/can.h"
#include "platform/io.h"
#include "plc/fram.h"
#include "plc/sysreg.h"
#include "regs/plc_reg.h"
#include "serial/serial.h"
#include "system/appfile.h"
#include "system/nvram.h"
#include "system/pgm.h"
#include "system/run_ctrl.h"
#include "system/sys.h"
#include "system/touch.h"
#include "web/web.h"

#include <pthread.h>

#include <cerrno>
#include <ctime>
#include <unistd.h>

volatile uint8_t Sliced;
volatile uint8_t Vint;
uint8_t PmgrBusy;
uint8_t Sys_AutoLoad, Sys_AppLoad, Sys_ALstmcInited;
uint8_t Sys_CFinitTime;
uint8_t RecoverMode, ForceRecoveryDetectFlag;
uint8_t Sys_ManualLoadKey, RecoverScreen;
uint8_t DntTmeSlc;
uint8_t BootMode;
int32_t BIS;
volatile int32_t PowerdownSignal;
uint8_t count_function;
uint8_t loop;
uint32_t SlicedPassCount;
uint32_t PassCount;

char *pProduct;
pid_t WDmainPid;
uint8_t MasterFilePresent;
int MasterScriptPipefd = -1;
pid_t MasterScriptPid;
pthread_mutex_t demoMutex = PTHREAD_MUTEX_INITIALIZER;
pthread_mutex_t ParviQueryFilterMutex = PTHREAD_MUTEX_INITIALIZER;
TxQueue CfiRequestQueue, CfiResponseQueue;
void (*MainLoopHostPoll)();
volatile uint8_t MainLoopStalled;

namespace {
// A driver that waits for a byte runs whole passes meanwhile
// (ExecuteSubLoop_Wait); such a pass must not re-enter what it was called
// from: the control scan (a communication instruction waits inside it) and the
// command protocol. A waiting protocol driver's slot is busy (PmgrBusy).
bool g_scan_running = false;
int g_wait_depth = 0;

bool recovery_skips() {
    return RecoverMode && !ForceRecoveryDetectFlag;
}

void arm_slice() {
    host::alarm_arm_ms(sr_get(sr::kSlicePeriod));
}

} // namespace

void Loop_StatusBits() {
    uint16_t sr4v = sr_get(sr::kStatus);
    sbit_put(sbit::kIoOk, (sr4v & sr4::kIoConfig) == 0);
    sbit_put(sbit::kNetOk, (sr4v & sr4::kNetFaults) == 0);
    bool forces = le16(io_force) != 0 || le16(io_force + 2) != 0;
    sbit_put(sbit::kForcesOn, sbit_get(sbit::kForceEnable) && forces);
}

namespace {

void mirror_status() {
    uint16_t v = sr_get(sr::kStatus);
    if (sr_get(sr::kNetConfig) == 0) v &= uint16_t(~sr4::kNetFaults);
    sr_put(sr::kStatusShown, v);
}
} // namespace

void ExecutePMGR_Loop() {
    for (uint32_t i = 0;; ++i) {
        if (!promgr_table) break;
        uint32_t count = le32(promgr_table + 8);
        if (count < 1 || count > 5 || i >= count) break;
        // The table is an application block: never read an entry beyond its length.
        if (le32(promgr_table) < 16 + 32 * (i + 1)) break;
        uint16_t type = le16(promgr_table + 16 + 32 * i + 28);
        if (Sliced && type <= 314) break;
        uint8_t bit = uint8_t(1u << i);
        if (PmgrBusy & bit) continue;
        PmgrBusy |= bit;
        PMGR_TheLoop(int(i));
        PmgrBusy &= uint8_t(~bit);
    }
}

void The_Loop() {
    host::trace(Sliced ? "The_Loop(sliced)" : "The_Loop");
    Can_Isr();
    TimerISR();
    RctISR(0);
    if (!recovery_skips()) ExecutePMGR_Loop();
    Loop_StatusBits();
    if (!Sys_AutoLoad && !recovery_skips() && !g_scan_running) {
        g_scan_running = true;
        PlcScan();
        g_scan_running = false;
    }
    OCB_Update();
    if (!Sliced && g_wait_depth == 0) Cmd_Check();

    Dpram_Service();
    if (SYS_BattTest() == 0)
        sr_put(sr::kStatus, sr_get(sr::kStatus) | sr4::kBattery);
    else
        sr_put(sr::kStatus, sr_get(sr::kStatus) & uint16_t(~sr4::kBattery));
    FxpMain(1);
    mirror_status();
    Datagram_Check();

    if (!Sliced) {
        if (sr_get(sr::kRunMode) != sr::kModeIdle && !DntTmeSlc) {
            arm_slice();
            Vint = 1;
        }
        CFM_TheLoop(0);
        if (PGM_state != 2) PGM_TheLoop(0);
        Vint = 0;
        host::alarm_disarm();
        Sliced = 0;
    }

    if (!recovery_skips() && BIS != 2 && TrevantRuntime) Trevant_Comm_service();
    EnetMain(Sliced);
    tx_timer_check();
    USBPortMon();
    TickleWatchdogReal();
    ModemCycle();
    if (PowerdownSignal) PowerDown();

    if (++count_function == 1) {
        FRAM_XChange_Data(0, 1);
        FRAM_BBRAM_XChange_Data(bbram, 4096, 0, 1);
    } else {
        count_function = 0;
        FRAM_XChange_Data(0, 0);
        FRAM_BBRAM_XChange_Data(bbram, 4096, 0, 0);
    }
    if (g_in_sliced_pass)
        ++SlicedPassCount;
    else
        ++PassCount;
}

void ExecuteSubLoop_Wait() {
    ++g_wait_depth;
    The_Loop();
    --g_wait_depth;
}

void TimerIRQ() {
    if (openPageExec == 1) ISRCountOnOpenPage = ISRCountOnOpenPage + 1;
    if (!Vint) {
        host::alarm_disarm();
        return;
    }
    if (g_in_sliced_pass) return; // a sliced pass never nests further
    g_in_sliced_pass = true;
    Sliced = 1;
    int saved = errno;
    The_Loop();
    arm_slice();
    errno = saved;
    g_in_sliced_pass = false;
}

void *WatchdogScan(void *) {
    for (;;) {
        if (int fd = wdog; fd > 0) {
            int left = host::wdt_time_left_ms(fd);
            if (left >= 400 && left <= 1000) break;
        }
        watchdogStModeStatus();
        host::sleep_ms(500);
    }
    // The copy must not read the image while a pass writes it: wait a little
    // for the pass to end. A loop that hangs inside a pass never lets go, and
    // the save then goes ahead without it, as the board's does.
    timespec until{};
    clock_gettime(CLOCK_REALTIME, &until);
    until.tv_nsec += 300 * 1000000L;
    if (until.tv_nsec >= 1000000000L) {
        until.tv_sec += 1;
        until.tv_nsec -= 1000000000L;
    }
    bool locked = pthread_mutex_timedlock(&demoMutex, &until) == 0;
    host::trace("AutoSaveRegisters");
    AutoSaveRegisters();
    if (locked) pthread_mutex_unlock(&demoMutex);
    host::park_forever(); // the hardware watchdog resets the board
}

namespace {
void main_pass() {
    while (MainLoopStalled)
        host::sleep_ms(50);
    pthread_mutex_lock(&demoMutex);
    The_Loop();
    factory_calib();
    mqttStateLoop();
    pthread_mutex_unlock(&demoMutex);
    if (MainLoopHostPoll) MainLoopHostPoll();
}
} // namespace

void MainLoop(long max_passes) {
    long passes = 0;
    auto more = [&] { return max_passes < 0 || passes < max_passes; };
    while (more()) {
        main_pass();
        ++passes;
        if (BIS == 2) continue;
        if (PGM_state == 1) ParviHttp = 1;
        bool supervise = ParviHttp != 0;
        for (;;) {
            if (!supervise) {
                // Waiting branch.
                if (Cmd_Downloading || !more()) break;
                ++loop;
                main_pass();
                ++passes;
                if (BIS == 2) break;
                if (PGM_state == 1) ParviHttp = 1;
                if (!ParviHttp) continue;
            }
            // Supervision check.
            if (loop <= 100) {
                supervise = false;
                continue;
            }
            parvi_check_ftp_state();
            if (TrevantRuntime && trevant_variables_enumerateded && Cmd_Downloading) {
                ParviServerState = 0;
            } else if (ParviServerState == 2 && !ParviFtping && !ParviThreadCreated) {
                parvi_thread_create();
                ParviThreadCreated = 1;
                ParviServerState = 3;
            } else if (ParviServerState == 4 && ParviUpdateNewIp == 1) {
                ParviServerState = 0;
            } else if (ParviServerState == 1 && ParviUpdateNewIp == 1) {
                ParviServerState = 2;
                ParviUpdateNewIp = 0;
            }
            break;
        }
    }
}

void Loop_Reset() {
    Sliced = 0;
    Vint = 0;
    PmgrBusy = 0;
    Sys_AutoLoad = Sys_AppLoad = Sys_ALstmcInited = 0;
    Sys_CFinitTime = 0;
    RecoverMode = ForceRecoveryDetectFlag = 0;
    Sys_ManualLoadKey = RecoverScreen = 0;
    DntTmeSlc = BootMode = 0;
    BIS = 0;
    PowerdownSignal = 0;
    count_function = 0;
    loop = 0;
    openPageExec = 0;
    ISRCountOnOpenPage = 0;
    SlicedPassCount = PassCount = 0;
    pDC = pMemDC = pMem2DC = pMem3DC = nullptr;
    pProduct = nullptr;
    WDmainPid = 0;
    MasterFilePresent = 0;
    MasterScriptPipefd = -1;
    MasterScriptPid = 0;
    MainLoopHostPoll = nullptr;
    MainLoopStalled = 0;
    g_in_sliced_pass = false;
    g_scan_running = false;
    g_wait_depth = 0;
}
