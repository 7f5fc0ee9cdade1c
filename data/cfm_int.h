// What the media manager's own files share: the mailbox block, the write and
// close count, the status cycle and the screen page.
#pragma once
#include <cstdint>

// The shared mailbox block as the top layer handed it over (null before).
uint8_t *CFM_Dpram(uint32_t *bytes);
void CFM_CountWriteClose();
int CFM_MailboxPage();
// The status cycle of the supervision starts over (due at once).
void CFM_StatusCycleStart();
