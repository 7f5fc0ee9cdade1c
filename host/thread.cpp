#include "host/thread.h"

#include <execinfo.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

namespace host {
namespace {
// The alternate stack of the thread that installs the fatal handlers (the
// main thread): the crash handler draws the whole crash screen on it.
constexpr size_t kAltStackBytes = 256 * 1024;
alignas(16) char g_fatal_stack[kAltStackBytes];

// Every other thread gets an alternate stack of its own (a signal stack is
// per thread): a fault in a worker, a stack overflow included, still reaches
// the crash handler. A guard page below it turns an overflow of the handler
// itself into a fault instead of a write into other memory.
struct Start {
    void *(*fn)(void *);
    void *arg;
};

void *map_alt_stack() {
    const size_t page = size_t(sysconf(_SC_PAGESIZE));
    void *mem = mmap(nullptr, kAltStackBytes + page, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (mem == MAP_FAILED) return nullptr;
    mprotect(mem, page, PROT_NONE);
    stack_t ss{};
    ss.ss_sp = static_cast<char *>(mem) + page;
    ss.ss_size = kAltStackBytes;
    if (sigaltstack(&ss, nullptr) != 0) {
        munmap(mem, kAltStackBytes + page);
        return nullptr;
    }
    return mem;
}

void unmap_alt_stack(void *mem) {
    if (!mem) return;
    stack_t off{};
    off.ss_flags = SS_DISABLE;
    sigaltstack(&off, nullptr);
    munmap(mem, kAltStackBytes + size_t(sysconf(_SC_PAGESIZE)));
}

void *thread_start(void *p) {
    Start start = *static_cast<Start *>(p);
    delete static_cast<Start *>(p);
    // A thread that already has one (a sanitizer's runtime gives each thread
    // its own) keeps it.
    void *mem = nullptr;
    stack_t current{};
    if (sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE))
        mem = map_alt_stack();
    void *result = nullptr;
    // Freed however the thread ends: return, pthread_exit or cancellation.
    pthread_cleanup_push(unmap_alt_stack, mem);
    result = start.fn(start.arg);
    pthread_cleanup_pop(1);
    return result;
}

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
    auto *start = new Start{fn, arg};
    int rc = pthread_create(thread, &attr, thread_start, start);
    if (rc != 0) delete start;
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
