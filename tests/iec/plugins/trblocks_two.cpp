// A block library of two blocks, as the runtime loads it by name.
#include <cstdint>

extern "C" {
int TrBlocks_IsValid() {
    return 1;
}
const char *TrBlocks_GetBlockName(uint32_t id) {
    return id == 1 ? "BLKA" : id == 2 ? "BLKB" : nullptr;
}
uint32_t BLKA(uint16_t command, uint8_t *, uint8_t *, uint8_t *, uint16_t) {
    return 0xA00u + command;
}
uint32_t BLKB(uint16_t command, uint8_t *, uint8_t *, uint8_t *, uint16_t) {
    return 0xB00u + command;
}
}
