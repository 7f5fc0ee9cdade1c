// The runtime's requests to the serial Modbus engine when it hands the
// programming port back.
#include "iec/kernel/iec.h"

uint8_t trruntime_modbusinit;
uint8_t trprotocol;

void TrSerialFlags_Reset() {
    trruntime_modbusinit = 0;
    trprotocol = 0;
}
