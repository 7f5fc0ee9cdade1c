// The IEC runtime's memory manager: images as heap blocks mirrored by files.
#include "iec/kernel/trmm.h"

#include "iec/kernel/trglue.h"
#include "iec/kernel/tros.h"

#include <cstdlib>
#include <cstring>
#include <string>

TrMMData mmData;

namespace {
std::string file_of(const TrMemBlock *b, const char *base) {
    const char *f = TrMM_FileOf(b->kind);
    if (!f) return {};
    return std::string(base ? base : "") + f;
}

void clear(TrMemBlock *b) {
    uint16_t kind = b->kind;
    *b = TrMemBlock{};
    b->kind = kind;
}
} // namespace

const char *TrMM_FileOf(uint16_t kind) {
    switch (kind) {
    case trmm::kCode:
        return "/mnt/cfg/tr.cod";
    case trmm::kVmDb:
        return "tr.hot";
    case trmm::kChange:
        return "/mnt/cfg/tr.upd";
    }
    return nullptr;
}

int TrMemory_Load(TrMemBlock *b, const char *, const char *base) {
    if (b->flags != 0) return 1;
    std::string path = file_of(b, base);
    if (path.empty()) return 1;
    uint32_t size = TrFile_GetSize(path.c_str());
    uint32_t h = size ? TrFile_Open(path.c_str(), 0) : 0;
    uint8_t *data = h ? static_cast<uint8_t *>(std::malloc(size)) : nullptr;
    bool ok = data != nullptr;
    for (uint32_t at = 0; ok && at < size; at += trmm::kChunk) {
        uint32_t n = size - at < trmm::kChunk ? size - at : trmm::kChunk;
        ok = TrFile_Read(h, data + at, n) == 1;
    }
    TrFile_Close(h);
    if (!ok) {
        std::free(data);
        clear(b);
        return 1;
    }
    b->data = data;
    b->size = size;
    b->flags = trmm::kInMemory;
    b->links = 0;
    return 0;
}

int TrMemory_Alloc(TrMemBlock *b, uint32_t size, const char *) {
    if (b->flags != 0 || size == 0) return 1;
    uint8_t *data = static_cast<uint8_t *>(std::calloc(1, size));
    if (!data) return 1;
    b->data = data;
    b->size = size;
    b->flags = trmm::kInMemory;
    b->links = 0;
    return 0;
}

int TrMemory_Free(TrMemBlock *b, const char *) {
    if (b->flags != trmm::kInMemory) return 1;
    std::free(b->data);
    clear(b);
    return 0;
}

int TrMemory_Link(TrMemBlock *b, const char *) {
    if (!(b->flags & trmm::kInMemory)) return 1;
    b->linked = b->data;
    ++b->links;
    b->flags |= trmm::kLinked;
    return 0;
}

int TrMemory_Unlink(TrMemBlock *b, const char *) {
    if ((b->flags & 3) != 3) return 1;
    if (b->links) --b->links;
    if (b->links == 0) {
        b->flags &= uint16_t(~trmm::kLinked);
        b->linked = nullptr;
    }
    return 0;
}

int TrMemory_Save(TrMemBlock *b, const char *, const char *base) {
    if (!(b->flags & trmm::kInMemory)) return 1;
    std::string path = file_of(b, base);
    if (path.empty()) return 1;
    uint32_t h = TrFile_Open(path.c_str(), 1);
    if (!h) return 1;
    bool ok = true;
    for (uint32_t at = 0; ok && at < b->size; at += trmm::kChunk) {
        uint32_t n = b->size - at < trmm::kChunk ? b->size - at : trmm::kChunk;
        ok = TrFile_Write(h, b->data + at, n) == 1;
    }
    ok = TrFile_Fflush(h) == 1 && ok;
    TrFile_Close(h);
    return ok ? 0 : 1;
}

int TrMemory_StartWrite(TrMemBlock *b, const TrLoadInfo *, const char *base) {
    if (b->flags != 0) return 1;
    std::string path = file_of(b, base);
    uint32_t h = path.empty() ? 0 : TrFile_Open(path.c_str(), 1);
    if (!h) return 1;
    TrFile_Close(h);
    return 0;
}

int TrMemory_Write(TrMemBlock *b, const TrLoadInfo *record, const char *base) {
    if (b->flags != 0 || !record || (record->length && !record->data)) return 1;
    std::string path = file_of(b, base);
    if (path.empty() || !TrFile_Exist(path.c_str())) return 1;
    uint32_t h = TrFile_OpenAppend(path.c_str());
    if (!h) return 1;
    bool ok = record->length == 0 || TrFile_Write(h, record->data, record->length) == 1;
    TrFile_Close(h);
    return ok ? 0 : 1;
}

