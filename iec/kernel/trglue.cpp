// The runtime glue: binds the IEC virtual machine to the panel. Start-up,
// one VM cycle per control scan, the communication server's request pass,
// the switch of the programming link to the runtime's server and back, and
// the stop that writes the hot-restart image. Everything runs on the main
// thread; the one runtime mutex is only ever tried, so a sliced pass that
// re-enters never blocks.
#include "iec/kernel/trglue.h"

#include "base/le.h"
#include "base/trace.h"
#include "iec/comm/trcs.h"
#include "iec/kernel/iec.h"
#include "iec/kernel/trdb.h"
#include "iec/kernel/trmap.h"
#include "iec/kernel/trmm.h"
#include "iec/kernel/tros.h"
#include "iec/kernel/trparts.h"
#include "iec/kernel/trstatus.h"
#include "iec/kernel/trvm.h"
#include "platform/io.h"
#include "platform/osif.h"
#include "platform/tick.h"
#include "regs/plc_reg.h"
#include "regs/sr.h"

#include <pthread.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

TrCodeImage pCode;
uint8_t *pEvData;
uint8_t bNewRegParams;
uint8_t IsCommMode_Vibus = 1;
uint8_t eth_conn;
uint32_t timer_Tr;
uint8_t tr_rcv;
uint32_t dwDynaLink;
char TrFILE_PATH[256];
uint8_t Tr_init;
uint8_t iVmAlive;
uint8_t TrevantFirstRun;
uint8_t TrevantS9;
TrGlueHooks TrGlue_Hooks;

