// The scan loop: one pass over every service, the time slice that keeps the
// control scan going while the screen is drawn, and the main loop around it.
#pragma once
#include "platform/slice.h"
#include "platform/video.h" // pDC

#include <pthread.h>
#include <sys/types.h>

#include <cstdint>

struct DC;

extern volatile uint8_t Sliced;
extern volatile uint8_t Vint;
extern uint8_t PmgrBusy; // bit i: protocol driver slot i is running
extern uint8_t Sys_AutoLoad, Sys_AppLoad, Sys_ALstmcInited;
extern uint8_t Sys_CFinitTime; // media requests served since the card was ready (counts to 6)
extern uint8_t RecoverMode, ForceRecoveryDetectFlag;
// The recovery screen's "AUTO LOAD": a load of the application from the card
// asked for by the operator.
extern uint8_t Sys_ManualLoadKey;
// Set while start-up runs the 10 ms tick once for a recovery request held at
// power-up.
extern uint8_t RecoverScreen;
extern uint8_t DntTmeSlc;
extern uint8_t BootMode;
extern int32_t BIS;
extern volatile int32_t PowerdownSignal;
extern uint8_t count_function;
extern uint8_t loop;             // waiting passes of the web-server supervision (wraps at 256)
extern uint32_t SlicedPassCount; // nested passes run so far (for panelctl status)
extern uint32_t PassCount;       // outer passes run so far

extern char *pProduct;
extern pid_t WDmainPid;
extern uint8_t MasterFilePresent;
extern int MasterScriptPipefd;
extern pid_t MasterScriptPid;
extern pthread_mutex_t demoMutex;
extern pthread_mutex_t ParviQueryFilterMutex;
// The media manager's request and response queues (one message each).
struct TxQueue;
extern TxQueue CfiRequestQueue, CfiResponseQueue;

void The_Loop();
void ExecuteSubLoop_Wait();
void ExecutePMGR_Loop();
// %S2, %S6 and %S11 from the status word and the force table.
void Loop_StatusBits();
// Body of the slice: runs when the slice timer has fired (see SlicePoint).
void TimerIRQ();
void *WatchdogScan(void *);

// The main loop after start-up: runs passes with the web-server supervision.
// max_passes < 0 runs for ever; otherwise it returns after that many passes.
void MainLoop(long max_passes);
// Called once per main-loop pass outside the pass (host services: panelctl).
extern void (*MainLoopHostPoll)();
// Test hook: when set, the main loop stops making passes (stalled controller).
extern volatile uint8_t MainLoopStalled;

void Loop_Reset();
