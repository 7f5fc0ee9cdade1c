#include "host/player.h"

#include "host/root.h"
#include "host/shell.h"

#include <unistd.h>

#include <atomic>

namespace host {
namespace {
std::atomic<pid_t> g_player{0};

std::string beside_program(const char *name) {
    char exe[4096];
    ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return name;
    std::string dir(exe, size_t(n));
    dir.resize(dir.rfind('/') + 1);
    return dir + name;
}

// Board paths of the arguments, also behind "file=".
std::string map_argument(const std::string &word) {
    auto board = [](const std::string &p) {
        return p.rfind("/mnt/", 0) == 0 || p.rfind("/dev/", 0) == 0;
    };
    if (board(word)) return path(word);
    if (word.rfind("file=", 0) == 0 && board(word.substr(5))) return "file=" + path(word.substr(5));
    return word;
}
} // namespace

pid_t player_start(const std::vector<std::string> &words) {
    std::string program = path(kPlayerCommand);
    if (::access(program.c_str(), X_OK) != 0) program = beside_program("player_standin");
    std::vector<std::string> argv{program};
    for (size_t i = 1; i < words.size(); ++i)
        argv.push_back(map_argument(words[i]));
    pid_t pid = spawn_exec(argv, -1);
    if (pid > 0) g_player = pid;
    return pid;
}

pid_t player_pid() {
    return g_player;
}
void player_reset() {
    g_player = 0;
}

} // namespace host
