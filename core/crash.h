// Crash handling.
#pragma once

void ExceptionISR(int sig);
