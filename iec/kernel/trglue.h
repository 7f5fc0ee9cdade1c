// The runtime glue's own state and helpers, as the rest of the runtime kernel
// reaches them (the panel's side is iec/kernel/iec.h).
#pragma once
#include "iec/kernel/trcode.h"

#include <cstdint>

extern TrCodeImage pCode;        // linked code image (data null when none)
extern uint8_t *pEvData;         // event server state, null when it could not open
extern uint8_t bNewRegParams;    // a "tr.reg" arrived by file transfer
extern uint8_t IsCommMode_Vibus; // 1: the panel's protocols own the programming links
extern uint8_t eth_conn;         // 1 while the IEC server listens on TCP 1100
extern uint32_t timer_Tr;        // FPGA_GetFrt of the last IEC frame
extern uint8_t tr_rcv;           // a frame beginning with "Tr" arrived
extern uint32_t dwDynaLink;
extern char TrFILE_PATH[256]; // base folder of relative runtime names (empty)

// The buffer, holding TrFILE_PATH and the name; null when the name is null or
// empty or both do not fit in 254 characters; the buffer as given when null.
char *Tr_GetFullPath(const char *name, char *buffer);
void Tr_SignalRegChange();
// Formats at most 512 characters, sends them to the event clients and prints
// them with a line end.
void TrEVSTRACE(const char *format, ...) __attribute__((format(printf, 1, 2)));
// Prints on standard output as it is (the runtime's console).
void Tr_Print(const char *format, ...) __attribute__((format(printf, 1, 2)));
int TrEVSPORT();
int TrREG();
void Tr_Sleep(uint32_t ms);
int Tr_SysCmd(const char *command);
// The runtime mutex, taken only by try-lock: 1 taken, 0 busy.
int _TakeMutex();
void _ReleaseMutex();
// Milliseconds of the day from the panel's monotonic clock (never 0).
uint32_t _GetTickCount();

// What the glue asks of the panel's serial layer: the programming port given
// back to the panel's own protocol (its mode's protocol nibble 1, reopened at
// baud code 5, the IEC protocol flag cleared), and the copy of an applied
// online change into the panel program. Set by the wiring.
struct TrGlueHooks {
    void (*serial_hand_back)();
    void (*change_applied)();
};
extern TrGlueHooks TrGlue_Hooks;

// The glue's request pass and its parts (tests).
void _Serve();
int _Start(const char *name, uint8_t load_retains, uint8_t pause);
int _Stop();
int TrVMThread(); // one _VMThread, 0
void TrGlue_Reset();

// Hand-back of the programming link after this many 100 us ticks without an
// IEC frame (65 s).
constexpr uint32_t kTrLinkIdleTicks = 650000;
