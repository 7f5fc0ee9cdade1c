// The IEC runtime's communication server and event server as the runtime
// glue reaches them: the server state `csData` (its layout is shared with
// the Modbus/TCP slave blocks, which keep one each) and the operations the
// glue's request pass calls.
#pragma once
#include <cstdint>

// One client connection of the server.
struct TrCSSlot {
    uint16_t number;   // slot number 1..8, written when taken
    uint16_t flags;    // trcs::kSlot*; 0 = free
    uint16_t received; // bytes of the current request frame
    uint16_t expected; // its length; 0 while the 4-byte header is read
    uint16_t to_send;  // answer bytes still to send
    uint16_t answer_length;
    uint8_t request[1036]; // a 1024-byte payload, its header and a serial CRC
    uint8_t answer[1036];
    uint32_t stamp; // TCP: start of the current silence; serial: last bytes
    int32_t socket; // -1 = none
    int32_t serial; // slot 1 only; -1 = closed
    uint8_t spare[4];
};
static_assert(sizeof(TrCSSlot) == 2100, "comm server slot");

struct TrCSData {
    uint32_t transfer_file; // open transfer file handle, 0 = none
    uint32_t transfer_sum;
    uint32_t transfer_dir;
    uint32_t options;   // bit 11: a Modbus-only server
    uint32_t stamp_ms;  // TrCS_ActivateStamp's time, 0 = none
    uint32_t accept_cb; // index of the accept callback, 0 = the default
    TrCSSlot slots[8];
    int32_t listen_socket; // -1 = none
    int32_t udp_socket;    // discovery, -1 = none
    uint8_t sl5[3420];     // the SL5 slave and file-transfer state
    uint16_t tcp_port;     // the port discovery announces, 0 = none
    uint8_t spare[2];
};
static_assert(sizeof(TrCSData) == 20256, "comm server state");

namespace trcs {
constexpr uint16_t kSlotInUse = 0x0001, kSlotRequest = 0x0002, kSlotAnswer = 0x0004,
                   kSlotTcp = 0x0100, kSlotSerial = 0x0200, kSlotSl5 = 0x0400;
constexpr uint32_t kSlots = 8;
} // namespace trcs

extern TrCSData csData;

// Server settings of TrCS_Open: TCP port (0 none), SL5 setting (0 none),
// serial settings (null none).
struct TrCSSettings {
    uint16_t tcp_port;
    uint16_t sl5;
    const void *serial;
};
// Start request: load retains, pause, application name.
struct TrStartInfo {
    uint8_t load_retains;
    uint8_t pause;
    const char *name;
};
// Load request: kind (1 code, 3 change), chunk length, name, chunk.
struct TrLoadInfo {
    uint32_t kind;
    uint32_t length;
    const char *name;
    const uint8_t *data;
};

int TrCS_Open(TrCSData *cs, const TrCSSettings *settings, uint32_t socket_param);
void TrCS_Close(TrCSData *cs);
void TrCS_Activate(TrCSData *cs);
// Request code of a complete request (0 none) and its slot.
int TrCS_GetQuestion(TrCSData *cs, uint16_t *slot);
void TrCS_ReleaseQuestion(TrCSData *cs, uint16_t slot);
void TrCS_SendRC(TrCSData *cs, uint16_t slot, uint32_t code);
void TrCS_SendAnswer(TrCSData *cs, uint16_t slot, uint32_t length);
// 0 when the request carries the record.
int TrCS_GetStartInfo(TrCSData *cs, uint16_t slot, TrStartInfo *info);
int TrCS_GetLoadInfo(TrCSData *cs, uint16_t slot, TrLoadInfo *info);
uint8_t *TrCS_GetVMRequest(TrCSData *cs, uint16_t slot);
uint8_t *TrCS_GetVMAnswerBuffer(TrCSData *cs, uint16_t slot);
void TrCSSock_CloseAllSockets(TrCSData *cs);
int TrCSSer_Open(TrCSData *cs, const char *port);
void TrCSSer_ClearLink(TrCSData *cs); // the serial-link word of the server

// Event server: its memory need, open (0 success), close, pass, traces and
// application notices.
struct TrEvsSettings {
    uint32_t values[8];
    uint16_t tcp_port;
};
uint32_t TrEvs_GetMemorySize(const TrEvsSettings *settings);
int TrEvs_Open(uint8_t *events, const TrEvsSettings *settings);
void TrEvs_Close(uint8_t *events);
void TrEvs_Activate(uint8_t *events, uint32_t tick);
void TrEvs_Trace(uint8_t *events, const char *text);
void TrEvs_OnAppStart(uint8_t *events, const char *name);
void TrEvs_OnAppStop(uint8_t *events, const char *name);
void TrEvs_OnAppChange(uint8_t *events, const char *name);
// Public variables of the event server.
int TrEA_Open(const void *code, uint8_t *db, uint8_t *events);
void TrEA_Close(uint8_t *events);
void TrEA_ManageChangeEvents(uint8_t *db, uint8_t *events);

// Until the servers are built, a test stands in for them through these
// hooks (null: nothing there).
struct TrCommStandIn {
    int (*get_question)(uint16_t *slot);
    int (*get_start_info)(uint16_t slot, TrStartInfo *info);
    int (*get_load_info)(uint16_t slot, TrLoadInfo *info);
    void (*send_rc)(uint16_t slot, uint32_t code);
    int (*evs_open)();
};
extern const TrCommStandIn *TrComm_StandIn;
void IecComm_NotBuiltReset();
