// Every thread beside the main one is made here, with the panel's signals
// (SIGALRM of the slice, the power-fail signal 44, SIGPIPE) blocked in it, so
// only the main thread ever sees them.
#pragma once
#include <pthread.h>

namespace host {

constexpr int kPowerFailSignal = 44;

// Each thread made here also gets an alternate signal stack of its own for
// the fatal handlers, freed when the thread ends.
int thread_create(pthread_t *thread, void *(*fn)(void *), void *arg, bool detached = false);
// Blocks the same signals in the calling thread (used by test fixtures).
void block_panel_signals();
// Installs a handler for a fatal signal (empty mask). The handler runs on an
// alternate stack of the calling thread, so that a stack overflow reaches it
// too; while it runs, its own signal stays blocked, so a fault inside it ends
// the process instead of re-entering it without end.
void install_fatal_handler(int sig, void (*handler)(int));
// Restores the default action of a signal and raises it again.
[[noreturn]] void fatal_default(int sig);

} // namespace host
