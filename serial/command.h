// The programming protocol: the command link shared by the host channels
// (Ethernet programming channel, USB gadget port, the programming serial
// port, the network), its packets, the dispatcher with its relay to other
// network nodes, and the command handlers (memory download, upload and
// verify; registers, run mode, ids and the link's own settings).
#pragma once
#include <cstdint>

// ---- link arbitration
// Vcomm_Lock bits: the link is busy with a command or a connection; the tool
// holds the comm lock, which even a forced claim respects.
constexpr uint32_t kLockBusy = 1, kLockComm = 2;
// Hosts (Vcomm_Host, CmdHost).
constexpr uint32_t kHostSerial = 0, kHostEthernet = 1, kHostNetwork = 2, kHostUsb = 3;
// Link modes (Vcomm_Mode): served here, relayed to another node, arriving
// from another node.
constexpr uint32_t kModeLocal = 0, kModePassThrough = 1, kModeRemote = 2;
extern uint32_t Vcomm_Lock, Vcomm_Host, Vcomm_Mode;
extern uint8_t Vcomm_ConnectId;
extern uint16_t Vcomm_Idle; // releases of the link so far
// 0 clear all, 1 set busy, 2 clear busy, 3 set comm lock, 4 clear comm lock.
void Vcomm_LockSet(int op);
void Vcomm_ModeSet(int force, uint32_t host, uint32_t mode, uint8_t connect_id);
void *Vcomm_GetEvtPtr();
// Claims a free link for the serial host toward `node`; 1 when it holds.
int Cmd_Request(int node);

// ---- packets
// One-byte answers.
constexpr uint8_t kAck = 0xA0, kRefused = 0x09, kBadSum = 0x0F, kLinkHeld = 0x60;
constexpr uint8_t kDataOpcode = 0xFF;
constexpr uint8_t kLinkReleased = 0x70; // to the Ethernet channel: a notice, not data
constexpr int kCmdDataKept = 1024;
struct CmdBufT {
    uint8_t opcode;
    uint16_t length; // as announced; at most kCmdDataKept bytes are kept
    uint8_t data[kCmdDataKept];
    uint8_t sum;
    uint16_t index;
    uint32_t state;    // 0 opcode, 1 length, 2 data, 3 checksum
    uint8_t await;     // a one-byte answer is awaited
    uint8_t timer;     // the link timer
    uint16_t time_out; // ms
};
extern CmdBufT CmdBuf;
extern uint8_t CmdHost, CmdHostToPlc, NegotiationFlag, CmdBaudTimer;
extern uint16_t CmdDataMax;
// 1 when a whole packet (or an awaited one-byte answer) is in CmdBuf.
int get_packet();
void put_packet(uint8_t opcode, uint16_t length, const uint8_t *data);
// Bytes of the host being served (CmdHost) and of the link (the network in
// modes 2 and 1 as CmdHostToPlc says, else the host).
int chkchar();
uint8_t getchar_host();
void flushchar();
uint8_t putchar_host(uint8_t b);
int chkbyte();
uint8_t getbyte();
void flushbyte();
uint8_t putbyte(uint8_t b);

// ---- dispatcher
extern uint8_t CmdRun; // the running opcode, 0xFF none
extern uint8_t CmdMode, CmdGlobal;
extern uint8_t CmdGrfxType;
extern uint8_t Cmd_Override;  // another owner holds the programming port
extern uint8_t is_trprotocol; // the IEC runtime's own protocol holds the serial link
extern uint8_t OLPMode;       // online-edit mode
extern uint8_t CmdNetIoConfigUpdated;
// The online-edit program (a control program block: check word, length,
// data), downloaded while OLPMode is on.
constexpr uint32_t kLadderOlpSize = 65536;
extern uint8_t ladder_olp[kLadderOlpSize];
void Cmd_Init();
void Cmd_Check();
void Cmd_PortInit(int kind);
// Re-applies the network and I/O configuration while CmdNetIoConfigUpdated is set.
void NetIoConfig();

