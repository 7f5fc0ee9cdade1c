// The IEC code image: the compiled application as the programming tool
// produces it, kept in memory and read in place through these accessors.
//
// The image comes from files and the network, so nothing in it is trusted:
// every accessor checks that the record or list it reads lies inside the
// image and answers 0 (or null) as for an absent field when it does not.
#pragma once
#include <cstdint>

struct TrCodeImage {
    const uint8_t *data = nullptr;
    uint32_t size = 0;
};

// Header words (32-bit words from the image start).
namespace trcode {
constexpr uint32_t kHeaderWords = 17, kHeaderSize = 4 * kHeaderWords;
constexpr uint32_t kFormat = 0, kIdent = 1, kInfo = 2, kCustomFuncs = 3, kClasses = 4, kTasks = 5,
                   kExtVars = 6, kInstances = 7, kSizing = 8, kInit = 9, kExtension = 10,
                   kIODef = 11, kProgCount = 12, kProgList = 14, kOptions = 15, kPublic = 16;
constexpr uint32_t kIdentSize = 20;  // "TrRTI", then "1.0" 16 bytes after its start
constexpr uint32_t kInfoSize = 44;   // through word 10
constexpr uint32_t kSizingSize = 96; // through 32-bit word 23
constexpr uint32_t kInitSize = 44;   // through the flags word 10
constexpr uint32_t kProgEntrySize = 12;
constexpr uint32_t kMapHeaderSize = 16, kMapMarker = 0x8000;
// Data-sizing block: half-word of the count, highest and previous index.
struct KindWords {
    uint16_t count, highest, previous;
};
constexpr KindWords kData8{0, 1, 2}, kData16{6, 7, 8}, kData32{12, 13, 14}, kData64{18, 19, 20},
    kTime{24, 25, 26}, kString{30, 31, 32};
constexpr uint16_t kActiveTime = 29, kSteps = 36, kXVCount = 40, kXVHighest = 41, kTrans = 42;
constexpr uint32_t kStringMinWord = 23; // 32-bit word
// Extension fields (index into the u32 fields after the version).
constexpr uint32_t kExtFields = 24;
int ExtFieldVersion(uint32_t field); // version from which a field exists
} // namespace trcode

// A bounded view of bytes of the image: null when [off, off + len) is not
// inside it or off is 0 (no record).
const uint8_t *TrVMCode_Record(const TrCodeImage &code, uint64_t off, uint64_t len);
uint32_t TrVMCode_HeaderWord(const TrCodeImage &code, uint32_t word);

// 0 when the image can be used; 2 a bad format word, header or sizing
// record; 3 no "TrRTI"; 4 a version text other than "1.0".
int TrVMCode_CheckCode(const TrCodeImage &code);

const char *TrVMCode_GetAppName(const TrCodeImage &code); // bounded text, null when absent
uint32_t TrVMCode_GetInfoWord(const TrCodeImage &code, uint32_t word);
uint16_t TrVMCode_GetInfoHalf(const TrCodeImage &code, uint32_t half);
uint32_t TrVMCode_GetInfoIdentity(const TrCodeImage &code); // the word in front of word 7's place
uint32_t TrVMCode_GetFullBuildStamp(const TrCodeImage &code);
uint32_t TrVMCode_GetSfcCrc(const TrCodeImage &code);
uint32_t TrVMCode_GetPeriod(const TrCodeImage &code);
bool TrVMCode_StartPaused(const TrCodeImage &code);

