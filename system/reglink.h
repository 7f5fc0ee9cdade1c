// Register links for screen objects.
//
// Screen objects, alarms, the touch sensor and the clock never address the
// register image directly: they link an operand once (a page link into the
// open page's link table, or a plain register reference) and read and write
// through the register control block they get. Blocks come from fixed pools
// and are never freed one by one; emptying a pool invalidates all of its
// blocks at once. Every operation takes a null block and does nothing.
#pragma once
#include <cstdint>

struct RCB {
    uint32_t ref;  // register reference as linked
    uint32_t rref; // reference read and written (ref plus the SYS_ModLink offset)
    uint16_t bits; // operand width in bits
    uint8_t bytes; // low 7 bits: width in bytes; rcb::kSigned: sign-extend
    uint8_t fixed; // linked with link value 1, or holds a pseudo-reference
};

namespace rcb {
constexpr uint8_t kSigned = 0x80;
constexpr int kDynamic = 1224, kStatic = 192, kSystem = 16; // pool sizes
// The user table's pool: name, password and level of 255 users, and the
// logged-in time counter and name they share.
constexpr int kUserPool = 3, kUsers = 255 * 3 + 2;
constexpr uint32_t kPseudoFirst = 992, kPseudoLast = 1023;
constexpr uint32_t kIoData = 128; // bytes a read or write moves at most
} // namespace rcb

// Page link table of the open screen program (8-byte entries: u32 reference,
// u32 extension word), set by the screen program manager; null when none.
extern uint8_t *pPGM_ExtRef;

// Selects and empties a pool: 0 the open page's, 1 static objects', 3 the
// user table's, any other the system links'. Re-reads the page link table.
void SYS_ResetRCBs(int which);
// Selects a pool as it is: its next link follows the ones it handed out.
void SYS_SelectRCBs(int which);
void SYS_LoadRCBs();
// The open page's own link table, until the next SYS_ResetRCBs.
void SYS_SetPageLinks(const uint8_t *table);
// A new block from the current pool, or null when the pool is full or the
// operand lies outside the registers. Link values 2-1023 (low 16 bits) are
// page links; link value 1 makes a fixed block.
RCB *SYS_LinkReg(uint32_t link, uint32_t size);
// As SYS_LinkReg, a page link only when the whole value lies in 2-1023.
RCB *SYS_32LinkReg(uint32_t link, uint32_t size);
void SYS_ChgLink(RCB *rcb, uint32_t link, uint32_t size);
void SYS_ModLink(RCB *rcb, int32_t offset);
// Fills `size` bytes of `dst` from the operand, sign-extended when signed.
void SYS_ReadReg(void *dst, const RCB *rcb, uint32_t size);
// Writes the operand from `len` source bytes (missing bytes sign-extended).
void SYS_WriteReg(const RCB *rcb, const void *src, uint32_t len);

// A rogue block is a bare reference.
void SYS_InitRogueRCB(uint32_t *cell, uint32_t link);
void SYS_WriteRogueRCB(const uint32_t *cell, uint32_t offset, uint32_t bits, const void *src);
void SYS_LoadAlarmRcb(uint32_t link, uint32_t bits);
void SYS_InitTchSen(uint32_t link);
RCB *SYS_InitRTC();
extern RCB *pTchSenRcb;
extern RCB *pDateRcb;

// Numbered system registers (%SRn) and the words of the screen program block.
uint16_t SYS_ReadSys(int n);
int SYS_WriteSys(int n, uint16_t value);
extern uint16_t SYS_lastLocalUser;
uint32_t SYS_ReadSeg(int segment, uint32_t index);
void SYS_WriteSeg(int segment, uint32_t index, uint32_t value);
int SYS_PackRegs(int on);
extern uint8_t fOptimize;

// Empties the pools and forgets every link (test fixtures).
void RegLink_Reset();
