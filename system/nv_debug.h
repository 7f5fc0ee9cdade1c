// Test hooks of the non-volatile data (panelctl "debug ...", only with
// "test_hooks = 1" in host.conf): power-loss tests of a running panel.
#pragma once
#include <string>
#include <vector>

// "debug churn": from now on, before every pass, %R1-%R1024, %EM1-%EM2048 and
// the battery-backed image are filled with a counter that grows by one.
// "debug nvcheck": "R=<v> EM=<v> BB=<v>", each the one value its area holds,
// or "mixed". "debug fram-drop N": the FRAM drops writes after N more words.
// Returns the answer, or "" when the command is none of these.
std::string NvDebug_Command(const std::vector<std::string> &args);
void NvDebug_Reset();
