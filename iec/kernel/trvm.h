// The VM's outer shell: the definition layer the glue calls to start, cycle,
// change and stop an application, and the VM layer that builds the database
// contents from the code image and runs one cycle (timers, the start task,
// the main task or the program list, the heap's compaction).
//
// Definition-layer operations return 0 on success, 1 when the code or the
// database is missing, else the failing step's code.
#pragma once
#include "iec/comm/trcs.h"
#include "iec/kernel/trcode.h"

#include <cstdint>

int TrDef_ColdStart(const TrCodeImage &code, uint8_t *db, const char *retain_file, uint8_t *events,
                    int load_retains, int pause, const char *name);
int TrDef_HotStart(const TrCodeImage &code, uint8_t *db, const char *retain_file, uint8_t *events,
                   int pause, const char *name, uint32_t tick);
int TrDef_Change(const TrCodeImage &code, uint8_t *db, uint8_t *events, const char *name,
                 uint32_t tick);
int TrDef_Stop(uint8_t *db, uint8_t *events, const char *retain_file, const char *name);
int TrDef_Cycle(uint8_t *db, uint32_t tick, uint8_t *events);
int TrDef_ServeVMRequest(TrCSData *cs, uint8_t *db, uint16_t slot);
int TrDef_ServeModbusRequest(TrCSData *cs, uint8_t *db, int code, uint16_t slot);

int TrVM_Build(const TrCodeImage &code, uint8_t *db);
int TrVM_BuildEx(const TrCodeImage &code, uint8_t *db, int open_io, int build_ddk);
void TrVM_SetPauseMode(uint8_t *db, int on);
uint32_t TrVM_GetNbTask(uint8_t *db);
const char *TrVM_GetTaskName(uint8_t *db, uint32_t n); // null beyond the count
int TrVM_FindTask(uint8_t *db, const char *name, uint32_t *index);
int TrVM_PerformTask(uint8_t *db, uint32_t index, uint32_t tick, int update_timers);
// The cycle's duration in microseconds; the time left to the next period
// boundary (0 without a period).
uint32_t TrVM_RegisterCycleTime(uint8_t *db, uint32_t us);
int TrVM_Cycle(uint8_t *db, uint32_t tick);
int TrVM_FullIOExchangeEx(uint8_t *db, uint32_t tick);
int TrVM_FullIOExchange(uint8_t *db, uint32_t tick);
int TrVM_ActivateModbus(uint8_t *db, uint32_t tick);
int TrVM_ExchangeModbusData(uint8_t *db);
int TrVM_UpdateExtData(uint8_t *db, uint32_t tick);
int TrVM_OpenExtData(uint8_t *db);
void TrVM_CloseExtData(uint8_t *db);
int TrVM_OpenModbus(uint8_t *db);
void TrVM_CloseModbus(uint8_t *db);
uint32_t TrVM_OpenDynaLinks();
void TrVM_CloseDynaLinks(uint32_t handle);
void TrVM_ShutDown(uint8_t *db, const char *retain_file);
int TrVM_CanLoadRetains(uint8_t *db, const char *retain_file);
int TrVM_LoadRetains(uint8_t *db, const char *retain_file);
int TrVM_PrepareRetains(uint8_t *db, const char *retain_file);
void TrVMCode_InitiateStatus(const TrCodeImage &code, uint8_t *status);

// The VM log: 16 entries of (u16 code, u16 argument, u32 data), oldest first.
void TrVMLog_Push(uint8_t *db, uint16_t code, uint16_t arg, uint32_t data);
int TrVMLog_Pop(uint8_t *db, uint16_t *code, uint16_t *arg, uint32_t *data);

// The database's status record (null when none) and its size.
uint8_t *TrVM_Status(uint8_t *db);
uint32_t TrVM_DBSize(const uint8_t *db);

// Entry points of the neighbouring layers the cycle and the build call.
int TrVMPrg_Task(uint8_t *db, uint32_t task, int running_check);
int TrVMPrg_Execute(uint8_t *db);
void TrVMPrg_ProcessExecBuffer(uint8_t *db);
void TrVMTmr_UpdateTimers(uint8_t *db);