namespace {
constexpr const char *kCodeFile = "/mnt/cfg/tr.cod";
constexpr const char *kRetainFile = "/mnt/cfg/tr.ret";
constexpr const char *kTrStop = "Application stopped\n\n";

pthread_mutex_t g_mutex;
bool g_mutex_made;
bool g_serving; // inside Trevant_Comm_service: a sliced pass does not enter again
TrStartInfo g_boot{1, 0, "tr"};

void create_mutex() {
    if (g_mutex_made) return;
    pthread_mutexattr_t a;
    if (pthread_mutexattr_init(&a) != 0) Tr_Print("pthread_mutexattr_init returns \n");
    if (pthread_mutexattr_settype(&a, PTHREAD_MUTEX_ERRORCHECK) != 0)
        Tr_Print("pthread_mutexattr_settype returns \n");
    if (pthread_mutex_init(&g_mutex, &a) != 0)
        Tr_Print("pthread_mutex_init returns \n");
    else
        g_mutex_made = true;
    if (pthread_mutexattr_destroy(&a) != 0) Tr_Print("pthread_mutexattr_destroy returns\n");
}

void destroy_mutex() {
    if (g_mutex_made) pthread_mutex_destroy(&g_mutex);
    g_mutex_made = false;
}

const char *retain_path(char *buf) {
    return Tr_GetFullPath(kRetainFile, buf);
}

void display_hello() {
    char line1[128], line2[64];
    std::snprintf(line1, sizeof line1, "Tr runtime - Linux Multithreaded - %s", "May 10 2021");
    std::snprintf(line2, sizeof line2, "Kit version %s", "1.2.0");
    Tr_Print("%s\n%s\n", line1, line2);
    Tr_Print("\nReady - Press CTRL+C to exit.\n\n");
    char path[256];
    uint32_t h = TrFile_Open(Tr_GetFullPath("trinfo.txt", path), 1);
    if (!h) return;
    TrFile_WriteLine(h, line1);
    TrFile_WriteLine(h, line2);
    TrFile_Close(h);
}

// Frees the database and the code of the application.
void free_app() {
    if (mmData.vmdb.flags) {
        while (TrMM_UnlinkVMDB(&mmData) == 0 && mmData.vmdb.links) {
        }
        TrMM_FreeVMDB(&mmData);
    }
    pDB = nullptr;
    pDBSize = 0;
    if (mmData.code.flags) {
        while (TrMM_UnlinkCode(&mmData) == 0 && mmData.code.links) {
        }
        TrMM_FreeCode(&mmData);
    }
    pCode = TrCodeImage{};
    // The bridge and the map's symbol index keep nothing of the database
    // just freed.
    TrevantBuildBindTables();
    TrMap_ForgetIndex();
}

// Loads "/mnt/cfg/tr.cod" and links it as the code; false when there is none.
bool load_code() {
    free_app();
    if (TrMM_LoadCode(&mmData, "tr") != 0) return false;
    uint8_t *code = TrMM_LinkCode(&mmData);
    if (!code) {
        TrMM_FreeCode(&mmData);
        return false;
    }
    pCode = TrCodeImage{code, mmData.code.size};
    return true;
}

const char *app_name() {
    const char *n = TrVMCode_GetAppName(pCode);
    return n ? n : "";
}

void first_run() {
    EnumTrevantVars();
    sbit_put(1, 1);
    sr_put(1, 1);
    Tr_Print("TrevantFirstRun_func\n");
}

void close_ethernet() {
    TrCSSock_CloseAllSockets(&csData);
    TrSocket_Terminate();
    eth_conn = 0;
}

// The serial programming port goes back to the panel's own protocol.
void serial_hand_back() {
    if (TrGlue_Hooks.serial_hand_back) TrGlue_Hooks.serial_hand_back();
    TrCSSer_ClearLink(&csData);
}

int load(int request, const TrLoadInfo &rec) {
    if (rec.kind == 1) {
        int rc = TrMM_WriteCodeRequest(&mmData, request, &rec);
        if (rc == 0 && request == 4) rc = _Start(rec.name ? rec.name : "tr", 1, 0);
        return rc;
    }
    if (rec.kind == 3) return TrMM_WriteChangeRequest(&mmData, request, &rec);
    return 1;
}

int hot_start() {
    if (pDB || !load_code()) return 1;
    int rc = TrMM_LoadVMDB(&mmData, "tr");
    if (rc != 0) {
        free_app();
        return rc;
    }
    uint8_t *db = TrMM_LinkVMDB(&mmData);
    // An image written in part (a kill during the save) is refused.
    if (!db || TrVM_RelinkDB(db, mmData.vmdb.size) != 0) {
        free_app();
        return 1;
    }
    pDB = db;
    pDBSize = mmData.vmdb.size;
    char path[256];
    rc = TrDef_HotStart(pCode, pDB, retain_path(path), pEvData, g_boot.pause, g_boot.name,
                        _GetTickCount());
    if (rc != 0) {
        free_app();
        return rc;
    }
    TrevantBuildBindTables();
    iVmAlive = 1;
    return 0;
}

int online_change() {
    if (!pDB) return 1;
    int rc = TrMM_LoadChange(&mmData, "tr");
    if (rc != 0) return rc;
    sr_put(sr::kOnlineChange, sr_get(sr::kOnlineChange) | 1);
    uint8_t *change = TrMM_LinkChange(&mmData);
    if (!change) {
        Tr_Print("\n pNewCode == NULL\n");
        TrMM_FreeChange(&mmData);
        return 1;
    }
    TrCodeImage next{change, mmData.change.size};
    if (!_TakeMutex()) {
        Tr_Print("\n!_TakeMutex \n");
        TrMM_UnlinkChange(&mmData);
        TrMM_FreeChange(&mmData);
        return 1;
    }
    rc = TrVM_CanHOTStart(next, pDB);
    TrMM_UnlinkChange(&mmData);
    if (rc != 0) {
        TrMM_FreeChange(&mmData);
    } else {
        Tr_Print("\n TrVM_CanHOTStart = true \n");
        while (TrMM_UnlinkCode(&mmData) == 0 && mmData.code.links) {
        }
        TrMM_RegisterChange(&mmData);
        uint8_t *code = TrMM_LinkCode(&mmData);
        pCode = TrCodeImage{code, code ? mmData.code.size : 0};
        rc = code ? TrDef_Change(pCode, pDB, pEvData, g_boot.name, _GetTickCount()) : 1;
        if (rc != 0) {
            Tr_Print("BuilHot answered %u\n", unsigned(rc));
            free_app();
        } else {
            TrevantBuildBindTables();
            sr_put(sr::kOnlineChange, sr_get(sr::kOnlineChange) | 2);
            if (TrGlue_Hooks.change_applied) TrGlue_Hooks.change_applied();
        }
    }
    _ReleaseMutex();
    return rc;
}
} // namespace

