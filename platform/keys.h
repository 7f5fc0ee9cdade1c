// Keys and touch events.
#pragma once

void KEY_Init();
void KEY_Flush();
