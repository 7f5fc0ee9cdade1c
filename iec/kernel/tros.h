// The IEC runtime's operating-system layer: the only way the runtime reaches
// files, transferred files, sockets, the programming serial port and the
// clock. Results: 1 done, 0 failed, unless a line says otherwise.
//
// File handles are indices from 1 into the panel's table of open files (0 =
// none), so they fit the 32-bit fields of the database and DINT variables;
// sockets and the serial port are descriptors (-1 = none).
#pragma once
#include <cstddef>
#include <cstdint>

// ---- files, paths as given (relative ones from the root folder)
uint32_t TrFile_Open(const char *path, int write);
uint32_t TrFile_OpenAppend(const char *path);
void TrFile_Close(uint32_t h);
int TrFile_Read(uint32_t h, void *buf, uint32_t size);
int TrFile_Write(uint32_t h, const void *buf, uint32_t size);
uint32_t TrFile_Fread(uint32_t h, uint32_t item, uint32_t count, void *buf);
uint32_t TrFile_Fwrite(uint32_t h, uint32_t item, uint32_t count, const void *buf);
int TrFile_Fseek(uint32_t h, int origin, int32_t offset); // origin 1 current, 2 end, else start
int TrFile_Fflush(uint32_t h);
int TrFile_Delete(const char *path);
int TrFile_Rename(const char *from, const char *to);
int TrFile_Copy(const char *from, const char *to);
uint32_t TrFile_GetSize(const char *path);
int TrFile_Exist(const char *path);
int TrFile_WriteLine(uint32_t h, const char *text);
// One line into buf (NUL-terminated, without its line feed); its length.
uint32_t TrFile_ReadLine(uint32_t h, char *buf, uint32_t size);
int TrFile_Eof(uint32_t h);

// ---- files the programming tool sends and fetches
// The stored name of a transfer name into out (size bytes); false when the
// name is refused (empty, too long, or ".." without a "/").
bool TrFT_MapName(const char *name, char *out, size_t size);
uint32_t TrFT_OpenRead(const char *name, uint32_t *size);
uint32_t TrFT_OpenWrite(uint32_t ignored, const char *name);
uint32_t TrFT_Read(uint32_t h, uint32_t count, void *buf);
int TrFT_Write(uint32_t h, uint32_t size, const void *buf);
void TrFT_Close(uint32_t h);
int TrFT_Delete(const char *name);
uint32_t TrFT_OpenDir(const char *name);
int TrFT_GetDirEntry(uint32_t dir, char *name, uint32_t *size);
void TrFT_CloseDir(uint32_t dir);

// ---- tools
uint16_t TrTools_Crc16(const uint8_t *buf, uint32_t length);
// The variable of a type code (1 BOOL, 2 DINT, 3 REAL, 4 TIME, 5 STRING, 10
// SINT, 11 INT, 12 LINT, 13 LREAL, 14 USINT, 15 UINT, 16 UDINT, 17 ULINT) and
// index in its typed table of the database: its address, its lock bit and its
// size in bytes (a STRING's maximum length + 3); null for another type or an
// index beyond its table.
uint8_t *TrTools_GetAnyParam(uint8_t *db, uint16_t type, uint32_t index, uint8_t *lock,
                             uint32_t *size);
// The first element of an array parameter of a type code and data index.
// When the database has a complex-variable area, the index names a 32-bit
// variable holding the array's byte offset in that area; otherwise it indexes
// the type's table (a STRING array starts at the buffer of STRING `index`).
// `avail` receives the bytes from that element to the end of the area that
// holds it: the element count a caller walks must fit them. Null for another
// type or a place outside the database.
uint8_t *TrTools_GetAnyArray(uint8_t *db, uint16_t type, uint32_t index, uint32_t *avail);
uint8_t *TrTools_GetD8Array(uint8_t *db, uint32_t index, uint32_t *avail);
uint8_t *TrTools_GetD16Array(uint8_t *db, uint32_t index, uint32_t *avail);
uint8_t *TrTools_GetD32Array(uint8_t *db, uint32_t index, uint32_t *avail);
uint8_t *TrTools_GetTimeArray(uint8_t *db, uint32_t index, uint32_t *avail);
uint8_t *TrTools_GetD64Array(uint8_t *db, uint32_t index, uint32_t *avail);
// in_complex, when given, receives 1 when the array lives in the
// complex-variable area.
uint8_t *TrTools_GetStringArray(uint8_t *db, uint32_t index, uint32_t *avail, int *in_complex);
// The place in the complex-variable area whose byte offset the 32-bit
// variable `index` holds; null without such an area.
uint8_t *TrTools_GetCTParam(uint8_t *db, uint32_t index, uint32_t *avail);

