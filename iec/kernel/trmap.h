// The variable map: the application's public variables (those the code's
// public-variable table names) with their data, found by symbol, by type and
// index, by numeric tag or by address, each with optional status
// information (64 status bits and a date and time stamp).
//
// The map lives in segment 24 of the database, its 49 hash heads in segment
// 25. Inside the database every link is a u32 offset from the database's
// first byte (0 = none); the code record is an image offset. A map entry is
// handed out as its address; its database offset is the handle programs keep
// (never 0 for an entry, so 0 stays "not found").
#pragma once
#include "iec/kernel/trcode.h"

#include <cstdint>

namespace trmap {
// Entry fields.
constexpr uint32_t kRecord = 0, kData = 4, kLock = 8, kNextIndex = 12, kNextSymbol = 16,
                   kNextTag = 20, kVsiHigh = 24, kVsiLow = 28, kVsiDate = 32, kVsiTime = 36;
constexpr uint32_t kEntrySize = 24, kEntrySizeVsi = 40;
static_assert(kNextTag + 4 == kEntrySize && kVsiTime + 4 == kEntrySizeVsi, "map entry");
// Hash heads: 16 by index, 16 by numeric tag, 17 by symbol.
constexpr uint32_t kIndexHeads = 0, kTagHeads = 16, kSymbolHeads = 32, kHeads = 49;
// Public-variable table and its records.
constexpr uint32_t kTabFirst = 0, kTabAllocated = 2, kTabCount = 4, kTabFlags = 6, kTabStamp = 8,
                   kTabMarker = 14;
constexpr uint32_t kRecSize = 0, kRecType = 2, kRecIndex = 4, kRecDim = 6, kRecStrLen = 8,
                   kRecExtras = 10, kRecTag = 12, kRecFlags = 14, kRecSymbol = 16;
constexpr uint16_t kFlagSymbol = 1, kFlagTagChain = 2, kFlagProps = 4, kFlagProfile = 8,
                   kFlagTypeInfo = 0x100, kFlagVsi = 0x200;
constexpr uint32_t kTypeInfoSize = 8, kProfileSize = 16;
constexpr uint32_t kDescHeader = 12;
// Deepest nesting of complex-type definitions that is followed.
constexpr uint32_t kMaxTypeDepth = 32;
} // namespace trmap

// ---- build
int TrVMMap_Build(const TrCodeImage &code, uint8_t *db);
int TrVMMap_CanHotRestart(uint8_t *db, const TrCodeImage &code);
int TrVMMap_HotRestart(uint8_t *db, const TrCodeImage &code);

// ---- lookups (null when not found)
uint8_t *TrMap_GetByIndex(uint8_t *db, uint16_t type, uint32_t index);
uint8_t *TrMap_GetByNumTag(uint8_t *db, uint16_t tag);
uint8_t *TrMap_GetBySymbol(uint8_t *db, const char *name);
// Drops the side index of the symbols (a database freed or rebuilt; tests).
void TrMap_ForgetIndex();
void TrMap_Reset();
uint8_t *TrMap_GetByData(uint8_t *db, const uint8_t *address);
// Entries in order: position from 0.
uint8_t *TrMap_GetFirst(uint8_t *db, uint32_t *position);
uint8_t *TrMap_GetNext(uint8_t *db, uint32_t *position);
uint32_t TrMap_GetCount(uint8_t *db);
// The handle of an entry (its database offset, never 0), and back: 1 when
// the handle is the offset of a built entry.
uint32_t TrMap_Handle(uint8_t *db, const uint8_t *entry);
int TrMap_CheckPointer(uint8_t *db, uint32_t handle);
uint8_t *TrMap_FromHandle(uint8_t *db, uint32_t handle);

