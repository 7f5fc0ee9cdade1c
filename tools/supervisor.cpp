// supervisor: runs the panel like the board's power and reset circuits would.
//
//   supervisor [--root DIR] [--] PANEL [ARGS...]
//
// Restarts the panel after a reboot, a power-off, a watchdog reset or a crash
// (the board reboots from its crash screen), keeping the root folder's
// "hardware" files. It also plays the hardware watchdog for a panel that
// cannot end itself (a stopped process): when the armed watchdog has not been
// kicked for longer than its time-out, the panel is killed and restarted.
// Any other end of the panel ends the supervisor with the same status.
// After a restart the firmware installed in the root folder's firmware folder
// ("/mnt/firm/firmware", put there by a firmware update) is started in place
// of PANEL, as the board boots whatever firmware it holds.
#include "host/power.h"
#include "host/root.h"
#include "host/root_lock.h"
#include "host/watchdog.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {
volatile sig_atomic_t g_stop = 0;
void on_stop(int) {
    g_stop = 1;
}

std::string g_root;

void say(const std::string &line) {
    std::fprintf(stderr, "supervisor: %s\n", line.c_str());
    std::string log = g_root + "/var/log/supervisor.log";
    if (FILE *f = std::fopen(log.c_str(), "a")) {
        std::fprintf(f, "%s\n", line.c_str());
        std::fclose(f);
    }
}

uint64_t now_ns() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1'000'000'000ull + uint64_t(ts.tv_nsec);
}

// The watchdog state after a reset: disarmed, as the hardware comes up.
void clear_watchdog() {
    std::string file = g_root + "/dev/watchdog";
    if (FILE *f = std::fopen(file.c_str(), "r+b")) {
        host::WatchdogState s{};
        if (std::fread(&s, sizeof s, 1, f) == 1) {
            s.open = 0;
            std::rewind(f);
            std::fwrite(&s, sizeof s, 1, f);
        }
        std::fclose(f);
    }
}

// A signal the panel raises itself when it faults (as opposed to a kill
// from outside).
bool fault_signal(int sig) {
    return sig == SIGSEGV || sig == SIGBUS || sig == SIGFPE || sig == SIGILL || sig == SIGABRT;
}

pid_t start(const std::vector<char *> &argv) {
    pid_t pid = fork();
    if (pid == 0) {
        setenv("PANEL_ROOT", g_root.c_str(), 1);
        host::root_lock_pass_on();
        execv(argv[0], argv.data());
        std::perror(argv[0]);
        _exit(127);
    }
    return pid;
}
} // namespace

int main(int argc, char **argv) {
    int i = 1;
    if (const char *env = std::getenv("PANEL_ROOT")) g_root = env;
    if (i + 1 < argc && std::strcmp(argv[i], "--root") == 0) {
        g_root = argv[i + 1];
        i += 2;
    }
    if (i < argc && std::strcmp(argv[i], "--") == 0) ++i;
    if (i >= argc) {
        std::fprintf(stderr, "usage: supervisor [--root DIR] [--] PANEL [ARGS...]\n");
        return 2;
    }
    if (g_root.empty()) g_root = host::kDefaultRoot;
    // The lock of the root folder, held for the whole run: a second panel or
    // supervisor on this folder is refused. The panel takes it over.
    std::string lock_error;
    if (!host::root_lock(g_root, &lock_error)) {
        std::fprintf(stderr, "supervisor: %s\n", lock_error.c_str());
        return 1;
    }
    ::mkdir((g_root + "/var").c_str(), 0755);
    ::mkdir((g_root + "/var/log").c_str(), 0755);
    std::vector<char *> child_argv(argv + i, argv + argc);
    child_argv.push_back(nullptr);

    struct sigaction sa {};
    sa.sa_handler = on_stop;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);

    // Times of the failures (watchdog resets and faults the panel raised
    // itself), to give up on a panel that keeps failing. Reboots, power-offs
    // and kills from outside are not failures of the panel.
    std::vector<uint64_t> recent;
    std::string firmware = g_root + "/mnt/firm/firmware";
    for (bool restart = false;; restart = true) {
        clear_watchdog();
        std::vector<char *> run_argv = child_argv;
        if (restart && access(firmware.c_str(), X_OK) == 0) run_argv[0] = firmware.data();
        pid_t pid = start(run_argv);
        if (pid < 0) {
            say(std::string("cannot start ") + run_argv[0]);
            return 2;
        }
        say("panel started (pid " + std::to_string(pid) + ")" +
            (run_argv[0] == firmware.data() ? " from the installed firmware" : ""));
        int status = 0;
        bool killed_by_watchdog = false;
        for (;;) {
            pid_t r = waitpid(pid, &status, WNOHANG);
            if (r == pid) break;
            if (r < 0 && errno != EINTR) return 2;
            if (g_stop) {
                kill(pid, SIGTERM);
                usleep(200000);
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                say("stopped");
                return 0;
            }
            host::WatchdogState s;
            if (host::wdt_read_state(g_root.c_str(), &s) && s.open && s.pid == pid) {
                uint64_t now = now_ns();
                uint64_t idle_ms = now > s.last_kick_ns ? (now - s.last_kick_ns) / 1'000'000ull : 0;
                // The panel ends itself at the time-out; a panel that cannot (stopped,
                // hung in the kernel) is reset a little later.
                if (idle_ms > uint64_t(s.timeout_ms) + 1000) {
                    say("watchdog expired, panel not responding: resetting it");
                    kill(pid, SIGCONT);
                    kill(pid, SIGKILL);
                    waitpid(pid, &status, 0);
                    killed_by_watchdog = true;
                    break;
                }
            }
            usleep(100000);
        }
        const char *why = nullptr;
        if (killed_by_watchdog)
            why = "watchdog reset";
        else if (WIFEXITED(status) && WEXITSTATUS(status) == host::kExitReboot)
            why = "reboot";
        else if (WIFEXITED(status) && WEXITSTATUS(status) == host::kExitPowerOff)
            why = "power off";
        else if (WIFEXITED(status) && WEXITSTATUS(status) == host::kExitWatchdog)
            why = "watchdog reset";
        else if (WIFSIGNALED(status))
            why = fault_signal(WTERMSIG(status)) ? "crash" : "outside kill";
        if (!why) {
            int code = WIFEXITED(status) ? WEXITSTATUS(status) : 1;
            say("panel ended (status " + std::to_string(code) + ")");
            return code;
        }
        const bool failure =
            std::strcmp(why, "watchdog reset") == 0 || std::strcmp(why, "crash") == 0;
        if (failure) recent.push_back(now_ns());
        while (recent.size() > 5)
            recent.erase(recent.begin());
        if (failure && recent.size() == 5 && now_ns() - recent.front() < 10'000'000'000ull) {
            say(std::string(
                    "panel failed 5 times within 10 s (watchdog resets and crashes; last: ") +
                why + "): giving up");
            return 1;
        }
        say(std::string("panel ended by ") + why + ": restarting");
        if (std::strcmp(why, "power off") == 0) sleep(1);
    }
}
