// Message queues, polled software timers, event flags and thread records.
//
// The network and data services keep the calling form of a small real-time
// kernel's interface, but everything here runs in the one main loop: queues
// are ring buffers that never wait, timers are polled by `tx_timer_check`
// once per loop pass, event flags are a word that is tested and never waited
// on, and threads are records that nothing ever runs. Wait options are
// accepted everywhere and ignored.
//
// The records live only in memory, so they hold native pointers. They belong
// to the caller; this layer only keeps the table of registered timers.
#pragma once
#include <cstdint>

// Status numbers returned by the operations below.
// clang-format off
constexpr uint32_t kTxOk             = 0;
constexpr uint32_t kTxNoEntryOrStack = 3;  // thread create: entry function or stack missing
constexpr uint32_t kTxFlagsAbsent    = 7;  // event flags: requested flags not present
constexpr uint32_t kTxQueueEmpty     = 10; // receive from an empty queue
constexpr uint32_t kTxQueueFull      = 11; // send to a full queue
constexpr uint32_t kTxNoThread       = 14; // thread create: no thread record
constexpr uint32_t kTxBadAutoStart   = 16; // thread create: auto-start other than 0 or 1
constexpr uint32_t kTxNoTimerSlot    = 21; // timer create: all slots taken
constexpr uint32_t kTxTimerRefused   = 23; // timer activate: already active or no ticks left
constexpr uint32_t kTxBadThreshold   = 24; // thread create: pre-emption threshold above priority

// Wait options (ignored: nothing ever waits).
constexpr uint32_t kTxNoWait      = 0;
constexpr uint32_t kTxWaitForever = 0xFFFFFFFFu;

// Event-flag get options: bit 1 asks for all requested flags (else any),
// bit 0 clears the requested flags once satisfied.
constexpr uint32_t kTxFlagsAny      = 0;
constexpr uint32_t kTxFlagsAnyClear = 1;
constexpr uint32_t kTxFlagsAll      = 2;
constexpr uint32_t kTxFlagsAllClear = 3;

// Auto-activate (timers) and auto-start (threads).
constexpr uint32_t kTxNoActivate   = 0;
constexpr uint32_t kTxAutoActivate = 1;
constexpr uint32_t kTxDontStart    = 0;
constexpr uint32_t kTxAutoStart    = 1;

constexpr int kTxTimerSlots         = 10;
constexpr uint32_t kTxNoTimerIndex  = 0xFFFFFFFFu; // slot index of a deleted timer
// clang-format on

// Fixed-size messages in a ring over caller-supplied storage. The message
// size is counted in 32-bit words; messages are copied in and out whole.
struct TxQueue {
    uint32_t id; // identity, 0
    const char *name;
    uint32_t msg_words; // message size in 32-bit words
    uint32_t capacity;  // messages the storage holds
    uint32_t enqueued;  // messages waiting
    uint32_t available; // free slots
    uint8_t *start;     // storage start
    uint8_t *end;       // start + capacity * msg_words * 4
    uint8_t *read;      // oldest message
    uint8_t *write;     // next free slot
};

using TxTimerFn = void (*)(uint32_t);

// Polled software timer; ticks are milliseconds.
struct TxTimer {
    uint32_t index; // slot in TimerPtr, kTxNoTimerIndex when deleted
    const char *name;
    uint32_t remaining; // milliseconds left to run
    uint32_t reload;    // period after an expiry, 0 = one-shot
    TxTimerFn expiry;
    uint32_t arg;    // argument of the expiry function
    TxTimer *active; // the record itself while active, null while inactive
    uint32_t start;  // FPGA_GetFrt when the remaining time was last counted down
};

// The registered timers, fired by tx_timer_check in slot order; null = free.
extern TxTimer *TimerPtr[kTxTimerSlots];

struct TxEventFlags {
    uint32_t id;
    const char *name;
    uint32_t current;
};

using TxThreadEntry = void (*)(uint32_t);

// A thread record. Filled at create so the servers written against threads
// keep their calling form; nothing ever runs it.
struct TxThread {
    const char *name;
    TxThreadEntry entry;
    uint32_t entry_arg;
    void *stack_start;
    uint32_t stack_size;
    void *stack_end; // stack_start + stack_size - 1
    uint32_t priority;
    uint32_t user_priority;
    uint32_t preempt_threshold;
    uint32_t time_slice;
};

// Queues.
uint32_t _txe_queue_create(TxQueue *queue, const char *name, uint32_t msg_words, void *storage,
                           uint32_t storage_bytes);
uint32_t _txe_queue_send(TxQueue *queue, const void *message, uint32_t wait);
uint32_t _txe_queue_receive(TxQueue *queue, void *buffer, uint32_t wait);

// Timers.
uint32_t _txe_timer_create(TxTimer *timer, const char *name, TxTimerFn expiry, uint32_t arg,
                           uint32_t initial_ticks, uint32_t reload_ticks, uint32_t auto_activate);
uint32_t _txe_timer_activate(TxTimer *timer);
uint32_t _txe_timer_deactivate(TxTimer *timer);
uint32_t _txe_timer_delete(TxTimer *timer);
// One poll of the timer table; the main loop calls it every pass.
void tx_timer_check();
// Milliseconds of the 100 us tick, wrapping only at 2^32 ms.
uint32_t _tx_time_get();
// The network stack's 10 ms timer tick runs once this is 1 (the touch
// driver's open sets it).
extern uint8_t TxTimerTickEnabled;

// Event flags.
uint32_t _txe_event_flags_create(TxEventFlags *group, const char *name);
uint32_t _txe_event_flags_set(TxEventFlags *group, uint32_t flags, uint32_t option);
uint32_t _txe_event_flags_get(TxEventFlags *group, uint32_t requested, uint32_t option,
                              uint32_t *actual, uint32_t wait);
uint32_t _txe_event_flags_delete(TxEventFlags *group);

// Threads: records only.
uint32_t _txe_thread_create(TxThread *thread, const char *name, TxThreadEntry entry,
                            uint32_t entry_arg, void *stack_start, uint32_t stack_size,
                            uint32_t priority, uint32_t preempt_threshold, uint32_t time_slice,
                            uint32_t auto_start);
uint32_t _txe_thread_resume(TxThread *thread);
uint32_t _txe_thread_suspend(TxThread *thread);
uint32_t _txe_thread_terminate(TxThread *thread);
uint32_t _txe_thread_delete(TxThread *thread);
void _txe_thread_relinquish();
uint32_t _txe_thread_preemption_change(TxThread *thread, uint32_t new_threshold,
                                       uint32_t *old_threshold);
uint32_t _tx_thread_sleep(uint32_t ticks);
void _tx_initialize_kernel_enter();

// Frees every timer slot and stops the tick (test fixtures and restarts).
void Tx_Reset();
