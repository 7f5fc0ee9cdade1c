// Entry points of the network services that are not built yet.
#include "base/trace.h"
#include "net/net.h"
#include "platform/can.h"

#include <cstring>

using host::trace;

int Net_Test(int) {
    trace("Net_Test");
    return 0;
}
int Net_Status() {
    return 0;
}
void EnetMain(int) {
    trace("EnetMain");
}
void mqttStateLoop() {
    trace("mqttStateLoop");
}
void watchdogStModeStatus() {
    trace("watchdogStModeStatus");
}
void Etn_SetMacId(const uint8_t *, int) {
    trace("Etn_SetMacId");
}

uint8_t Net_Data[kNetNodes][kNetNodeBytes];
// Until the network layer lands, its set-up does the one step the CAN port
// needs from it: the channel starts with the settings (bit rate, frame mode).
void Net_Init(const uint8_t *settings) {
    trace("Net_Init");
    _Can_Init(0, settings);
}
void Net_Restart() {
    trace("Net_Restart");
}
void Net_RxHandler() {
    trace("Net_RxHandler");
}
void Net_SendPackets(int) {
    trace("Net_SendPackets");
}
int Net_ReqQG(int) {
    trace("Net_ReqQG");
    return 0;
}
int Net_ReqAQG(int) {
    trace("Net_ReqAQG");
    return 0;
}
int Net_GetQG(int, int, uint16_t *, int) {
    trace("Net_GetQG");
    return 0;
}
int Net_GetAQG(int, int, uint16_t *, int) {
    trace("Net_GetAQG");
    return 0;
}
int Net_QueQG(int, int, const uint16_t *, int) {
    trace("Net_QueQG");
    return 0;
}
int Net_QueAQG(int, int, const uint16_t *, int) {
    trace("Net_QueAQG");
    return 0;
}
int Net_PutIHB(int, int) {
    trace("Net_PutIHB");
    return 0;
}
int Net_PutQHB(int, int) {
    trace("Net_PutQHB");
    return 0;
}
int Net_GetQHB(int, int) {
    trace("Net_GetQHB");
    return 0;
}
void InitBrikScanner(const uint8_t *) {
    trace("InitBrikScanner");
}
void BrikScanner() {
    trace("BrikScanner");
}
void Sr_VibusInit(const uint8_t *) {
    trace("Sr_VibusInit");
}
void Sr_VibusIo() {
    trace("Sr_VibusIo");
}
void Etn_UpdateStatus() {
    trace("Etn_UpdateStatus");
}

uint8_t Dpr_Configuration[kDprInterfaces][kDprConfigHead];

void Net_NotBuiltReset() {
    std::memset(Net_Data, 0, sizeof Net_Data);
    std::memset(Dpr_Configuration, 0, sizeof Dpr_Configuration);
}
