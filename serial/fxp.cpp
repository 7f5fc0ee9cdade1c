// Host file transfer: the command texts of the tool run on the media file
// layer, file data moves between the media and a 2048-byte ring, one step per
// main-loop pass.
//
// Every path is resolved here into a whole drive path ("A:\LOGS\X.TXT") and
// the file layer is called with a drive record of this module's own, so the
// media code's current directories and open listings are never touched.
#include "serial/fxp.h"

#include "base/trace.h"
#include "platform/media.h"
#include "platform/pass_wait.h"
#include "platform/slice.h"
#include "regs/plc_reg.h"
#include "regs/sr.h"
#include "serial/command.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

FxpInterfaceT FxpInterface;

namespace {

constexpr char kDriveLetters[3] = {'A', 'B', 'Z'};
constexpr uint16_t kMediaNotReadyButServed = 652;
constexpr uint32_t kReadChunk = 1024;

struct State {
    std::string cwd[3]; // FxpCwd: "\LEVEL\LEVEL", "" the root
    int drive = 0;      // the drive of the last path named
    FxMedia media{};    // the file layer's record for this module's calls
    FxFile file{};      // FxpTransferFile
    std::string file_name;
    bool read_error = false, write_error = false;
    bool flush = false;       // FxpFlushF
    bool write_done = false;  // FileWriteCompleteF
    bool command_prv = false; // FxpCommandPrvF
    std::vector<std::string> listing;
    size_t listing_pos = 0; // FxpPathStore
};
State g;

FxpInterfaceT &io() {
    return FxpInterface;
}

std::string board_path(int drive, const std::string &path) {
    return std::string(1, kDriveLetters[drive]) + ":" + (path.empty() ? "\\" : path);
}

std::string upper(std::string s) {
    for (char &c : s)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

void reply(uint32_t code, uint32_t value = kFxpNoValue) {
    io().reply_code = code;
    io().reply_value = value;
    io().done = 1;
    io().pending = 0;
}

uint16_t ring_free() {
    return uint16_t(kFxpRingBytes - io().ring_count);
}
void ring_put(const uint8_t *p, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) {
        io().ring[io().ring_wr] = p[i];
        io().ring_wr = uint16_t((io().ring_wr + 1) % kFxpRingBytes);
    }
    io().ring_count = uint16_t(io().ring_count + n);
}
uint32_t ring_take(uint8_t *out, uint32_t max) {
    uint32_t n = std::min<uint32_t>(max, io().ring_count);
    for (uint32_t i = 0; i < n; ++i) {
        out[i] = io().ring[io().ring_rd];
        io().ring_rd = uint16_t((io().ring_rd + 1) % kFxpRingBytes);
    }
    io().ring_count = uint16_t(io().ring_count - n);
    return n;
}

void reset_transfer() {
    io().state = fxp::kNone;
    io().end = 0;
    io().ring_wr = io().ring_rd = io().ring_count = 0;
    g.listing.clear();
    g.listing_pos = 0;
}

// Ends whatever transfer an earlier command left: a file being read is
// closed, one being stored is closed and deleted.
void end_transfer() {
    if (g.file.open) {
        _fxe_file_close(&g.file);
        if (io().state == fxp::kWriting) _fxe_file_delete(&g.media, g.file_name.c_str());
    }
    reset_transfer();
}

struct Entry {
    bool found = false;
    uint32_t attributes = 0, size = 0, year = 0, month = 0, day = 0, hour = 0, minute = 0,
             second = 0;
    bool dir() const { return attributes & fx::kDirectory; }
};
Entry entry_of(const std::string &name) {
    Entry e;
    g.media.cur_dir[0] = 0;
    e.found = _fxe_directory_information_get(&g.media, name.c_str(), &e.attributes, &e.size,
                                             &e.year, &e.month, &e.day, &e.hour, &e.minute,
                                             &e.second) == fx::kSuccess;
    return e;
}

std::string listing_line(char kind, const char *name, const Entry &e) {
    char line[kFxPathMax + 64];
    std::snprintf(line, sizeof line, "%c %s %u %02u:%02u:%02u %02u/%02u/%02u %c%c%c\r\n", kind,
                  name, e.size, e.hour % 100, e.minute % 100, e.second % 100, e.day % 100,
                  e.month % 100, e.year % 100, (e.attributes & fx::kReadOnly) ? 'R' : 'r',
                  (e.attributes & fx::kSystem) ? 'S' : 's',
                  (e.attributes & fx::kHidden) ? 'H' : 'h');
    return line;
}

// The lines of a directory's listing.
bool list_directory(const std::string &dir, std::vector<std::string> *out) {
    std::string at = dir.back() == '\\' ? dir : dir + "\\";
    if (at.size() >= sizeof g.media.cur_dir) return false;
    std::snprintf(g.media.cur_dir, sizeof g.media.cur_dir, "%s", at.c_str());
    char name[kFxPathMax];
    Entry e;
    uint32_t st =
        _fxe_directory_first_full_entry_find(&g.media, name, &e.attributes, &e.size, &e.year,
                                             &e.month, &e.day, &e.hour, &e.minute, &e.second);
    if (st != fx::kSuccess && st != fx::kNoMoreEntries) {
        g.media.cur_dir[0] = 0;
        return false;
    }
    while (st == fx::kSuccess) {
        if (e.dir()) e.size = 0; // as a FAT medium counts a directory
        if (std::strcmp(name, ".") && std::strcmp(name, ".."))
            out->push_back(listing_line(e.dir() ? 'D' : 'F', name, e));
        e = Entry{};
        st = _fxe_directory_next_full_entry_find(&g.media, name, &e.attributes, &e.size, &e.year,
                                                 &e.month, &e.day, &e.hour, &e.minute, &e.second);
    }
    g.media.cur_dir[0] = 0;
    return true;
}

bool medium_ready(int drive) {
    return drive == 2 || Cf_Check(drive) == 3 ||
           sr_get(sr::kMediaStatus) == kMediaNotReadyButServed;
}

uint32_t create_reply(uint32_t st) {
    switch (st) {
    case fx::kNoMoreSpace:
        return 452;
    case fx::kAlreadyCreated:
        return 614;
    case fx::kInvalidPath:
    case fx::kNotFound:
    case fx::kNotDirectory:
        return 550;
    default:
        return 611;
    }
}

// The commands. `words` holds the command word and up to two arguments.
struct Command {
    std::string words[3];
    int count = 0;
    int drive = 0;
    std::string path; // the first argument resolved, "" the root
    bool has_path = false;
};

void do_mkd(const Command &c) {
    if (!c.has_path) return reply(501);
    bool made = false;
    size_t at = 0;
    while (at < c.path.size()) {
        size_t next = c.path.find('\\', at + 1);
        if (next == std::string::npos) next = c.path.size();
        std::string level = board_path(c.drive, c.path.substr(0, next));
        Entry e = entry_of(level);
        if (e.found) {
            if (!e.dir()) return reply(614);
        } else {
            uint32_t st = _fxe_directory_create(&g.media, level.c_str());
            if (st != fx::kSuccess) return reply(create_reply(st));
            made = true;
        }
        at = next;
    }
    if (!made) return reply(614);
    _fxe_media_flush(&g.media);
    reply(257);
}

void do_cwd(const Command &c) {
    if (!c.has_path) return reply(611);
    Entry e = entry_of(board_path(c.drive, c.path));
    if (!c.path.empty() && (!e.found || !e.dir())) return reply(550);
    g.cwd[c.drive] = c.path;
    reply(250);
}

void do_cdup() {
    std::string &cwd = g.cwd[g.drive];
    if (cwd.empty()) return reply(618);
    std::string up = cwd.substr(0, cwd.rfind('\\'));
    Entry e = entry_of(board_path(g.drive, up));
    if (!up.empty() && (!e.found || !e.dir())) return reply(616);
    cwd = up;
    reply(200);
}

void do_stor(const Command &c) {
    if (!c.has_path || c.path.empty()) return reply(501);
    std::string name = board_path(c.drive, c.path);
    if (entry_of(name).found) return reply(614);
    uint32_t st = _fxe_file_create(&g.media, name.c_str());
    if (st != fx::kSuccess) return reply(st == fx::kInvalidPath ? 501 : create_reply(st));
    st = _fxe_file_open(&g.media, &g.file, name.c_str(), 1);
    if (st != fx::kSuccess) {
        _fxe_file_delete(&g.media, name.c_str());
        return reply(st == fx::kAccessError                       ? 450
                     : st == fx::kNotFound || st == fx::kNotAFile ? 550
                                                                  : 611);
    }
    g.file_name = name;
    g.write_done = false;
    io().state = fxp::kWriting;
    reply(150);
}

void do_retr(const Command &c) {
    if (!c.has_path || c.path.empty()) return reply(501);
    std::string name = board_path(c.drive, c.path);
    Entry e = entry_of(name);
    if (!e.found) return reply(550);
    if (e.dir()) return reply(450);
    uint32_t st = _fxe_file_open(&g.media, &g.file, name.c_str(), 0);
    if (st != fx::kSuccess)
        return reply(st == fx::kNotAFile                             ? 450
                     : st == fx::kNotFound || st == fx::kAccessError ? 550
                                                                     : 611);
    g.file_name = name;
    io().state = fxp::kReading;
    reply(619, g.file.size);
}

void do_rnfr(const Command &c, int current_drive) {
    if (!c.has_path || c.count < 3 || c.path.empty()) return reply(501);
    int to_drive = 0;
    std::string to;
    if (!Fxp_ResolvePath(c.words[2], current_drive, g.cwd, &to_drive, &to) || to_drive != c.drive ||
        to.empty())
        return reply(501);
    std::string from_name = board_path(c.drive, c.path), to_name = board_path(c.drive, to);
    Entry e = entry_of(from_name);
    if (!e.found) return reply(550);
    if (upper(from_name) != upper(to_name) && entry_of(to_name).found) return reply(614);
    uint32_t st = e.dir() ? _fxe_directory_rename(&g.media, from_name.c_str(), to_name.c_str())
                          : _fxe_file_rename(&g.media, from_name.c_str(), to_name.c_str());
    switch (st) {
    case fx::kSuccess:
        g.flush = true;
        return reply(200);
    case fx::kAlreadyCreated:
    case fx::kDirNotEmpty:
        return reply(614);
    case fx::kNotFound:
    case fx::kAccessError:
        return reply(550);
    default:
        return reply(501);
    }
}

void do_dele(const Command &c) {
    if (!c.has_path || c.path.empty()) return reply(501);
    std::string name = board_path(c.drive, c.path);
    Entry e = entry_of(name);
    if (!e.found) return reply(550);
    if (e.dir()) return reply(501);
    uint32_t st = _fxe_file_delete(&g.media, name.c_str());
    if (st == fx::kSuccess) {
        g.flush = true;
        return reply(250);
    }
    reply(st == fx::kNotFound || st == fx::kAccessError ? 550 : st == fx::kNotAFile ? 501 : 611);
}

void do_rmd(const Command &c) {
    if (!c.has_path || c.path.empty() || c.path == g.cwd[c.drive]) return reply(501);
    std::string name = board_path(c.drive, c.path);
    Entry e = entry_of(name);
    if (!e.found) return reply(550);
    if (!e.dir()) return reply(501);
    uint32_t st = _fxe_directory_delete(&g.media, name.c_str());
    switch (st) {
    case fx::kSuccess:
        g.flush = true;
        return reply(250);
    case fx::kDirNotEmpty:
        return reply(617);
    case fx::kNotFound:
        return reply(550);
    case fx::kInvalidPath:
    case fx::kNotDirectory:
        return reply(501);
    default:
        return reply(611);
    }
}

void do_list(const Command &c) {
    int drive = c.has_path ? c.drive : g.drive;
    std::string path = c.has_path ? c.path : g.cwd[drive];
    std::string name = board_path(drive, path);
    std::vector<std::string> lines;
    if (path.empty()) {
        if (!list_directory(name, &lines)) return reply(550);
    } else {
        Entry e = entry_of(name);
        if (!e.found) return reply(550);
        if (e.dir()) {
            if (!list_directory(name, &lines)) return reply(550);
        } else {
            lines.push_back(listing_line('F', path.substr(path.rfind('\\') + 1).c_str(), e));
        }
    }
    uint32_t total = 0;
    for (const std::string &l : lines)
        total += uint32_t(l.size());
    g.listing = std::move(lines);
    g.listing_pos = 0;
    io().state = fxp::kListing;
    reply(619, total);
}

void run_command() {
    Command c;
    if (!Fxp_SplitWords(io().text, c.words, &c.count)) return reply(501);
    if (c.count == 0) return reply(500);
    std::string word = c.words[0];
    for (char &ch : word)
        ch = char(std::tolower(static_cast<unsigned char>(ch)));
    static const char *const kKnown[] = {"mkd",  "cwd",  "stor", "retr", "cdup",
                                         "rnfr", "dele", "rmd",  "list"};
    if (std::none_of(std::begin(kKnown), std::end(kKnown),
                     [&](const char *k) { return word == k; }))
        return reply(500);
    int current = g.drive;
    c.drive = g.drive;
    if (c.count > 1 && word != "cdup") {
        if (!Fxp_ResolvePath(c.words[1], g.drive, g.cwd, &c.drive, &c.path)) return reply(501);
        c.has_path = true;
    }
    if (!medium_ready(c.drive)) return reply(611);
    end_transfer();
    g.read_error = g.write_error = false;
    g.drive = c.drive;
    if (word == "mkd") return do_mkd(c);
    if (word == "cwd") return do_cwd(c);
    if (word == "stor") return do_stor(c);
    if (word == "retr") return do_retr(c);
    if (word == "cdup") return do_cdup();
    if (word == "rnfr") return do_rnfr(c, current);
    if (word == "dele") return do_dele(c);
    if (word == "rmd") return do_rmd(c);
    do_list(c);
}

void transfer_step() {
    switch (io().state) {
    case fxp::kReading:
        if (ring_free() >= kReadChunk) {
            uint8_t buf[kFxpRingBytes];
            uint32_t got = 0;
            uint32_t st = _fxe_file_read(&g.file, buf, ring_free(), &got);
            ring_put(buf, got);
            if (st == fx::kEndOfFile || (st == fx::kSuccess && got == 0)) {
                _fxe_file_close(&g.file);
                io().end = 1;
                io().state = fxp::kReadDone;
            } else if (st != fx::kSuccess) {
                _fxe_file_close(&g.file);
                g.read_error = true;
                reset_transfer();
            }
        }
        break;
    case fxp::kWriting:
        if (io().ring_count) {
            uint8_t buf[kFxpRingBytes];
            uint32_t n = ring_take(buf, sizeof buf);
            if (_fxe_file_write(&g.file, buf, n) != fx::kSuccess) {
                _fxe_file_close(&g.file);
                _fxe_file_delete(&g.media, g.file_name.c_str());
                g.write_error = true;
                reset_transfer();
                break;
            }
        }
        if (io().end && !io().ring_count) {
            g.flush = true;
            io().state = fxp::kWritten;
        }
        break;
    case fxp::kWritten:
        _fxe_file_close(&g.file);
        reset_transfer();
        break;
    case fxp::kListing:
        while (g.listing_pos < g.listing.size() && g.listing[g.listing_pos].size() <= ring_free()) {
            const std::string &l = g.listing[g.listing_pos++];
            ring_put(reinterpret_cast<const uint8_t *>(l.data()), uint32_t(l.size()));
        }
        if (g.listing_pos == g.listing.size()) {
            io().end = 1;
            io().state = fxp::kListDone;
        }
        break;
    default:
        break;
    }
    if (g.flush) {
        _fxe_media_flush(&g.media);
        g.flush = false;
        g.write_done = true;
    }
}

// Whether the next pass has file work to do at once.
bool work_left() {
    switch (io().state) {
    case fxp::kReading:
        return ring_free() >= kReadChunk;
    case fxp::kWriting:
        return io().ring_count || io().end;
    case fxp::kWritten:
        return true;
    case fxp::kListing:
        return g.listing_pos < g.listing.size() && g.listing[g.listing_pos].size() <= ring_free();
    default:
        return g.flush;
    }
}

} // namespace

