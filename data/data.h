// Media manager.
#pragma once
#include "data/trendlog.h"

#include <cstdint>

void CFM_Open();
void CFM_TheLoop(int n);
// The search for a firmware update on the card (with bit 0x200 of %SR154),
// set by the top layer.
void CFM_SetFirmwareSearch(int (*search)(int drive));
// Links the media manager's registers from the loaded screen program; one
// media service step per screen pass.
void CFM_Init();
void CFM_Update();
// Alarm records from the loaded screen program; one alarm pass.
void ALRM_Init();
void ALRM_Update();
// The alarms' trigger bits (96), refreshed on every screen pass from the
// registers that the alarm request of the shared mailbox block names.
constexpr int kAlarmBufBytes = 12;
extern uint8_t alarmBuf[kAlarmBufBytes];

// Loggers, messages, reports and the alarm log: started when the controller
// leaves run mode 0, stopped when it enters it, stepped once per scan.
void LOG_Start();
void LOG_Stop();
void LOG_Update();
void SMS_Start();
void SMS_Stop();
void SMS_Scanner();
void REPORT_Start();
void REPORT_Stop();
void REPORT_Scanner();
void AlarmLogToCF_Start();
void AlarmLogToCF_Stop();
void AlarmLogToCF_Scanner();
void DLOG_Update();
// One step of the e-mail client (an Ethernet module is installed).
void EtnEmailScan(int n);
// The e-mail client's socket side, as the Ethernet manager starts and counts it.
struct NxIpInstance;
struct NxPacketPool;
uint16_t EtnEmailInit(NxIpInstance *ip, NxPacketPool *pool);
uint32_t EtnEmailConnCnt();
int EtnEmailDiscnt(); // aborts a transfer; 1 once done
// The recipe instruction: program counter after the opcode word.
uint8_t RecipeLadderBlock(uint32_t *pc, uint8_t power);

// The recipe block of a recipe request (request 25); its 16-bit result.
int16_t RecipeBlock(void *request);

// Puts the media manager back to its start values (tests): the request blocks
// as CFM_ResetBlocks leaves them, no request in flight, no mailbox objects, an
// empty listing. The hooks set by CFM_SetHooks are wiring and stay.
void CFM_Reset();

// Puts the state of the data services' entry points that are not built yet
// back to its start values (tests): no alarm data, the status cycle not due.
// The firmware search set by CFM_SetFirmwareSearch is wiring and stays.
void Data_NotBuiltReset();

// Recipes: the name (and the path) of recipe `number` of the recipe table.
// With `copy` the name is copied into `name` (at most `size` bytes with its
// terminator); returns 0 for a number beyond the table (nothing copied).
int GetRecipeNamePath(int number, char *name, char *path, int size, int copy);
