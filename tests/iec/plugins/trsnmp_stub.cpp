// An SNMP agent stand-in: keeps what the runtime hands it and lets the test
// ask the value callback as the agent would.
#include <cstddef>
#include <cstring>

namespace {
using Cb = int (*)(void *, int, char *, size_t);
Cb g_cb;
void *g_instance;
char g_folder[256];
int g_running;
} // namespace

extern "C" {
void TrSNMP_SetFolderMIB(const char *folder) {
    std::strncpy(g_folder, folder, sizeof g_folder - 1);
}
int TrSNMP_StartAgent(const char *, Cb cb, void *instance) {
    g_cb = cb;
    g_instance = instance;
    g_running = 1;
    return 1;
}
void TrSNMP_StopAgent() {
    g_running = 0;
}
// The test's side.
int snmp_stub_query(int item, char *text, size_t size) {
    return g_cb ? g_cb(g_instance, item, text, size) : -1;
}
int snmp_stub_query_other(int item, char *text, size_t size) {
    return g_cb ? g_cb(&g_running, item, text, size) : -1;
}
const char *snmp_stub_folder() {
    return g_folder;
}
int snmp_stub_running() {
    return g_running;
}
}