bool Fxp_SplitWords(const char *text, std::string words[3], int *count) {
    *count = 0;
    const char *p = text;
    while (*count < 3) {
        while (*p == ' ' || *p == '\t')
            ++p;
        if (!*p) break;
        std::string w;
        if (*p == '"') {
            ++p;
            while (*p && *p != '"')
                w += *p++;
            if (*p == '"') ++p;
        } else {
            while (*p && *p != ' ' && *p != '\t')
                w += *p++;
        }
        if (w.size() > size_t(kFxpWordMax)) return false;
        words[(*count)++] = w;
    }
    return true;
}

bool Fxp_ResolvePath(const std::string &arg, int current_drive, const std::string cwd[3],
                     int *drive, std::string *path) {
    std::string rest = arg;
    *drive = current_drive;
    if (rest.size() >= 2 && rest[1] == ':') {
        int d = Cf_PathDrive(rest.c_str(), -1);
        if (d < 0) return false;
        *drive = d;
        rest = rest.substr(2);
    }
    std::vector<std::string> levels;
    bool from_root = !rest.empty() && (rest[0] == '\\' || rest[0] == '/');
    if (!from_root) {
        // Relative to the drive's current directory.
        const std::string &base = cwd[*drive];
        size_t at = 0;
        while (at < base.size()) {
            size_t next = base.find('\\', at + 1);
            if (next == std::string::npos) next = base.size();
            levels.push_back(base.substr(at + 1, next - at - 1));
            at = next;
        }
    }
    size_t at = 0;
    while (at <= rest.size()) {
        size_t next = rest.find_first_of("\\/", at);
        if (next == std::string::npos) next = rest.size();
        std::string level = upper(rest.substr(at, next - at));
        at = next + 1;
        if (level.empty() || level == ".") continue;
        if (level == "..") {
            // Above the root is outside the drive.
            if (levels.empty()) return false;
            levels.pop_back();
            continue;
        }
        if (level.find(':') != std::string::npos) return false;
        levels.push_back(level);
    }
    path->clear();
    for (const std::string &l : levels)
        *path += "\\" + l;
    return path->size() + 3 < size_t(kFxPathMax);
}

