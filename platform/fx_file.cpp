// File and directory operations of the media file layer: each builds the
// board path of a name, calls the system and turns errno into an fx status.
#include "host/root.h"
#include "platform/media.h"
#include "platform/rtc.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <initializer_list>
#include <string>
#include <utility>

namespace {
using ErrMap = std::initializer_list<std::pair<int, uint32_t>>;

// errno -> fx status: the operation's own cases, then the common ones.
uint32_t fx_errno(int err, ErrMap own) {
    for (auto &[e, status] : own)
        if (e == err) return status;
    if (err == ENOSPC) return fx::kNoMoreSpace;
    if (err == EIO) return fx::kIoError;
    return fx::kAccessError;
}

bool has_prefix(const char *p) {
    return p[0] && p[1] == ':';
}
bool is_sep(char c) {
    return c == '/' || c == '\\';
}

int record_drive(const FxMedia *m) {
    if (m == &Cf_Media2) return 1;
    if (m == &Cf_Media3) return 2;
    return 0;
}

// Board path of a name on a drive record. A name with a separator is taken as
// it is; any other is joined to a current directory: the record's own, or for
// a name "X:NAME" that of drive X. Without a drive letter a name is on the
// drive of the record it comes with.
uint32_t resolve(FxMedia *m, const char *name, std::string *out, bool always_join = false,
                 int *drive_out = nullptr) {
    std::string text;
    if (!always_join && std::strpbrk(name, "/\\")) {
        text = name;
    } else if (!always_join && has_prefix(name)) {
        int d = Cf_PathDrive(name, 0);
        if (d < 0) {
            text = name;
        } else {
            const char *cur = Fx_MediaOf(d)->cur_dir;
            text = has_prefix(cur) ? std::string(cur) + (name + 2)
                                   : std::string(name, 2) + cur + (name + 2);
        }
    } else {
        text = std::string(m->cur_dir) + name;
    }
    if (text.size() >= kFxPathMax) return fx::kInvalidPath;
    char buf[kFxPathMax];
    int drive = has_prefix(text.c_str()) ? Cf_PathDrive(text.c_str(), 0) : record_drive(m);
    if (drive_out) *drive_out = drive;
    if (!CfDriveChk(text.c_str(), buf, has_prefix(text.c_str()) ? 255 : drive))
        return fx::kMediaNotOpen;
    // A path cut to fit would name another file.
    if (std::strlen(buf) >= kFxPathMax - 1) return fx::kInvalidPath;
    *out = buf;
    return fx::kSuccess;
}

std::string host_path(const std::string &board) {
    return host::path(board);
}

// The panel clock's time, for the stamps of written and renamed files; false
// while the clock holds no valid date.
bool panel_time(timespec *ts) {
    uint16_t cal[7];
    sigset_t alrm, old;
    sigemptyset(&alrm);
    sigaddset(&alrm, SIGALRM);
    pthread_sigmask(SIG_BLOCK, &alrm, &old);
    RtcGet(cal);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    if (cal[5] < 1980 || cal[4] < 1 || cal[4] > 12 || cal[3] < 1 || cal[3] > 31) return false;
    tm t{};
    t.tm_sec = cal[0];
    t.tm_min = cal[1];
    t.tm_hour = cal[2];
    t.tm_mday = cal[3];
    t.tm_mon = cal[4] - 1;
    t.tm_year = cal[5] - 1900;
    t.tm_isdst = -1;
    time_t when = mktime(&t);
    if (when == time_t(-1)) return false;
    ts[0] = ts[1] = timespec{when, 0};
    return true;
}

void stamp_fd(int fd) {
    timespec ts[2];
    if (panel_time(ts)) ::futimens(fd, ts);
}

void stamp_path(const std::string &board) {
    timespec ts[2];
    if (panel_time(ts)) ::utimensat(AT_FDCWD, host_path(board).c_str(), ts, 0);
}

// A file left open on a medium that has been taken out fails as on the board.
bool medium_gone(const FxFile *f) {
    if (f->drive > 1 || !MntDrive[f->drive].device[0]) return false;
    struct stat st;
    return ::stat(host::path(MntDrive[f->drive].device).c_str(), &st) != 0;
}

uint8_t attributes_of(const struct stat &st) {
    uint8_t a = 0;
    if (S_ISDIR(st.st_mode)) a |= fx::kDirectory;
    if (!(st.st_mode & S_IWUSR)) a |= fx::kReadOnly;
    if (!(st.st_mode & S_IRGRP)) a |= fx::kSystem;
    return a;
}

struct EntryOut {
    uint32_t *attributes, *size, *year, *month, *day, *hour, *minute, *second;
};

void fill_entry(const struct stat &st, const EntryOut &o) {
    tm t{};
    time_t mt = st.st_mtime;
    localtime_r(&mt, &t);
    if (o.attributes) *o.attributes = attributes_of(st);
    if (o.size) *o.size = st.st_size > 0xFFFFFFFFll ? 0xFFFFFFFFu : uint32_t(st.st_size);
    if (o.year) *o.year = uint32_t(t.tm_year + 1900);
    if (o.month) *o.month = uint32_t(t.tm_mon + 1);
    if (o.day) *o.day = uint32_t(t.tm_mday);
    if (o.hour) *o.hour = uint32_t(t.tm_hour);
    if (o.minute) *o.minute = uint32_t(t.tm_min);
    if (o.second) *o.second = uint32_t(t.tm_sec);
}

// Media folders hold FAT volumes mounted with a umask of 002: what is created
// there reads as group-readable whatever mode is asked; the internal flash
// keeps the mode given.
mode_t create_mode(const std::string &board) {
    return board.rfind("/mnt/cfg", 0) == 0 ? 0600 : 0664;
}

uint32_t chmod_status(const std::string &board, uint32_t attributes, bool directory) {
    mode_t mode = (attributes & fx::kReadOnly) ? 0444 : 0774;
    if (attributes & fx::kSystem) mode = 0700;
    if (::chmod(host_path(board).c_str(), mode) == 0) return fx::kSuccess;
    if (!directory) return fx::kInvalidAttr;
    switch (errno) {
    case EINVAL:
        return fx::kInvalidAttr;
    case ENOENT:
        return fx::kInvalidPath;
    case ENOTDIR:
        return fx::kNotDirectory;
    default:
        return fx::kSuccess;
    }
}
} // namespace

