// The network configuration records and the exchange block.
//
// `Dpr_Configuration` holds one record per interface, parsed from the
// application's Ethernet configuration; `DprMap` is the 64 KB exchange block
// laid out as the old co-processor's shared memory (header of area offsets,
// configuration-change handshake, statistics, the programming channel's
// mailboxes and its security settings). Both are byte-exact and read through
// little-endian accessors.
#pragma once
#include <cstdint>

namespace dprcfg {
// clang-format off
constexpr uint32_t kEgdRecords = 128, kEgdPairs = 99;
constexpr uint32_t kEgdRecordBytes = 4 + 16 + 4 + kEgdPairs * 8; // tag, 4 words, pair count, pairs
constexpr uint32_t kTextMax = 40, kTextBytes = kTextMax + 1;
constexpr uint32_t kAccountBytes = 3 * kTextBytes + 1;            // three texts and an access byte
constexpr uint32_t kNtpNames = 10, kNtpNameBytes = 96;

constexpr uint32_t kLength = 0, kAddress = 4, kMask = 8, kGateway = 12, kDns = 16;
constexpr uint32_t kPingTimeout = 20, kPingTarget = 24, kPingStatus = 28;
constexpr uint32_t kVersionReg = 32, kStatusReg = 36, kAddressReg = 40, kMaskReg = 44,
                   kGatewayReg = 48, kDnsReg = 52;
constexpr uint32_t kDhcp = 56, kFlagsA = 57, kFlagsB = 58, kFlagsC = 59;
constexpr uint32_t kEgdCount = 60;                          // u32: EGD records kept
constexpr uint32_t kEgd = 64;
constexpr uint32_t kRegPairs = kEgd + kEgdRecords * kEgdRecordBytes; // 3 x (u32, u32)
constexpr uint32_t kFtp = kRegPairs + 24;                   // 2 accounts
constexpr uint32_t kHttpAccount = kFtp + 2 * kAccountBytes;
constexpr uint32_t kIecModbus = kHttpAccount + kAccountBytes; // u32, u32 present, u16 mode, u16 port, 8 x u32
constexpr uint32_t kModbus = kIecModbus + 44;                // u32, u32 present, u16 mode, u16 port
constexpr uint32_t kModbusMode = kModbus + 8, kModbusPort = kModbus + 10;
constexpr uint32_t kRegs800 = kModbus + 12;                  // six u32
constexpr uint32_t kNtp = kRegs800 + 24;                     // u16 pair, ten names
constexpr uint32_t kNtpNamesAt = kNtp + 4;
constexpr uint32_t kWords100 = kNtpNamesAt + kNtpNames * kNtpNameBytes; // two u32
constexpr uint32_t kBytes = kWords100 + 8;

// Flag bits.
constexpr uint8_t kA01 = 0x01, kAModbus = 0x02, kA04 = 0x04, kAPing = 0x08, kA10 = 0x10,
                  kAFtp = 0x20, kAHttp = 0x40, kAStatic = 0x80;
constexpr uint8_t kB01 = 0x01, kBLastOctet = 0x02, kBMaskGwRegs = 0x04, kBAddrFromReg = 0x08,
                  kBMaskFromReg = 0x10, kBGwFromReg = 0x20, kBServicesOff = 0x40,
                  kBModbusPort = 0x80;
constexpr uint8_t kCNtpClock = 0x01, kCDns = 0x02, kCDnsFromReg = 0x04, kCDhcp = 0x08;
// clang-format on
} // namespace dprcfg

constexpr int kDprInterfaces = 4;
constexpr uint32_t kDprConfigBytes = dprcfg::kBytes;
extern uint8_t Dpr_Configuration[kDprInterfaces][kDprConfigBytes];

