// Entry points of the IEC runtime kernel that are not built yet.
#include "base/trace.h"
#include "iec/kernel/iec.h"
#include "iec/kernel/trdb.h"

uint8_t TrevantRuntime;
uint8_t trevant_variables_enumerateded;
void Trevant_Comm_service() {
    host::trace("Trevant_Comm_service");
}
void Trevant_Byte_To_Bit(const uint8_t *, uint8_t *, uint32_t) {}
uint8_t Tr_init;
int Trevant_init() {
    host::trace("Trevant_init");
    return 0;
}
void __Exit() {
    host::trace("__Exit");
}
void ClearTrevantFlags() {
    host::trace("ClearTrevantFlags");
}
int DeleteTrevantProgram() {
    host::trace("DeleteTrevantProgram");
    return 0;
}
int DelTrevantRetentiveFile() {
    host::trace("DelTrevantRetentiveFile");
    return 0;
}

void Tr_Connect_Serial() {
    host::trace("Tr_Connect_Serial");
}
void Tr_Connect_Ethernet() {
    host::trace("Tr_Connect_Ethernet");
}

uint8_t iVmAlive;
uint8_t TrevantFirstRun;
uint8_t TrevantS9;
void _VMThread() {
    host::trace("_VMThread");
}
void TrevantUpdateWordSRRegs() {
    host::trace("TrevantUpdateWordSRRegs");
}
void TrevantUpdateBitSysRegs() {
    host::trace("TrevantUpdateBitSysRegs");
}
void TrevantUpdateBitInputRegs() {
    host::trace("TrevantUpdateBitInputRegs");
}
void TrevantUpdateWordInputRegs() {
    host::trace("TrevantUpdateWordInputRegs");
}
void TrevantUpdateBitOutputRegs() {
    host::trace("TrevantUpdateBitOutputRegs");
}
void TrevantUpdateWordOutputRegs() {
    host::trace("TrevantUpdateWordOutputRegs");
}

// Segment sizes owned by the block lists, I/O drivers, Modbus, AS-i,
// bindings and driver kit: nothing yet.
uint32_t TrVMFbl_GetNbClass() {
    return 0;
}
uint32_t TrVMFbl_GetClassDataSize() {
    return 0;
}
uint32_t TrVMFbl_GetInstanceDataSizeExact(const TrCodeImage &) {
    return 0;
}
uint32_t TrIos_GetMemorySizing(const TrCodeImage &, uint32_t) {
    return 0;
}
uint32_t TrMB_GetMemorySizing(const TrCodeImage &, uint32_t) {
    return 0;
}
uint32_t TrVMAsi_GetSizing(const TrCodeImage &, uint32_t) {
    return 0;
}
uint32_t TrEAX_GetNbCnx(const TrCodeImage &) {
    return 0;
}
uint32_t TrEAX_GetNbVar(const TrCodeImage &) {
    return 0;
}
uint32_t TrDDKC_GetSize(const TrCodeImage &) {
    return 0;
}

void Iec_NotBuiltReset() {
    TrevantRuntime = 0;
    trevant_variables_enumerateded = 0;
    Tr_init = 0;
    iVmAlive = 0;
    TrevantFirstRun = 0;
    TrevantS9 = 0;
}