// What the protocol reaches outside its layer, set by the wiring. Every
// member may be null (nothing there).
struct CmdHooks {
    // The Ethernet programming channel.
    int (*etn_check_rx)();
    uint8_t (*etn_get_rx)();
    void (*etn_flush_rx)();
    void (*etn_put_tx)(uint8_t b);
    void (*etn_putn_tx)(const uint8_t *data, uint32_t n);
    void (*etn_update_security)();
    // The network byte transport to the connected node.
    int (*net_check_rx)();
    uint8_t (*net_get_rx)();
    void (*net_flush_rx)();
    int (*net_put_tx)(uint8_t b);
    void (*net_putn_tx)(const uint8_t *data, uint32_t n);
    int (*net_chk_busy)();
    int (*net_test)(int cmd);
    int (*net_put_qg)(int node, int first, const uint16_t *data, int count);
    int (*net_put_aqg)(int node, int first, const uint16_t *data, int count);
    uint8_t *(*net_data)(int node); // the node's 88-byte record
    // Screens and the application store.
    void (*pgm_destroy)();
    void (*pgm_create)(int init);
    void (*dnld_msg)(int type);
    void (*dnld_update)();
    void (*dnld_halted)();
    bool (*web_stop)(); // asks the web server to stop; true while its thread still runs
    int (*save_program)();
    int (*save_mac_id)();
    int (*nvram_init)();
    void (*get_features)();
    void (*set_force)(const uint8_t *table, uint32_t n);
    void (*net_config)();
    void (*io_config)();
    const uint8_t *(*ss_info)(uint32_t *length); // the slot identities record
    // Controller.
    void (*set_plc_mode)(int mode);
    void (*plc_reg_clear)();
    void (*warm_reset)();
    bool (*iec_active)(); // the IEC runtime runs with its variables enumerated
    int (*tr_store_backup)();
    int (*tr_load_backup)();
    bool (*tr_running)(); // an IEC application is loaded and its runtime started
    void (*tr_connect_serial)();
    void (*tr_connect_ethernet)();
};
void Cmd_SetHooks(const CmdHooks &hooks);
const CmdHooks &Cmd_Hooks();

// Back to the start values (tests).
void Cmd_Reset();

// ---- inside the protocol: the handlers and what they share
using CmdHandler = void (*)();
struct CmdInfoRow {
    CmdHandler handler;
    uint16_t relay_class;
    uint8_t local; // answered locally (opcodes 9 to 12)
    uint8_t all;   // accepted when addressed to all nodes
};
constexpr int kCmdOpcodes = 39;
extern const CmdInfoRow CmdInfo[kCmdOpcodes];
// Argument k of the command (data byte k), `def` when the packet is shorter.
uint8_t cmd_arg(int k, uint8_t def = 0);
uint16_t cmd_arg16(int k, uint16_t def = 0);
// One-byte answer of a handler; suppressed for a command addressed to all.
void cmd_reply(uint8_t b);
void cmd_finish();
uint16_t cmd_time_out();  // larger of %SR136 and 5000 ms
uint16_t byte_time_out(); // larger of %SR137 and 500 ms
void link_timer_start(uint16_t ms);
void link_timer_stop();
// Starts or restarts the baud fall-back timer when it is running or expired.
void baud_timer_keep();
// Ends the download mode of the screens (CmdPanel (1, 0)) and, with 0,
// begins it for a memory type.
void CmdPanel(int end, int type);
// A download in progress ends as aborted (link timer expiry, refused data).
void cmd_download_abort();
bool cmd_downloading();
void do_comm_lock();
// The data-packet stream toward the host (uploads, global words): send
// `count` bytes from `src` in packets of at most CmdDataMax.
void stream_begin(const uint8_t *src, uint32_t count);
// One pass of the stream; true when it has finished.
bool stream_step();

void do_default();
void get_mode();
void set_mode();
void verify_memory();
void download_memory();
void upload_memory();
void get_version();
void get_local_id();
void set_local_id();
void get_global_data();
void set_global_data();
void protect_nvram();
void reset_plc();
void press_key();
void get_plc_reg();
void cal_module();
void set_plc_reg();
void set_comm_lock();
void get_baud_rate();
void set_baud_rate();
void cmd_negotiation();
void dummy_cmd();
void tr_debug_switch();
void parse_fxp_cmd();
void write_fxp_data();
void read_fxp_data();
void cmd_datagram_delete();
void cmd_datagram_create();
void cmd_datagram_write();
void cmd_datagram_read();
void CmdMem_Reset();
void CmdRegs_Reset();