// ----------------------------------------------------------------- helpers

char *Tr_GetFullPath(const char *name, char *buffer) {
    if (!buffer) return buffer;
    if (!name || !*name) return nullptr;
    size_t a = strnlen(TrFILE_PATH, 255), b = std::strlen(name);
    if (a + b > 254) return nullptr;
    std::memcpy(buffer, TrFILE_PATH, a);
    std::memcpy(buffer + a, name, b + 1);
    return buffer;
}

void Tr_SignalRegChange() {
    bNewRegParams = 1;
}

void Tr_Print(const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    std::vprintf(format, ap);
    va_end(ap);
    std::fflush(stdout);
}

void TrEVSTRACE(const char *format, ...) {
    char text[513];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    if (pEvData) TrEvs_Trace(pEvData, text);
    Tr_Print("%s\n", text);
}

int TrEVSPORT() {
    return 9000;
}
int TrREG() {
    return 0;
}
void Tr_Sleep(uint32_t) {}

int Tr_SysCmd(const char *command) {
    return Os_Command(command);
}

int _TakeMutex() {
    return g_mutex_made && pthread_mutex_trylock(&g_mutex) == 0 ? 1 : 0;
}

void _ReleaseMutex() {
    if (g_mutex_made) pthread_mutex_unlock(&g_mutex);
}

uint32_t _GetTickCount() {
    // The monotonic count: setting the panel's clock must not move timers.
    return Tr_VmTick();
}

// ---------------------------------------------------------------- lifecycle

int Trevant_init() {
    host::trace("Trevant_init");
    if (!Tr_init) {
        display_hello();
        Tr_Print("RT capabilities disabled\n");
        TrMM_Close(&mmData);
        std::memset(&mmData, 0, sizeof mmData);
        std::memset(&csData, 0, sizeof csData);
        for (auto &s : csData.slots)
            s.socket = -1;
        csData.listen_socket = -1;
        bNewRegParams = 0;
        free_app();
        iVmAlive = 0;
        create_mutex();
        TrMM_Open(&mmData, TrFILE_PATH);
        TrCSSettings cs{0, 0, nullptr};
        TrCS_Open(&csData, &cs, 0);
        if (csData.listen_socket == -1) Tr_Print("ERROR: Cant open TCP port\n");
        TrEvsSettings ev{{1024, 0, 8000, 16000, 0, 0, 0, 0}, 9000};
        if (!pEvData) {
            pEvData = static_cast<uint8_t *>(std::calloc(1, TrEvs_GetMemorySize(&ev)));
            if (pEvData && TrEvs_Open(pEvData, &ev) != 0) {
                std::free(pEvData);
                pEvData = nullptr;
            }
        }
        dwDynaLink = TrVM_OpenDynaLinks();
        g_boot = TrStartInfo{1, 0, "tr"};
        IoStop();
        if (iVmAlive != 1) _Start(g_boot.name, g_boot.load_retains, g_boot.pause);
        Tr_init = 1;
        TrevantBuildBindTables(); // also marks the bridge's first scan
        if (TrevantFirstRun && pDB) {
            Tr_Print("Tr_main_loop_start\n");
            first_run();
        }
    }
    Trevant_Comm_service();
    return 0;
}

