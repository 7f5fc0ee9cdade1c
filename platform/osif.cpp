#include "platform/osif.h"

#include "host/clock.h"
#include "host/dynlib.h"
#include "host/root.h"
#include "host/shell.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {
std::vector<FILE *> g_files; // handle h is g_files[h - 1]; null = free

bool has_dotdot(const char *p) {
    for (const char *c = p; *c; ++c) {
        bool start = c == p || c[-1] == '/';
        if (start && c[0] == '.' && c[1] == '.' && (c[2] == 0 || c[2] == '/')) return true;
    }
    return false;
}

bool usable(const char *p) {
    return p && *p && !has_dotdot(p);
}

FILE *stream(uint32_t h) {
    return h >= 1 && h <= g_files.size() ? g_files[h - 1] : nullptr;
}
} // namespace

uint32_t OsFile_Open(const char *board_path, const char *mode) {
    if (!usable(board_path)) return 0;
    FILE *f = std::fopen(host::path(board_path).c_str(), mode);
    if (!f) return 0;
    for (size_t i = 0; i < g_files.size(); ++i)
        if (!g_files[i]) {
            g_files[i] = f;
            return uint32_t(i + 1);
        }
    g_files.push_back(f);
    return uint32_t(g_files.size());
}

bool OsFile_Close(uint32_t h) {
    FILE *f = stream(h);
    if (!f) return false;
    g_files[h - 1] = nullptr;
    return std::fclose(f) == 0;
}

bool OsFile_Valid(uint32_t h) {
    return stream(h) != nullptr;
}

size_t OsFile_Read(uint32_t h, void *buf, size_t n) {
    FILE *f = stream(h);
    return f && n ? std::fread(buf, 1, n, f) : 0;
}

size_t OsFile_Write(uint32_t h, const void *buf, size_t n) {
    FILE *f = stream(h);
    return f && n ? std::fwrite(buf, 1, n, f) : 0;
}

bool OsFile_Seek(uint32_t h, int64_t offset, int whence) {
    FILE *f = stream(h);
    return f && fseeko(f, off_t(offset), whence) == 0;
}

int OsFile_Getc(uint32_t h) {
    FILE *f = stream(h);
    return f ? std::fgetc(f) : -1;
}

bool OsFile_Eof(uint32_t h) {
    FILE *f = stream(h);
    return !f || std::feof(f);
}

bool OsFile_Flush(uint32_t h) {
    FILE *f = stream(h);
    return f && std::fflush(f) == 0;
}

bool OsFile_Remove(const char *board_path) {
    return usable(board_path) && std::remove(host::path(board_path).c_str()) == 0;
}

bool OsFile_Rename(const char *from, const char *to) {
    return usable(from) && usable(to) &&
           std::rename(host::path(from).c_str(), host::path(to).c_str()) == 0;
}

int64_t OsFile_Size(const char *board_path) {
    struct stat st;
    if (!usable(board_path) || ::stat(host::path(board_path).c_str(), &st) != 0) return -1;
    return int64_t(st.st_size);
}

bool OsFile_Exists(const char *board_path) {
    return OsFile_Size(board_path) >= 0;
}

size_t OsFile_OpenCount() {
    size_t n = 0;
    for (FILE *f : g_files)
        n += f != nullptr;
    return n;
}

void OsFile_Reset() {
    for (FILE *f : g_files)
        if (f) std::fclose(f);
    g_files.clear();
}

int64_t Os_WallNs() {
    return host::wall_ns();
}

int Os_Command(const char *cmdline) {
    return cmdline ? host::shell(cmdline) : -1;
}

namespace {
std::string g_lib_error;
}

void *OsLib_Open(const char *board_path) {
    if (!usable(board_path)) {
        g_lib_error = "bad library name";
        return nullptr;
    }
    void *lib = host::dynlib_open(board_path);
    g_lib_error = lib ? "" : host::dynlib_error();
    return lib;
}

void *OsLib_Symbol(void *lib, const char *name) {
    return host::dynlib_symbol(lib, name);
}

void OsLib_Close(void *lib) {
    host::dynlib_close(lib);
}

const char *OsLib_Error() {
    return g_lib_error.c_str();
}
