#include "base/trace.h"

#include <cstdio>
#include <mutex>

namespace host {

bool g_trace_on = false;

namespace {
std::vector<std::string> g_calls;
std::function<void(const char *)> g_hook;
FILE *g_file = nullptr;
bool g_record = false;
std::mutex g_mutex;
} // namespace

void trace_hit(const char *name) {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (g_record) g_calls.emplace_back(name);
        if (g_file) {
            std::fprintf(g_file, "%s\n", name);
            std::fflush(g_file);
        }
    }
    if (g_hook) g_hook(name);
}

void trace_start() {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_calls.clear();
    g_record = true;
    g_trace_on = true;
}

void trace_stop() {
    g_record = false;
    g_trace_on = g_file != nullptr || bool(g_hook);
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
    g_hook = std::move(hook);
    g_trace_on = g_record || g_file != nullptr || bool(g_hook);
}

void trace_to_file(const std::string &file) {
    if (g_file) std::fclose(g_file);
    g_file = file.empty() ? nullptr : std::fopen(file.c_str(), "a");
    g_trace_on = g_record || g_file != nullptr || bool(g_hook);
}

} // namespace host
