#include "host/shell.h"

#include "base/trace.h"
#include "host/config.h"
#include "host/player.h"
#include "host/root.h"
#include "host/rtc_dev.h"

#include <fcntl.h>
#include <glob.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <sys/stat.h>

namespace host {
namespace {
std::vector<std::string> g_log;
std::map<std::string, ShellHandler> g_handlers;
// The children we started, each with a pidfd that turns readable when it ends
// (-1 where the kernel gave none: such a child is looked for every pass).
std::map<pid_t, int> g_children;
// The video thread runs commands too: the log, the handlers and the children
// are shared.
std::mutex g_mutex;

std::vector<std::string> split_words(const std::string &line) {
    std::vector<std::string> out;
    std::string cur;
    bool in_word = false;
    char quote = 0;
    for (size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (quote) {
            if (c == quote)
                quote = 0;
            else
                cur += c;
            continue;
        }
        if (c == '"' || c == '\'') {
            quote = c;
            in_word = true;
        } else if (c == ' ' || c == '\t') {
            if (in_word) out.push_back(cur);
            cur.clear();
            in_word = false;
        } else if (c == '>') {
            if (in_word) out.push_back(cur);
            cur.clear();
            in_word = false;
            if (i + 1 < line.size() && line[i + 1] == '>') {
                out.push_back(">>");
                ++i;
            } else {
                out.push_back(">");
            }
        } else {
            cur += c;
            in_word = true;
        }
    }
    if (in_word) out.push_back(cur);
    return out;
}

// Writes `text` to the board file `target` (append or truncate).
int write_board_file(const std::string &target, const std::string &text, bool append) {
    std::string file = path(target);
    size_t slash = file.rfind('/');
    if (slash != std::string::npos) make_dirs(file.substr(root().size(), slash - root().size()));
    // A named pipe is written only while something reads it: opening one
    // without a reader would wait for ever.
    struct stat st;
    if (::stat(file.c_str(), &st) == 0 && S_ISFIFO(st.st_mode)) {
        int fd = ::open(file.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return 1;
        ssize_t n = ::write(fd, text.data(), text.size());
        ::close(fd);
        return n == ssize_t(text.size()) ? 0 : 1;
    }
    FILE *f = std::fopen(file.c_str(), append ? "a" : "w");
    if (!f) return 1;
    std::fputs(text.c_str(), f);
    std::fclose(f);
    return 0;
}

int emulate(std::vector<std::string> words, std::string *capture = nullptr) {
    // Split off an output redirection.
    std::string target;
    bool append = false;
    for (size_t i = 0; i < words.size(); ++i) {
        if (words[i] == ">" || words[i] == ">>") {
            append = words[i] == ">>";
            if (i + 1 < words.size()) target = words[i + 1];
            words.resize(i);
            break;
        }
    }
    if (words.empty()) return 0;
    const std::string &cmd = words[0];
    std::string output;
    int status = 0;
    ShellHandler handler;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        auto h = g_handlers.find(cmd);
        if (h != g_handlers.end()) handler = h->second;
    }
    if (handler) {
        status = handler(words);
    } else if (cmd == kPlayerCommand) {
        status = player_start(words) > 0 ? 0 : 127;
    } else if (cmd == "echo") {
        for (size_t i = 1; i < words.size(); ++i)
            output += (i > 1 ? " " : "") + words[i];
        output += "\n";
    } else if (cmd == "cat") {
        for (size_t i = 1; i < words.size(); ++i) {
            FILE *f = std::fopen(path(words[i]).c_str(), "rb");
            if (!f) {
                status = 1;
                continue;
            }
            char buf[4096];
            for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;)
                output.append(buf, n);
            std::fclose(f);
        }
    } else if (cmd == "uname") {
        output = config("uname", "Linux panel 2.6.35.3-1045 #1 PREEMPT armv5tejl GNU/Linux") + "\n";
    } else if (cmd == "hwclock") {
        status = hwclock_command(words);
    } else if (cmd == "rm" || cmd == "cp" || cmd == "mkdir") {
        std::vector<std::string> argv{cmd};
        for (size_t i = 1; i < words.size(); ++i) {
            if (words[i][0] == '-') {
                argv.push_back(words[i]);
                continue;
            }
            // The board's shell expands a pattern; here glob(3) does, inside
            // the root folder (no shell runs). A pattern matching nothing
            // stays as it is, as in sh.
            std::string p = path(words[i]);
            glob_t g{};
            if (p.find_first_of("*?[") != std::string::npos &&
                ::glob(p.c_str(), GLOB_NOCHECK, nullptr, &g) == 0) {
                for (size_t k = 0; k < g.gl_pathc; ++k)
                    argv.push_back(g.gl_pathv[k]);
            } else {
                argv.push_back(p);
            }
            ::globfree(&g);
        }
        status = run_argv(argv);
    } else {
        // killall (never by name here: we end our own children by pid), sync,
        // and board-only commands with nothing to emulate yet.
        status = 0;
    }
    if (!target.empty()) return write_board_file(target, output, append) ? 1 : status;
    if (capture)
        *capture += output;
    else if (!output.empty())
        std::fputs(output.c_str(), stdout);
    return status;
}
void remember_child(pid_t pid) {
    int fd = int(::syscall(SYS_pidfd_open, pid, 0)); // close-on-exec by itself
    std::lock_guard<std::mutex> lock(g_mutex);
    auto [it, added] = g_children.emplace(pid, fd);
    if (!added) {
        if (it->second >= 0) ::close(it->second);
        it->second = fd;
    }
}
void drop_child_locked(std::map<pid_t, int>::iterator it) {
    if (it->second >= 0) ::close(it->second);
    g_children.erase(it);
}
void forget_child(pid_t pid) {
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = g_children.find(pid);
    if (it != g_children.end()) drop_child_locked(it);
}

// A child of the panel ends with it (the board's children die with the
// board), and records nothing: locks held by other threads at the fork stay
// held in the child.
void child_setup() {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    g_trace_on = false;
}
} // namespace

