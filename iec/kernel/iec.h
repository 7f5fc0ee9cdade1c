// IEC runtime kernel: what the controller core reaches of it.
#pragma once
#include <cstdint>

extern uint8_t TrevantRuntime;
extern uint8_t trevant_variables_enumerateded;
void Trevant_Comm_service();
// Address of the IEC variable an IEC-form reference names (null when none).
uint8_t *TrevantCalculateVmDbAddress(uint32_t ref, uint32_t bits);
void Trevant_Byte_To_Bit(const uint8_t *src, uint8_t *dst, uint32_t bits);
void Trevant_Bit_To_Byte(const uint8_t *src, uint8_t *dst, uint32_t n);

// Start and stop of the IEC application (the glue of the runtime).
extern uint8_t Tr_init; // 1 once Trevant_init has run its start-up
int Trevant_init();
void __Exit();
void ClearTrevantFlags();
int DeleteTrevantProgram();    // removes "/mnt/cfg/tr.cod"
int DelTrevantRetentiveFile(); // removes "/mnt/cfg/tr.ret"
// Hand the programming link to the runtime's server: TCP port 1100, or the
// programming serial port.
void Tr_Connect_Ethernet();
void Tr_Connect_Serial();

// The IEC application in the control scan.
void _VMThread();               // one cycle in place of a ladder scan
extern uint8_t iVmAlive;        // 0 stopped, 1 running, 2 stopping; 3 (run mode 0) not running
extern uint8_t TrevantFirstRun; // the next cycle is the first after a start
extern uint8_t TrevantS9;       // %S9 was seen set
void TrevantUpdateWordSRRegs();
void TrevantUpdateBitSysRegs();
void TrevantUpdateBitInputRegs();
void TrevantUpdateWordInputRegs();
void TrevantUpdateBitOutputRegs();
void TrevantUpdateWordOutputRegs();

// The IEC runtime's communication server: on the programming serial line
// with its serial settings, or its listening socket on TCP port 1100.
void Tr_Connect_Serial();
void Tr_Connect_Ethernet();
// Set by the runtime when it gives the serial programming port back: 1 in
// trruntime_modbusinit asks the serial Modbus engine to put the protocol in
// trprotocol on the port when it starts there again.
extern uint8_t trruntime_modbusinit;
extern uint8_t trprotocol;
void TrSerialFlags_Reset();

// Puts the state of the IEC kernel's entry points that are not built yet back
// to its start values (tests).
void Iec_NotBuiltReset();
