// The IEC runtime's RAM files and image-file streams over the panel's files.
#include "iec/kernel/trvfs.h"

#include "iec/kernel/tros.h"
#include "platform/osif.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The runtime's known files: identifier, class, flag, name. Only class 0
// with a non-zero identifier (the VM's image files) gets memory.
struct KnownFile {
    uint16_t id;
    uint8_t cls, flag;
    const char *name;
};
// clang-format off
constexpr KnownFile kKnown[] = {
    {1, 0, 0, "/mnt/cfg/tr.hot"}, {2, 0, 0, "/mnt/cfg/tr.cod"}, {3, 0, 0, "/mnt/cfg/tr.upd"},
    {1, 1, 0, "/mnt/cfg/tr.hot"}, {2, 1, 0, "/mnt/cfg/tr.cod"}, {3, 1, 0, "/mnt/cfg/tr.upd"},
    {4, 1, 0, "tr.upl"},          {5, 1, 0, "tr.rsc"},          {6, 1, 0, "tr.rst"},
    {7, 1, 0, "tr.rbm"},          {8, 1, 0, "tr.rfn"},          {9, 1, 0, "tr.reg"},
    {10, 1, 0, "trnext.reg"},     {11, 1, 1, "/mnt/cfg/trinfo.txt"},
};
// clang-format on
constexpr uint32_t kRamFiles = 3; // one block per image file
constexpr uint32_t kPiece = 512;

struct RamFile {
    uint8_t *data;
    uint32_t size;
};
RamFile g_ram[kRamFiles]; // slot i holds the image file of identifier i + 1

// The RAM-file handle of an image file's name, 0 for another name.
uint32_t image_id(const char *path) {
    if (!path) return 0;
    for (const KnownFile &k : kKnown)
        if (k.cls == 0 && k.id != 0 && std::strcmp(k.name, path) == 0) return k.id;
    return 0;
}

RamFile *slot(uint32_t ram) {
    return ram >= 1 && ram <= kRamFiles && g_ram[ram - 1].data ? &g_ram[ram - 1] : nullptr;
}

bool seek_to(uint32_t h, int32_t offset) {
    return offset == -1 || (offset >= 0 && OsFile_Seek(h, offset, SEEK_SET));
}

} // namespace

void TrVfs_Reset() {
    for (RamFile &r : g_ram) {
        std::free(r.data);
        r = RamFile{};
    }
}

// ------------------------------------------------------------- RAM files

uint32_t TrVfs_CreateRamFile(const char *path, uint32_t size) {
    uint32_t id = image_id(path);
    if (!id || size == 0 || g_ram[id - 1].data) return 0;
    auto *data = static_cast<uint8_t *>(std::calloc(1, size));
    if (!data) return 0;
    g_ram[id - 1] = RamFile{data, size};
    return id;
}

uint32_t TrVfs_LoadToMemory(const char *path, uint32_t *size) {
    if (size) *size = 0;
    uint32_t n = TrFile_GetSize(path);
    uint32_t ram = n ? TrVfs_CreateRamFile(path, n) : 0;
    uint32_t h = ram ? TrFile_Open(path, 0) : 0;
    bool whole = h != 0;
    for (uint32_t at = 0; whole && at < n; at += kPiece) {
        uint32_t piece = n - at < kPiece ? n - at : kPiece;
        whole = TrFile_Read(h, g_ram[ram - 1].data + at, piece) == 1;
    }
    TrFile_Close(h);
    if (!whole) {
        TrVfs_ReleaseRamFile(ram);
        return 0;
    }
    if (size) *size = n;
    return ram;
}

uint8_t *TrVfs_RamData(uint32_t ram, uint32_t *size) {
    RamFile *r = slot(ram);
    if (size) *size = r ? r->size : 0;
    return r ? r->data : nullptr;
}

void TrVfs_ReleaseRamFile(uint32_t ram) {
    if (RamFile *r = slot(ram)) {
        std::free(r->data);
        *r = RamFile{};
    }
}

void TrVfs_ReleaseFromMemory(uint32_t ram) {
    TrVfs_ReleaseRamFile(ram);
}

int32_t TrVfs_GetMaxRamFileSize() {
    return -1;
}

int TrVfs_CleanSRAMBuffers() {
    return 1;
}

int TrVfs_FileInFlash(const char *path) {
    return TrFile_Exist(path);
}

// --------------------------------------------------------------- streams

uint32_t TrVfs_OpenReadRand(const char *path, uint32_t *size) {
    uint32_t h = TrFile_Open(path, 0);
    if (size) *size = h ? TrFile_GetSize(path) : 0;
    return h;
}

uint32_t TrVfs_OpenWriteCreate(const char *path) {
    return TrFile_Open(path, 1);
}

uint32_t TrVfs_OpenWriteAppend(const char *path) {
    return TrFile_OpenAppend(path);
}

uint32_t TrVfs_Read(uint32_t h, int32_t offset, uint32_t count, void *buf) {
    if (!h || !seek_to(h, offset)) return 0;
    return uint32_t(OsFile_Read(h, buf, count));
}

int TrVfs_Write(uint32_t h, int32_t offset, uint32_t count, const void *buf) {
    if (!h || !seek_to(h, offset)) return 0;
    return OsFile_Write(h, buf, count) == count ? 1 : 0;
}

void TrVfs_Close(uint32_t h) {
    TrFile_Close(h);
}

int TrVfs_Eof(uint32_t h) {
    return TrFile_Eof(h);
}

int TrVfs_GetSize(const char *path, uint32_t *size) {
    uint32_t n = TrFile_GetSize(path);
    if (size) *size = n;
    return n ? 1 : 0;
}

int TrVfs_Rename(const char *from, const char *to) {
    return TrFile_Rename(from, to);
}

int TrVfs_Delete(const char *path) {
    return TrFile_Delete(path);
}
