// Crash handling.
#pragma once

#include <cstdint>

void ExceptionISR(int sig);
// A crash report waits to be shown by the controller-status pop-up.
extern uint8_t SYS_Exception;
