// The host services the IEC runtime's operating-system layer reaches: files
// of the board by path, kept open across passes, the panel's wall clock and
// outside commands.
//
// Open files are indices from 1 into one table of streams (0 = none), so a
// handle fits the 32-bit fields the runtime keeps them in. A path with a ".."
// component is refused: nothing reaches outside the root folder.
#pragma once
#include <cstddef>
#include <cstdint>

// mode: "rb", "wb", "ab", "r+b"; 0 when the file does not open.
uint32_t OsFile_Open(const char *board_path, const char *mode);
bool OsFile_Close(uint32_t h);
bool OsFile_Valid(uint32_t h);
size_t OsFile_Read(uint32_t h, void *buf, size_t n);
size_t OsFile_Write(uint32_t h, const void *buf, size_t n);
// whence: SEEK_SET, SEEK_CUR, SEEK_END; true on success.
bool OsFile_Seek(uint32_t h, int64_t offset, int whence);
int OsFile_Getc(uint32_t h); // -1 at the end or on an error
bool OsFile_Eof(uint32_t h);
bool OsFile_Flush(uint32_t h);
bool OsFile_Remove(const char *board_path);
bool OsFile_Rename(const char *from, const char *to);
// Size in bytes, -1 when the file does not exist.
int64_t OsFile_Size(const char *board_path);
bool OsFile_Exists(const char *board_path);
size_t OsFile_OpenCount();
// Closes every open file.
void OsFile_Reset();

// The panel's wall clock, in nanoseconds since 1970 (local time).
int64_t Os_WallNs();
// Runs a board command line through the panel's one command runner.
int Os_Command(const char *cmdline);

// Libraries loaded at run time from the root folder ("./libtrblocks.so" is
// the root folder's libtrblocks.so): a handle, or null with the loader's
// message in OsLib_Error.
void *OsLib_Open(const char *board_path);
void *OsLib_Symbol(void *lib, const char *name);
void OsLib_Close(void *lib);
const char *OsLib_Error();