int _Start(const char *name, uint8_t load_retains, uint8_t pause) {
    if (pDB) return 1;
    if (!load_code()) return 1;
    uint8_t header[trdb::kHeaderSize] = {};
    int rc = TrVM_GetDBSize(pCode, header);
    uint64_t total = rc ? 0 : TrVM_GetTotalDBSize(header);
    if (!rc && (total > 0xFFFFFFFFull || TrMM_AllocRawVMDB(&mmData, uint32_t(total)) != 0)) rc = 1;
    uint8_t *db = rc ? nullptr : TrMM_LinkVMDB(&mmData);
    if (!rc && !db) rc = 1;
    if (!rc) {
        std::memcpy(db, header, sizeof header);
        TrVM_BuildDBMainLinks(db);
        pDB = db;
        pDBSize = uint32_t(total);
        char path[256];
        rc = TrDef_ColdStart(pCode, pDB, retain_path(path), pEvData, load_retains, pause,
                             name ? name : "tr");
    }
    if (rc) {
        free_app();
        return rc;
    }
    TrevantBuildBindTables();
    TrevantFirstRun = 1;
    iVmAlive = 1;
    return 0;
}

int _Stop() {
    if (!pDB) return 1;
    iVmAlive = 2;
    TrMM_SaveVMDB(&mmData, "tr");
    char path[256];
    TrDef_Stop(pDB, pEvData, retain_path(path), app_name());
    TrMM_SaveChange(&mmData, "tr");
    free_app();
    Tr_Print("%s", kTrStop);
    TrevantFirstRun = 0;
    return 0;
}

void __Exit() {
    host::trace("__Exit");
    _Stop();
    if (Tr_init || dwDynaLink) TrVM_CloseDynaLinks(dwDynaLink);
    dwDynaLink = 0;
    if (pEvData) {
        TrEvs_Close(pEvData);
        std::free(pEvData);
        pEvData = nullptr;
    }
    TrCS_Close(&csData);
    TrMM_Close(&mmData);
    destroy_mutex();
}

void _VMThread() {
    host::trace("_VMThread");
    if (iVmAlive != 1) {
        if (iVmAlive == 2) {
            Tr_init = 0;
            iVmAlive = 0;
        }
        return;
    }
    if (!pDB) return;
    if (TrevantFirstRun) {
        Tr_Print("_VMThread\n");
        TrevantFirstRun = 0;
        Tr_Print("s_reg(res_scn) is %d\n", sbit_get(10));
        Tr_Print("s_reg(sus_scn) is %d\n", sbit_get(9));
        if (TrevantS9) TrevantSetS9Bits();
        TrevantS9 = 0;
    } else {
        sbit_put(10, 0);
        sbit_put(1, 0);
    }
    uint32_t t0 = _GetTickCount();
    if (_TakeMutex()) {
        TrDef_Cycle(pDB, t0, pEvData);
        uint32_t t1 = _GetTickCount();
        TrVM_RegisterCycleTime(pDB, ((86400000u - t0 + t1) % 86400000u) * 1000u);
        _ReleaseMutex();
    }
    if (iVmAlive == 2) {
        Tr_init = 0;
        iVmAlive = 0;
    }
}

int TrVMThread() {
    _VMThread();
    return 0;
}

// ------------------------------------------------------------ the requests

void Trevant_Comm_service() {
    host::trace("Trevant_Comm_service");
    // csData has no lock: a sliced pass that comes here while the outer pass
    // is inside a request leaves it alone.
    if (IsCommMode_Vibus || g_serving) return;
    g_serving = true;
    for (int i = 0; i < 8; ++i)
        _Serve();
    if (!pDB && pEvData) TrEvs_Activate(pEvData, _GetTickCount());
    g_serving = false;
}

