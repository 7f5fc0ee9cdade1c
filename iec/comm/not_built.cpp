// Entry points of the IEC runtime's communication and event servers that are
// not built yet: the server answers no requests (its serial link only reads
// the programming port) and the event server takes no clients, unless a test
// stands in for them.
#include "base/trace.h"
#include "iec/comm/trcs.h"
#include "iec/kernel/tros.h"

#include <cstring>

TrCSData csData;
const TrCommStandIn *TrComm_StandIn;

int TrCS_Open(TrCSData *cs, const TrCSSettings *settings, uint32_t) {
    host::trace("TrCS_Open");
    std::memset(cs, 0, sizeof *cs);
    for (auto &s : cs->slots)
        s.socket = s.serial = -1;
    cs->listen_socket = cs->udp_socket = -1;
    cs->tcp_port = settings ? settings->tcp_port : 0;
    return 0;
}
void TrCS_Close(TrCSData *cs) {
    TrCSSock_CloseAllSockets(cs);
    std::memset(cs, 0, sizeof *cs);
}
// The serial link reads what arrives and drops it, so the frame markers keep
// the link ("Tr") or give the port back ("HR").
void TrCS_Activate(TrCSData *cs) {
    TrCSSlot &s = cs->slots[0];
    if (!(s.flags & trcs::kSlotSerial) || !TrSerial_IsValid(s.serial)) return;
    TrSerial_Receive(&s.serial, sizeof s.request, s.request);
}
int TrCS_GetQuestion(TrCSData *, uint16_t *slot) {
    *slot = 0;
    return TrComm_StandIn && TrComm_StandIn->get_question ? TrComm_StandIn->get_question(slot) : 0;
}
void TrCS_ReleaseQuestion(TrCSData *, uint16_t) {}
void TrCS_SendRC(TrCSData *, uint16_t slot, uint32_t code) {
    if (TrComm_StandIn && TrComm_StandIn->send_rc) TrComm_StandIn->send_rc(slot, code);
}
void TrCS_SendAnswer(TrCSData *, uint16_t, uint32_t) {}
int TrCS_GetStartInfo(TrCSData *, uint16_t slot, TrStartInfo *info) {
    return TrComm_StandIn && TrComm_StandIn->get_start_info
               ? TrComm_StandIn->get_start_info(slot, info)
               : 1;
}
int TrCS_GetLoadInfo(TrCSData *, uint16_t slot, TrLoadInfo *info) {
    return TrComm_StandIn && TrComm_StandIn->get_load_info
               ? TrComm_StandIn->get_load_info(slot, info)
               : 1;
}
uint8_t *TrCS_GetVMRequest(TrCSData *, uint16_t) {
    return nullptr;
}
uint8_t *TrCS_GetVMAnswerBuffer(TrCSData *, uint16_t) {
    return nullptr;
}
// The listening socket that the glue opened for the programming tool.
void TrCSSock_CloseAllSockets(TrCSData *cs) {
    TrSocket_CloseSocket(cs->listen_socket);
    cs->listen_socket = -1;
}
// The link takes slot 1 and the programming port the panel opened.
int TrCSSer_Open(TrCSData *cs, const char *) {
    host::trace("TrCSSer_Open");
    TrCSSlot &s = cs->slots[0];
    TrSerial_Initialize(&s.serial);
    TrSerial_Open(&s.serial);
    s.number = 1;
    s.flags = trcs::kSlotInUse | trcs::kSlotSerial;
    s.received = s.expected = 0;
    return 0;
}
// The port went back to the panel: the link keeps no part frame and no
// descriptor of it.
void TrCSSer_ClearLink(TrCSData *cs) {
    cs->slots[0].received = 0;
    TrSerial_Close(&cs->slots[0].serial);
}

uint32_t TrEvs_GetMemorySize(const TrEvsSettings *) {
    return 64;
}
int TrEvs_Open(uint8_t *, const TrEvsSettings *) {
    host::trace("TrEvs_Open");
    return TrComm_StandIn && TrComm_StandIn->evs_open ? TrComm_StandIn->evs_open() : 0;
}
void TrEvs_Close(uint8_t *) {}
void TrEvs_Activate(uint8_t *, uint32_t) {}
void TrEvs_Trace(uint8_t *, const char *) {}
void TrEvs_OnAppStart(uint8_t *, const char *) {
    host::trace("TrEvs_OnAppStart");
}
void TrEvs_OnAppStop(uint8_t *, const char *) {
    host::trace("TrEvs_OnAppStop");
}
void TrEvs_OnAppChange(uint8_t *, const char *) {}
int TrEA_Open(const void *, uint8_t *, uint8_t *) {
    return 0;
}
void TrEA_Close(uint8_t *) {}
void TrEA_ManageChangeEvents(uint8_t *, uint8_t *) {}

void IecComm_NotBuiltReset() {
    TrSocket_CloseSocket(csData.listen_socket);
    std::memset(&csData, 0, sizeof csData);
    TrComm_StandIn = nullptr;
}
