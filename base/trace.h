// Call recorder: entry points note their name here so that tests can check the
// order of the start-up and of a loop pass, and hook into a call (for example
// to make a screen block run long). Costs one load and branch when unused.
#pragma once
#include <atomic>
#include <functional>
#include <string>
#include <vector>

namespace host {

// Read by every thread that records; a relaxed load keeps the unused case cheap.
extern std::atomic<bool> g_trace_on;
void trace_hit(const char *name);
inline void trace(const char *name) {
    if (g_trace_on.load(std::memory_order_relaxed)) trace_hit(name);
}

void trace_start(); // start recording (clears the record)
void trace_stop();
std::vector<std::string> trace_calls(); // a copy: other threads may record meanwhile
void trace_clear();
// Called for every recorded name (after it is recorded), on the recording
// thread. A hook replaced meanwhile may still be running its last call.
void trace_set_hook(std::function<void(const char *)> hook);
// Also append each name as a line to a file (set by $PANEL_TRACE at start).
void trace_to_file(const std::string &file);

} // namespace host
