#include "core/loop.h"
#include "core/pgm.h"

uint16_t PGM_ScreenChoice(uint16_t v) {
    if (BootMode) {
        if (v != 21) v = 22;
    } else if (v == 22) {
        v = 0;
    }
    if (RecoverMode == 1 && v != 21) v = 23;
    return v;
}
