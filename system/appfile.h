// Application files, register files and power-fail saving: the files of
// "/mnt/cfg" read into and written from the block buffers of
// plc/appblocks.h. "config.pgm" is the sixteen parts of kConfigParts back to
// back; "ladder.pgm" is the control program block alone.
#pragma once
#include "platform/board.h"
#include "plc/appblocks.h"

#include <cstddef>
#include <cstdint>

void GPIOInit();
void PowerDownSignaled(int sig);
int LoadProgram();
int SaveProgram();
int LoadLadder();
int SaveLadder();
int TrSaveLadderPgm();
void TrevantStart();
// Recognises an IEC application in a control program of `length` bytes.
void LoadTrevant(uint8_t *block, uint32_t length);
void TrevantStop();
int AutoLoadRegisters();
int AutoSaveRegisters();
[[noreturn]] void PowerDown();
int DeleteProgram();
int ClrRegFile();
int LoadRegisters();
int BkpRegisters();
int DelAutoRegFile();
int CrtAutoSaveRegFile();
void K7_WDCountCheck(int clear);
int StrTchClb(const uint32_t record[6]);
int ReadTchClb(uint32_t record[6]);
int GenLogFile();
int SaveAndSetMACID();
int SaveMACID(uint8_t *identity, int index);
int convert_MACSTR_MACINT(const char *text, uint8_t *bytes);
void convert_BYTE_ASCIIHEX(char *text, uint8_t value);
// The maker's organisationally unique identifier of an assigned MAC address.
extern const uint8_t kMakerOui[3];

void AppFile_Reset();
