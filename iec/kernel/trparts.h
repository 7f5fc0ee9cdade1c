// Operations of the runtime's other layers that the VM shell calls: the
// program layer, the interpreter, timers, block lists, I/O drivers, Modbus,
// AS-i, CAN, bindings, driver kit, retained data, resources and sampling.
// Each answers 0 for success unless its line says otherwise.
#pragma once
#include "iec/kernel/trcode.h"
#include "iec/kernel/trmap.h"

#include <cstdint>

int TrVMCode_SetProgramPointers(const TrCodeImage &code, uint8_t *db);
void TrVMPrg_ActivateAllPrograms(uint8_t *db);
int TrVMCode_ApplyInitValues(const TrCodeImage &code, uint8_t *db);
int TrVMFbl_Link(const TrCodeImage &code, uint8_t *db);
int TrVMFbl_InitInstances(const TrCodeImage &code, uint8_t *db, int cold);
int TrVMFbl_InitCustomFunctions(const TrCodeImage &code, uint8_t *db);
void TrVMFbl_KeepAlive(uint8_t *db);
void TrVMFbl_ShutDown(uint8_t *db);
int TrIos_Open(const TrCodeImage &code, uint8_t *db);
int TrIos_Exchange(uint8_t *db);
void TrIos_Close(uint8_t *db);
int TrDDKC_Build(const TrCodeImage &code, uint8_t *db);
void TrDDKC_Exchange(uint8_t *db);
void TrDDKC_Close(uint8_t *db);
uint32_t TrDDKC_OpenLinks();
void TrDDKC_CloseLinks();
int TrVMWarm_PrepareData(const TrCodeImage &code, uint8_t *db);
int TrVMWarm_CanLoad(uint8_t *db, const char *file);
int TrVMWarm_Load(uint8_t *db, const char *file);
int TrVMWarm_CanStore(uint8_t *db, const char *file);
void TrVMWarm_ShutDown(uint8_t *db, const char *file);
void TrVMWarm_CycleExchange(uint8_t *db);
void TrVMTic_Init(uint8_t *db);
void TrVMTic_Exit(uint8_t *db);
// The interpreter: runs one program; 1 at its end or a wait, 0 after a fatal
// error.
int TrVMTic_Run(uint8_t *db, uint8_t *status, const TrCodeImage &code, uint32_t program);
int TrMB_Build(const TrCodeImage &code, uint8_t *db);
int TrMB_Link(uint8_t *db);
int TrMB_Open(uint8_t *db);
void TrMB_Close(uint8_t *db);
void TrMB_Activate(uint8_t *db, uint32_t tick);
void TrMB_ExchangeData(uint8_t *db);
uint32_t TrVM_ServeModbus(uint8_t *db, int code, const uint8_t *request, uint8_t *answer);
uint32_t TrVM_Serve(uint8_t *db, const uint8_t *request, uint8_t *answer);
int TrVMAsi_Open(const TrCodeImage &code, uint8_t *db);
void TrVMAsi_Exchange(uint8_t *db);
void TrVMAsi_Close(uint8_t *db);
int TrVMCan_Build(const TrCodeImage &code, uint8_t *db);
void TrVMCan_Exchange(uint8_t *db);
void TrVMCan_Close(uint8_t *db);
int TrEAX_Build(const TrCodeImage &code, uint8_t *db);
int TrEAX_Link(uint8_t *db);
int TrEAX_Open(uint8_t *db);
void TrEAX_Close(uint8_t *db);
void TrEAX_Activate(uint8_t *db, uint32_t tick);
void TrVMRsc_FreeAll(uint8_t *db);
// What the interpreter calls of the layers that own standard functions,
// blocks, TIME timers, the sampling trace and status information. `call`
// and `args` point at instruction words of the program (little-endian),
// which the interpreter has checked to lie inside it.
// A standard function: call is its number word, then the count and the
// argument words; 0 stops the VM.
int TrVMStf_Execute(uint8_t *db, const uint8_t *call);
// Command `command` to the handler of a custom function or block instance
// with the argument words; 0 refused.
int TrVMFbl_RunCustomFunction(uint8_t *db, uint32_t function, uint32_t command,
                              const uint8_t *args);
int TrVMFbl_RunInstance(uint8_t *db, uint32_t instance, uint32_t command, const uint8_t *args);
int TrVMTmr_StartTimer(uint8_t *db, uint32_t time_index);
void TrVMTmr_StopTimer(uint8_t *db, uint32_t time_index);
void TrVMBsmp_Set(uint8_t *db, uint32_t ignored, const uint8_t *words, uint32_t count);
void TrVMBsmp_Ctl(uint8_t *db, uint32_t ignored, uint32_t on);
void TrVMBsmp_Activate(uint8_t *db);
uint32_t TrBdll_OpenDynaLinks();
void TrBdll_CloseDynaLinks();
// Online change and hot restart.
int TrVM_CanHOTStart(const TrCodeImage &code, uint8_t *db);
int TrVM_BuildHOT(const TrCodeImage &code, uint8_t *db, uint32_t tick);
// The register bridge.
int EnumTrevantVars();
// Builds the six binding tables from TrevantI0_VarLoc against the current
// database (null IEC pointers without one) and marks the next scan a first
// scan of the bridge.
void TrevantBuildBindTables();
// Sets the IEC BOOL of every system-bit binding (%S9 was seen set).
void TrevantSetS9Bits();