int TrMemory_EndWrite(TrMemBlock *b, const TrLoadInfo *, const char *base) {
    if (b->flags != 0) return 1;
    std::string path = file_of(b, base);
    return !path.empty() && TrFile_GetSize(path.c_str()) > 0 ? 0 : 1;
}

void TrMM_Open(TrMMData *mm, const char *base) {
    *mm = TrMMData{};
    mm->base = base;
    mm->code.kind = trmm::kCode;
    mm->vmdb.kind = trmm::kVmDb;
    mm->change.kind = trmm::kChange;
}

void TrMM_Close(TrMMData *mm) {
    // Whatever is still linked is let go: nothing uses it once closed.
    for (TrMemBlock *b : {&mm->code, &mm->vmdb, &mm->change}) {
        b->links = 0;
        b->flags &= uint16_t(~trmm::kLinked);
        b->linked = nullptr;
    }
    TrMemory_Free(&mm->code, mm->base);
    TrMemory_Free(&mm->vmdb, mm->base);
    TrMemory_Free(&mm->change, mm->base);
}

int TrMM_LoadCode(TrMMData *mm, const char *name) {
    return TrMemory_Load(&mm->code, name, mm->base);
}
int TrMM_LoadVMDB(TrMMData *mm, const char *name) {
    return TrMemory_Load(&mm->vmdb, name, mm->base);
}
int TrMM_LoadChange(TrMMData *mm, const char *name) {
    return TrMemory_Load(&mm->change, name, mm->base);
}
int TrMM_FreeCode(TrMMData *mm) {
    return TrMemory_Free(&mm->code, mm->base);
}
int TrMM_FreeVMDB(TrMMData *mm) {
    return TrMemory_Free(&mm->vmdb, mm->base);
}
int TrMM_FreeChange(TrMMData *mm) {
    return TrMemory_Free(&mm->change, mm->base);
}
int TrMM_UnlinkCode(TrMMData *mm) {
    return TrMemory_Unlink(&mm->code, mm->base);
}
int TrMM_UnlinkVMDB(TrMMData *mm) {
    return TrMemory_Unlink(&mm->vmdb, mm->base);
}
int TrMM_UnlinkChange(TrMMData *mm) {
    return TrMemory_Unlink(&mm->change, mm->base);
}
uint8_t *TrMM_LinkCode(TrMMData *mm) {
    return TrMemory_Link(&mm->code, mm->base) == 0 ? mm->code.linked : nullptr;
}
uint8_t *TrMM_LinkVMDB(TrMMData *mm) {
    return TrMemory_Link(&mm->vmdb, mm->base) == 0 ? mm->vmdb.linked : nullptr;
}
uint8_t *TrMM_LinkChange(TrMMData *mm) {
    return TrMemory_Link(&mm->change, mm->base) == 0 ? mm->change.linked : nullptr;
}
int TrMM_AllocRawVMDB(TrMMData *mm, uint32_t size) {
    return TrMemory_Alloc(&mm->vmdb, size, mm->base);
}
int TrMM_SaveVMDB(TrMMData *mm, const char *name) {
    return TrMemory_Save(&mm->vmdb, name, mm->base);
}
int TrMM_SaveChange(TrMMData *mm, const char *name) {
    if (!mm->code.changed) return 0;
    return TrMemory_Save(&mm->code, name, mm->base);
}

namespace {
int write_request(TrMemBlock *b, const char *base, int request, const TrLoadInfo *record) {
    switch (request) {
    case 2:
        return TrMemory_StartWrite(b, record, base);
    case 3:
        return TrMemory_Write(b, record, base);
    case 4:
        return TrMemory_EndWrite(b, record, base);
    }
    return 1;
}
} // namespace

int TrMM_WriteCodeRequest(TrMMData *mm, int request, const TrLoadInfo *record) {
    return write_request(&mm->code, mm->base, request, record);
}
int TrMM_WriteChangeRequest(TrMMData *mm, int request, const TrLoadInfo *record) {
    return write_request(&mm->change, mm->base, request, record);
}

int TrMM_RegisterChange(TrMMData *mm) {
    if (!(mm->change.flags & trmm::kInMemory) || (mm->code.flags & trmm::kLinked)) return 1;
    TrMemory_Free(&mm->code, mm->base);
    mm->code = mm->change;
    mm->code.kind = trmm::kCode;
    mm->code.changed = 1;
    mm->change = TrMemBlock{};
    mm->change.kind = trmm::kChange;
    return 0;
}

void TrMM_Reset() {
    TrMM_Close(&mmData);
    mmData = TrMMData{};
}