void _Serve() {
    TrCS_Activate(&csData);
    uint16_t slot = 0;
    int code = TrCS_GetQuestion(&csData, &slot);

    if (!IsCommMode_Vibus) {
        if (tr_rcv) {
            timer_Tr = FPGA_GetFrt();
            tr_rcv = 0;
        } else if (uint32_t(FPGA_GetFrt() - timer_Tr) > kTrLinkIdleTicks) {
            if (eth_conn)
                close_ethernet();
            else
                serial_hand_back();
            IsCommMode_Vibus = 1;
        }
    } else if (eth_conn && tr_rcv) {
        close_ethernet();
    }

    TrStartInfo start{};
    TrLoadInfo rec{};
    int answer = 1;
    switch (code) {
    case 0:
        break;
    case 1:
        if (_TakeMutex()) {
            TrDef_ServeVMRequest(&csData, pDB, slot);
            _ReleaseMutex();
            TrCS_ReleaseQuestion(&csData, slot);
            code = 0; // answered by the VM
        }
        break;
    case 2:
    case 3:
    case 4:
        if (TrCS_GetLoadInfo(&csData, slot, &rec) == 0) {
            Tr_Print(code == 4 ? "TrCSRQ_ENDLOAD\n" : "TrCSRQ_LOAD\n");
            answer = load(code, rec);
        }
        break;
    case 5:
        Tr_Print("TrCSRQ_STOP\n");
        answer = _Stop();
        break;
    case 6:
        if (TrCS_GetStartInfo(&csData, slot, &start) == 0) {
            Tr_Print("TrCSRQ_START\n");
            answer = _Start(start.name, start.load_retains, start.pause);
        }
        break;
    case 7:
        Tr_Print("TrCSRQ_HOTSTART\n");
        answer = hot_start();
        break;
    case 8:
        Tr_Print("TrCSRQ_CHANGE\n");
        answer = online_change();
        break;
    case 16:
    case 17:
        if (_TakeMutex()) {
            TrDef_ServeModbusRequest(&csData, pDB, code, slot);
            _ReleaseMutex();
            TrCS_ReleaseQuestion(&csData, slot);
            code = 0;
        }
        break;
    default:
        break;
    }
    if (code != 0) {
        TrCS_SendRC(&csData, slot, uint32_t(answer));
        TrCS_ReleaseQuestion(&csData, slot);
    }
    if (!pDB) bNewRegParams = 0;
}

// --------------------------------------------------- the programming link

void Tr_Connect_Ethernet() {
    if (eth_conn) close_ethernet();
    TrSocket_Initialize(0);
    int32_t sock = -1;
    if (TrSocket_CreateListeningSocket(1100, 8, &sock) != 0) sock = -1;
    csData.listen_socket = sock;
    if (sock >= 0)
        eth_conn = 1;
    else
        Tr_Print("ERROR: Cant open TCP port\n");
    csData.tcp_port = 1100;
    timer_Tr = FPGA_GetFrt();
    IsCommMode_Vibus = 0;
}

void Tr_Connect_Serial() {
    TrCSSer_Open(&csData, "DUMMY");
    IsCommMode_Vibus = 0;
    timer_Tr = FPGA_GetFrt();
}

// -------------------------------------------------------------- the files

int DeleteTrevantProgram() {
    host::trace("DeleteTrevantProgram");
    if (!OsFile_Exists(kCodeFile)) return 1;
    return OsFile_Remove(kCodeFile) ? 1 : 0;
}

int DelTrevantRetentiveFile() {
    host::trace("DelTrevantRetentiveFile");
    return OsFile_Remove(kRetainFile) ? 1 : 0;
}

void TrGlue_Reset() {
    if (g_mutex_made) {
        pthread_mutex_unlock(&g_mutex); // a test may leave it taken
        destroy_mutex();
    }
    std::free(pEvData);
    pEvData = nullptr;
    pCode = TrCodeImage{};
    bNewRegParams = 0;
    IsCommMode_Vibus = 1;
    eth_conn = 0;
    timer_Tr = 0;
    tr_rcv = 0;
    dwDynaLink = 0;
    TrFILE_PATH[0] = 0;
    Tr_init = 0;
    iVmAlive = 0;
    TrevantFirstRun = 0;
    TrevantS9 = 0;
    g_serving = false;
    g_boot = TrStartInfo{1, 0, "tr"};
}
