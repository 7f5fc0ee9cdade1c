// The serial port table and the port drivers: every user of a serial line
// reaches it through one row of Vcomm_Drv (logical ports 0 to 2); the USB
// gadget port (logical port 3) is reached by the SCI4_ names. The five
// 100-microsecond countdown timers measure the Modbus RTU end-of-frame gap.
#pragma once
#include <cstdint>

// The 6-byte port mode record: baud index (0 300 .. 9 115200), parity (0 none,
// 1 odd, 2 even), data bits (2 seven, 3 eight), stop bits (0 one, 1 two),
// handshake (0 none, 1 XON/XOFF, 2 hardware, 3-5 none; 3 the long RTU gap),
// and a byte whose low nibble is the protocol (1 programming protocol, 3
// Modbus RTU, 6 the IEC runtime's serial protocol) and whose high nibble is
// the line mode.
constexpr int kModeBytes = 6;
using SerialOpenMode = uint8_t[kModeBytes];
extern const SerialOpenMode rism_mode;  // 9600 8N1, protocol 0, line mode 3
extern const SerialOpenMode vibus_mode; // 9600 8N1, the programming protocol

// One row of the port table: the driver's current mode record and its
// operations. Each takes the logical port first, except the intercept ones.
struct VcommDrv {
    uint8_t *mode;
    uint8_t (*Open)(int port, const uint8_t *mode); // 1 opened with the record
    uint8_t (*Test)(int port);
    uint8_t (*StatusRx)(int port, int clear);
    uint8_t (*CheckRx)(int port); // 1 a byte waits, 0 none, 255 the gap has passed
    int (*CountRx)(int port);
    void (*FlushRx)(int port);
    uint8_t (*GetRx)(int port); // call after CheckRx said 1: never waits
    uint8_t (*EmptyTx)(int port);
    uint8_t (*CheckTx)(int port);
    int (*CountTx)(int port);
    void (*FlushTx)(int port);
    uint8_t (*PutTx)(int port, uint8_t byte);
    int (*PutnTx)(int port, const uint8_t *data, int count);
    int (*PutsTx)(int port, const char *text);
    void (*RtuTx)(int port);
    uint8_t (*GetRts)(int port);
    void (*SetCts)(int port, int on);
    uint8_t (*GetDtr)(int port);
    void (*SetDsr)(int port, int on);
    uint8_t (*GetDCD)(int port);
    void (*Enable)(int port, int on);
    void (*InitWait)(int port, uint32_t gap_us, uint32_t delay);
    uint8_t (*WaitRx)(int port, uint8_t *byte); // 1 received, 2 cancelled (0xAA), 0 gap
    int (*IoCtl)(int port, int request, uint32_t arg);
    void (*SetIntrcpt)(int flag);
    void (*StuffRx)(uint8_t byte);
    uint8_t (*DrainTx)(uint8_t *byte);
};
constexpr int kVcommPorts = 3;
extern VcommDrv Vcomm_Drv[kVcommPorts];

// The logical port of the programming protocol: 0 the panel's own serial
// port, 2 the option-board port, 3 the USB gadget port.
extern uint32_t ProgrammingPort;
// The USB gadget port's descriptor, -1 while it is closed.
extern int FileDesForUSB;

// Allowed protocol changes (current x 5 + requested, protocols 0 to 4).
extern const uint8_t serial_open_check[25];
// Whether Open may change the port's protocol from `current` to `requested`
// (low nibbles 0 to 15).
bool Vcomm_ProtocolChangeAllowed(unsigned current, unsigned requested);

// Installs the rows with a driver that has no line ("nothing there").
void Vcomm_Init();
void SCI0_Init(int row);  // "/dev/ttySP3"
void SCI2_Init(int row);  // "/dev/ttySP0"
void SCI3_Init(int row);  // "/dev/ttySP2", the option-board port
void SCI4_Init(int port); // "/dev/ttyGS0", the USB gadget port
// Once per main-loop pass: follows the gadget's suspend flag (closes the USB
// port on suspend, reopens it with vibus_mode on resume).
void USBPortMon();

// The USB gadget port's operations (the command protocol calls them by name).
uint8_t SCI4_Open(int port, const uint8_t *mode);
uint8_t SCI4_CheckRx(int port);
int SCI4_CountRx(int port);
void SCI4_FlushRx(int port);
uint8_t SCI4_GetRx(int port);
uint8_t SCI4_EmptyTx(int port);
int SCI4_CountTx(int port);
void SCI4_FlushTx(int port);
uint8_t SCI4_PutTx(int port, uint8_t byte);
int SCI4_PutnTx(int port, const uint8_t *data, int count);
int SCI4_PutsTx(int port, const char *text);
void SCI4_SetIntrcpt(int flag);
void SCI4_StuffRx(uint8_t byte);
uint8_t SCI4_DrainTx(uint8_t *byte);
uint8_t *SCI4_Mode();

// What the port drivers need from above, set by the wiring.
struct VcommHooks {
    // One pass of the main loop for a driver that waits (WaitRx); it skips
    // the services the wait came from.
    void (*wait_pass)();
    // The option board's serial-server setting (bit 0 of its address record).
    bool (*serial_server)();
};
void Vcomm_SetHooks(const VcommHooks &hooks);

// For panelctl and tests: the state of a driver by logical port (0-3).
struct VcommPortInfo {
    const char *device;
    int fd;
    uint8_t mode[kModeBytes];
    int waiting;     // bytes received and not yet read
    bool intercept;  // intercept mode
    uint8_t timer;   // gap timer handle, 0 none
    bool kernel_gap; // the tty reports the RTU gap itself
};
bool Vcomm_PortInfo(int port, VcommPortInfo *out);
// The descriptor of a logical port's line (0-3), -1 while it has none.
int Vcomm_PortFd(int port);
void Vcomm_Reset();

// The 100-microsecond countdown timers (handles 1 to 5, 0 none).
constexpr int kRctTimers = 5;
void RCT_Init();
uint8_t RCT_Allocate(void (*callback)());
void RCT_Release(uint8_t handle);
void RCT_Stop(uint8_t handle);
// kind 1: one-shot with the gap preset of baud index `value`; 2: periodic of
// `value` microseconds; other kinds: one-shot of `value` microseconds.
void RCT_Set(uint8_t handle, uint32_t value, int kind);
void RCT_Start(uint8_t handle);
void RctISR(int n);
void RCT_RegCaptureCallback(void (*fn)());
extern uint8_t RctRunning; // a timer is running
// Remaining ticks and state of a timer (tests, panelctl); 0 for a bad handle.
uint32_t RCT_Remaining(uint8_t handle);
int RCT_State(uint8_t handle);
void RCT_Reset();

// The claims of logical ports 0 to 2 by owners other than the logic's
// communication instructions.
extern uint8_t TalkOverride[kVcommPorts];
uint32_t Talk_Override(uint32_t port); // 1 claimed now, 0 above 2 or already claimed
void Talk_Release(uint32_t port);
void Talk_Reset();