void Fxp_Initialise() {
    end_transfer();
    FxpInterface = FxpInterfaceT{};
    for (std::string &c : g.cwd)
        c.clear();
    g.drive = 0;
    g.read_error = g.write_error = g.flush = g.write_done = g.command_prv = false;
}

void Fxp_DoParseCommand(const char *text) {
    if (io().pending || io().done) {
        g.command_prv = true;
        return;
    }
    // Callers hand a terminated text; keep at most what the field holds.
    const size_t n = strnlen(text, sizeof io().text - 1);
    std::memcpy(io().text, text, n);
    io().text[n] = 0;
    io().reply_code = 651;
    io().reply_value = kFxpNoValue;
    io().pending = 1;
}

int Fxp_DoWriteData(const uint8_t *data, uint32_t n) {
    if (g.write_error || io().state != fxp::kWriting || io().end) return -1;
    if (n > ring_free()) return 0;
    if (n == 0) {
        io().end = 1;
        return 1;
    }
    ring_put(data, n);
    return 1;
}

uint32_t Fxp_DoReadData(uint8_t *out, uint32_t max) {
    return ring_take(out, max);
}

void FxpMain(int) {
    host::trace("FxpMain");
    // A sliced pass comes from inside media and drawing work: file work here
    // would run under the media code's feet.
    if (g_in_sliced_pass) return;
    if (io().pending && !io().done)
        run_command();
    else
        transfer_step();
    if (io().done || work_left()) PassWait_WorkPending();
}