// ---- sockets (IPv4, non-blocking)
struct TrUdpAddr {
    uint32_t addr; // host order
    uint16_t port;
};
int TrSocket_Initialize(uint32_t param); // 0
void TrSocket_Terminate();
int TrSocket_CreateListeningSocket(uint16_t port, int backlog, int32_t *sock); // 0 ok, 1 failed
int TrSocket_CreateListeningSocketOn(uint16_t port, int backlog, const char *addr, int32_t *sock);
int32_t TrSocket_Accept(int32_t listening); // -1 none waiting
// 0 started (pending 1 while under way), 1 failed (sock -1).
int TrSocket_CreateConnectedSocket(const char *addr, uint16_t port, int32_t *sock, int *pending);
int TrSocket_CheckPendingConnect(int32_t sock, int *failed);
int32_t TrSocket_Send(int32_t sock, uint32_t length, const void *data, int *failed);
int32_t TrSocket_Receive(int32_t sock, uint32_t length, void *buf, int *closed);
void TrSocket_CloseSocket(int32_t sock);
int TrSocket_UdpCreate(uint16_t port, int32_t *sock);
int TrSocket_UdpCreateOn(uint16_t port, const char *addr, int32_t *sock);
int TrSocket_AcceptBroadcast(int32_t sock);
int TrSocket_UdpAddrMake(TrUdpAddr *out, const char *text, uint16_t default_port);
int TrSocket_UdpSendTo(int32_t sock, const TrUdpAddr *to, const void *data, uint32_t length);
int32_t TrSocket_UdpRecvFrom(int32_t sock, void *buf, uint32_t length, TrUdpAddr *from);

// ---- the programming serial port (a descriptor the panel opened)
void TrSerial_Initialize(int32_t *h);
int TrSerial_IsValid(int32_t h);
int TrSerial_Open(int32_t *h);
uint32_t TrSerial_Send(int32_t h, const uint8_t *data, uint32_t n);
void TrSerial_Close(int32_t *h);
// Bytes read (at most max); 0 when none, or when "HR" gave the port back.
uint32_t TrSerial_Receive(int32_t *h, uint32_t max, uint8_t *buf);
// The descriptor TrSerial_Open adopts (null or -1: none); whether a
// descriptor is still one of the panel's open programming ports (null: taken
// as open), so a port the panel closed meanwhile (the USB gadget suspended)
// is never read or written under a number that may belong to someone else
// by now; and the hand-back of the port to the panel's own protocol. Set by
// the wiring.
extern int (*TrSerial_PortFd)();
extern bool (*TrSerial_PortOpen)(int fd);
extern void (*TrSerial_GiveBack)();

// ---- the panel's clock (local time)
uint32_t TrRtClk_GetCurTimeStamp(); // ms since midnight
uint32_t TrRtClk_GetCurDateStamp(); // year << 16 | month << 8 | day
void TrRtClk_GetCurDateTimeStamp(int local, uint32_t *date, uint32_t *time, uint8_t *flag);
// kind 1 "hh:mm:ss", 2 the weekday, else "yyyy/mm/dd"; the length.
uint32_t TrRtClk_GetString(int kind, char *out);

// The VM's millisecond tick: monotonic milliseconds modulo 86,400,000, never
// 0 (0 means "no cycle yet" in the status record).
uint32_t Tr_VmTick();

void TrOs_Reset();
