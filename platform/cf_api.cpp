// Media file API: card status codes over the media file layer; files,
// listings with name patterns, delete, rename, copy and directory trees.
#include "platform/cf_api.h"

#include "platform/fileinst.h"
#include "platform/slice.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

// clang-format off
const int16_t CfStatusTable[37] = {
    0, 5, 5, 5, 66, 73, 77, 73, 92, -1, 92, 81, 86, 66, 66, 81, 92, 2, 86, 86,
    86, 86, 86, 86, 86, 86, 5, 5, 5, 5, 5, 5, 5, 5, 5, 92, 86};
// clang-format on
uint32_t CfResult;
int16_t CfStatus;

namespace {
CfFindRecord g_tree[16]; // one listing per level of a tree removal
int g_tree_depth;
FxLocalPath g_dir_record[3];  // current directories set by CF_ChangeDir
FxLocalPath g_list_record[3]; // directory of a running listing

bool is_sep(char c) {
    return c == '/' || c == '\\';
}
bool has_prefix(const char *p) {
    return p[0] && p[1] == ':';
}

int16_t done(uint32_t fx_status, int drive) {
    CfResult = fx_status;
    CfStatus = CfResultDecode(fx_status, drive);
    return CfStatus;
}
int16_t status(int16_t card) {
    CfStatus = card;
    return card;
}

int valid_drive(int drive) {
    return drive >= 0 && drive <= 2 ? drive : 0;
}

// The drive a name picks: "B:" drive 1, "Z:" drive 2, anything else drive 0.
int name_drive(const char *name) {
    int d = Cf_PathDrive(name, 0);
    return d < 0 ? 0 : d;
}

bool worker_busy() {
    return RmDeleteOpsThreadId || RmDelAllOpsThreadId || RmDelFromObjOpsThreadId ||
           RmFormatOpsThreadId;
}

std::string upper(std::string s) {
    for (char &c : s)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// The path with its last component in upper case.
std::string upper_name(const char *path) {
    std::string p = path;
    size_t at = p.find_last_of("/\\");
    size_t from = at == std::string::npos ? (has_prefix(path) ? 2 : 0) : at + 1;
    return p.substr(0, from) + upper(p.substr(from));
}

void restore_dir(FxMedia *m, CfFindRecord *rec) {
    _fxe_directory_local_path_restore(m, &rec->saved);
    m->local_path = nullptr; // the record belongs to the caller
}

uint16_t fat_time(uint32_t h, uint32_t mi, uint32_t s) {
    return uint16_t(h * 2048 + mi * 32 + s / 2);
}
uint16_t fat_date(uint32_t y, uint32_t mo, uint32_t d) {
    return uint16_t(d + mo * 32 + (y > 1980 ? y - 1980 : 0) * 512);
}

// Steps through the listing from an entry just read (or a failure) to the
// next entry that matches the record's pattern.
int16_t scan(int drive, CfFindRecord *rec, uint32_t st, uint32_t *attr, uint32_t *size,
             uint32_t *t) {
    FxMedia *m = Fx_MediaOf(drive);
    for (;;) {
        if (st != fx::kSuccess) {
            restore_dir(m, rec);
            return done(st, drive);
        }
        char base[256], ext[15];
        if (*attr & fx::kDirectory) {
            std::snprintf(base, sizeof base, "%s", upper(rec->long_name).c_str());
            ext[0] = 0;
        } else if (CF_FileParse(base, ext, rec->long_name) != 0) {
            // A name such as ".profile" is listed whole, so it can be removed too.
            std::snprintf(base, sizeof base, "%s", upper(rec->long_name).c_str());
            ext[0] = 0;
        }
        if (base[0] &&
            CfPatternCmp(base, rec->pattern_name, uint32_t(std::strlen(rec->pattern_name))) &&
            CfPatternCmp(ext, rec->pattern_ext, uint32_t(std::strlen(rec->pattern_ext)))) {
            std::strcpy(rec->short_name, base);
            std::strcpy(rec->extension, ext);
            rec->attributes = uint8_t(*attr);
            rec->size = *size;
            rec->time = fat_time(t[3], t[4], t[5]);
            rec->date = fat_date(t[0], t[1], t[2]);
            return status(cf::kOk);
        }
        *attr = *size = 0;
        std::fill(t, t + 6, 0u);
        st = _fxe_directory_next_full_entry_find(m, rec->long_name, attr, size, &t[0], &t[1], &t[2],
                                                 &t[3], &t[4], &t[5]);
    }
}

int16_t copy_one(const char *src, const char *dst) {
    int sd = name_drive(src), dd = name_drive(dst);
    FxMedia *ms = Fx_MediaOf(sd), *md = Fx_MediaOf(dd);
    FxFile in{}, out{};
    uint32_t st = _fxe_file_open(ms, &in, src, 0);
    if (st) return done(st, sd);
    // The same file under both names: nothing to copy (deleting the
    // destination would lose the source).
    FxFile probe{};
    if (_fxe_file_open(md, &probe, dst, 0) == fx::kSuccess) {
        struct stat a, b;
        bool same = fstat(int(in.descriptor), &a) == 0 && fstat(int(probe.descriptor), &b) == 0 &&
                    a.st_dev == b.st_dev && a.st_ino == b.st_ino;
        _fxe_file_close(&probe);
        if (same) {
            _fxe_file_close(&in);
            return status(cf::kOk);
        }
    }
    _fxe_file_delete(md, dst);
    st = _fxe_file_create(md, dst);
    if (!st) st = _fxe_file_open(md, &out, dst, 1);
    if (st) {
        _fxe_file_close(&in);
        return done(st, dd);
    }
    uint8_t block[1024];
    int drive = sd;
    for (;;) {
        uint32_t n = 0;
        st = _fxe_file_read(&in, block, sizeof block, &n);
        if (st == fx::kEndOfFile) {
            st = fx::kSuccess;
            break;
        }
        if (st) break;
        st = _fxe_file_write(&out, block, n);
        if (st) {
            drive = dd;
            break;
        }
        SlicePoint();
    }
    _fxe_file_close(&in);
    uint32_t cl = _fxe_file_close(&out);
    if (!st && cl) {
        st = cl;
        drive = dd;
    }
    _fxe_media_flush(md);
    return done(st, drive);
}

bool is_root(const std::string &path) {
    std::string rest = has_prefix(path.c_str()) ? path.substr(2) : path;
    return rest.empty() || (rest.size() == 1 && is_sep(rest[0]));
}

int16_t remove_tree(int drive, const std::string &path, int depth) {
    if (depth > 15) return status(cf::kTooDeep);
    g_tree_depth = depth;
    FxMedia *m = Fx_MediaOf(drive);
    CfFindRecord *rec = &g_tree[depth];
    std::string pattern = path + (path.empty() || is_sep(path.back()) ? "" : "\\") + "*.*";
    int16_t st = CF_GetFirst(drive, rec, pattern.c_str());
    while (st == cf::kOk) {
        std::string name = rec->long_name;
        if (name != "." && name != "..") {
            // The entry's own name: on the internal flash names keep their case.
            std::string full = path + (is_sep(path.back()) ? "" : "\\") + name;
            if (rec->attributes & fx::kDirectory) {
                int16_t r = remove_tree(drive, full, depth + 1);
                g_tree_depth = depth;
                if (r != cf::kOk) {
                    CF_GetDone(drive, rec);
                    return status(r);
                }
            } else if (!(rec->attributes & fx::kVolume)) {
                if (rec->attributes & fx::kReadOnly)
                    _fxe_file_attributes_set(m, full.c_str(), rec->attributes & ~fx::kReadOnly);
                uint32_t r = _fxe_file_delete(m, full.c_str());
                if (r) {
                    CF_GetDone(drive, rec);
                    return done(r, drive);
                }
            }
        }
        st = CF_GetNext(drive, rec);
    }
    if (st != cf::kExists) return status(st);
    // A drive's root is emptied, never removed.
    if (is_root(path)) return status(cf::kOk);
    uint32_t attr = 0;
    if (_fxe_directory_attributes_read(m, path.c_str(), &attr) == fx::kSuccess &&
        (attr & fx::kReadOnly))
        _fxe_directory_attributes_set(m, path.c_str(), attr & ~fx::kReadOnly);
    return done(_fxe_directory_delete(m, path.c_str()), drive);
}
} // namespace

int16_t CfResultDecode(uint32_t fx_status, int drive) {
    if (fx_status == fx::kIoError) {
        char out[kFxPathMax];
        return MountDrive(valid_drive(drive), out) ? cf::kMediaFault : cf::kAbsent;
    }
    return fx_status < 37 ? CfStatusTable[fx_status] : cf::kMediaFault;
}

int16_t CfStateDecode(int state) {
    switch (state) {
    case 0:
        return 2;
    case 1:
        return 4;
    case 2:
        return 1;
    case 82:
        return 82;
    default:
        return 0;
    }
}

int16_t CF_Init() {
    Cf_Init();
    g_tree_depth = 0;
    return status(2);
}

int16_t CF_GetStatus(int drive) {
    drive = valid_drive(drive);
    if (!MntDrive[drive].mounted && worker_busy()) return status(cf::kBusy);
    char out[kFxPathMax];
    return status(CfStateDecode(MountDrive(drive, out) ? 3 : 0));
}

int16_t CF_FormatCard(int drive) {
    drive = valid_drive(drive);
    if (!MntDrive[drive].mounted && worker_busy()) return status(cf::kBusy);
    return status(CfStateDecode(Cf_Format(0, drive)));
}

int16_t CF_GetFreeSpace(int drive, uint32_t *total_kb, uint32_t *free_kb) {
    drive = valid_drive(drive);
    if (!MntDrive[drive].mounted && worker_busy()) return status(cf::kBusy);
    FxMedia *m = Fx_MediaOf(drive);
    m->drive = uint32_t(drive);
    uint32_t free = 0;
    uint32_t st = _fxe_media_space_available(m, &free);
    // The total of this query's own figures (not those of the query before).
    uint64_t total = st ? 0 : uint64_t(m->total_blocks) * m->block_factor * m->block_kb;
    if (total_kb) *total_kb = total > 0xFFFFFFFFull ? 0xFFFFFFFFu : uint32_t(total);
    if (free_kb) *free_kb = st ? 0 : free;
    return done(st, drive);
}

int16_t CF_Open(FxFile *file, const char *path, uint32_t mode) {
    char dir[kFxPathMax], base[256], ext[15];
    if (!path || CF_PathParse(dir, base, ext, path) != 0 || !base[0]) return status(cf::kInvalid);
    int drive = name_drive(path);
    FxMedia *m = Fx_MediaOf(drive);
    std::string name = path;
    if (mode & 0x0E) {
        _fxe_file_delete(m, path);
        name = upper_name(path);
        if (uint32_t st = _fxe_file_create(m, name.c_str())) return done(st, drive);
        if (mode & 0x08) _fxe_file_attributes_set(m, name.c_str(), fx::kArchive | fx::kSystem);
    }
    if (uint32_t st = _fxe_file_open(m, file, name.c_str(), mode == 0 ? 0 : 1))
        return done(st, drive);
    uint32_t st = (mode & 0x01) ? _fxe_file_relative_seek(file, 0, 1) : _fxe_file_seek(file, 0);
    return done(st, drive);
}

int16_t CF_Read(FxFile *file, void *buffer, uint32_t length, uint32_t *actual) {
    uint32_t n = 0;
    uint32_t st = _fxe_file_read(file, buffer, length, &n);
    if (actual) *actual = n;
    return done(st, int(file->drive));
}

int16_t CF_Write(FxFile *file, const void *buffer, uint32_t length, uint32_t *written) {
    uint32_t st = _fxe_file_write(file, buffer, length);
    if (written) *written = st ? 0 : length;
    return done(st, int(file->drive));
}

int16_t CF_Close(FxFile *file) {
    int drive = int(file->drive);
    uint32_t st = _fxe_file_close(file);
    _fxe_media_flush(Fx_MediaOf(drive));
    return done(st, drive);
}

int16_t CF_Size(FxFile *file, uint32_t *size) {
    if (size) *size = file->size_at_open;
    return status(cf::kOk);
}

int16_t CF_ChangeDir(int drive, const char *path) {
    if (drive < 0 || drive > 2 || !path) return status(cf::kInvalid);
    return done(_fxe_directory_local_path_set(Fx_MediaOf(drive), &g_dir_record[drive], path),
                drive);
}

int16_t CF_GetFirst(int drive, CfFindRecord *rec, const char *pattern) {
    drive = valid_drive(drive);
    FxMedia *m = Fx_MediaOf(drive);
    std::strcpy(rec->saved.path, m->cur_dir);
    char dir[kFxPathMax];
    if (!pattern || CF_PathParse(dir, rec->pattern_name, rec->pattern_ext, pattern) != 0)
        return status(cf::kInvalid);
    // "X:" alone keeps the drive's current directory.
    if (dir[0] && !(has_prefix(dir) && !dir[2])) {
        uint32_t st = _fxe_directory_local_path_set(m, &g_list_record[drive], dir);
        if (st) return done(st, drive);
    }
    uint32_t attr = 0, size = 0, t[6] = {};
    uint32_t st = _fxe_directory_first_full_entry_find(m, rec->long_name, &attr, &size, &t[0],
                                                       &t[1], &t[2], &t[3], &t[4], &t[5]);
    return scan(drive, rec, st, &attr, &size, t);
}

int16_t CF_GetNext(int drive, CfFindRecord *rec) {
    drive = valid_drive(drive);
    uint32_t attr = 0, size = 0, t[6] = {};
    uint32_t st = _fxe_directory_next_full_entry_find(
        Fx_MediaOf(drive), rec->long_name, &attr, &size, &t[0], &t[1], &t[2], &t[3], &t[4], &t[5]);
    return scan(drive, rec, st, &attr, &size, t);
}

int16_t CF_GetDone(int drive, CfFindRecord *rec) {
    FxMedia *m = Fx_MediaOf(valid_drive(drive));
    restore_dir(m, rec);
    if (m->listing) {
        closedir(m->listing);
        m->listing = nullptr;
    }
    return status(cf::kOk);
}

int16_t CF_DeleteFile(uint32_t, const char *const *names) {
    if (!names || !names[0]) return status(cf::kInvalid);
    const char *pattern = names[0];
    int drive = name_drive(pattern);
    FxMedia *m = Fx_MediaOf(drive);
    CfFindRecord rec;
    int deleted = 0;
    bool refused = false;
    for (int16_t st = CF_GetFirst(drive, &rec, pattern); st == cf::kOk;
         st = CF_GetNext(drive, &rec)) {
        if (rec.attributes & fx::kSystem)
            refused = true;
        else if (rec.attributes & (fx::kDirectory | fx::kVolume))
            continue;
        else if (_fxe_file_delete(m, rec.long_name) == fx::kSuccess)
            ++deleted;
    }
    CF_GetDone(drive, &rec);
    if (deleted) {
        _fxe_media_flush(m);
        return done(fx::kSuccess, drive);
    }
    return status(refused ? cf::kAccessError : cf::kNotFound);
}

int16_t CF_RenameFile(uint32_t, const char *const *names) {
    if (!names || !names[0] || !names[1]) return status(cf::kInvalid);
    int drive = name_drive(names[0]);
    if (name_drive(names[1]) != drive) return status(cf::kInvalid);
    return done(_fxe_file_rename(Fx_MediaOf(drive), names[0], names[1]), drive);
}

int16_t CF_CopyFile(uint32_t, const char *const *names) {
    if (!names || !names[0] || !names[1]) return status(cf::kInvalid);
    const char *src = names[0], *dst = names[1];
    char dir[kFxPathMax], base[256], ext[15];
    if (CF_PathParse(dir, base, ext, src) != 0 || !base[0]) return status(cf::kInvalid);
    bool pattern = std::strpbrk(base, "*?") || std::strpbrk(ext, "*?");
    if (!pattern) {
        char ddir[kFxPathMax], dbase[256], dext[15];
        if (CF_PathParse(ddir, dbase, dext, dst) != 0 || !dbase[0]) return status(cf::kInvalid);
        if (ddir[0] && !(has_prefix(ddir) && !ddir[2])) {
            int16_t st = CF_MakeDir(name_drive(ddir), ddir);
            if (st != cf::kOk && st != cf::kExists) return st;
        }
        return copy_one(src, dst);
    }
    std::string dest = dst;
    if (!dest.empty()) {
        int16_t st = CF_MakeDir(name_drive(dst), dst);
        if (st != cf::kOk && st != cf::kExists) return st;
        if (!is_sep(dest.back())) dest += "\\";
    }
    int drive = name_drive(src);
    CfFindRecord rec;
    int copied = 0;
    int16_t failed = cf::kOk;
    for (int16_t st = CF_GetFirst(drive, &rec, src); st == cf::kOk; st = CF_GetNext(drive, &rec)) {
        if (rec.attributes & (fx::kDirectory | fx::kVolume)) continue;
        int16_t r = copy_one(rec.long_name, (dest + rec.long_name).c_str());
        if (r != cf::kOk) {
            failed = r;
            break;
        }
        ++copied;
    }
    CF_GetDone(drive, &rec);
    if (failed != cf::kOk) return status(failed);
    return status(copied ? cf::kOk : cf::kNotFound);
}

int16_t CF_MakeDir(int drive, const char *path) {
    if (!path) return status(cf::kInvalid);
    drive = valid_drive(drive);
    FxMedia *m = Fx_MediaOf(drive);
    std::string p = upper(path);
    size_t keep = has_prefix(p.c_str()) ? 3 : 1;
    while (p.size() > keep && is_sep(p.back()))
        p.pop_back();
    char dir[kFxPathMax], base[256], ext[15];
    if (CF_PathParse(dir, base, ext, p.c_str()) != 0) return status(cf::kInvalid);
    if (!base[0]) return status(cf::kExists); // the root
    std::string d = dir;
    if (!d.empty() && !(has_prefix(dir) && d.size() == 2)) {
        uint32_t st = _fxe_directory_name_test(m, dir);
        if (st == fx::kNotFound) {
            // Each missing level from the top. Names with a separator are
            // taken from the drive's root, so the first level is too.
            bool rooted = d.find_first_of("/\\") != std::string::npos;
            size_t from = has_prefix(dir) ? 2 : 0;
            if (from < d.size() && is_sep(d[from])) ++from;
            for (size_t i = from; i <= d.size(); ++i) {
                if (i < d.size() && !is_sep(d[i])) continue;
                std::string level = d.substr(0, i);
                if (level.empty() || (has_prefix(level.c_str()) && level.size() == 2)) continue;
                if (rooted && level.find_first_of("/\\") == std::string::npos &&
                    !has_prefix(level.c_str()))
                    level = "\\" + level;
                uint32_t r = _fxe_directory_create(m, level.c_str());
                if (r && r != fx::kAlreadyCreated) return done(r, drive);
            }
        } else if (st != fx::kSuccess) {
            return done(st, drive);
        }
    }
    return done(_fxe_directory_create(m, p.c_str()), drive);
}

int16_t CF_RemoveDir(int drive, const char *path) {
    if (!path) return status(cf::kInvalid);
    drive = valid_drive(drive);
    std::string p = path;
    if (!has_prefix(path) && !is_sep(path[0])) p = "\\" + p;
    if (p.size() > kFxPathMax - 1) return status(cf::kInvalid);
    g_tree_depth = 0;
    int16_t st = remove_tree(drive, p, 0);
    g_tree_depth = 0;
    return status(st);
}

int16_t CF_PathParse(char *dir, char *base, char *ext, const char *path) {
    dir[0] = base[0] = ext[0] = 0;
    size_t len = std::strlen(path);
    if (len > kFxPathMax - 1) return cf::kInvalid;
    const char *sep = nullptr;
    for (const char *p = path; *p; ++p)
        if (is_sep(*p)) sep = p;
    const char *name = path;
    if (sep) {
        size_t n = sep == path ? 1 : size_t(sep - path);
        std::memcpy(dir, path, n);
        dir[n] = 0;
        name = sep + 1;
    } else if (has_prefix(path)) {
        std::memcpy(dir, path, 2);
        dir[2] = 0;
        name = path + 2;
    }
    return CF_FileParse(base, ext, name);
}

int16_t CF_FileParse(char *base, char *ext, const char *name) {
    base[0] = ext[0] = 0;
    if (!std::strcmp(name, ".") || !std::strcmp(name, "..")) {
        std::strcpy(base, name);
        return cf::kOk;
    }
    if (name[0] == '.') return cf::kInvalid;
    const char *dot = std::strchr(name, '.');
    size_t n = dot ? size_t(dot - name) : std::strlen(name);
    std::snprintf(base, 256, "%s", upper(std::string(name, std::min<size_t>(n, 255))).c_str());
    if (dot) std::snprintf(ext, 15, "%s", upper(std::string(dot + 1).substr(0, 14)).c_str());
    return cf::kOk;
}

int CfPatternCmp(const char *name, const char *pattern, uint32_t length) {
    if (!pattern[0] && length == 0) return 1;
    if (pattern[0] == '*') return 1;
    size_t n = std::max(std::strlen(pattern), std::strlen(name));
    for (size_t i = 0; i <= n; ++i) {
        char pc = pattern[i], nc = name[i];
        if (pc == '*') return 1;
        if (pc == '?') {
            if (!nc) return 0;
            continue;
        }
        if (pc != nc && std::toupper(static_cast<unsigned char>(nc)) != pc) return 0;
        if (!pc) return 1;
    }
    return 1;
}

void CfApi_Reset() {
    CfResult = 0;
    CfStatus = 0;
    g_tree_depth = 0;
    std::memset(g_tree, 0, sizeof g_tree);
    std::memset(g_dir_record, 0, sizeof g_dir_record);
    std::memset(g_list_record, 0, sizeof g_list_record);
}
