#include "host/root_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace host {

namespace {
int g_fd = -1;

bool same_file(int fd, const std::string &file) {
    struct stat a {
    }, b{};
    return fstat(fd, &a) == 0 && stat(file.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

std::string holder(const std::string &file) {
    std::string text;
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return text;
    char buf[32];
    ssize_t n = ::read(fd, buf, sizeof buf - 1);
    ::close(fd);
    for (ssize_t i = 0; i < n && buf[i] >= '0' && buf[i] <= '9'; ++i)
        text += buf[i];
    return text;
}

bool lock(int fd) {
    int r;
    do
        r = flock(fd, LOCK_EX | LOCK_NB);
    while (r != 0 && errno == EINTR);
    return r == 0;
}
} // namespace

bool root_lock(const std::string &dir, std::string *error) {
    if (g_fd >= 0) return true;
    std::string run = dir + "/run";
    // mkdir -p of the folder and its run/ sub-folder.
    for (size_t at = 1; at <= run.size(); ++at)
        if (at == run.size() || run[at] == '/')
            if (::mkdir(run.substr(0, at).c_str(), 0755) != 0 && errno != EEXIST) {
                *error = "cannot create " + run.substr(0, at) + " (" + std::strerror(errno) + ")";
                return false;
            }
    std::string file = run + "/panel.lock";
    // The supervisor's descriptor: the same open file, already locked.
    if (const char *env = std::getenv(kRootLockFdEnv)) {
        char *end = nullptr;
        long fd = std::strtol(env, &end, 10);
        if (end != env && *end == 0 && fd >= 0 && fd < 65536 && fcntl(int(fd), F_GETFD) >= 0 &&
            same_file(int(fd), file) && lock(int(fd))) {
            fcntl(int(fd), F_SETFD, FD_CLOEXEC);
            g_fd = int(fd);
            return true;
        }
    }
    int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = "cannot open " + file + " (" + std::strerror(errno) + ")";
        return false;
    }
    if (!lock(fd)) {
        std::string pid = holder(file);
        ::close(fd);
        *error = "the root folder " + dir + " is in use by another panel" +
                 (pid.empty() ? "" : " (pid " + pid + ")") + "; stop it first";
        return false;
    }
    std::string pid = std::to_string(getpid()) + "\n";
    if (ftruncate(fd, 0) == 0 && ::pwrite(fd, pid.data(), pid.size(), 0) != ssize_t(pid.size())) {
    }
    g_fd = fd;
    return true;
}

int root_lock_fd() {
    return g_fd;
}

void root_lock_pass_on() {
    if (g_fd < 0) return;
    fcntl(g_fd, F_SETFD, 0);
    setenv(kRootLockFdEnv, std::to_string(g_fd).c_str(), 1);
}

} // namespace host
