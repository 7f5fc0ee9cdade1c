// The 100-microsecond tick and the software countdown timers.
#pragma once
#include <cstdint>

uint32_t FPGA_GetFrt();
// The same tick from the same base, counted in 64 bits (never wraps).
uint64_t FPGA_GetFrt64();
// The tick as a long computation reads it between two stretches of work: on
// the virtual clock of tests, which otherwise stands still, each read moves it
// on one tick first, as a step of a busy wait does; the real clock is only read.
uint32_t FPGA_GetFrtStep();
extern volatile uint32_t FrtLast; // last value FPGA_GetFrt returned

struct Timer {
    uint32_t start;
    uint32_t period;
    uint8_t running;
    uint8_t allocated;
};
constexpr int kTimerCount = 8;
extern Timer timers[kTimerCount];
extern volatile uint32_t *TimerFrt;
extern uint32_t TimerTick;

void Timer_Init(volatile uint32_t *frt, uint32_t us_per_tick);
uint8_t Timer_Allocate(int count);
uint32_t Timer_Start(uint8_t id, uint32_t ms);
void Timer_Stop(uint8_t id);
int Timer_Status(uint8_t id);
void Timer_Release(uint8_t id);
void Tick_Reset();

// Busy waits on the tick; they are slice points.
uint32_t Delay(uint32_t ms);
void SYS_Wait(uint32_t n);