// ---- entry fields (the code record is read from the running code, pCode)
const char *TrMap_GetSymbol(uint8_t *db, const uint8_t *entry);
uint16_t TrMap_GetType(uint8_t *db, const uint8_t *entry);
uint32_t TrMap_GetIndex(uint8_t *db, const uint8_t *entry);
uint32_t TrMap_GetDim(uint8_t *db, const uint8_t *entry); // 0 for 1
uint32_t TrMap_GetStringLenth(uint8_t *db, const uint8_t *entry);
uint16_t TrMap_GetNumTag(uint8_t *db, const uint8_t *entry);
uint16_t TrMap_GetFlags(uint8_t *db, const uint8_t *entry);
const uint8_t *TrMap_GetProps(uint8_t *db, const uint8_t *entry);
uint32_t TrMap_GetPropsSize(uint8_t *db, const uint8_t *entry);
const char *TrMap_GetProfileName(uint8_t *db, const uint8_t *entry);
// The type's name: an elementary type's, or a complex type's definition.
const char *TrMap_GetTypeName(uint8_t *db, const uint8_t *entry);
// Image offset of the definition a complex variable names (0 when none).
uint32_t TrMap_GetTypeInfo(uint8_t *db, const uint8_t *entry);
uint8_t *TrMap_GetData(uint8_t *db, const uint8_t *entry);
int TrMap_IsLocked(uint8_t *db, const uint8_t *entry);
uint8_t *TrMap_IsArrayOfSingleVar(uint8_t *db, const uint8_t *entry, uint32_t *count,
                                  uint16_t *type);
uint32_t TrMap_GetDesc(uint8_t *db, uint32_t position, uint8_t *buffer);
uint32_t TrMap_GetDescLength(uint8_t *db, uint32_t position);

// ---- values
int32_t TrMap_GetLongValue(uint8_t *db, const uint8_t *entry);
uint32_t TrMap_GetDWordValue(uint8_t *db, const uint8_t *entry);
int64_t TrMap_GetLIntValue(uint8_t *db, const uint8_t *entry);
float TrMap_GetRealValue(uint8_t *db, const uint8_t *entry);
double TrMap_GetLRealValue(uint8_t *db, const uint8_t *entry);
const char *TrMap_GetStringValue(uint8_t *db, const uint8_t *entry, uint32_t *length);
// 0 stored; 1 refused (locked, no data, a type without a value).
int TrMap_SetLongValue(uint8_t *db, uint8_t *entry, int32_t v);
int TrMap_SetDWordValue(uint8_t *db, uint8_t *entry, uint32_t v);
int TrMap_SetLIntValue(uint8_t *db, uint8_t *entry, int64_t v);
int TrMap_SetRealValue(uint8_t *db, uint8_t *entry, float v);
int TrMap_SetLRealValue(uint8_t *db, uint8_t *entry, double v);
int TrMap_SetStringValue(uint8_t *db, uint8_t *entry, const char *text, uint32_t length);
int TrMap_SetXVAddress(uint8_t *db, uint8_t *entry, const uint8_t *address);

// ---- status information (0 when the variable has none)
uint8_t *TrMap_GetVSI(uint8_t *db, const uint8_t *entry);
int TrMap_GetVSIBit(uint8_t *db, uint16_t type, uint32_t index, uint32_t bit);
int TrMap_SetVSIBit(uint8_t *db, uint16_t type, uint32_t index, uint32_t bit, int value);
int TrMap_ResetSetVSIBits(uint8_t *db, uint16_t type, uint32_t index);
uint32_t TrMap_GetVSIDate(uint8_t *db, uint16_t type, uint32_t index);
int TrMap_SetVSIDate(uint8_t *db, uint16_t type, uint32_t index, uint32_t date);
uint32_t TrMap_GetVSITime(uint8_t *db, uint16_t type, uint32_t index);
int TrMap_SetVSITime(uint8_t *db, uint16_t type, uint32_t index, uint32_t time);
int TrMap_StampVSI(uint8_t *db, uint16_t type, uint32_t index);
int TrMap_StampVSIGMT(uint8_t *db, uint16_t type, uint32_t index);
int TrMap_CopyVSI(uint8_t *db, uint16_t type, uint32_t dst, uint32_t src, int bits, int stamp);
uint8_t *TrMap_GetVSIByData(uint8_t *db, const uint8_t *address);

// ---- complex-type definitions (extension field 10): u16 0, u16 count,
// then the u32 image offsets of definitions 1 to count. A definition holds
// its name (text and NUL) and a kind byte: 1 elementary (u16 type code);
// 2, 3, 4 arrays of 1-3 dimensions (u16 element definition, u32 element
// size, u32 bounds); 5, 7 structures (u16 member count, u16 place of the
// member list from the definition's start). A member: name, kind 6, u16
// definition, u32 offset.
uint32_t TrMap_TypeDef(const TrCodeImage &code, uint32_t n);
const char *TrMap_TypeDefName(const TrCodeImage &code, uint32_t def);
// Bytes of an elementary type's datum (STRING: 0, its buffer says).
uint32_t TrMap_TypeSize(uint16_t type);
