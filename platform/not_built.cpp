// Entry points of platform drivers that are not built yet: each records its
// call and returns the "nothing there" value.
#include "core/ladder_ops.h"
#include "host/trace.h"
#include "platform/can.h"
#include "platform/io.h"
#include "platform/keys.h"
#include "platform/video.h"

using host::trace;

void Can_Isr() { trace("Can_Isr"); }
uint8_t StillOpened;
void VIDM_Init() { trace("VIDM_Init"); }
void VideoPlayStreamInit() { trace("VideoPlayStreamInit"); }
void KEY_Init() { trace("KEY_Init"); }
void KEY_Flush() { trace("KEY_Flush"); }
void Fpga_Init() { trace("Fpga_Init"); }
uint8_t FPGA_GetVer() {
    trace("FPGA_GetVer");
    return 0;
}
void factory_calib() { trace("factory_calib"); }

// I/O-module interface: no module answers.
void io_driver(IoMsg *msg) {
    trace("io_driver");
    msg->status = 0x80;
}
int get_io_info(uint16_t *ids) {
    trace("get_io_info");
    for (int i = 0; i < kIoSlots; ++i)
        ids[i] = 0xFF;
    return kIoSlots;
}
int IoInit(const uint16_t *, int) {
    trace("IoInit");
    return 0;
}
int IoCfg(IoCfgRec *, int) {
    trace("IoCfg");
    return 0;
}
int IoStop() {
    trace("IoStop");
    return 0;
}
int IoGetIs(uint8_t *, int, int, int) {
    trace("IoGetIs");
    return 0;
}
int IoPutQs(uint8_t *, int, int, int) {
    trace("IoPutQs");
    return 0;
}
int IoGetAIs(uint8_t *, int, int, int) {
    trace("IoGetAIs");
    return 0;
}
int IoPutAQs(uint8_t *, int, int, int) {
    trace("IoPutAQs");
    return 0;
}
int IoService(int) {
    trace("IoService");
    return 0;
}
int write_io_eeprom(int, int, int, const uint8_t *, int) {
    trace("write_io_eeprom");
    return 0;
}
int IoSlotDevice(int) { return 0; }
bool IoRemoteBase(const char *) { return false; }
// The key-press instruction's operands are its own: the scan stops there.
uint8_t PressKeyProcess(uint32_t *pc, uint8_t power) {
    Ladder_SkipOperands(pc);
    return power;
}
