// Short text screens: start-up and fault messages, and the download screens.
#pragma once
#include "platform/video.h" // VID_Update

struct DC;

void SystemMsg(DC *dc, const char *line1, const char *line2);
void DebugMsg(const char *text);
void VID_DnldMsg(int step);
void VID_DnldUpdate();
void VID_DnldHalted();
extern int DA_cnt;
void Msg_Reset();