int Cf_PathDrive(const char *path, int fallback) {
    if (!path || !has_prefix(path)) return fallback;
    switch (std::toupper(static_cast<unsigned char>(path[0]))) {
    case 'A':
        return 0;
    case 'B':
        return 1;
    case 'Z':
        return 2;
    default:
        return -1;
    }
}

int CfDriveChk(const char *path, char *out, int drive) {
    out[0] = 0;
    if (drive == 255) {
        drive = Cf_PathDrive(path, 0);
        if (drive < 0) {
            std::strcpy(out, "/");
            return 0;
        }
    }
    int mounted = MountDrive(drive, out);
    if (!mounted || !path[0]) {
        std::strncat(out, "/", kFxPathMax - std::strlen(out) - 1);
        return mounted;
    }
    const char *rest = has_prefix(path) ? path + 2 : path;
    size_t n = std::strlen(out);
    if (!is_sep(rest[0]) && n < kFxPathMax - 1) out[n++] = '/';
    for (; *rest && n < kFxPathMax - 1; ++rest)
        out[n++] = *rest == '\\' ? '/' : *rest;
    out[n] = 0;
    return 1;
}

uint32_t _fxe_file_create(FxMedia *media, const char *name) {
    std::string p;
    if (uint32_t st = resolve(media, name, &p)) return st;
    int fd = ::open(host_path(p).c_str(), O_RDWR | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC,
                    create_mode(p));
    if (fd < 0)
        return fx_errno(
            errno,
            {{ENOENT, fx::kInvalidPath}, {EFAULT, fx::kInvalidPath}, {ENFILE, fx::kIoError}});
    ::close(fd);
    return fx::kSuccess;
}

