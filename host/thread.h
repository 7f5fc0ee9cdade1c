// Every thread beside the main one is made here, with the panel's signals
// (SIGALRM of the slice, the power-fail signal 44, SIGPIPE) blocked in it, so
// only the main thread ever sees them.
#pragma once
#include <pthread.h>

namespace host {

constexpr int kPowerFailSignal = 44;

int thread_create(pthread_t *thread, void *(*fn)(void *), void *arg, bool detached = false);
// Blocks the same signals in the calling thread (used by test fixtures).
void block_panel_signals();
// Installs a handler for a fatal signal (empty mask, no flags).
void install_fatal_handler(int sig, void (*handler)(int));
// Restores the default action of a signal and raises it again.
[[noreturn]] void fatal_default(int sig);

} // namespace host
