// The IEC resource table (database segment 19): memory blocks, files,
// arrays and sockets that blocks own, freed together when the VM stops; and
// a small reader of parameter files.
//
// Item (12 bytes): u32 data, u32 size, u16 identifier (0 = free), u16 kind.
// The data of a memory block or array is a handle of this module's block
// table (from 1), of a file a file handle, of a socket its descriptor.
#pragma once
#include <cstdint>

namespace trrsc {
constexpr uint32_t kItemSize = 12, kData = 0, kSize = 4, kIdent = 8, kKind = 10;
constexpr uint16_t kMemory = 1, kFile = 2, kArray = 3, kSocket = 4;
} // namespace trrsc

// Items are numbered from 1; 0 answers "none".
uint32_t TrVMRsc_GetFreeItem(uint8_t *db);
uint32_t TrVMRsc_FindData(uint8_t *db, uint32_t data);
uint32_t TrVMRsc_FindSocket(uint8_t *db, int32_t sock);
uint32_t TrVMRsc_FindArray(uint8_t *db, uint32_t ident);
int TrVMRsc_Exist(uint8_t *db, uint32_t ident);
uint8_t *TrVMRsc_Item(uint8_t *db, uint32_t item);
// 1 made; 2 identifier above 127, taken or no free item; 3 count below 1;
// 4 no memory (or count x size beyond 32 bits).
int TrVMRsc_CreateArray(uint8_t *db, uint32_t ident, int32_t count, uint32_t size);
// 1 done; 2 no such array; 3 index out of the array. Read answers 1 or 0.
int TrVMRsc_WriteArray(uint8_t *db, uint32_t ident, int32_t index, uint32_t size, const void *data);
int TrVMRsc_ReadArray(uint8_t *db, uint32_t ident, int32_t index, uint32_t size, void *data);
// The bytes of a memory block or array handle (null when none).
uint8_t *TrVMRsc_Block(uint32_t handle, uint32_t *size);

// 1 when `key` was found in `[section]` of the text file; out gets the value
// (empty when not found), cut to size - 1 characters.
int TrParam_Get(uint32_t ignored, const char *file, const char *section, const char *key, char *out,
                uint32_t size);

void TrVMRsc_Reset();
