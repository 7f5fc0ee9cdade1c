// Entry points of the IEC runtime kernel that are not built yet.
#include "base/trace.h"
#include "iec/kernel/iec.h"
#include "iec/kernel/trdb.h"
#include "iec/kernel/trparts.h"
#include "iec/kernel/trstatus.h"
#include "iec/kernel/trvm.h"

#include "base/le.h"

uint8_t TrevantRuntime;
// Segment sizes owned by the block lists, I/O drivers, Modbus, AS-i,
// bindings and driver kit: nothing yet.
uint32_t TrVMFbl_GetNbClass() {
    return 0;
}
uint32_t TrVMFbl_GetClassDataSize() {
    return 0;
}
uint32_t TrVMFbl_GetInstanceDataSizeExact(const TrCodeImage &) {
    return 0;
}
uint32_t TrIos_GetMemorySizing(const TrCodeImage &, uint32_t) {
    return 0;
}
uint32_t TrMB_GetMemorySizing(const TrCodeImage &, uint32_t) {
    return 0;
}
uint32_t TrVMAsi_GetSizing(const TrCodeImage &, uint32_t) {
    return 0;
}
uint32_t TrEAX_GetNbCnx(const TrCodeImage &) {
    return 0;
}
uint32_t TrEAX_GetNbVar(const TrCodeImage &) {
    return 0;
}
uint32_t TrDDKC_GetSize(const TrCodeImage &) {
    return 0;
}

// The runtime's other layers: nothing to build, open or exchange yet.
int TrVMCode_ApplyInitValues(const TrCodeImage &, uint8_t *) {
    return 0;
}
int TrVMFbl_Link(const TrCodeImage &, uint8_t *) {
    return 0;
}
int TrVMFbl_InitInstances(const TrCodeImage &, uint8_t *, int) {
    return 0;
}
int TrVMFbl_InitCustomFunctions(const TrCodeImage &, uint8_t *) {
    return 0;
}
void TrVMFbl_KeepAlive(uint8_t *) {}
void TrVMFbl_ShutDown(uint8_t *) {}
int TrIos_Open(const TrCodeImage &, uint8_t *) {
    host::trace("TrIos_Open");
    return 0;
}
int TrIos_Exchange(uint8_t *) {
    return 0;
}
void TrIos_Close(uint8_t *) {
    host::trace("TrIos_Close");
}
int TrDDKC_Build(const TrCodeImage &, uint8_t *) {
    host::trace("TrDDKC_Build");
    return 0;
}
void TrDDKC_Exchange(uint8_t *) {}
void TrDDKC_Close(uint8_t *) {
    host::trace("TrDDKC_Close");
}
uint32_t TrDDKC_OpenLinks() {
    return 0;
}
void TrDDKC_CloseLinks() {}
int TrVMWarm_PrepareData(const TrCodeImage &, uint8_t *) {
    return 0;
}
int TrVMWarm_CanLoad(uint8_t *, const char *) {
    return 1;
}
int TrVMWarm_Load(uint8_t *, const char *) {
    return 1; // no retained values to load
}
int TrVMWarm_CanStore(uint8_t *, const char *) {
    return 0;
}
void TrVMWarm_ShutDown(uint8_t *, const char *) {}
void TrVMWarm_CycleExchange(uint8_t *) {}
int TrMB_Build(const TrCodeImage &, uint8_t *) {
    return 0;
}
int TrMB_Link(uint8_t *) {
    return 0;
}
int TrMB_Open(uint8_t *) {
    return 0;
}
void TrMB_Close(uint8_t *) {}
void TrMB_Activate(uint8_t *, uint32_t) {}
void TrMB_ExchangeData(uint8_t *) {}
uint32_t TrVM_ServeModbus(uint8_t *, int, const uint8_t *, uint8_t *) {
    return 0;
}
uint32_t TrVM_Serve(uint8_t *, const uint8_t *, uint8_t *) {
    return 0;
}
int TrVMAsi_Open(const TrCodeImage &, uint8_t *) {
    return 0;
}
void TrVMAsi_Exchange(uint8_t *) {}
void TrVMAsi_Close(uint8_t *) {}
int TrVMCan_Build(const TrCodeImage &, uint8_t *) {
    return 0;
}
void TrVMCan_Exchange(uint8_t *) {}
void TrVMCan_Close(uint8_t *) {}
int TrEAX_Build(const TrCodeImage &, uint8_t *) {
    return 0;
}
int TrEAX_Link(uint8_t *) {
    return 0;
}
int TrEAX_Open(uint8_t *) {
    return 0;
}
void TrEAX_Close(uint8_t *) {}
void TrEAX_Activate(uint8_t *, uint32_t) {}
void TrVMBsmp_Activate(uint8_t *) {}
int TrVM_CanHOTStart(const TrCodeImage &, uint8_t *) {
    return 1; // no hot restart until it is built
}
int TrVM_BuildHOT(const TrCodeImage &, uint8_t *, uint32_t) {
    return 1;
}
void TrVMTmr_UpdateTimers(uint8_t *) {}

// What the interpreter calls of the standard functions, blocks, TIME timers,
// sampling trace and status information: until they are built a call does
// nothing and the program goes on.
int TrVMStf_Execute(uint8_t *, const uint8_t *) {
    return 1;
}
int TrVMFbl_RunCustomFunction(uint8_t *, uint32_t, uint32_t, const uint8_t *) {
    return 1;
}
int TrVMFbl_RunInstance(uint8_t *, uint32_t, uint32_t, const uint8_t *) {
    return 1;
}
int TrVMTmr_StartTimer(uint8_t *, uint32_t) {
    return 0;
}
void TrVMTmr_StopTimer(uint8_t *, uint32_t) {}
void TrVMBsmp_Set(uint8_t *, uint32_t, const uint8_t *, uint32_t) {}
void TrVMBsmp_Ctl(uint8_t *, uint32_t, uint32_t) {}

void Iec_NotBuiltReset() {
    TrevantRuntime = 0;
}
