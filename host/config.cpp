#include "host/config.h"

#include "host/root.h"

#include <cstdlib>
#include <fstream>
#include <map>

namespace host {
namespace {
std::map<std::string, std::string> g_values;
bool g_loaded = false;

std::string trim(const std::string &s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

void load() {
    if (g_loaded) return;
    g_loaded = true;
    std::ifstream in(root() + "/host.conf");
    std::string line;
    while (std::getline(in, line)) {
        size_t hash = line.find('#');
        if (hash != std::string::npos) line.resize(hash);
        size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string key = trim(line.substr(0, eq));
        if (!key.empty() && !g_values.count(key)) g_values[key] = trim(line.substr(eq + 1));
    }
}
} // namespace

std::string config(const std::string &key, const std::string &fallback) {
    load();
    auto it = g_values.find(key);
    return it == g_values.end() ? fallback : it->second;
}

long config_int(const std::string &key, long fallback) {
    std::string v = config(key);
    if (v.empty()) return fallback;
    char *end = nullptr;
    long n = std::strtol(v.c_str(), &end, 0);
    return (end && *end == 0) ? n : fallback;
}

namespace {
void screen_size(int *w, int *h) {
    std::string v = config("screen", "800x480");
    *w = 800;
    *h = 480;
    size_t x = v.find('x');
    if (x == std::string::npos) return;
    int cw = std::atoi(v.substr(0, x).c_str()), ch = std::atoi(v.substr(x + 1).c_str());
    if (cw > 0 && ch > 0 && cw <= 4096 && ch <= 4096) {
        *w = cw;
        *h = ch;
    }
}
} // namespace

int screen_width() {
    int w, h;
    screen_size(&w, &h);
    return w;
}

int screen_height() {
    int w, h;
    screen_size(&w, &h);
    return h;
}

void config_set(const std::string &key, const std::string &value) {
    load();
    g_values[key] = value;
}

void config_reset() {
    g_values.clear();
    g_loaded = false;
}

} // namespace host
