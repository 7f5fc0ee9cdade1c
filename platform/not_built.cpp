// Entry points of platform drivers that are not built yet: each records its
// call and returns the "nothing there" value.
#include "core/ladder_ops.h"
#include "host/trace.h"
#include "platform/io.h"
#include "platform/keys.h"
#include "platform/video.h"
#include "serial/serial.h"

using host::trace;

uint8_t StillOpened;
void VIDM_Init() { trace("VIDM_Init"); }
void VideoPlayStreamInit() { trace("VideoPlayStreamInit"); }
void KEY_Init() { trace("KEY_Init"); }
void KEY_Flush() { trace("KEY_Flush"); }
void factory_calib() { trace("factory_calib"); }

// I/O-module driver: until it lands, a slot with a known module answers the
// identification and the query from the identity table and takes every
// other command without acting on it.
void io_driver(IoMsg *msg) {
    trace("io_driver");
    uint16_t type = 0xFFFF;
    if (msg->slot < kIoSlots && slotinfo[msg->slot].kind != 255) {
        int row = IoIdentRow(slotinfo[msg->slot].id);
        type = row >= 0 ? uint16_t(row) : 0xFFFF;
    }
    if (msg->command == 1 || msg->command == 3) {
        msg->status = 0;
        return;
    }
    if (!msg_slot_ok(msg, type)) return;
    if (msg->command == 7 || msg->command > 14) {
        msg->status = 0x20;
    } else if (msg->command == 2) {
        const IoIdent &r = io_ident[type];
        msg->name = crc_header[3] == 0x80 ? io_ident_oem_names[type] : r.name;
        for (int i = 0; i < 4; ++i)
            msg->sizes[i] = r.sizes[i];
    }
}
int IoSlotDevice(int) { return 0; }
bool IoRemoteBase(const char *) { return false; }
// The key-press instruction's operands are its own: the scan stops there.
uint8_t PressKeyProcess(uint32_t *pc, uint8_t power) {
    Ladder_SkipOperands(pc);
    return power;
}
