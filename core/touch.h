// Touch screen, beeper, screen saver and the polled 10 ms tick.
#pragma once

void TimerISR();
void TCH_Beep(int count);
void TCH_BeepEnable(int on);
void TCH_ScreenSaver(int minutes);
void TCH_TickleSaver();
void TCH_BeepOvrd(int on);
