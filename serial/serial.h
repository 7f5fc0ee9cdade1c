// Serial communication and the programming protocol.
#pragma once
#include "platform/unit.h"
#include "serial/command.h"
#include "serial/mcmd.h"
#include "serial/vcomm.h"
#include <cstdint>

// The virtual serial ports over Ethernet, per network interface (0 = started).
struct NxIpInstance;
struct NxPacketPool;
uint16_t EtnVComm_Init(NxIpInstance *ip, NxPacketPool *pool);
void EtnVComm_Scan(int iface);
void EtnVComm_DeInit(int iface);
uint32_t EtnVComm_Conn_Cnt(int iface);
void Dpram_Init();
void Dpram_Service();
void Dpram_Reset();
void OCB_Open();
void OCB_Init();
void OCB_Update();
// Changes the option board port's default protocol or mode (codes 0, 1, 2, 3,
// 4, 7, 10, 11 and 13).
void OCB_DfltPortChange(int code);
void FxpMain(int n);
void Datagram_Check();
void ModemCycle();
void PMGR_TheLoop(int slot);

// What the run control and the ladder engine reach of the serial layer.
// Hands the open page's dynamic scan list of external registers to the
// protocol drivers (null: the page has none).
void PMGR_LoadDynamicScanListInfo(const uint8_t *list);
void PMGR_Start();
void PMGR_Stop();
void PMGR_Scan();
// Name and version of the loadable protocol drivers for the system menu, one
// row of kDrvInfoRow characters per port, "(None Loaded)" where none is.
constexpr int kDrvInfoRow = 50;
void PMGR_GetDrvInfo(char *rows, int count);
// Programming channels 0..2 opened by the logic's communication instructions.
int TalkOpened(int channel);
void TalkClosed(int channel);
// A run-mode change hands an open channel back: reopened with the
// programming protocol's own mode.
void Talk_ModeChange(int channel);
// Resets the communication instructions' port state (first scan).
void TalkInit();
// Communication instructions: the program counter stands after the opcode
// word; each reads and skips its own operands and returns the new power flow.
uint8_t TalkOpen(uint32_t *pc, uint8_t power);
uint8_t TalkClose(uint32_t *pc, uint8_t power);
uint8_t TalkModem(uint32_t *pc, uint8_t power);
uint8_t TalkModbus(uint32_t *pc, uint8_t power);
uint8_t IEC_TalkModbus(uint32_t *pc, uint8_t power);
uint8_t IEC_TalkSend(uint32_t *pc, uint8_t power, int form);
uint8_t IEC_TalkReceive(uint32_t *pc, uint8_t power, int form);
// The further communication forms of the selector instruction (selector 0..2).
uint8_t TalkSelect(uint32_t *pc, uint8_t power, int selector);

// The programming link's owner (see the programming protocol): bit 0x02 of
// Vcomm_Lock is the tool's comm lock; Vcomm_Host 0 the serial host.
extern uint32_t Vcomm_Lock;
extern uint32_t Vcomm_Host;

// What the communication instructions reach of the option board and the
// modem (not built yet: the option board never sets up its serial server and
// the modem has no socket).
struct PortIpAds {
    uint32_t tcp_port; // the module's TCP port (502 for Modbus TCP)
    uint32_t second;
    uint8_t flags; // 0x04 set up for the communication instruction, 0x10 back to defaults
};
extern PortIpAds PortIP_ads;
uint32_t OCBReConfigENET(); // one step; 1 when the module stored its settings
void ModemInit(int port);
uint32_t ModemStart(int port, int function, uint8_t *status, const uint8_t *text, uint32_t length);
uint32_t ModemExecute(int port, int function);
uint32_t ModemStop(int port, int function);
int IsModemSocketActive(int port, int socket); // 0 while the socket is connected
uint8_t ModemCheckRecv(int socket);            // 1 a byte waits, 255 end of frame
uint8_t ModemDataRecv(int socket);
int ModemDataSend(int socket, const uint8_t *data, uint32_t length, int append);

// The shared mailbox block (16-bit words little-endian); words 2-5 carry the
// alarm register request (reference low, high, size in bits low, high). It
// ends with the debug log's file-request slot (data/cfm.h).
constexpr int kDpramBytes = 74468;
extern uint8_t dpram[kDpramBytes];

// Puts the state of the serial layer's entry points that are not built yet
// back to its start values (tests).
void Serial_NotBuiltReset();
