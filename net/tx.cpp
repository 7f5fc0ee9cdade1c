#include "net/tx.h"

#include "base/trace.h"

#include "platform/tick.h"

#include <cstring>

TxTimer *TimerPtr[kTxTimerSlots];
uint8_t TxTimerTickEnabled;

void Tx_Reset() {
    TxTimerTickEnabled = 0;
    for (TxTimer *&slot : TimerPtr)
        slot = nullptr;
}

// ---------------------------------------------------------------------------
// Queues

uint32_t _txe_queue_create(TxQueue *queue, const char *name, uint32_t msg_words, void *storage,
                           uint32_t storage_bytes) {
    uint32_t msg_bytes = msg_words * 4;
    uint32_t capacity = msg_bytes ? storage_bytes / msg_bytes : 0; // no room for empty messages
    auto *start = static_cast<uint8_t *>(storage);
    queue->id = 0;
    queue->name = name;
    queue->msg_words = msg_words;
    queue->capacity = capacity;
    queue->enqueued = 0;
    queue->available = capacity;
    queue->start = start;
    queue->end = start + size_t(capacity) * msg_bytes;
    queue->read = start;
    queue->write = start;
    return kTxOk;
}

uint32_t _txe_queue_send(TxQueue *queue, const void *message, uint32_t) {
    if (queue->available == 0) return kTxQueueFull;
    size_t bytes = size_t(queue->msg_words) * 4;
    std::memcpy(queue->write, message, bytes);
    queue->write += bytes;
    if (queue->write >= queue->end) queue->write = queue->start;
    ++queue->enqueued;
    --queue->available;
    return kTxOk;
}

uint32_t _txe_queue_receive(TxQueue *queue, void *buffer, uint32_t) {
    if (queue->enqueued == 0) return kTxQueueEmpty;
    size_t bytes = size_t(queue->msg_words) * 4;
    std::memcpy(buffer, queue->read, bytes);
    queue->read += bytes;
    if (queue->read >= queue->end) queue->read = queue->start;
    --queue->enqueued;
    ++queue->available;
    return kTxOk;
}

// ---------------------------------------------------------------------------
// Timers

namespace {

int registered_slot(const TxTimer *timer) {
    for (int i = 0; i < kTxTimerSlots; ++i)
        if (TimerPtr[i] == timer) return i;
    return -1;
}

} // namespace

uint32_t _txe_timer_create(TxTimer *timer, const char *name, TxTimerFn expiry, uint32_t arg,
                           uint32_t initial_ticks, uint32_t reload_ticks, uint32_t auto_activate) {
    // A record created again without a delete keeps its slot: taking a second
    // one would fire it twice per period and leak slots until none is left.
    int slot = registered_slot(timer);
    if (slot < 0) slot = registered_slot(nullptr);

    *timer = TxTimer{};
    timer->index = kTxNoTimerIndex;
    timer->name = name;
    timer->remaining = initial_ticks;
    timer->reload = reload_ticks;
    timer->expiry = expiry;
    timer->arg = arg;
    if (slot < 0) return kTxNoTimerSlot;

    timer->index = uint32_t(slot);
    TimerPtr[slot] = timer;
    if (auto_activate == kTxAutoActivate) return _txe_timer_activate(timer);
    return kTxOk;
}

uint32_t _txe_timer_activate(TxTimer *timer) {
    if (timer->active || timer->remaining == 0) return kTxTimerRefused;
    timer->active = timer;
    timer->start = FPGA_GetFrt();
    return kTxOk;
}

uint32_t _txe_timer_deactivate(TxTimer *timer) {
    timer->active = nullptr;
    return kTxOk;
}

uint32_t _txe_timer_delete(TxTimer *timer) {
    // Only the slot that really holds this record is freed, so a stale or
    // copied record cannot unregister another timer.
    if (timer->index < uint32_t(kTxTimerSlots) && TimerPtr[timer->index] == timer)
        TimerPtr[timer->index] = nullptr;
    timer->index = kTxNoTimerIndex;
    timer->active = nullptr;
    return kTxOk;
}

