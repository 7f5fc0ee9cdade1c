// IEC STRING routines: the only code that changes a STRING's length.
//
// A STRING buffer (TrString) is u8 capacity, u8 length, the text and a NUL:
// capacity + 3 bytes. A STRING is named by its index in segment 17 (one
// 32-bit database offset per STRING, the buffers in segment 18) or by a
// pointer to its buffer (the ...Ptr forms). Every write truncates to the
// destination's capacity; no routine fails. A length byte above the capacity
// (a damaged database) is read as the capacity. Positions are 0-based.
#pragma once
#include <cstdint>

// The buffer of STRING s, or null when s or its pointer lies outside the
// database's STRING segments.
uint8_t *TrVMStr_Buffer(uint8_t *db, uint32_t s);

// ---- access and assignment
uint32_t TrVMStr_GetLength(uint8_t *db, uint32_t s);
uint32_t TrVMStr_GetMaxLength(uint8_t *db, uint32_t s);
char *TrVMStr_GetText(uint8_t *db, uint32_t s);
int TrVMStr_IsEmpty(uint8_t *db, uint32_t s);
void TrVMStr_Empty(uint8_t *db, uint32_t s);
// A counted text: a length byte and that many characters.
void TrVMStr_Force(uint8_t *db, uint32_t s, const uint8_t *counted);
void TrVMStr_Copy(uint8_t *db, uint32_t dst, uint32_t src);
void TrVMStr_CopyPtr(uint8_t *dst, const uint8_t *src);
void TrVMStr_AscForce(uint8_t *buf, const char *text, uint32_t n);
void TrVMStr_AscForceC(uint8_t *db, uint32_t s, const char *cstr);
// A counted text of 16-bit units (count in the first unit's low byte).
void TrVMStr_DBForce(uint8_t *db, uint32_t s, const uint8_t *text16);
void TrVMStr_DBForcePtr(uint8_t *buf, const uint8_t *text16);
void TrVMStr_Char(uint8_t *db, uint32_t s, uint8_t code);
uint32_t TrVMStr_Ascii(uint8_t *db, uint32_t s, int32_t pos);

// ---- comparison and search
int TrVMStr_Compare(uint8_t *db, uint32_t a, uint32_t b);
int TrVMStr_ComparePtr(const uint8_t *a, const uint8_t *b);
int TrVMStr_ICmp(const char *a, const char *b);
int TrVMStr_NICmp(const char *a, const char *b, uint32_t n);
uint32_t TrVMStr_Find(uint8_t *db, uint32_t s, uint32_t t);

// ---- cutting and joining (dst may be one of the inputs)
void TrVMStr_Left(uint8_t *db, uint32_t dst, uint32_t s, int32_t n);
void TrVMStr_Right(uint8_t *db, uint32_t dst, uint32_t s, int32_t n);
void TrVMStr_Mid(uint8_t *db, uint32_t dst, uint32_t s, int32_t pos, int32_t n);
void TrVMStr_Delete(uint8_t *db, uint32_t dst, uint32_t s, int32_t pos, int32_t n);
void TrVMStr_Insert(uint8_t *db, uint32_t dst, uint32_t s, uint32_t t, int32_t pos);
void TrVMStr_Cat(uint8_t *db, uint32_t dst, uint32_t a, uint32_t b);
void TrVMStr_CatPtr(uint8_t *dst, const uint8_t *a, const uint8_t *b);

// ---- conversions to text
void TrVMStr_ItoA(uint8_t *db, uint32_t s, int32_t v);
void TrVMStr_TmrtoA(uint8_t *db, uint32_t s, uint32_t v);
void TrVMStr_UtoA(uint8_t *db, uint32_t s, uint32_t v);
void TrVMStr_LINTtoA(uint8_t *db, uint32_t s, int64_t v);
void TrVMStr_ULINTtoA(uint8_t *db, uint32_t s, uint64_t v);
void TrVMStr_BootoA(uint8_t *db, uint32_t s, uint32_t b);
void TrVMStr_FtoA(uint8_t *db, uint32_t s, float r);
void TrVMStr_DtoA(uint8_t *db, uint32_t s, double d);
void TrVMStr_HtoA(uint8_t *db, uint32_t s, uint32_t v);
// Into a C buffer of at least 21 bytes.
void TrVMStr_UtoSZ(char *buf, uint32_t v);
void TrVMStr_LINTtoSZ(char *buf, int64_t v);

// ---- conversions from text
int32_t TrVMStr_AtoI(uint8_t *db, uint32_t s);
float TrVMStr_AtoF(uint8_t *db, uint32_t s);
double TrVMStr_AtoD(uint8_t *db, uint32_t s);
uint32_t TrVMStr_AtoUL(uint8_t *db, uint32_t s);
int64_t TrVMStr_AtoLINT(uint8_t *db, uint32_t s);
int64_t TrVMStr_SZtoLINT(const char *cstr);
uint32_t TrVMStr_AtoH(uint8_t *db, uint32_t s);
uint16_t TrVMStr_Crc16(uint8_t *db, uint32_t s);
// The same rules on a buffer.
int32_t TrVMStr_AtoIPtr(const uint8_t *buf);
uint32_t TrVMStr_AtoULPtr(const uint8_t *buf);
int64_t TrVMStr_AtoLINTPtr(const uint8_t *buf);
double TrVMStr_AtoDPtr(const uint8_t *buf);

// ---- STRINGs and arrays of 8-, 16- and 32-bit data (element counts)
uint32_t TrVMStr_ToD8(uint8_t *db, uint32_t s, uint32_t array, int32_t size);
uint32_t TrVMStr_ToD16(uint8_t *db, uint32_t s, uint32_t array, int32_t size);
uint32_t TrVMStr_ToD32(uint8_t *db, uint32_t s, uint32_t array, int32_t size);
uint32_t TrVMStr_FromD8(uint8_t *db, uint32_t array, int32_t size, uint32_t s, int32_t count);
uint32_t TrVMStr_FromD16(uint8_t *db, uint32_t array, int32_t size, uint32_t s, int32_t count);
uint32_t TrVMStr_FromD32(uint8_t *db, uint32_t array, int32_t size, uint32_t s, int32_t count);

// ---- formatting
// date = year * 65536 + month * 256 + day; time = milliseconds of the day.
void TrVMStr_DateFmt(uint8_t *db, uint32_t dst, uint32_t fmt, uint32_t date, uint32_t time);
// 1, or 0 on overflow (dst then holds the field width in asterisks).
int TrVMStr_NumToStr(uint8_t *db, uint32_t dst, uint16_t type, uint32_t index, int32_t width,
                     int32_t decimals);
