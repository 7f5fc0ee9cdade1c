#include "host/thread.h"

#include <signal.h>
#include <unistd.h>

namespace host {
namespace {
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
    struct sigaction sa {};
    sa.sa_handler = handler;
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
