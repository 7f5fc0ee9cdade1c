// Entry points of the network services that are not built yet.
#include "host/trace.h"
#include "net/net.h"

using host::trace;

int Net_Test(int) {
    trace("Net_Test");
    return 0;
}
int Net_Status() { return 0; }
void EnetMain(int) { trace("EnetMain"); }
void mqttStateLoop() { trace("mqttStateLoop"); }
void watchdogStModeStatus() { trace("watchdogStModeStatus"); }
void Etn_SetMacId(const uint8_t *, int) { trace("Etn_SetMacId"); }

uint8_t Net_Data[kNetNodes][kNetNodeBytes];
void Net_Init(const uint8_t *) { trace("Net_Init"); }
void Net_Restart() { trace("Net_Restart"); }
void Net_RxHandler() { trace("Net_RxHandler"); }
void Net_SendPackets(int) { trace("Net_SendPackets"); }
const uint16_t *_Can_Data(int, int) {
    trace("_Can_Data");
    return nullptr;
}
int _Can_Lockup() {
    trace("_Can_Lockup");
    return 0;
}
void _Can_SetEvent(int, int, int) { trace("_Can_SetEvent"); }
void InitBrikScanner(const uint8_t *) { trace("InitBrikScanner"); }
void BrikScanner() { trace("BrikScanner"); }
void Sr_VibusInit(const uint8_t *) { trace("Sr_VibusInit"); }
void Sr_VibusIo() { trace("Sr_VibusIo"); }
void Etn_UpdateStatus() { trace("Etn_UpdateStatus"); }
