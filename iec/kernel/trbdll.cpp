// Plug-in libraries of the runtime: the optional block library and the
// optional SNMP agent.
#include "iec/kernel/trbdll.h"

#include "base/le.h"
#include "iec/kernel/trglue.h"
#include "iec/kernel/trstatus.h"
#include "iec/kernel/trvm.h"
#include "platform/osif.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr const char *kBlockLib = "./libtrblocks.so";
constexpr const char *kSnmpLib = "libtrsnmp.so";
// A library whose name list never ends is read no further than this.
constexpr uint32_t kMaxBlocks = 65535;

void *g_blocks;
TrBlocksGetBlockNameFn g_name;
void *g_snmp;
TrSnmpStopFn g_snmp_stop;
uint8_t *g_snmp_db;
int g_snmp_instance; // the agent's instance: its address

template <class F> F symbol(void *lib, const char *name) {
    return reinterpret_cast<F>(OsLib_Symbol(lib, name));
}

} // namespace

uint32_t TrBdll_OpenDynaLinks() {
    TrBdll_CloseDynaLinks();
    void *lib = OsLib_Open(kBlockLib);
    if (!lib) return 0;
    auto valid = symbol<TrBlocksIsValidFn>(lib, "TrBlocks_IsValid");
    auto name = symbol<TrBlocksGetBlockNameFn>(lib, "TrBlocks_GetBlockName");
    if (!valid || !name || valid() == 0) {
        OsLib_Close(lib);
        return 0;
    }
    g_blocks = lib;
    g_name = name;
    Tr_Print("Load libtrblocks.so successful\n");
    return 1;
}

void TrBdll_CloseDynaLinks() {
    if (g_blocks) OsLib_Close(g_blocks);
    g_blocks = nullptr;
    g_name = nullptr;
}

int TrBdll_StartEnumerate() {
    return g_blocks ? 1 : 0;
}

void TrBdll_StopEnumerate() {}

const char *TrBdll_GetName(uint32_t id) {
    return g_name && id >= 1 && id <= kMaxBlocks ? g_name(id) : nullptr;
}

uint32_t TrBdll_GetFirstID(uint32_t *id) {
    *id = TrBdll_GetName(1) ? 1 : 0;
    return *id;
}

uint32_t TrBdll_GetNextID(uint32_t *id) {
    *id = *id && TrBdll_GetName(*id + 1) ? *id + 1 : 0;
    return *id;
}

TrBlockHandler TrBdll_GetProc(uint32_t id) {
    const char *name = TrBdll_GetName(id);
    return name ? symbol<TrBlockHandler>(g_blocks, name) : nullptr;
}

// ------------------------------------------------------------------ SNMP

int TrRT_LoadSnmp(const char *agent, const char *mib_folder) {
    TrRT_UnloadSnmp();
    void *lib = OsLib_Open(kSnmpLib);
    if (!lib) {
        Tr_Print("\nLoading Trsnmp lib failed:%s\n", OsLib_Error());
        return 0;
    }
    auto folder = symbol<TrSnmpSetFolderFn>(lib, "TrSNMP_SetFolderMIB");
    auto start = symbol<TrSnmpStartFn>(lib, "TrSNMP_StartAgent");
    auto stop = symbol<TrSnmpStopFn>(lib, "TrSNMP_StopAgent");
    if (!folder || !start || !stop) {
        Tr_Print("\nLoading Trsnmp lib failed:%s\n", "missing entry points");
        OsLib_Close(lib);
        return 0;
    }
    g_snmp = lib;
    g_snmp_stop = stop;
    folder(mib_folder ? mib_folder : "");
    start(agent ? agent : "", cbFunc, &g_snmp_instance);
    return 1;
}

void TrRT_UnloadSnmp() {
    if (g_snmp_stop) g_snmp_stop();
    if (g_snmp) OsLib_Close(g_snmp);
    g_snmp = nullptr;
    g_snmp_stop = nullptr;
}

void TrRT_SetDB(uint8_t *db) {
    g_snmp_db = db;
}

int cbFunc(void *instance, int item, char *text, size_t size) {
    if (instance != &g_snmp_instance || item < 1 || item > 7 || !text || size == 0) return 0;
    const uint8_t *st = TrVM_Status(g_snmp_db);
    using namespace trst;
    auto put = [&](long v) { std::snprintf(text, size, "%ld", v); };
    switch (item) {
    case 1:
        put(st ? 1 : 0);
        break;
    case 2: {
        if (!st) {
            put(0);
            break;
        }
        uint16_t f = le16(st + kRunFlags);
        bool at_breakpoint = le16(st + kStopProgram) != 0;
        put((f & kRunning) ? 1 : (f & kStopped) ? 2 : !at_breakpoint ? 4 : 3);
        break;
    }
    case 3:
        put(st ? long(le32(st + kLongestCycle) / 1000) : 0);
        break;
    case 4:
        put(st ? long(le32(st + kPeriod) / 1000) : 0);
        break;
    case 5:
        put(st ? long(le32(st + kOverruns)) : 0);
        break;
    case 6:
        if (st)
            std::snprintf(text, size, "%.*s", 16, reinterpret_cast<const char *>(st + kAppName));
        else
            text[0] = 0;
        break;
    default:
        // The second identity word, as GETSYSINFO 9 answers it.
        if (st)
            put(long(le32(st + kIdentity + 4)));
        else
            text[0] = 0;
        break;
    }
    return 1;
}

void TrBdll_Reset() {
    TrRT_UnloadSnmp();
    TrBdll_CloseDynaLinks();
    g_snmp_db = nullptr;
}
