// NULL objects (types 22 and 23): rows whose objects take no instance
// memory, draw nothing and answer every message with 0.
#include "objects/objects.h"

namespace {
int16_t create(const uint8_t *, ObjInst *) {
    return 0;
}
void paint(const uint8_t *, ObjInst *, int) {}
uint16_t signal(const uint8_t *, ObjInst *, int, uint32_t) {
    return 0;
}
} // namespace

const ObjClass NULL40_Class{40, create, paint, signal, nullptr, 0, nullptr};
const ObjClass NULL32_Class{32, create, paint, signal, nullptr, 0, nullptr};
