#include "host/root.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

namespace host {
namespace {
// Never destroyed: the watchdog thread may still build a path (saving the
// registers) while the main thread runs the static destructors at exit.
std::string &g_root = *new std::string;
// Set once the folder is known. No lock: paths are also built inside signal
// handlers (the sliced pass, the crash log) that may interrupt this thread.
// The first look at $PANEL_ROOT is made by the main thread at start-up, before
// other threads exist; later readers see the folder through this flag.
std::atomic<bool> g_root_known{false};

bool is_media(const std::string &p) {
    return p.rfind("/mnt/USB0", 0) == 0 || p.rfind("/mnt/USB1", 0) == 0;
}

// Finds `name` in `dir` ignoring case; returns the stored spelling or `name`.
std::string match_case(const std::string &dir, const std::string &name) {
    struct stat st;
    if (::stat((dir + "/" + name).c_str(), &st) == 0) return name;
    DIR *d = ::opendir(dir.c_str());
    if (!d) return name;
    std::string found = name;
    while (dirent *e = ::readdir(d)) {
        if (::strcasecmp(e->d_name, name.c_str()) == 0) {
            found = e->d_name;
            break;
        }
    }
    ::closedir(d);
    return found;
}
} // namespace

const std::string &root() {
    if (!g_root_known.load(std::memory_order_acquire)) {
        const char *env = std::getenv("PANEL_ROOT");
        g_root = (env && *env) ? env : kDefaultRoot;
        while (g_root.size() > 1 && g_root.back() == '/')
            g_root.pop_back();
        g_root_known.store(true, std::memory_order_release);
    }
    return g_root;
}

void set_root(const std::string &dir) {
    g_root = dir;
    while (g_root.size() > 1 && g_root.back() == '/')
        g_root.pop_back();
    g_root_known.store(!g_root.empty(), std::memory_order_release);
}

std::string path(const std::string &board_path) {
    std::string p = board_path;
    if (p.empty() || p[0] != '/') p = "/" + p;
    if (p.rfind(root() + "/", 0) == 0) return p; // already mapped
    if (!is_media(p)) return root() + p;
    // "/mnt/USBn" itself keeps its spelling; components below it match any case.
    std::string out = root() + p.substr(0, 9);
    size_t pos = 9;
    while (pos < p.size()) {
        size_t next = p.find('/', pos + 1);
        std::string comp =
            p.substr(pos + 1, next == std::string::npos ? std::string::npos : next - pos - 1);
        std::string name = comp.empty() ? comp : match_case(out, comp);
        out += '/';
        out += name;
        if (next == std::string::npos) break;
        pos = next;
    }
    return out;
}

bool make_dirs(const std::string &board_dir) {
    std::string full = path(board_dir);
    for (size_t i = 1; i <= full.size(); ++i) {
        if (i == full.size() || full[i] == '/') {
            std::string part = full.substr(0, i);
            if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
        }
    }
    return true;
}

} // namespace host
