#include "base/trace.h"

#include <cstdio>
#include <memory>
#include <mutex>

namespace host {

std::atomic<bool> g_trace_on{false};

namespace {
using Hook = std::function<void(const char *)>;
std::vector<std::string> g_calls;
// The hook is swapped by a test while the panel's threads record: each caller
// takes its own reference under the lock and calls it outside, so a hook may
// record names itself and is never destroyed while a call is running.
std::shared_ptr<const Hook> g_hook;
FILE *g_file = nullptr;
bool g_record = false;
std::mutex g_mutex;

// Holds g_mutex.
void update_on() {
    g_trace_on = g_record || g_file != nullptr || g_hook != nullptr;
}
} // namespace

void trace_hit(const char *name) {
    std::shared_ptr<const Hook> hook;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (g_record) g_calls.emplace_back(name);
        if (g_file) {
            std::fprintf(g_file, "%s\n", name);
            std::fflush(g_file);
        }
        hook = g_hook;
    }
    if (hook) (*hook)(name);
}

void trace_start() {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_calls.clear();
    g_record = true;
    update_on();
}

void trace_stop() {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_record = false;
    update_on();
}

std::vector<std::string> trace_calls() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_calls;
}
void trace_clear() {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_calls.clear();
}

void trace_set_hook(std::function<void(const char *)> hook) {
    auto next = hook ? std::make_shared<const Hook>(std::move(hook)) : nullptr;
    std::lock_guard<std::mutex> lock(g_mutex);
    g_hook.swap(next);
    update_on();
    // The previous hook (in `next`) is released after the lock, by whichever
    // holder lets it go last.
}

void trace_to_file(const std::string &file) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_file) std::fclose(g_file);
    g_file = file.empty() ? nullptr : std::fopen(file.c_str(), "a");
    update_on();
}

} // namespace host
