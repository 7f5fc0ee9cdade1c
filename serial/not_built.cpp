// Entry points of the serial layer that are not built yet.
#include "base/trace.h"
#include "plc/ladder_ops.h"
#include "serial/serial.h"

#include <cstdio>
#include <cstring>

using host::trace;

uint16_t EtnVComm_Init(NxIpInstance *, NxPacketPool *) {
    trace("EtnVComm_Init");
    return 0;
}
void EtnVComm_Scan(int) {}
void EtnVComm_DeInit(int) {}
uint32_t EtnVComm_Conn_Cnt(int) {
    return 0;
}
void OCB_Open() {
    trace("OCB_Open");
}
void OCB_Init() {
    trace("OCB_Init");
}
void OCB_Update() {
    trace("OCB_Update");
}
void OCB_DfltPortChange(int) {
    trace("OCB_DfltPortChange");
}
void ModemCycle() {
    trace("ModemCycle");
}
void PMGR_TheLoop(int) {
    trace("PMGR_TheLoop");
}

// Run control and the ladder communication instructions. An instruction whose
// operands only its handler knows stops the scan until the handler is built.
void PMGR_LoadDynamicScanListInfo(const uint8_t *) {
    trace("PMGR_LoadDynamicScanListInfo");
}
void PMGR_Start() {
    trace("PMGR_Start");
}
void PMGR_Stop() {
    trace("PMGR_Stop");
}
void PMGR_Scan() {
    trace("PMGR_Scan");
}
// No protocol driver is ever loaded yet.
void PMGR_GetDrvInfo(char *rows, int count) {
    trace("PMGR_GetDrvInfo");
    for (int i = 0; rows && i < count; ++i)
        std::snprintf(rows + i * kDrvInfoRow, kDrvInfoRow, "(None Loaded)");
}
namespace {
uint8_t not_built(uint32_t *pc, uint8_t power) {
    Ladder_SkipOperands(pc);
    return power;
}
} // namespace
uint8_t TalkSelect(uint32_t *pc, uint8_t power, int) {
    return not_built(pc, power);
}

// The option board's serial server and the modem: nothing there.
PortIpAds PortIP_ads;
uint32_t OCBReConfigENET() {
    trace("OCBReConfigENET");
    return 0;
}
void ModemInit(int) {
    trace("ModemInit");
}
uint32_t ModemStart(int, int, uint8_t *, const uint8_t *, uint32_t) {
    trace("ModemStart");
    return 0;
}
uint32_t ModemExecute(int, int) {
    return 0;
}
uint32_t ModemStop(int, int) {
    trace("ModemStop");
    return 0;
}
int IsModemSocketActive(int, int) {
    return 1;
}
uint8_t ModemCheckRecv(int) {
    return 0;
}
uint8_t ModemDataRecv(int) {
    return 0;
}
int ModemDataSend(int, const uint8_t *, uint32_t, int) {
    return 1;
}

void Serial_NotBuiltReset() {
    PortIP_ads = {};
}
