// CAN driver: the panel's CAN port between the network layer, the ladder
// engine and the IEC blocks on one side and the CAN socket on the other.
//
// No interrupts: Can_Isr is polled at the start of every scan pass and by the
// network layer while it waits. It drains received frames into the receive
// ring, handles error frames, and sends queued frames until the socket
// refuses one. Producers fill transmit slots in place (_Can_NextTx, then
// _Can_PutTx); consumers read received slots in place (_Can_GetRx, then
// _Can_NextRx). The rings are single-producer, single-consumer, without locks.
// Only channel 0 ("can0") is kept and served; other channels have nothing.
#pragma once
#include <cstdint>

constexpr int kCanRing = 200; // frames in each ring

// A frame slot of both rings.
struct CanSlot {
    uint8_t length; // data length 0-8
    uint8_t remote; // 1 for a remote-request frame
    uint8_t reserved[2];
    uint32_t id; // 11-bit or 29-bit identifier, without flag bits
    uint8_t data[8];
};
static_assert(sizeof(CanSlot) == 16);

using CanEvent = void (*)();
using CanFilter = int (*)(uint32_t id);

// Events: 0 after a poll that stored frames, 1 after each frame sent, 2 after
// each error frame and each frame dropped by a full receive ring.
constexpr int kCanEventRx = 0, kCanEventTx = 1, kCanEventError = 2;

// Status bits (_Can_Status).
// clang-format off
constexpr uint8_t kCanStTxWarn     = 0x04; // transmit warning or passive
constexpr uint8_t kCanStRxWarn     = 0x08; // receive warning or passive
constexpr uint8_t kCanStRingFull   = 0x10; // a received frame was dropped: ring full
constexpr uint8_t kCanStRxOverflow = 0x20; // controller receive overflow
constexpr uint8_t kCanStBusOff     = 0x80;

// The eight statistics words (_Can_Data).
constexpr int kCanStatTxLoad = 0, kCanStatRxLoad = 1; // tenths of a percent of the bus
constexpr int kCanStatTxWarn = 2, kCanStatRxWarn = 3, kCanStatDrops = 4;
constexpr int kCanStatOverflow = 5, kCanStatBusOff = 7;  // 6 is reserved
// clang-format on

// The channel record.
struct CanInfo {
    uint8_t config[12]; // the caller's; byte 6 the bit-rate index, byte 9 the frame mode
    CanSlot rx[kCanRing];
    uint16_t rx_in, rx_out, rx_count;
    CanSlot tx[kCanRing];
    uint16_t tx_in, tx_out, tx_count;
    uint8_t ring_full;  // 1 after a received frame was dropped, 0 after the next stored one
    uint8_t status;     // set while an error frame is handled
    uint32_t load_time; // tick of the last load computation (full width: 16 bits wrap in 6.5 s)
    uint8_t open;
    int socket;
    uint16_t stats[8]; // counters stop at 65535
    uint8_t load_started;
    uint32_t tx_bits, rx_bits; // counted since load_time
    CanEvent events[3];
    CanFilter filter;
};
extern CanInfo CanChannel0;

// (Re)starts the channel with the caller's 12-byte configuration: bit rate
// through the controller's platform files, then a raw CAN socket on the port.
void _Can_Init(int channel, const uint8_t *config);
void Can_Isr();

int _Can_CheckRx(int channel); // 1 while frames wait
int _Can_CountRx(int channel);
CanSlot *_Can_GetRx(int channel); // the oldest received frame, left in the ring; null when none
void _Can_NextRx(int channel);    // drops the oldest received frame
void _Can_FlushRx(int channel);

int _Can_CheckTx(int channel); // 1 while fewer than 200 frames are queued
int _Can_CountTx(int channel);
CanSlot *_Can_NextTx(int channel);           // the free slot to fill; null when 200 are queued
void _Can_PutTx(int channel, CanSlot *slot); // queues the slot filled after _Can_NextTx
void _Can_FlushTx(int channel);

// Status bits, with kCanStRingFull added while the ring-full flag is set.
int _Can_Status(int channel);
// The eight statistics words, copied to a block of the driver; a nonzero
// `clear` zeroes the six counters after the copy. Null for a channel not kept.
const uint16_t *_Can_Data(int channel, int clear);
void _Can_SetEvent(int channel, int event, CanEvent fn); // event above 2 ignored
CanEvent _Can_GetEvent(int channel, int event);          // null above 2
void _Can_SetSWFilter(int channel, CanFilter fn);        // null restores the default
int CanIdFilterDefault(uint32_t id);                     // accepts everything
// Counts a frame sent (direction 1) or received (0) for the bus load.
void CanUsageStats(int channel, int direction, int length);

void _Can_AbortTx(int channel);
void _Can_BusOn(int channel);
void _Can_BusOff(int channel);
int _Can_SentTx(int channel);
int _Can_Lockup();

// The 16-byte socket frame the driver sends for a slot in the channel's frame mode.
void Can_SlotFrame(const CanSlot *slot, uint8_t *frame);

void Can_Reset();
// Control-socket command "can": the channel's state, and frames to send.
void Can_CtlRegister();
