// File instructions of the ladder program (opcodes 248-254): write, read,
// rename and format are posted to the media manager through the generic file
// slot and polled scan by scan; copy and delete run in detached worker
// threads that run cp and rm with argument vectors, on names the worker
// matched itself.
#include "system/fileinst.h"

#include "base/le.h"
#include "base/trace.h"
#include "data/cfm.h"
#include "host/dirlist.h"
#include "host/root.h"
#include "host/shell.h"
#include "host/thread.h"
#include "platform/cf_api.h"
#include "platform/fileinst.h"
#include "platform/media.h"
#include "plc/ladder.h"
#include "plc/ladder_fam.h"
#include "plc/ladder_ops.h"
#include "regs/plc_reg.h"

#include <sys/types.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

uint32_t FileStatus[2];
std::atomic<int16_t> CopyRet, DeleteRet;
pthread_t RmCopyOpsThreadId;

namespace {

constexpr uint16_t kOpLayout = 248, kOpCopy = 249, kOpRead = 250, kOpWrite = 251;
constexpr uint16_t kOpRename = 252, kOpDelete = 253, kOpFormat = 254;
constexpr int16_t kIdle = -4, kPending = -2, kBusy = -3;
constexpr int16_t kUnmounted = 2, kCmdFailed = 5, kNotFound = 66, kBadName = 86;
constexpr int16_t kReadOnly = 92, kFileBusy = 94;
constexpr uint8_t kBusyB = 2, kBusyA = 4;

// A copy or delete worker: the record it works from and what the scan and
// the worker share (atomics: the scan reads them every scan).
struct Worker {
    uint16_t operation;
    std::vector<std::string> sources; // host paths, matched by the scan
    std::string destination;          // host path
    std::string make_dir;             // host folder to create first ("" none)
    std::atomic<uint8_t> busy{0};     // drive bits while it runs
    std::atomic<uint32_t> generation{0};
    std::atomic<pid_t> child{0};
    std::atomic<bool> started{false};
};

struct SlotRequest {
    CsvFileRequest csv;
    uint32_t count_done;
    char name[2][512];
    const char *names[2];
    uint8_t bit_value; // a BOOL value's byte
    uint32_t bit_ref;  // the BOOL read's target
    bool is_bool;
};

struct FileState {
    SlotRequest req[2];
};
FileState g;
Worker g_copy, g_delete;
std::atomic<int16_t> &ret_of(const Worker &w) {
    return &w == &g_copy ? CopyRet : DeleteRet;
}
pthread_t &tid_of(const Worker &w) {
    return &w == &g_copy ? RmCopyOpsThreadId : RmDeleteOpsThreadId;
}
std::atomic<int> g_running_workers{0};

// Operand readers ------------------------------------------------------------

uint32_t read_ref(uint32_t *pc) {
    return Lad_Fold(Lad_Dword(pc));
}

// A file name operand: count, then the name. False with nothing in out when
// it is 512 characters or more.
bool read_name(uint32_t *pc, char *out) {
    out[0] = 0;
    uint32_t n = Lad_Dword(pc);
    std::string text;
    bool too_long = false;
    auto from_registers = [&](uint32_t ref, uint32_t max_bytes) {
        for (uint32_t i = 0; i < max_bytes; i += 2) {
            const uint8_t *w = PlcReg_Ptr(ref + 16 * (i / 2), 16);
            if (!w) break;
            for (int k = 0; k < 2 && i + k < max_bytes; ++k) {
                if (!w[k]) return;
                text += char(w[k]);
            }
        }
    };
    if (n == 0) {
        uint32_t ref = read_ref(pc);
        const uint8_t *w = PlcReg_Ptr(ref, 16);
        if (w) from_registers(ref + 16, w[1]);
    } else if (n < 1024) {
        for (uint32_t i = 0; i < n; ++i) {
            uint16_t w = Lad_Word(pc);
            if (text.size() == i * 2 && (w & 0xFF)) {
                text += char(w & 0xFF);
                if (w >> 8) text += char(w >> 8);
            }
        }
    } else {
        from_registers(Lad_Fold(n), 1024);
    }
    size_t cut = text.find_first_of(std::string(" \0", 2));
    if (cut != std::string::npos) text.resize(cut);
    if (text.size() >= 512) too_long = true;
    if (too_long) return false;
    std::memcpy(out, text.c_str(), text.size() + 1);
    return true;
}

void put_status(uint32_t ref, int16_t code, bool two, uint32_t count = 0) {
    if (uint8_t *p = PlcReg_Ptr(ref, 16)) put_le16(p, uint16_t(code));
    if (two)
        if (uint8_t *p = PlcReg_Ptr(ref + 16, 16)) put_le16(p, uint16_t(count));
}
int16_t get_status(uint32_t ref) {
    const uint8_t *p = PlcReg_Ptr(ref, 16);
    return p ? int16_t(le16(p)) : 0;
}

// Mailbox operations ---------------------------------------------------------

struct Mailbox {
    uint16_t op;
    uint32_t slot;
    uint32_t status_ref;
    bool two_words;
    bool valid; // the request could be built (else 86)
};

// Runs one scan of a mailbox operation whose request `post` posts.
template <typename Post>
int16_t mailbox_scan(const Mailbox &mb, uint32_t me, uint8_t power, Post post) {
    if (!power) {
        if (mb.slot < 2 && FileStatus[mb.slot] == me) FileStatus[mb.slot] = 0;
        put_status(mb.status_ref, kIdle, mb.two_words);
        return kIdle;
    }
    if (mb.slot > 1) {
        put_status(mb.status_ref, kBadName, mb.two_words);
        return kBadName;
    }
    SlotRequest &r = g.req[mb.slot];
    if (FileStatus[mb.slot] == 0) {
        int16_t st = mb.valid ? post(r, false) : kBadName;
        if (st == kPending) FileStatus[mb.slot] = me;
        put_status(mb.status_ref, st, mb.two_words);
        return st;
    }
    if (FileStatus[mb.slot] != me) {
        put_status(mb.status_ref, kBusy, mb.two_words);
        return kBusy;
    }
    int16_t st = get_status(mb.status_ref);
    if (st != kPending) return st;
    st = post(r, true);
    if (st == 0 && r.is_bool && mb.op == kOpRead && r.count_done)
        Lad_PutBit(r.bit_ref, r.bit_value & 1);
    put_status(mb.status_ref, st, mb.two_words, r.count_done);
    return st;
}

uint32_t value_operand(uint32_t *pc, bool in_register) {
    uint32_t v = Lad_Dword(pc);
    if (!in_register) return v;
    const uint8_t *p = PlcReg_Ptr(Lad_Fold(v), 16);
    return p ? le16(p) : 0;
}

int16_t read_write(uint32_t *pc, uint16_t op, uint32_t me, uint8_t power) {
    Mailbox mb{op, Lad_Word(pc), 0, true, true};
    uint16_t w2 = Lad_Word(pc);
    uint8_t kind = uint8_t(w2), flags = uint8_t(w2 >> 8);
    uint32_t data_ref = read_ref(pc);
    uint32_t type = Lad_Word(pc) & 0x7FFF;
    uint32_t per_line = value_operand(pc, flags & 0x40);
    uint32_t count = value_operand(pc, flags & 0x20);
    mb.status_ref = read_ref(pc);
    char name[512];
    bool name_ok = read_name(pc, name);
    if (lad_fault) return 0;
    bool write = op == kOpWrite;
    if (mb.slot > 1 || !power)
        return mailbox_scan(mb, me, power, [](SlotRequest &, bool) { return int16_t(0); });
    SlotRequest &r = g.req[mb.slot];
    auto post = [&](SlotRequest &req, bool poll) -> int16_t {
        if (poll)
            return write ? CF_DpramWriteFile(mb.slot | kDpramPoll, &req.csv)
                         : CF_DpramReadFile(mb.slot | kDpramPoll, &req.csv);
        return write ? CF_DpramWriteFile(mb.slot, &req.csv) : CF_DpramReadFile(mb.slot, &req.csv);
    };
    if (FileStatus[mb.slot] == 0) {
        // Build the request: the data must lie in the registers.
        if (flags & 0x80) {
            const uint8_t *p = PlcReg_Ptr(data_ref, 16);
            data_ref = p ? 1024 + 8 * le16(p) : 0;
        }
        r = SlotRequest{};
        std::memcpy(r.name[0], name, sizeof name);
        r.is_bool = type == 2;
        uint64_t bits = r.is_bool ? 1 : uint64_t(CsvValues(count)) * CF_TypeWidth(type);
        if (type == 0) bits = uint64_t(count & 0xFFFF) * 8;
        uint8_t *data =
            bits && bits <= 0xFFFFFFFFu ? PlcReg_Ptr(data_ref, uint32_t(bits)) : nullptr;
        mb.valid = name_ok && data;
        r.csv.kind = kind;
        r.csv.path = r.name[0];
        r.csv.type = type; // a BOOL's one bit travels as a byte value
        r.csv.count = r.is_bool ? 1 : count;
        r.csv.result = &r.count_done;
        r.csv.position = int32_t(per_line);
        r.csv.open_mode = flags & 0x0F;
        r.csv.end_of_row = (flags >> 4) & 1;
        if (r.is_bool) {
            r.bit_ref = data_ref;
            r.bit_value = uint8_t(Lad_GetBit(data_ref));
            r.csv.data = &r.bit_value;
        } else {
            r.csv.data = data;
        }
    }
    return mailbox_scan(mb, me, power, post);
}

int16_t rename_op(uint32_t *pc, uint32_t me, uint8_t power) {
    Mailbox mb{kOpRename, Lad_Word(pc), 0, false, true};
    mb.status_ref = read_ref(pc);
    char a[512], b[512];
    bool ok = read_name(pc, a);
    ok = read_name(pc, b) && ok;
    if (lad_fault) return 0;
    if (mb.slot < 2 && power && FileStatus[mb.slot] == 0) {
        SlotRequest &r = g.req[mb.slot];
        r = SlotRequest{};
        std::memcpy(r.name[0], a, sizeof a);
        std::memcpy(r.name[1], b, sizeof b);
        r.names[0] = r.name[0];
        r.names[1] = r.name[1];
        mb.valid = ok;
    }
    return mailbox_scan(mb, me, power, [&](SlotRequest &r, bool poll) {
        return CF_DpramRenameFile(mb.slot | (poll ? kDpramPoll : 0), r.names);
    });
}

int16_t format_op(uint32_t *pc, uint32_t me, uint8_t power) {
    Mailbox mb{kOpFormat, Lad_Word(pc), 0, false, true};
    mb.status_ref = read_ref(pc);
    if (lad_fault) return 0;
    return mailbox_scan(mb, me, power, [&](SlotRequest &, bool poll) {
        return CF_DpramFormatCard(mb.slot | (poll ? kDpramPoll : 0));
    });
}

// Workers --------------------------------------------------------------------

int16_t errno_status(int e) {
    switch (e) {
    case ENOENT:
    case EACCES:
    case ENOTDIR:
        return kNotFound;
    case EINVAL:
    case ENAMETOOLONG:
    case ELOOP:
        return kBadName;
    case ETXTBSY:
        return kFileBusy;
    case EROFS:
        return kReadOnly;
    default:
        return kCmdFailed;
    }
}

// A name of the instruction made local: its drive, its host path, whether it
// holds a wildcard. 0 or the status that refuses it.
struct LocalPath {
    int drive;
    std::string board; // "/mnt/USB0/..."
    std::string host;
    bool wildcard;
    bool trailing_slash;
};

int16_t local_path(const char *name, LocalPath *out) {
    std::string n(name);
    if (n.size() >= 512) return kBadName;
    char buf[512];
    std::memcpy(buf, n.c_str(), n.size() + 1);
    for (char *c = buf; *c; ++c)
        if (*c == '\\') *c = '/';
    ConvertMeta(buf, sizeof buf);
    StrUpper(buf);
    std::string s = buf;
    out->drive = s.find("B:") != std::string::npos ? 1 : 0;
    out->wildcard = s.find_first_of("*?") != std::string::npos;
    if (s.size() >= 2 && s[1] == ':') s.erase(0, 2);
    if (!s.empty() && s[0] == '/') s.erase(0, 1);
    if (CFM_HasDotDot(s.c_str())) return kBadName;
    out->trailing_slash = !s.empty() && s.back() == '/';
    out->board = std::string(out->drive ? "/mnt/USB1/" : "/mnt/USB0/") + s;
    out->host = host::path(out->board);
    char mount[512];
    if (!MountDrive(out->drive, mount)) return kUnmounted;
    return 0;
}

std::string parent_of(const std::string &p) {
    size_t at = p.find_last_of('/');
    return at == std::string::npos ? std::string(".") : p.substr(0, at);
}

// The sources of a worker: the file itself, or the matches of a wildcard.
int16_t match_sources(const LocalPath &src, std::vector<std::string> *out) {
    if (!src.wildcard) {
        int e = host::read_error(src.host);
        if (e) return errno_status(e);
        out->push_back(src.host);
        return 0;
    }
    size_t cut = src.board.find_last_of('/');
    std::string pattern = src.board.substr(cut + 1);
    std::string dir = host::path(src.board.substr(0, cut));
    int e = 0;
    std::vector<std::string> names = host::list_dir(dir, &e);
    if (e) return errno_status(e);
    if (names.empty()) return kNotFound;
    for (const std::string &name : names) {
        char up[512];
        if (name.size() >= sizeof up) continue;
        std::memcpy(up, name.c_str(), name.size() + 1);
        StrUpper(up);
        if (TestForMatchingFilename(pattern.c_str(), up)) out->push_back(dir + "/" + name);
    }
    return out->empty() ? kNotFound : 0;
}

void *worker_main(void *arg) {
    Worker *w = static_cast<Worker *>(arg);
    // The identity is the worker's own to set and clear: the media file
    // layer reads it as "a worker is busy".
    tid_of(*w) = pthread_self();
    uint32_t gen = w->generation.load();
    int st = 0;
    auto run = [&](std::vector<std::string> argv) {
        if (w->generation.load() != gen) return 1; // abandoned: run nothing more
        return host::run_argv_watched(argv, &w->child);
    };
    if (w->operation == kOpCopy) {
        if (!w->make_dir.empty()) st = run({"nice", "-n", "10", "mkdir", "-p", w->make_dir});
        if (st == 0) {
            std::vector<std::string> argv{"nice", "-n", "10", "cp"};
            argv.insert(argv.end(), w->sources.begin(), w->sources.end());
            argv.push_back(w->destination);
            st = run(argv);
        }
    } else {
        std::vector<std::string> argv{"nice", "-n", "10", "rm", "-rf", "--"};
        argv.insert(argv.end(), w->sources.begin(), w->sources.end());
        st = run(argv);
    }
    if (w->generation.load() == gen) ret_of(*w).store(st == 0 ? 0 : kCmdFailed);
    tid_of(*w) = pthread_t{};
    w->busy.store(0);
    g_running_workers.fetch_sub(1);
    return nullptr;
}

uint8_t busy_bit(int drive) {
    return drive ? kBusyB : kBusyA;
}

void abandon(Worker &w) {
    w.generation.fetch_add(1);
    host::end_watched(&w.child);
    ret_of(w).store(kIdle);
}

int16_t worker_op(uint32_t *pc, uint16_t op, uint32_t me, uint8_t power) {
    uint32_t slot = Lad_Word(pc);
    uint32_t status_ref = read_ref(pc);
    char src[512], dst[512] = "";
    bool ok = true;
    if (op == kOpCopy) {
        Lad_Dword(pc); // reserved
        ok = read_name(pc, src);
        ok = read_name(pc, dst) && ok;
    } else {
        ok = read_name(pc, src);
    }
    if (lad_fault) return 0;
    Worker &w = op == kOpCopy ? g_copy : g_delete;
    auto status = [&](int16_t st) {
        put_status(status_ref, st, false);
        return st;
    };
    if (!power) {
        if (slot < 2 && FileStatus[slot] == me) {
            FileStatus[slot] = 0;
            if (w.started.exchange(false)) abandon(w);
        }
        return status(kIdle);
    }
    if (slot > 1) return status(kBadName);
    if (FileStatus[slot] == me) return status(ret_of(w).load());
    if (FileStatus[slot] != 0) return status(kBusy);
    if (w.busy.load()) return status(kBusy); // the last worker is still ending
    if (!ok) return status(kBadName);
    LocalPath s{}, d{};
    int16_t st = local_path(src, &s);
    if (st == 0 && op == kOpCopy) st = local_path(dst, &d);
    if (st) return status(st);
    Worker &other = op == kOpCopy ? g_delete : g_copy;
    uint8_t bits = uint8_t(busy_bit(s.drive) | (op == kOpCopy ? busy_bit(d.drive) : 0));
    if (other.busy.load() & bits) return status(kBusy);
    std::vector<std::string> sources;
    st = match_sources(s, &sources);
    if (st) return status(st);
    w.operation = op;
    w.sources = sources;
    w.destination = d.host;
    w.make_dir.clear();
    if (op == kOpCopy) w.make_dir = d.trailing_slash || s.wildcard ? d.host : parent_of(d.host);
    ret_of(w).store(kPending);
    w.busy.store(bits);
    FileStatus[slot] = me;
    w.started.store(true);
    g_running_workers.fetch_add(1);
    pthread_t tid;
    if (host::thread_create(&tid, worker_main, &w, true) != 0) {
        g_running_workers.fetch_sub(1);
        w.busy.store(0);
        ret_of(w).store(kCmdFailed);
    }
    return status(ret_of(w).load());
}

} // namespace

