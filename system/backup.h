// Backup and restore of the retentive data (the register backup image).
#pragma once

// Loads the register backup and mirrors the blocks' CRCs and lengths into
// their system registers (first step of the start-up validation).
void RestoreSRReg(int load_defaults, int clear_control, int clear_hmi);
// Takes a backup of the register image into crcsize_tbl and "bkpreg.dta";
// the result of writing the file.
int StoreBBRAM();
// Restores a valid backup over the register image (keeping the run mode),
// saves the registers and warm-resets. An invalid backup is refused: nothing
// changes and it returns at once. keep = 1 marks the backup as taken over.
void RestoreBBRAM(int keep);
// Erases the backup; the result of removing "bkpreg.dta".
int EraseBackupData();
// The IEC retained variables' backup "/mnt/cfg/Tr_BKP.RET": store, and load
// (also copied to the runtime's working file "/mnt/cfg/tr.ret"). 1 on success.
int tr_reg_store_backup();
int tr_reg_load_backup();