// ---- the command handlers

void parse_fxp_cmd() {
    if (CmdMode == 0) {
        // The text must end within the packet and fit the interface's field.
        uint32_t n = std::min<uint32_t>(CmdBuf.length, kCmdDataKept);
        const uint8_t *text = CmdBuf.data + 1;
        const void *nul = n > 1 ? std::memchr(text, 0, n - 1) : nullptr;
        if (!nul || static_cast<const uint8_t *>(nul) - text >= kFxpTextBytes) {
            cmd_reply(kRefused);
            return cmd_finish();
        }
        Fxp_DoParseCommand(reinterpret_cast<const char *>(text));
        CmdMode = 1;
    }
    uint32_t code;
    uint32_t value = kFxpNoValue;
    if (g.command_prv) {
        // The reply in the way belongs to a poll that was abandoned: nobody
        // collects it any more, and kept it would refuse every later command.
        g.command_prv = false;
        io().done = 0;
        code = 612;
    } else if (io().done) {
        code = io().reply_code;
        value = io().reply_value;
        io().done = 0;
    } else if (io().pending) {
        return; // FxpMain has not run it yet
    } else {
        code = 615;
    }
    uint8_t out[6] = {uint8_t(code),       uint8_t(code >> 8),   uint8_t(value),
                      uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
    put_packet(kDataOpcode, value == kFxpNoValue ? 2 : 6, out);
    cmd_finish();
}

void write_fxp_data() {
    uint32_t n = std::min<uint32_t>(CmdBuf.length, kCmdDataKept);
    uint32_t data = n > 1 ? n - 1 : 0;
    if (CmdMode == 0) {
        int r = Fxp_DoWriteData(CmdBuf.data + 1, data);
        if (r < 0) {
            cmd_reply(kRefused);
            return cmd_finish();
        }
        if (r == 0) return; // no room yet: the next pass tries again
        CmdMode = data ? 2 : 1;
    }
    if (CmdMode == 1) {
        // The end of the data: answered once the file is closed and flushed.
        if (g.write_error) {
            cmd_reply(kRefused);
            return cmd_finish();
        }
        if (!g.write_done || io().state != fxp::kNone) return;
        g.write_done = false;
    }
    cmd_reply(kAck);
    cmd_finish();
}

void read_fxp_data() {
    uint8_t s = io().state;
    bool active =
        s == fxp::kReading || s == fxp::kReadDone || s == fxp::kListing || s == fxp::kListDone;
    if (g.read_error || !active) {
        g.read_error = false;
        cmd_reply(kRefused);
        return cmd_finish();
    }
    if (!io().ring_count) {
        if (!io().end) return; // the producer has more on a later pass
        reset_transfer();
        put_packet(kDataOpcode, 0, nullptr);
        return cmd_finish();
    }
    uint8_t out[kCmdDataKept];
    uint32_t n = Fxp_DoReadData(out, std::min<uint32_t>(CmdDataMax, sizeof out));
    put_packet(kDataOpcode, uint16_t(n), out);
    cmd_finish();
}

void Fxp_Reset() {
    if (g.file.open) _fxe_file_close(&g.file);
    g = State{};
    FxpInterface = FxpInterfaceT{};
}
