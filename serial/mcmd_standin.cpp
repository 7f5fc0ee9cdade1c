// Stand-in of the master command channel until the local command client is
// built: the channel cannot be set up (2004), so nothing is ever sent.
#include "base/trace.h"
#include "serial/mcmd.h"

int mcmdErrNo;

int MCMD_Init(uint16_t) {
    host::trace("MCMD_Init");
    return 2004;
}
int MCMD_Send(uint8_t, const uint8_t *, uint32_t) {
    return 0;
}
int MCMD_Receive(uint8_t *, uint32_t, uint32_t *length, uint8_t) {
    if (length) *length = 0;
    return 0;
}
void MCMD_Release() {}
void MCMD_SetError(int error) {
    mcmdErrNo = error;
}
void MCMD_Reset() {
    mcmdErrNo = 0;
}