int shell(const std::string &cmdline) {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_log.push_back(cmdline);
    }
    return emulate(split_words(cmdline));
}

int shell_output(const std::string &cmdline, std::string *out) {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_log.push_back(cmdline);
    }
    std::string text;
    int status = emulate(split_words(cmdline), &text);
    if (out) *out = text;
    return status;
}

int shell_argv(const std::vector<std::string> &words) {
    if (words.empty()) return 127;
    std::string line;
    for (const std::string &w : words)
        line += (line.empty() ? "" : " ") + w;
    ShellHandler handler;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_log.push_back(line);
        auto h = g_handlers.find(words[0]);
        if (h != g_handlers.end()) handler = h->second;
    }
    if (handler) return handler(words);
    if (words[0] == kPlayerCommand) return player_start(words) > 0 ? 0 : 127;
    return 127;
}

void shell_register(const std::string &command, ShellHandler handler) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_handlers[command] = std::move(handler);
}

std::vector<std::string> shell_log() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_log;
}
void shell_log_clear() {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_log.clear();
}
void shell_reset() {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_log.clear();
    g_handlers.clear();
}

int run_argv(const std::vector<std::string> &argv) {
    pid_t pid = spawn_exec(argv, -1);
    if (pid < 0) return -1;
    int st = 0;
    while (waitpid(pid, &st, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    forget_child(pid);
    return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

namespace {
pid_t fork_exec(const std::vector<std::string> &argv, int stdin_fd, int close_fd);
std::mutex g_watched_mutex; // orders end_watched against the reaping of its child
} // namespace

int run_argv_watched(const std::vector<std::string> &argv, std::atomic<pid_t> *pid) {
    pid_t child = fork_exec(argv, -1, -1); // not remembered: this thread reaps it
    if (child < 0) return -1;
    {
        std::lock_guard<std::mutex> lock(g_watched_mutex);
        pid->store(child);
    }
    // Wait for the end without reaping, so the pid stays ours until *pid is
    // cleared.
    siginfo_t info{};
    while (waitid(P_PID, id_t(child), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
    }
    {
        std::lock_guard<std::mutex> lock(g_watched_mutex);
        pid->store(0);
    }
    int st = 0;
    while (waitpid(child, &st, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

bool end_watched(std::atomic<pid_t> *pid) {
    std::lock_guard<std::mutex> lock(g_watched_mutex);
    pid_t child = pid->load();
    if (child <= 0) return false;
    return kill(child, SIGTERM) == 0;
}

pid_t spawn_exec(const std::vector<std::string> &argv, int stdin_fd, int close_fd) {
    pid_t pid = fork_exec(argv, stdin_fd, close_fd);
    if (pid > 0) remember_child(pid);
    return pid;
}

namespace {
pid_t fork_exec(const std::vector<std::string> &argv, int stdin_fd, int close_fd) {
    if (argv.empty()) return -1;
    std::vector<char *> args;
    for (auto &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        child_setup();
        if (close_fd >= 0) close(close_fd);
        if (stdin_fd >= 0) {
            dup2(stdin_fd, 0);
            if (stdin_fd != 0) close(stdin_fd);
        }
        // The child must not inherit the panel's blocked signals or its timer.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    return pid;
}
} // namespace

void reap_children() {
    std::lock_guard<std::mutex> lock(g_mutex);
    for (auto it = g_children.begin(); it != g_children.end();) {
        int st;
        pid_t r = waitpid(it->first, &st, WNOHANG);
        auto next = std::next(it);
        if (r == it->first || (r < 0 && errno == ECHILD)) drop_child_locked(it);
        it = next;
    }
}

size_t child_wait_fds(pollfd *out, size_t max, bool *unwatched) {
    std::lock_guard<std::mutex> lock(g_mutex);
    size_t n = 0;
    *unwatched = false;
    for (const auto &[pid, fd] : g_children) {
        if (fd < 0 || n == max)
            *unwatched = true;
        else
            out[n++] = pollfd{fd, POLLIN, 0};
    }
    return n;
}

bool end_child(pid_t pid) {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (pid <= 0 || !g_children.count(pid)) return false;
    }
    kill(pid, SIGTERM);
    int st;
    for (int i = 0; i < 100; ++i) {
        if (waitpid(pid, &st, WNOHANG) == pid) {
            forget_child(pid);
            return true;
        }
        usleep(10000);
    }
    kill(pid, SIGKILL);
    while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
    }
    forget_child(pid);
    return true;
}

} // namespace host
