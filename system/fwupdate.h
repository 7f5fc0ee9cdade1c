// Firmware update from removable media: a newer version directory under
// "UPDATE/" on the card or the stick is copied into the firmware folder and
// the panel reboots into it.
#pragma once
#include "platform/cf_api.h"

#include <cstdint>

constexpr int kFwEntryMax = 512;
// The listing of the update directory ("." and ".." left out); when it was
// cut at kFwEntryMax entries the last one carries attribute bit 0x80.
extern CfFindRecord sdfwEntryTbl[kFwEntryMax];
extern int sdfwEntryCount;
extern uint16_t controller_mode; // run mode kept while a firmware file is checked

// Looks for a newer firmware on the drive and installs it. 0 after a scan, 1
// when the drive is not ready or an update runs, 1000 when the listing ends
// at once, 1002 when it holds no entries, else the listing's status.
int GetFirmwareDir(int drive, CfFindRecord *listing = nullptr, uint32_t unused = 0);
// 1 when the firmware file opens and is not empty (the controller stays in
// mode 0), else 0 with the run mode put back.
int SD_check_fw_file(const char *path);
// Installs the firmware file and reboots; returns (negative) only when the
// copy failed, leaving the installed firmware as it was.
int Load_fw_file_from_mSD(const char *path);

void FwUpdate_Reset();
