// The IEC runtime's memory manager: the code image, the raw VM database and
// the code image of an online change, each one heap block mirrored by one
// file, and the download of the code and change files in chunks. It knows
// nothing of the images' contents.
#pragma once
#include "iec/comm/trcs.h"

#include <cstdint>

struct TrMemBlock {
    uint16_t kind;    // 1 code, 2 VM database, 3 change
    uint16_t flags;   // trmm::kInMemory, trmm::kLinked
    uint16_t links;   // links taken
    uint16_t changed; // code block: 1 once an online change replaced the code
    uint32_t size;
    uint8_t *linked; // data while linked, else null
    uint8_t *data;   // the heap block, else null
};

struct TrMMData {
    const char *base; // put in front of the file names
    TrMemBlock code, vmdb, change;
};

namespace trmm {
constexpr uint16_t kInMemory = 1, kLinked = 2;
constexpr uint16_t kCode = 1, kVmDb = 2, kChange = 3;
constexpr uint32_t kChunk = 4096;
} // namespace trmm

extern TrMMData mmData;

// Block operations: 0 done, 1 failed (the block as it was, except a failed
// load, which leaves it cleared).
int TrMemory_Load(TrMemBlock *b, const char *name, const char *base);
int TrMemory_Alloc(TrMemBlock *b, uint32_t size, const char *base);
int TrMemory_Free(TrMemBlock *b, const char *base);
int TrMemory_Link(TrMemBlock *b, const char *base);
int TrMemory_Unlink(TrMemBlock *b, const char *base);
int TrMemory_Save(TrMemBlock *b, const char *name, const char *base);
int TrMemory_StartWrite(TrMemBlock *b, const TrLoadInfo *record, const char *base);
int TrMemory_Write(TrMemBlock *b, const TrLoadInfo *record, const char *base);
int TrMemory_EndWrite(TrMemBlock *b, const TrLoadInfo *record, const char *base);

void TrMM_Open(TrMMData *mm, const char *base);
void TrMM_Close(TrMMData *mm);
int TrMM_LoadCode(TrMMData *mm, const char *name);
int TrMM_LoadVMDB(TrMMData *mm, const char *name);
int TrMM_LoadChange(TrMMData *mm, const char *name);
int TrMM_FreeCode(TrMMData *mm);
int TrMM_FreeVMDB(TrMMData *mm);
int TrMM_FreeChange(TrMMData *mm);
int TrMM_UnlinkCode(TrMMData *mm);
int TrMM_UnlinkVMDB(TrMMData *mm);
int TrMM_UnlinkChange(TrMMData *mm);
uint8_t *TrMM_LinkCode(TrMMData *mm);
uint8_t *TrMM_LinkVMDB(TrMMData *mm);
uint8_t *TrMM_LinkChange(TrMMData *mm);
int TrMM_AllocRawVMDB(TrMMData *mm, uint32_t size);
int TrMM_SaveVMDB(TrMMData *mm, const char *name);
int TrMM_SaveChange(TrMMData *mm, const char *name);
int TrMM_WriteCodeRequest(TrMMData *mm, int request, const TrLoadInfo *record);
int TrMM_WriteChangeRequest(TrMMData *mm, int request, const TrLoadInfo *record);
int TrMM_RegisterChange(TrMMData *mm);
// The file of a block's kind (null for any other kind).
const char *TrMM_FileOf(uint16_t kind);

void TrMM_Reset();
