// A block library that declares itself unusable.
#include <cstdint>

extern "C" {
int TrBlocks_IsValid() {
    return 0;
}
const char *TrBlocks_GetBlockName(uint32_t id) {
    return id == 1 ? "BLKA" : nullptr;
}
}
