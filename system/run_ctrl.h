// Run control and the control scan.
#pragma once
#include "platform/io.h"

#include <cstdint>

// Switches the run mode (sr::kMode*) under its rules (the only way %SR5
// changes): fault bits force mode 0 unless 3 is requested, modes above 4 are
// refused (as the system-register table's row of %SR5 says), every change
// after the first saves the registers so that the mode survives a restart.
void SetPlcMode(int mode);
// One control scan: clock bits, clock, network reception, inputs and forces,
// one ladder scan or IEC cycle, online changes, outputs, per-scan services,
// network transmission and status.
void PlcScan();
// Initialises the register image (clear: everything, else the temporary
// registers) and checks the loaded control program.
void PlcInit(int clear);
void NetConfig();
void Plc_NetInit();
// Configures the local I/O slots; 1 when a slot is in fault.
int IoConfig(int unused);
void IoStart();
void NetStatusDecode();
// While set, the scan leaves network reception alone (duplicate-id tests).
void Plc_StopRxHandler();
void Plc_ResumeRxHandler();

// Installed-module identities published by IoConfig: 2-byte head, then 24 bytes a slot.
extern uint8_t Cmd_SS_Info[98];
// The local I/O slots (three used).
extern IoCfgRec io_cfg[4];
// The network configuration: %SR31 copy, number of own ids, 10 parameter bytes.
extern uint8_t net_cfg[12];
extern uint8_t NetInit[16];
extern uint8_t NetStatsClear;
extern uint8_t dup_id_test;
extern uint8_t first_run; // 0 until the first SetPlcMode after start
extern uint32_t scan_total;

// The start of the normal I/O map in each area: %I bit, %Q bit, %AI and %AQ
// channel of slot 0.
struct IoOffsets {
    uint16_t in_bit, out_bit, an_in, an_out;
};
extern const IoOffsets PlcIoOffset;

void RunCtrl_Reset();
void IoCfg_Reset();
