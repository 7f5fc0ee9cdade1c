// Media file API: files, listings with name patterns, copy, delete, rename,
// directory trees, media status and free space, and register data as CSV
// text, over the media file layer. Every operation returns a card status code.
#pragma once
#include "platform/media.h"

#include <cstdint>

// Card status codes.
namespace cf {
constexpr int16_t kOk = 0, kEndOfFile = -1, kFormatFailed = 1, kAbsent = 2, kState1 = 4;
constexpr int16_t kMediaFault = 5, kNotFound = 66, kNotAFile = 73, kAccessError = 77;
constexpr int16_t kExists = 81, kBusy = 82, kInvalid = 86, kCorrupt = 92, kTooDeep = 96;
} // namespace cf

extern const int16_t CfStatusTable[37];
extern uint32_t CfResult; // fx status of the last operation
extern int16_t CfStatus;  // card status of the last operation

// Card status of an fx status (an I/O error is told apart by the drive's media).
int16_t CfResultDecode(uint32_t fx_status, int drive = 0);
int16_t CfStateDecode(int state);

// A directory listing, from CF_GetFirst to CF_GetDone.
struct CfFindRecord {
    char long_name[kFxPathMax];
    char short_name[256]; // upper case; a file's name before its first "."
    char extension[15];   // upper case, at most 14 characters
    uint8_t attributes;
    uint16_t time; // hour * 2048 + minute * 32 + second / 2
    uint16_t date; // day + month * 32 + (year - 1980) * 512
    uint32_t size;
    FxLocalPath saved; // the drive's current directory before the listing
    // Pattern of the running listing.
    char pattern_name[256];
    char pattern_ext[15];
};

// The request record of a CSV read or write.
struct CsvFileRequest {
    uint32_t kind; // write: 0 raw bytes, 1 CSV text
    const char *path;
    uint8_t *data;         // values back to back, little-endian, in their width
    uint32_t type;         // value type 0..9
    uint32_t count;        // values; type 0: text length; by column: column | most values << 16
    uint32_t *result;      // values read or written (type 0: text length)
    int32_t position;      // read: -1 count rows, >= 0 separators to skip, other negative by
                           // column (first row | last row << 16); write: values per line
    uint32_t open_mode;    // write: 0 new file, 1 append to existing, 2 append or create, 3 replace
    uint32_t end_of_row;   // write: CR LF after the last value; read: low byte 76 = layout mode,
                           // high half the layout's total byte length
    uint32_t layout_word;  // write: low byte 77 = layout mode, byte 1 header flag, high half
                           // the number of layout entries
    const char *name_base; // write, layout mode: the header names
    const uint8_t *layout; // layout list (layout mode)
};

// Layout list entry (8 bytes, little-endian): u16 type (0..10), u16 count of
// values (a text entry: its fixed length in bytes), u16 name offset from the
// name base, u16 name length.
constexpr uint32_t kCsvLayoutEntrySize = 8;
constexpr uint8_t kCsvLayoutRead = 76, kCsvLayoutWrite = 77;
// Bits per value of each value type 0..10.
uint32_t CF_TypeWidth(uint32_t type);

int16_t CF_Init();
int16_t CF_GetStatus(int drive);
int16_t CF_FormatCard(int drive);
int16_t CF_GetFreeSpace(int drive, uint32_t *total_kb, uint32_t *free_kb);
int16_t CF_Open(FxFile *file, const char *path, uint32_t mode);
int16_t CF_Read(FxFile *file, void *buffer, uint32_t length, uint32_t *actual);
int16_t CF_Write(FxFile *file, const void *buffer, uint32_t length, uint32_t *written);
int16_t CF_Close(FxFile *file);
int16_t CF_Size(FxFile *file, uint32_t *size);
int16_t CF_ChangeDir(int drive, const char *path);
int16_t CF_GetFirst(int drive, CfFindRecord *rec, const char *pattern);
int16_t CF_GetNext(int drive, CfFindRecord *rec);
int16_t CF_GetDone(int drive, CfFindRecord *rec);
// names[0]: the pattern.
int16_t CF_DeleteFile(uint32_t ignored, const char *const *names);
// names[0] old, names[1] new.
int16_t CF_RenameFile(uint32_t ignored, const char *const *names);
// names[0] source (a file or a pattern), names[1] destination.
int16_t CF_CopyFile(uint32_t ignored, const char *const *names);
int16_t CF_MakeDir(int drive, const char *path);
int16_t CF_RemoveDir(int drive, const char *path);
int16_t CF_ReadFile(uint32_t ignored, CsvFileRequest *req);
int16_t CF_WriteFile(uint32_t ignored, CsvFileRequest *req);
int16_t CF_ReadFileRowCount(CsvFileRequest *req);
int16_t CF_ReadFileByRow(CsvFileRequest *req);
int16_t CF_ReadFileByColumn(CsvFileRequest *req);

// Splits a path (at most 511 characters) at its last separator into a
// directory part and a name, and the name at its first "." into an upper-case
// base and extension. 0, or 86 for a bad path.
int16_t CF_PathParse(char *dir, char *base, char *ext, const char *path);
int16_t CF_FileParse(char *base, char *ext, const char *name);
// Name pattern test: "*" matches the rest, "?" one character.
int CfPatternCmp(const char *name, const char *pattern, uint32_t length);
// Buffered writing through the 512-byte buffer; a count of 0 writes out what
// is left. The count taken, or -1 when a write failed (fx status in CfResult).
int CfWriteBuffered(FxFile *file, const void *bytes, uint32_t count);

void CfApi_Reset();
// Drops what the write buffer holds (tests).
void CfCsv_Reset();
