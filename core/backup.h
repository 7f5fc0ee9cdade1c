// Backup and restore of the retentive data (the register backup image).
#pragma once

// Loads the register backup and mirrors the blocks' CRCs and lengths into
// their system registers (first step of the start-up validation).
void RestoreSRReg(int load_defaults, int clear_control, int clear_hmi);
int EraseBackupData();