uint32_t _fxe_file_open(FxMedia *media, FxFile *file, const char *name, uint32_t open_type,
                        uint32_t) {
    if (file->open) _fxe_file_close(file);
    std::string p;
    int drive = 0;
    if (uint32_t st = resolve(media, name, &p, false, &drive)) return st;
    int flags = O_NONBLOCK | O_CLOEXEC;
    switch (open_type) {
    case 0:
        flags |= O_RDONLY;
        break;
    case 1:
        flags |= O_RDWR;
        break;
    case 4:
        flags |= O_RDWR | O_TRUNC;
        break;
    default:
        flags |= O_RDWR | O_APPEND;
        break;
    }
    int fd;
    do {
        fd = ::open(host_path(p).c_str(), flags);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return fx_errno(errno, {{ENOENT, fx::kNotFound},
                                {EISDIR, fx::kNotAFile},
                                {EFAULT, fx::kInvalidPath},
                                {ENFILE, fx::kIoError}});
    if (fd == 0) {
        // Descriptor 0 marks a closed record.
        int again = ::fcntl(fd, F_DUPFD_CLOEXEC, 1);
        ::close(fd);
        if (again < 0) return fx::kAccessError;
        fd = again;
    }
    file->descriptor = uint32_t(fd);
    file->open = 1;
    file->drive = uint32_t(drive);
    struct stat st;
    if (::fstat(fd, &st) == 0) {
        file->size = uint32_t(st.st_size);
        file->size_at_open = file->size;
    }
    return fx::kSuccess;
}

uint32_t _fxe_file_close(FxFile *file) {
    if (!file->open) return fx::kSuccess;
    int r = ::close(int(file->descriptor));
    file->descriptor = 0;
    file->open = 0;
    return r == 0 ? fx::kSuccess : fx::kNotOpen;
}

uint32_t _fxe_file_read(FxFile *file, void *buffer, uint32_t length, uint32_t *actual) {
    if (actual) *actual = 0;
    if (!file->open) return fx::kNotOpen;
    if (medium_gone(file)) return fx::kIoError;
    ssize_t n;
    do {
        n = ::read(int(file->descriptor), buffer, length);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return fx_errno(errno, {{EBADF, fx::kNotOpen}, {EISDIR, fx::kNotAFile}});
    if (actual) *actual = uint32_t(n);
    return n == 0 ? fx::kEndOfFile : fx::kSuccess;
}

uint32_t _fxe_file_write(FxFile *file, const void *buffer, uint32_t length) {
    if (!file->open) return fx::kNotOpen;
    if (medium_gone(file)) return fx::kIoError;
    int fd = int(file->descriptor);
    const uint8_t *p = static_cast<const uint8_t *>(buffer);
    // A short write is carried on, so that no bytes are lost unreported.
    uint32_t done = 0;
    uint32_t status = fx::kSuccess;
    while (done < length) {
        ssize_t n = ::write(fd, p + done, length - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            status = n < 0 ? fx_errno(errno, {{EBADF, fx::kNotOpen}, {EISDIR, fx::kNotAFile}})
                           : fx::kNoMoreSpace;
            break;
        }
        done += uint32_t(n);
    }
    struct stat st;
    if (::fstat(fd, &st) == 0) file->size = uint32_t(st.st_size);
    if (status == fx::kSuccess) stamp_fd(fd);
    return status;
}

uint32_t _fxe_file_seek(FxFile *file, uint32_t offset) {
    return _fxe_file_relative_seek(file, offset, 0);
}

uint32_t _fxe_file_relative_seek(FxFile *file, uint32_t offset, uint32_t from) {
    if (!file->open) return fx::kNotOpen;
    int fd = int(file->descriptor);
    off_t r;
    if (from == 0) {
        r = ::lseek(fd, off_t(offset), SEEK_SET);
    } else if (from == 1) {
        // From the end: that many bytes back from it.
        off_t end = ::lseek(fd, 0, SEEK_END);
        r = end < 0 ? end : ::lseek(fd, end > off_t(offset) ? end - off_t(offset) : 0, SEEK_SET);
    } else {
        r = ::lseek(fd, off_t(offset), SEEK_CUR);
    }
    if (r < 0) return fx_errno(errno, {{EBADF, fx::kNotOpen}, {EISDIR, fx::kNotAFile}});
    return fx::kSuccess;
}

uint32_t _fxe_file_truncate(FxFile *file, uint32_t length) {
    if (!file->open) return fx::kNotOpen;
    if (::ftruncate(int(file->descriptor), off_t(length)) != 0)
        return fx_errno(errno, {{EBADF, fx::kNotOpen}});
    file->size = length;
    return fx::kSuccess;
}

uint32_t _fxe_file_delete(FxMedia *media, const char *name) {
    std::string p;
    if (uint32_t st = resolve(media, name, &p)) return st;
    if (::unlink(host_path(p).c_str()) != 0)
        return fx_errno(
            errno, {{ENOENT, fx::kNotFound}, {EISDIR, fx::kNotAFile}, {EFAULT, fx::kInvalidPath}});
    return fx::kSuccess;
}

uint32_t _fxe_file_rename(FxMedia *media, const char *old_name, const char *new_name) {
    std::string from, to;
    if (uint32_t st = resolve(media, old_name, &from)) return st;
    if (uint32_t st = resolve(media, new_name, &to)) return st;
    int fd = ::open(host_path(from).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return fx::kInvalidPath;
    ::close(fd);
    // A new name that differs only in case is the same file on FAT media.
    std::string host_from = host_path(from), host_to = host_path(to);
    if (host_to != host_from) {
        fd = ::open(host_to.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            ::close(fd);
            return fx::kAlreadyCreated;
        }
    }
    if (::rename(host_from.c_str(), host_to.c_str()) != 0)
        return fx_errno(errno, {{EEXIST, fx::kDirNotEmpty}, {ENOTEMPTY, fx::kDirNotEmpty}});
    stamp_path(to);
    return fx::kSuccess;
}

uint32_t _fxe_directory_rename(FxMedia *media, const char *old_name, const char *new_name) {
    std::string from, to;
    if (uint32_t st = resolve(media, old_name, &from)) return st;
    if (uint32_t st = resolve(media, new_name, &to)) return st;
    if (::rename(host_path(from).c_str(), host_path(to).c_str()) != 0)
        return fx_errno(errno, {{EEXIST, fx::kDirNotEmpty}, {ENOTEMPTY, fx::kDirNotEmpty}});
    return fx::kSuccess;
}

uint32_t _fxe_directory_create(FxMedia *media, const char *name) {
    std::string p;
    if (uint32_t st = resolve(media, name, &p)) return st;
    if (::mkdir(host_path(p).c_str(), 0775) != 0 && errno != EINTR)
        return fx_errno(errno, {{EEXIST, fx::kAlreadyCreated},
                                {EFAULT, fx::kInvalidPath},
                                {EROFS, fx::kWriteProtect}});
    return fx::kSuccess;
}

uint32_t _fxe_directory_delete(FxMedia *media, const char *name) {
    std::string p;
    if (uint32_t st = resolve(media, name, &p)) return st;
    if (::rmdir(host_path(p).c_str()) != 0)
        return fx_errno(errno, {{ENOTDIR, fx::kNotDirectory},
                                {ENOTEMPTY, fx::kDirNotEmpty},
                                {EEXIST, fx::kDirNotEmpty},
                                {EFAULT, fx::kInvalidPath},
                                {EROFS, fx::kWriteProtect}});
    return fx::kSuccess;
}

uint32_t _fxe_directory_name_test(FxMedia *media, const char *name) {
    std::string p;
    if (uint32_t st = resolve(media, name, &p)) return st;
    DIR *d = ::opendir(host_path(p).c_str());
    if (!d) return fx_errno(errno, {{ENOENT, fx::kNotFound}, {ENOTDIR, fx::kNotDirectory}});
    ::closedir(d);
    return fx::kSuccess;
}

uint32_t _fxe_file_attributes_set(FxMedia *media, const char *name, uint32_t attributes) {
    std::string p;
    if (uint32_t st = resolve(media, name, &p)) return st;
    return chmod_status(p, attributes, false);
}

uint32_t _fxe_directory_attributes_set(FxMedia *media, const char *name, uint32_t attributes) {
    std::string p;
    if (uint32_t st = resolve(media, name, &p)) return st;
    return chmod_status(p, attributes, true);
}

uint32_t _fxe_file_attributes_read(FxMedia *media, const char *name, uint32_t *attributes) {
    std::string p;
    if (uint32_t st = resolve(media, name, &p)) return st;
    struct stat st;
    if (::stat(host_path(p).c_str(), &st) != 0) return fx::kInvalidPath;
    if (attributes) *attributes = attributes_of(st);
    return S_ISDIR(st.st_mode) ? fx::kNotAFile : fx::kSuccess;
}

uint32_t _fxe_directory_attributes_read(FxMedia *media, const char *name, uint32_t *attributes) {
    std::string p;
    if (uint32_t st = resolve(media, name, &p)) return st;
    struct stat st;
    if (::stat(host_path(p).c_str(), &st) != 0) return fx::kInvalidPath;
    if (attributes) *attributes = attributes_of(st);
    return fx::kSuccess;
}

uint32_t _fxe_directory_information_get(FxMedia *media, const char *name, uint32_t *attributes,
                                        uint32_t *size, uint32_t *year, uint32_t *month,
                                        uint32_t *day, uint32_t *hour, uint32_t *minute,
                                        uint32_t *second) {
    std::string p;
    if (uint32_t st = resolve(media, name, &p, true)) return st;
    struct stat st;
    if (::stat(host_path(p).c_str(), &st) != 0) return fx::kNotFound;
    fill_entry(st, {attributes, size, year, month, day, hour, minute, second});
    return fx::kSuccess;
}

uint32_t _fxe_directory_first_full_entry_find(FxMedia *media, char *name, uint32_t *attributes,
                                              uint32_t *size, uint32_t *year, uint32_t *month,
                                              uint32_t *day, uint32_t *hour, uint32_t *minute,
                                              uint32_t *second) {
    if (media->listing) {
        ::closedir(media->listing);
        media->listing = nullptr;
    }
    std::string p;
    if (uint32_t st = resolve(media, "", &p)) return st;
    DIR *d = ::opendir(host_path(p).c_str());
    if (!d) return fx_errno(errno, {{ENOENT, fx::kNotFound}, {ENOTDIR, fx::kNotDirectory}});
    media->listing = d;
    std::snprintf(media->listing_dir, sizeof media->listing_dir, "%s", p.c_str());
    return _fxe_directory_next_full_entry_find(media, name, attributes, size, year, month, day,
                                               hour, minute, second);
}

uint32_t _fxe_directory_next_full_entry_find(FxMedia *media, char *name, uint32_t *attributes,
                                             uint32_t *size, uint32_t *year, uint32_t *month,
                                             uint32_t *day, uint32_t *hour, uint32_t *minute,
                                             uint32_t *second) {
    if (!media->listing) {
        std::string p;
        if (resolve(media, "", &p) != fx::kSuccess) return fx::kNoMoreEntries;
        media->listing = ::opendir(host_path(p).c_str());
        if (!media->listing) return fx::kNoMoreEntries;
        std::snprintf(media->listing_dir, sizeof media->listing_dir, "%s", p.c_str());
    }
    errno = 0;
    dirent *e = ::readdir(media->listing);
    if (!e) {
        int err = errno;
        ::closedir(media->listing);
        media->listing = nullptr;
        return err == EBADF ? fx::kNotDirectory : fx::kNoMoreEntries;
    }
    std::snprintf(name, kFxPathMax, "%s", e->d_name);
    std::string dir = media->listing_dir;
    std::string full = dir + (dir.empty() || dir.back() != '/' ? "/" : "") + e->d_name;
    if (full.size() >= kFxPathMax) return fx::kInvalidPath;
    struct stat st;
    if (::stat(host_path(full).c_str(), &st) == 0)
        fill_entry(st, {attributes, size, year, month, day, hour, minute, second});
    return fx::kSuccess;
}

uint32_t _fxe_directory_local_path_set(FxMedia *media, FxLocalPath *record, const char *new_path) {
    if (!new_path) return fx::kSuccess;
    std::string cur;
    if ((is_sep(new_path[0]) && !new_path[1]))
        cur = "";
    else if (is_sep(new_path[0]) || has_prefix(new_path))
        cur = new_path;
    else
        cur = std::string(media->cur_dir) + new_path;
    if (!cur.empty() && cur.back() != '/') cur += '/';
    // A directory that does not fit is refused rather than cut to another one.
    if (cur.size() >= kFxPathMax) return fx::kInvalidPath;
    std::strcpy(media->cur_dir, cur.c_str());
    if (record) std::strcpy(record->path, media->cur_dir);
    media->local_path = record;
    return fx::kSuccess;
}

uint32_t _fxe_directory_local_path_restore(FxMedia *media, FxLocalPath *record) {
    if (record)
        std::snprintf(media->cur_dir, sizeof media->cur_dir, "%s", record->path);
    else
        media->cur_dir[0] = 0;
    media->local_path = record;
    return fx::kSuccess;
}

uint32_t _fxe_directory_local_path_get(FxMedia *media, char *out) {
    std::strcpy(out, media->cur_dir);
    return fx::kSuccess;
}