void tx_timer_check() {
    host::trace("tx_timer_check");
    for (int i = 0; i < kTxTimerSlots; ++i) {
        // Re-read the slot on every step: an expiry function may have
        // deleted, created or re-created timers.
        TxTimer *timer = TimerPtr[i];
        if (!timer || !timer->active || timer->remaining == 0) continue;

        uint32_t now = FPGA_GetFrt();
        uint32_t elapsed = now - timer->start; // modulo 2^32: the counter wraps
        uint32_t elapsed_ms = elapsed / 10;

        if (elapsed_ms >= timer->remaining) {
            timer->remaining = 0;
            if (timer->expiry) timer->expiry(timer->arg);
            // Reload only a timer still registered in this slot and still in
            // the expired state: the expiry function may have deleted the
            // record (and freed its memory) or created it anew with fresh ticks.
            if (TimerPtr[i] == timer && timer->remaining == 0 && timer->reload != 0) {
                timer->remaining = timer->reload;
                timer->start = FPGA_GetFrt(); // the period runs from the function's return
            }
        } else if (elapsed_ms > 0) {
            // Count down whole milliseconds and keep the sub-millisecond
            // remainder in the start time, so polling loses no time.
            timer->remaining -= elapsed_ms;
            timer->start += elapsed_ms * 10;
        }
    }
}

uint32_t _tx_time_get() {
    // From the 64-bit count: dividing the 32-bit tick by 10 would jump back to
    // 0 after 4.97 days and break every interval measured across it.
    return uint32_t(FPGA_GetFrt64() / 10);
}

// ---------------------------------------------------------------------------
// Event flags

uint32_t _txe_event_flags_create(TxEventFlags *group, const char *name) {
    *group = TxEventFlags{};
    group->name = name;
    return kTxOk;
}

uint32_t _txe_event_flags_set(TxEventFlags *group, uint32_t flags, uint32_t) {
    group->current |= flags;
    return kTxOk;
}

uint32_t _txe_event_flags_get(TxEventFlags *group, uint32_t requested, uint32_t option,
                              uint32_t *actual, uint32_t) {
    uint32_t present = group->current & requested;
    bool satisfied = (option & kTxFlagsAll) ? present == requested : present != 0;
    if (!satisfied) return kTxFlagsAbsent;
    if (actual) *actual = group->current;
    if (option & kTxFlagsAnyClear) group->current &= ~requested;
    return kTxOk;
}

uint32_t _txe_event_flags_delete(TxEventFlags *) {
    return kTxOk;
}

// ---------------------------------------------------------------------------
// Threads

uint32_t _txe_thread_create(TxThread *thread, const char *name, TxThreadEntry entry,
                            uint32_t entry_arg, void *stack_start, uint32_t stack_size,
                            uint32_t priority, uint32_t preempt_threshold, uint32_t time_slice,
                            uint32_t auto_start) {
    if (!thread) return kTxNoThread;
    if (!entry || !stack_start) return kTxNoEntryOrStack;
    if (preempt_threshold > priority) return kTxBadThreshold;
    if (auto_start > kTxAutoStart) return kTxBadAutoStart;

    *thread = TxThread{};
    thread->name = name;
    thread->entry = entry;
    thread->entry_arg = entry_arg;
    thread->stack_start = stack_start;
    thread->stack_size = stack_size;
    // As an address only: the record is never run, so the stack is never touched.
    thread->stack_end =
        reinterpret_cast<void *>(reinterpret_cast<uintptr_t>(stack_start) + stack_size - 1);
    thread->priority = priority;
    thread->user_priority = priority;
    thread->preempt_threshold = preempt_threshold;
    thread->time_slice = time_slice;
    return kTxOk;
}

uint32_t _txe_thread_resume(TxThread *) {
    return kTxOk;
}
uint32_t _txe_thread_suspend(TxThread *) {
    return kTxOk;
}
uint32_t _txe_thread_terminate(TxThread *) {
    return kTxOk;
}
uint32_t _txe_thread_delete(TxThread *) {
    return kTxOk;
}
void _txe_thread_relinquish() {}
uint32_t _txe_thread_preemption_change(TxThread *, uint32_t, uint32_t *) {
    return kTxOk;
}
uint32_t _tx_thread_sleep(uint32_t) {
    return kTxOk;
}
void _tx_initialize_kernel_enter() {}