int TestForMatchingFilename(const char *pattern, const char *name) {
    // Iterative match with one back-track point for the last "*".
    const char *star = nullptr, *resume = nullptr;
    while (*name) {
        if (*pattern == '*') {
            star = pattern++;
            resume = name;
        } else if (*pattern == '?' || *pattern == *name) {
            ++pattern;
            ++name;
        } else if (star) {
            pattern = star + 1;
            name = ++resume;
        } else {
            return 0;
        }
    }
    while (*pattern == '*')
        ++pattern;
    return *pattern == 0;
}

void StrUpper(char *text) {
    for (; *text; ++text)
        *text = char(std::toupper(static_cast<unsigned char>(*text)));
}

uint8_t File_Access(uint32_t *pc, uint8_t power) {
    uint32_t me = *pc + 1;
    uint16_t op = Lad_Word(pc);
    int16_t st = 0;
    switch (op) {
    case kOpRead:
    case kOpWrite:
        st = read_write(pc, op, me, power);
        break;
    case kOpRename:
        st = rename_op(pc, me, power);
        break;
    case kOpFormat:
        st = format_op(pc, me, power);
        break;
    case kOpCopy:
    case kOpDelete:
        st = worker_op(pc, op, me, power);
        break;
    case kOpLayout:
    default:
        // The layout form's list has no settled operand shape here: the scan
        // stops at it as at an instruction it cannot read.
        Ladder_SkipOperands(pc);
        return power;
    }
    if (lad_fault) return 0;
    return st == 0 ? 1 : 0;
}

void File_Init() {
    host::trace("File_Init");
    FileStatus[0] = FileStatus[1] = 0;
}

namespace {
void stop_workers() {
    for (Worker *w : {&g_copy, &g_delete})
        if (w->started.exchange(false)) abandon(*w);
}
} // namespace

void File_StopWorkers() {
    host::trace("File_StopWorkers");
    stop_workers();
}

int FileInst_WorkersRunning() {
    return g_running_workers.load();
}

void FileInst_Reset() {
    stop_workers();
    for (int i = 0; i < 500 && g_running_workers.load() > 0; ++i) {
        host::end_watched(&g_copy.child);
        host::end_watched(&g_delete.child);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    g = FileState{};
    FileStatus[0] = FileStatus[1] = 0;
    CopyRet = 0;
    DeleteRet = 0;
    for (Worker *w : {&g_copy, &g_delete}) {
        w->sources.clear();
        w->destination.clear();
        w->make_dir.clear();
        w->busy = 0;
        w->started = false;
    }
    RmCopyOpsThreadId = pthread_t{};
}
