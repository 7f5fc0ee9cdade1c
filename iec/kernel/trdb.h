// The VM database: one block of a 640-byte header of 40 segment
// descriptors followed by the 40 segments, sized from the code image,
// linked, and read by location words from the rest of the panel.
//
// Every pointer stored inside the block is a u32 offset from the block's
// first byte (0 = none); pointers into the code image are image offsets.
// Offsets read back from the block (a database reloaded from a file is file
// data) are checked against their segment before use.
#pragma once
#include "iec/kernel/trcode.h"

#include <cstdint>

// One segment descriptor, as held in the header (read and written through
// TrDB_GetSegment / TrDB_SetSegment, never cast over the bytes).
struct VmDbSegment {
    uint32_t pointer;  // offset of the segment's first byte
    uint32_t raw_size; // 0: element size x allocated count
    uint16_t element_size;
    uint16_t count_a;
    uint16_t count_b;
    uint16_t allocated;
};
static_assert(sizeof(VmDbSegment) == 16, "segment descriptor");

namespace trdb {
constexpr uint32_t kSegments = 40, kHeaderSize = 16 * kSegments;
static_assert(kHeaderSize == 640, "database header");
// Largest database the panel builds: sizes from the image beyond this are
// refused rather than allocated.
constexpr uint64_t kMaxTotal = 256ull << 20;
// Application record at the start of segment 3.
constexpr uint32_t kAppVersion = 0, kAppCode = 4, kAppStamp = 8, kAppSfcCrc = 12, kAppTypeList = 16,
                   kAppPassword = 20, kAppCTUsed = 24, kAppRetainPtrs = 28, kAppRetainSizes = 52,
                   kAppRetainCrc = 64, kAppRetainDef = 68, kAppRetainCT = 76, kAppRetainCTSize = 80,
                   kAppDispatcher = 84, kAppStringTableNo = 88, kAppStringTable = 92,
                   kAppMapStamp = 104, kAppHeap = 108, kAppRecordSize = 112;
static_assert(kAppHeap + 4 == kAppRecordSize && kAppRecordSize == 112, "application record");
constexpr uint32_t kAppVersionConstant = 0x8000026;
constexpr uint32_t kStatusSize = 248, kTaskEntrySize = 8, kMaxTasks = 8;
} // namespace trdb

VmDbSegment TrDB_GetSegment(const uint8_t *db, uint32_t k);
void TrDB_SetSegment(uint8_t *db, uint32_t k, const VmDbSegment &s);
// Bytes a descriptor asks for (raw size, else element size x allocated).
uint64_t TrDB_SegmentSize(const VmDbSegment &s);
// The segment's bytes inside a database of db_size bytes, or null when its
// descriptor places it outside.
uint8_t *TrDB_Segment(uint8_t *db, uint32_t db_size, uint32_t k, uint32_t *size = nullptr);

// Fills the header (cleared by the caller) from the code; 0, or 1 when the
// code fails its check, the public-variable table is missing, empty or
// unmarked, or a size does not fit (total above trdb::kMaxTotal, a count
// beyond 16 bits).
int TrVM_GetDBSize(const TrCodeImage &code, uint8_t *header);
int TrVMMap_GetSizing(uint8_t *header, const TrCodeImage &code);
// 640 + the rounded segment sizes, in 64 bits.
uint64_t TrVM_GetTotalDBSize(const uint8_t *header);
// Sets every descriptor's pointer in index order, each segment rounded up to
// 8 bytes.
void TrVM_BuildDBMainLinks(uint8_t *db);
// The relink of a database read back from a file: 1 (refused, nothing
// changed) unless its header's total size equals the bytes loaded.
int TrVM_RelinkDB(uint8_t *db, uint64_t loaded);

// Data sizing of one kind against the database: 0, or the kind's code (9
// 8-bit, 10 16-bit, 11 32-bit, 19 64-bit, 13 TIME, 20 STRING, 34 external)
// when the segment cannot hold the highest index in use.
int TrVMCode_GetData8Sizing(const TrCodeImage &code, uint8_t *db);
int TrVMCode_GetData16Sizing(const TrCodeImage &code, uint8_t *db);
int TrVMCode_GetData32Sizing(const TrCodeImage &code, uint8_t *db);
int TrVMCode_GetData64Sizing(const TrCodeImage &code, uint8_t *db);
int TrVMCode_GetTimeSizing(const TrCodeImage &code, uint8_t *db);
int TrVMCode_GetStringSizing(const TrCodeImage &code, uint8_t *db);
int TrVMCode_GetXVSizing(const TrCodeImage &code, uint8_t *db);
// STRING k's buffer of capacity + 3 bytes in segment 18, its offset in
// segment 17 [k]; 20 when the buffers do not fit.
int TrVMCode_SetStringPointers(const TrCodeImage &code, uint8_t *db, uint32_t db_size);
// Segment 26 [1, 2, ...] := data offsets of the external variables; 1 for an
// unknown type or an index beyond its kind's allocated count.
int TrVMCode_SetXVPointers(const TrCodeImage &code, uint8_t *db, uint32_t db_size);
// Complex-type initial records from the threshold on; 1 when a record
// reaches past segment 35.
int TrVMCode_ApplyCTSegInit(const TrCodeImage &code, uint8_t *db, uint32_t db_size,
                            uint32_t threshold);
// Segment 28 := (name, program list) image offsets of each task; 36 for a
// ninth task.
int TrVMCode_BuildTaskList(const TrCodeImage &code, uint8_t *db, uint32_t db_size);
int TrVMCode_CanHOTBuildTaskList(const TrCodeImage &code);

// The running application's database and its size in bytes (null and 0
// when none).
extern uint8_t *pDB;
extern uint32_t pDBSize;
void TrDB_Reset();

// Sizes that the owners of other segments give (block lists, I/O drivers,
// Modbus, AS-i, bindings, driver kit).
uint32_t TrVMFbl_GetNbClass();
uint32_t TrVMFbl_GetClassDataSize();
uint32_t TrVMFbl_GetInstanceDataSizeExact(const TrCodeImage &code);
uint32_t TrIos_GetMemorySizing(const TrCodeImage &code, uint32_t io_def);
uint32_t TrMB_GetMemorySizing(const TrCodeImage &code, uint32_t config);
uint32_t TrVMAsi_GetSizing(const TrCodeImage &code, uint32_t config);
uint32_t TrEAX_GetNbCnx(const TrCodeImage &code);
uint32_t TrEAX_GetNbVar(const TrCodeImage &code);
uint32_t TrDDKC_GetSize(const TrCodeImage &code);

// The application's heap: a positive heap size of the code puts a buffer
// heap in segment 3 behind the application record (created cold, taken back
// hot), a negative one a heap of its own from the allocator (cold only).
// 0, or 71 when the heap cannot be made or taken back. The record keeps the
// buffer heap's control record as a database offset, the heap of its own as
// the handle kOwnHeap.
int TrVMCode_AllocHeap(const TrCodeImage &code, uint8_t *db, uint32_t db_size, bool hot);
// The heap the database records (null without one).
uint8_t *TrVM_GetHeap(uint8_t *db, uint32_t db_size);
namespace trdb {
constexpr uint32_t kOwnHeap = 0xFFFFFFFFu;
}
