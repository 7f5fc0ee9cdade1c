#include "platform/nvfile.h"

#include "host/root.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

NvFile::~NvFile() {
    abort();
}

bool NvFile::open(const std::string &board_path) {
    abort();
    target_ = host::path(board_path);
    size_t slash = board_path.rfind('/');
    if (slash != std::string::npos && slash > 0) host::make_dirs(board_path.substr(0, slash));
    temp_ = target_ + ".new";
    fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    return fd_ >= 0;
}

size_t NvFile::write(const void *data, size_t n) {
    if (fd_ < 0) return 0;
    const char *p = static_cast<const char *>(data);
    size_t done = 0;
    while (done < n) {
        ssize_t w = ::write(fd_, p + done, n - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) break;
        done += size_t(w);
    }
    return done;
}

bool NvFile::commit(bool sync) {
    if (fd_ < 0) return false;
    bool synced = !sync || ::fsync(fd_) == 0;
    ::close(fd_);
    fd_ = -1;
    if (::rename(temp_.c_str(), target_.c_str()) != 0) {
        ::unlink(temp_.c_str());
        return false;
    }
    if (sync) {
        // The rename itself reaches the flash with its folder.
        std::string dir = target_.substr(0, target_.rfind('/'));
        int d = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (d >= 0) {
            ::fsync(d);
            ::close(d);
        }
    }
    return synced;
}

void NvFile::abort() {
    if (fd_ < 0) return;
    ::close(fd_);
    fd_ = -1;
    ::unlink(temp_.c_str());
}

bool nv_read_file(const std::string &board_path, std::string *out) {
    FILE *f = std::fopen(host::path(board_path).c_str(), "rb");
    if (!f) return false;
    out->clear();
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;)
        out->append(buf, n);
    std::fclose(f);
    return true;
}

long nv_read_part(const std::string &board_path, void *out, size_t capacity) {
    FILE *f = std::fopen(host::path(board_path).c_str(), "rb");
    if (!f) return -1;
    size_t n = std::fread(out, 1, capacity, f);
    std::fclose(f);
    return long(n);
}

bool nv_remove(const std::string &board_path) {
    return ::unlink(host::path(board_path).c_str()) == 0 || errno == ENOENT;
}

bool nv_exists(const std::string &board_path) {
    struct stat st;
    return ::stat(host::path(board_path).c_str(), &st) == 0;
}
