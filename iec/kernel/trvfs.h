// The IEC runtime's RAM files and the file streams of its image files.
//
// A RAM file is the memory of one of the VM's image files ("/mnt/cfg/tr.hot",
// "/mnt/cfg/tr.cod", "/mnt/cfg/tr.upd"): at most one block per image file,
// held in a table whose index from 1 is the block's handle (0 = none), so a
// handle fits the 32-bit fields the runtime keeps it in. Other names get no
// memory. Streams are handles into the panel's table of open files (0 =
// none). Results: 1 done, 0 failed, unless a line says otherwise.
#pragma once
#include <cstdint>

// ---- RAM files
// A zero-filled block of size bytes for an image file's name; 0 for another
// name, a size of 0, no memory, or a name that already has its block.
uint32_t TrVfs_CreateRamFile(const char *path, uint32_t size);
// The file read whole into a new RAM file (in pieces of 512 bytes) and its
// size; 0 when it is missing, empty, not an image file or not read whole.
uint32_t TrVfs_LoadToMemory(const char *path, uint32_t *size);
// The block of a RAM file and its size; null for a handle that holds none.
uint8_t *TrVfs_RamData(uint32_t ram, uint32_t *size);
void TrVfs_ReleaseRamFile(uint32_t ram);
void TrVfs_ReleaseFromMemory(uint32_t ram);
int32_t TrVfs_GetMaxRamFileSize(); // -1: no limit of its own
// Nothing of this panel's memory is battery-backed: nothing to clean.
int TrVfs_CleanSRAMBuffers();
int TrVfs_FileInFlash(const char *path); // the file exists

// ---- streams, paths as given (relative ones from the root folder)
uint32_t TrVfs_OpenReadRand(const char *path, uint32_t *size);
uint32_t TrVfs_OpenWriteCreate(const char *path);
uint32_t TrVfs_OpenWriteAppend(const char *path);
// offset -1: at the current position; any other value: from the start of the
// file. Read answers the bytes read; Write 1 when all were written.
uint32_t TrVfs_Read(uint32_t h, int32_t offset, uint32_t count, void *buf);
int TrVfs_Write(uint32_t h, int32_t offset, uint32_t count, const void *buf);
void TrVfs_Close(uint32_t h);
int TrVfs_Eof(uint32_t h);
// 1 when the file exists and is not empty; size receives its size.
int TrVfs_GetSize(const char *path, uint32_t *size);
int TrVfs_Rename(const char *from, const char *to);
int TrVfs_Delete(const char *path);

// Releases every RAM file.
void TrVfs_Reset();