namespace dprmap {
// clang-format off
constexpr uint32_t kSize = 65536;
constexpr uint16_t kMagic = 29026, kRevision = 493;
constexpr uint32_t kSemaphore = 15, kRunWord = 32, kChangeReq = 34, kChangeAck = 36,
                   kQuery = 38, kRevisionAt = 42, kSrCopy = 48, kNetId = 60, kEgdStatusTable = 76,
                   kEgdStatusCount = 78, kChannelOffsets = 82, kTxOffsetAt = 86, kStats = 92;
constexpr uint32_t kWriteTable1 = 512, kReadTable1 = 4608, kWriteTable2 = 8704,
                   kReadTable2 = 12800, kArea3 = 16896, kArea4 = 20992, kEgdStatus = 22016;
constexpr uint32_t kReqEntry = 8;                // u32 reference, u16 length, u8 toggle, u8 spare
constexpr uint32_t kReadMax = 288, kWriteMax = 416;
constexpr uint32_t kEgdStatusEntry = 8;          // u32 reference, u16 bits, u16 change counter
constexpr uint32_t kMailArea = 24960;
// The programming channel. The transmit block lies apart from the single-byte
// mailbox, the control toggle and the security settings, so a long transmit
// never overwrites them; its offset is published in the header (byte 86).
constexpr uint32_t kRx = 64984, kRxLen = 64986, kRxData = 64988, kRxMax = 68;
constexpr uint32_t kByteRx = 65128, kControl = 65134, kSecurityWord = 65136,
                   kPasswords = 65140, kSecurityFlags = 65152, kLevels = 65153;
constexpr uint32_t kTx = 64000, kTxLen = kTx + 2, kTxData = kTx + 4, kTxMax = 476;
// clang-format on
static_assert(kTxData + kTxMax <= kRx);
} // namespace dprmap

extern uint8_t DprMap[dprmap::kSize];
extern uint8_t *Dpr_Map_Ptr;
extern uint16_t VibusRxIndx;
extern uint32_t T_token, M_token;
extern uint8_t NTP_Enabled, Ntp_ConfigReset, Invalid_reg_flag;
extern uint16_t EGD_Index_Count;

// What the exchange block needs of the layers above it (set by the top layer).
struct DprHooks {
    void (*cmd_read)(void *dst, uint32_t offset, uint32_t length); // the command store
    void (*cmd_write)(const void *src, uint32_t offset, uint32_t length);
    void (*sync_system_clock)(); // settimeofday from the controller's clock
    void (*write_file)(const char *board_path, const char *text); // "w+": truncate and write
    bool (*iec_active)(); // runtime active, variables enumerated
    bool (*cmd_run)();    // the programming protocol runs (CmdRun 0xFF)
};
void Dpr_SetHooks(const DprHooks &hooks);
// The IEC runtime is active and its variables are enumerated (the servers'
// IEC mode).
bool Dpr_IecMode();

void Dpr_Init();
void DprInitReq();
void Dpr_Config();
int DprParseConfig(int iface);
// The parser on one block (the fuzz target's entry): `block` points at the
// first word, `before` is the 16-bit word in front of it; `avail` bytes may be read.
int DprParseBlock(int iface, const uint8_t *block, uint32_t avail, uint16_t before);
void Dpr_Io_Service();
uint8_t *Dpr_Data_Block(uint32_t ref, uint32_t bits, uint8_t *buf, int to_regs, int mode);
uint8_t Dpr_Get_Char_Data(uint32_t ref);
void Dpr_Set_Char_Data(uint32_t ref, uint8_t v);
uint16_t Dpr_Get_W_Data(uint32_t ref);
void Dpr_Set_W_Data(uint32_t ref, uint16_t v);
uint32_t Dpr_Get_Dw_Data(uint32_t ref);
void Dpr_Set_Dw_Data(uint32_t ref, uint32_t v);
void Dpr_Set_Egd_Status(uint16_t value, int index);
int EtnValidateReq(uint32_t ref, uint32_t bits);
int Dpr_Chk_Rd_Pending();
int Dpr_Chk_Wr_Pending();
void Dpr_Add_Egd_Status_Req(uint32_t ref, uint16_t length, int index);
int Dpr_Add_Req();
void Dpr_Ask_Config(uint16_t a, uint16_t b);
void DprSetSemaphore();
void DprClearSemaphore();
void Dpr_StrCrypt(uint8_t *dst, const uint8_t *src, uint32_t n);

// The programming channel.
int Etn_CheckRx();
uint8_t Etn_GetRx();
void Etn_FlushRx();
void Etn_PutTx(uint8_t c);
void Etn_PutnTx(const uint8_t *bytes, uint32_t n);
void Etn_UpdateStatus();
void Etn_UpdateSecurity();

// Field helpers of a configuration record.
uint32_t DprCfg32(int iface, uint32_t offset);
void DprCfgPut32(int iface, uint32_t offset, uint32_t v);

void Dpr_Reset();
