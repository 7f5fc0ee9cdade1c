// The runtime heap: movable blocks reached by handles (1, 2, ...; 0 = none),
// either carved out of one caller's buffer (saved with the VM database) or
// taken one by one from the C library allocator.
//
// A heap is named by its control record. The buffer heap keeps block places
// as offsets from its buffer, so a buffer copied elsewhere (a database read
// back from a file) needs no fix-up; its records are checked when it is
// taken back (TrHeap_RelocateHeapBuffer) and each block again when used.
#pragma once
#include <cstdint>

using TrHeap = uint8_t; // the control record

namespace trheap {
constexpr uint32_t kHeaderSize = 12, kControlSize = 24, kEntrySize = 8;
constexpr uint32_t kMinSize = kHeaderSize + kControlSize;
static_assert(kControlSize == 24 && kEntrySize == 8, "heap records");
// Control record fields (buffer heap).
constexpr uint32_t kBase = 0, kUsed = 4, kCapacity = 8, kOptions = 12, kEntries = 16, kFreed = 20;
constexpr uint32_t kMallocKind = 0x80000000u;
constexpr uint32_t kSizeMask = 0x3FFFFFFF, kFreedBit = 0x40000000, kLockedBit = 0x80000000;
} // namespace trheap

TrHeap *TrHeap_CreateHeapBuffer(uint8_t *buffer, uint32_t size, uint32_t options);
TrHeap *TrHeap_CreateHeapMalloc(uint32_t slots_per_page, uint32_t options);
uint32_t TrHeap_Alloc(TrHeap *heap, uint32_t size);
uint8_t *TrHeap_Lock(TrHeap *heap, uint32_t handle);
void TrHeap_Unlock(TrHeap *heap, uint32_t handle);
void TrHeap_Free(TrHeap *heap, uint32_t handle);
void TrHeap_FreeAll(TrHeap *heap);
void TrHeap_DeleteHeap(TrHeap *heap);
uint32_t TrHeap_NbAlloc(TrHeap *heap);
int32_t TrHeap_GetFreeSpace(TrHeap *heap);
uint32_t TrHeap_Compact(TrHeap *heap, uint32_t step_limit);
// The control record of a buffer heap found in a buffer of this size, or
// null when its magic, size or records do not hold.
TrHeap *TrHeap_RelocateHeapBuffer(uint8_t *buffer, uint32_t size);