// Extension block: its version (0 without one) and field n (1-24; 0 when
// the version does not have it or it lies outside the image).
uint32_t TrVMCode_GetExtVersion(const TrCodeImage &code);
bool TrVMCode_HasExtField(const TrCodeImage &code, uint32_t field);
uint32_t TrVMCode_GetExtField(const TrCodeImage &code, uint32_t field);
uint32_t TrVMCode_GetPassword(const TrCodeImage &code);
int32_t TrVMCode_GetHeapSize(const TrCodeImage &code);
uint32_t TrVMCode_GetNbIOs(const TrCodeImage &code);
bool TrVMCode_IsCCPure(const TrCodeImage &code);
bool TrVMCode_IsCodeDebug(const TrCodeImage &code);
uint32_t TrVMCode_GetITCount(const TrCodeImage &code);
// Offsets of optional sections (0 when absent or outside the image).
uint32_t TrVMCode_MBClientConfig(const TrCodeImage &code);
uint32_t TrVMCode_AsiConfig(const TrCodeImage &code);
uint32_t TrVMCode_StaticEvents(const TrCodeImage &code);
uint32_t TrVMCode_GetBusDrv(const TrCodeImage &code);
uint32_t TrVMCode_GetCTSegDef(const TrCodeImage &code);
uint32_t TrVMCode_GetCTTypeDef(const TrCodeImage &code);
uint32_t TrVMCode_GetBusIOList(const TrCodeImage &code);
uint32_t TrVMCode_GetRecipes(const TrCodeImage &code);
uint32_t TrVMCode_GetVLsts(const TrCodeImage &code);
uint32_t TrVMCode_GetCanDef(const TrCodeImage &code);
uint32_t TrVMCode_GetITs(const TrCodeImage &code);
uint32_t TrVMCode_GetInstanceNames(const TrCodeImage &code);
uint32_t TrVMVode_GetEATableVers(const TrCodeImage &code);
// Binding connections and variables: both offsets, or false.
bool TrVMCode_GetEAX(const TrCodeImage &code, uint32_t *connections, uint32_t *variables);
uint32_t TrVMCode_GetCTSegAllocSize(const TrCodeImage &code);
uint32_t TrVMCode_GetCTSegUsedSize(const TrCodeImage &code);
bool TrVMCode_GetDefStringTable(const TrCodeImage &code);
uint32_t TrVMCode_GetStringTable(const TrCodeImage &code, uint32_t n); // entry offset, or 0
uint32_t TrVMCode_GetSignal(const TrCodeImage &code, uint32_t n);

// Programs.
uint32_t TrVMCode_GetNbProg(const TrCodeImage &code);
uint32_t TrVMCode_GetNbProgAlloc(const TrCodeImage &code);
uint32_t TrVMCode_GetNbProgWithStack(const TrCodeImage &code);
uint32_t TrVMCode_GetCallStackSize(const TrCodeImage &code);
uint64_t TrVMCode_GetCallStackAllocSize(const TrCodeImage &code); // may exceed 16 bits
// Program n (from 0): code offset, attribute and no-stack flag; false past
// the list's end or outside the image.
bool TrVMCode_GetProgram(const TrCodeImage &code, uint32_t n, uint32_t *offset, uint32_t *attribute,
                         uint16_t *nostack);

// Counts from the data-sizing block (count word + 1, in 16 bits: a count
// word of 0xFFFF means none).
uint32_t TrVMCode_GetNbLockFlags(const TrCodeImage &code);
uint32_t TrVMCode_GetNbData8(const TrCodeImage &code);
uint32_t TrVMCode_GetNbData16(const TrCodeImage &code);
uint32_t TrVMCode_GetNbData32(const TrCodeImage &code);
uint32_t TrVMCode_GetNbData64(const TrCodeImage &code);
uint32_t TrVMCode_GetNbTime(const TrCodeImage &code);
uint32_t TrVMCode_GetNbActiveTime(const TrCodeImage &code);
uint32_t TrVMCode_GetNbStep(const TrCodeImage &code);
uint32_t TrVMCode_GetNbTrans(const TrCodeImage &code);
uint32_t TrVMCode_GetNbXV(const TrCodeImage &code);
uint16_t TrVMCode_GetSizingHalf(const TrCodeImage &code, uint32_t half);
// STRING count; *buffer_bytes the larger of the sum of (capacity + 3) and the
// block's minimum, summed in 64 bits.
uint32_t TrVMCode_GetNbString(const TrCodeImage &code, uint64_t *buffer_bytes);
// Capacity of STRING k (from 1), 0 when the list has none for it.
uint8_t TrVMCode_GetStringCapacity(const TrCodeImage &code, uint32_t k);

// Function blocks and custom functions.
uint32_t TrVMCode_GetNbFBInstance(const TrCodeImage &code);
uint32_t TrVMCode_GetWishedFBIRawSize(const TrCodeImage &code);
uint32_t TrVMCode_GetInstanceList(const TrCodeImage &code);
uint32_t TrVMCode_GetClassList(const TrCodeImage &code);
uint32_t TrVMCode_GetNbClassEntries(const TrCodeImage &code);
uint32_t TrVMCode_GetCustomFuncList(const TrCodeImage &code);
uint32_t TrVMCode_GetNbCustomFunc(const TrCodeImage &code);

uint32_t TrVMCode_GetVarTypeList(const TrCodeImage &code);
uint32_t TrVMCode_GetIODef(const TrCodeImage &code);
uint32_t TrVMCode_GetPublishedList(const TrCodeImage &code);
uint32_t TrVMCode_GetInitWord(const TrCodeImage &code, uint32_t word); // 0 without the block
