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
