#include "host/thread.h"

#include <execinfo.h>
#include <signal.h>
#include <unistd.h>

namespace host {
namespace {
// The alternate stack of the thread that installs the fatal handlers (the
// main thread): the crash handler draws the whole crash screen on it.
alignas(16) char g_fatal_stack[256 * 1024];

void panel_signals(sigset_t *set) {
    sigemptyset(set);
    sigaddset(set, SIGALRM);
    sigaddset(set, kPowerFailSignal);
    sigaddset(set, SIGPIPE);
}
} // namespace

int thread_create(pthread_t *thread, void *(*fn)(void *), void *arg, bool detached) {
    sigset_t block, old;
    panel_signals(&block);
    pthread_sigmask(SIG_BLOCK, &block, &old);
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    if (detached) pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    int rc = pthread_create(thread, &attr, fn, arg);
    pthread_attr_destroy(&attr);
    pthread_sigmask(SIG_SETMASK, &old, nullptr); // the caller keeps its own mask
    return rc;
}

void block_panel_signals() {
    sigset_t block;
    panel_signals(&block);
    pthread_sigmask(SIG_BLOCK, &block, nullptr);
}

void install_fatal_handler(int sig, void (*handler)(int)) {
    stack_t current{};
    if (sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE)) {
        stack_t ss{};
        ss.ss_sp = g_fatal_stack;
        ss.ss_size = sizeof g_fatal_stack;
        sigaltstack(&ss, nullptr);
    }
    // The first backtrace loads the unwinder (and allocates); do it now, not
    // in a handler that may have come from a corrupted heap.
    void *frame[1];
    backtrace(frame, 1);
    struct sigaction sa {};
    sa.sa_handler = handler;
    sa.sa_flags = SA_ONSTACK;
    sigemptyset(&sa.sa_mask);
    sigaction(sig, &sa, nullptr);
}

void fatal_default(int sig) {
    signal(sig, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    raise(sig);
    _exit(128 + sig);
}

} // namespace host
