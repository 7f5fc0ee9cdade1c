// Data logger: configured groups of registers sampled on a period or on a
// trigger's rising edge into one shared 40,960-byte ring, and written one
// mailbox step per control scan as CSV rows, one file per group and hour (a
// period in seconds) or day (a period in minutes), each row opened, written
// and closed on its own.
#include "data/logger.h"

#include "base/le.h"
#include "base/trace.h"
#include "data/cfm.h"
#include "data/data.h"
#include "data/log_mbox.h"
#include "platform/media.h"
#include "plc/appblocks.h"
#include "regs/plc_reg.h"
#include "regs/sr.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

using namespace logcfg;

// More columns than any group can have within the line and row tables.
constexpr uint32_t kColumnsMax = 300;
// Widest texts a row line can hold for its stamps (every field a 16-bit
// value): a date of style 1, 2, 7, 8 or 11 and a time of style 3.
constexpr uint32_t kDateWidth = 17, kTimeWidth = 20;

struct Column {
    uint32_t ref;
    uint8_t type;
    uint8_t name_len;
    char name[kNameChars];
};

struct Group {
    // Configuration.
    uint32_t trigger_ref, status_ref, period;
    bool minutes;
    uint8_t date_style, time_style;
    uint32_t columns;
    Column col[kColumnsMax];
    // Run state.
    uint16_t state; // 0, or the group's last error
    uint16_t fill;  // percent of the row capacity buffered
    uint32_t last;  // last periodic sample, seconds since the start of the week
    uint8_t latch;
    uint32_t share_at; // the share's first byte in the raw buffer
    uint16_t share, wr, rd, bytes, rows, row_size, capacity;
    char path[kPathMax];
    uint32_t name_at; // where "\" and the file name begin
    bool new_config;
    char last_name[16]; // the file this group last opened
};

struct LogState {
    bool started; // LOG_Start ran since power-up
    bool configured;
    uint32_t enable_ref, status_ref;
    int groups;
    Group group[kGroups];
    uint16_t status; // LogStatus
    uint16_t media_use;
    uint8_t enable, enable_before, force;
    uint16_t rtc[7];
    uint8_t row[kRowMax];
    uint32_t row_pos;
    char line[kLineMax + 1];
    uint32_t line_len;
    uint32_t write_count;
    FxFile file;
    int ws;      // write state 0..17
    int wg;      // group being written
    uint32_t wv; // column at which formatting resumes
    LogMboxUser holder;
};
LogState g;
uint8_t LogRawBuf[kRawBuf];
void (*g_console)(const char *);

void console(const char *fmt, ...) {
    char text[200];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    if (g_console) g_console(text);
}

// ---------------------------------------------------------------------------
// Configuration.

// Widest text of a value of each type (0 for the stamps, which write none).
constexpr uint32_t kTextWidth[kTypes] = {1, 17, 6, 11, 5, 10, 5, 16, 12, 15, 0, 0, 13};
constexpr uint32_t kRawSize[kTypes] = {1, 2, 2, 4, 2, 4, 2, 16, 4, 4, 6, 6, 8};

bool has_dot_dot(const char *s, uint32_t n) {
    for (uint32_t i = 0; i + 1 < n; ++i)
        if (s[i] == '.' && s[i + 1] == '.' && (i == 0 || s[i - 1] == '\\' || s[i - 1] == '/') &&
            (i + 2 == n || s[i + 2] == '\\' || s[i + 2] == '/'))
            return true;
    return false;
}

// Reads and checks a configuration into `out` (groups, columns, paths). 1
// usable, 0 none (short, another tag), -1 refused with the reason in why.
int parse(const uint8_t *block, uint32_t capacity, LogState *out, char *why, uint32_t why_size) {
    auto refuse = [&](const char *fmt, auto... args) {
        if (why && why_size) std::snprintf(why, why_size, fmt, args...);
        return -1;
    };
    if (capacity < 16) return 0;
    uint32_t length = le32(block + 4);
    if (length > capacity - 8)
        return refuse("data log: block of %u bytes past its %u-byte buffer", length, capacity - 8);
    const uint8_t *cfg = block + 8;
    if (length < 8) return 0;
    uint32_t size = le32(cfg);
    if (size < kMinSize || le32(cfg + 4) != kTag) return 0;
    if (size > length)
        return refuse("data log: configuration of %u bytes past its %u-byte block", size, length);
    uint32_t groups = le16(cfg + 22);
    if (groups > uint32_t(kGroups))
        return refuse("data log: %u groups, at most %d", groups, kGroups);
    out->enable_ref = le32(cfg + 12);
    out->status_ref = le32(cfg + 16);
    out->groups = int(groups);
    uint64_t at = kHeaderBytes;
    uint32_t record[kGroups];
    for (uint32_t i = 0; i < groups; ++i) {
        if (at + kGroupBytes > size)
            return refuse("data log: group %u past the configuration", i + 1);
        uint32_t columns = le32(cfg + at + 40);
        if (columns > kColumnsMax)
            return refuse("data log: group %u has %u columns", i + 1, columns);
        if (at + kGroupBytes + uint64_t(kColumnBytes) * columns > size)
            return refuse("data log: columns of group %u past the configuration", i + 1);
        record[i] = uint32_t(at);
        at += kGroupBytes + uint64_t(kColumnBytes) * columns;
    }
    const uint8_t *pool = cfg + at;
    uint64_t pool_len = size - at;
    auto string = [&](uint32_t off, uint32_t len) -> const char * {
        return uint64_t(off) + len <= pool_len ? reinterpret_cast<const char *>(pool + off)
                                               : nullptr;
    };
    for (uint32_t i = 0; i < groups; ++i) {
        const uint8_t *r = cfg + record[i];
        Group &gr = out->group[i];
        uint32_t folder_len = le32(r + 4), base_len = le32(r + 28);
        const char *folder = string(le32(r), folder_len);
        const char *base = string(le32(r + 24), base_len);
        if (!folder || !base)
            return refuse("data log: folder or base directory of group %u past the string pool",
                          i + 1);
        bool sep = base_len && (base[base_len - 1] == '\\' || base[base_len - 1] == '/');
        // base, "\" when missing, folder, "\", a 10-character name, NUL
        uint64_t path_len = uint64_t(base_len) + (sep ? 0 : 1) + folder_len + 1 + 10 + 1;
        if (path_len > kPathMax)
            return refuse("data log: path of group %u longer than %u bytes", i + 1, kPathMax);
        if (has_dot_dot(base, base_len) || has_dot_dot(folder, folder_len))
            return refuse("data log: path of group %u leaves the medium", i + 1);
        gr.trigger_ref = le32(r + 8);
        gr.status_ref = le32(r + 12);
        gr.period = le32(r + 16);
        gr.minutes = le32(r + 20) != 0;
        gr.date_style = r[32];
        gr.time_style = r[36];
        gr.columns = le32(r + 40);
        std::memset(gr.path, 0, sizeof gr.path);
        std::memcpy(gr.path, base, base_len);
        uint32_t n = base_len;
        if (!sep) gr.path[n++] = '\\';
        std::memcpy(gr.path + n, folder, folder_len);
        gr.name_at = n + folder_len;
        uint32_t raw = kStampBytes, header = 9 + 2, line = kDateWidth + 1 + kTimeWidth + 2;
        for (uint32_t c = 0; c < gr.columns; ++c) {
            const uint8_t *cr = r + kGroupBytes + kColumnBytes * c;
            Column &col = gr.col[c];
            col.ref = le32(cr);
            col.type = cr[4];
            uint32_t name_len = le32(cr + 12);
            const char *name = string(le32(cr + 8), name_len);
            if (!name)
                return refuse("data log: name of column %u of group %u past the string pool", c + 1,
                              i + 1);
            if (col.type >= kTypes)
                return refuse("data log: column %u of group %u has type %u", c + 1, i + 1,
                              unsigned(col.type));
            col.name_len = uint8_t(name_len < kNameChars ? name_len : kNameChars);
            std::memcpy(col.name, name, col.name_len);
            raw += kRawSize[col.type];
            header += 1 + col.name_len;
            line += 1 + kTextWidth[col.type];
        }
        if (raw > kRowMax)
            return refuse("data log: row of group %u takes %u bytes, at most %u", i + 1, raw,
                          kRowMax);
        if (header > kLineMax || line > kLineMax)
            return refuse("data log: a line of group %u may take %u characters, at most %u", i + 1,
                          header > line ? header : line, kLineMax);
        gr.row_size = uint16_t(raw);
    }
    return 1;
}

LogState g_check; // LOG_CheckBlock's scratch

// Rebuilds the run state from datalog_table.
void rebuild(bool changed) {
    if (g.holder == LogMboxUser::Logger) LogMbox_Release(LogMboxUser::Logger);
    g.configured = false;
    g.groups = 0;
    char why[160] = "";
    int r = parse(datalog_table, app::kConfigParts[10].capacity, &g, why, sizeof why);
    if (r < 0) console("%s: the data logger stays off", why);
    if (r <= 0) {
        g.groups = 0;
        return;
    }
    g.configured = true;
    g.enable = 0;
    g.force = 1;
    if (g.groups == 0) return;
    uint32_t sum = 0;
    for (int i = 0; i < g.groups; ++i)
        sum += g.group[i].row_size;
    uint32_t at = 0;
    for (int i = 0; i < g.groups; ++i) {
        Group &gr = g.group[i];
        gr.state = 0;
        gr.fill = 0;
        gr.last = 0;
        gr.latch = 1;
        gr.wr = gr.rd = gr.bytes = gr.rows = 0;
        gr.share_at = at;
        gr.share = uint16_t(uint32_t(gr.row_size) * kRawBuf / sum);
        gr.capacity = uint16_t(gr.share / gr.row_size);
        at += gr.share;
        gr.new_config = changed;
        gr.last_name[0] = 0;
    }
    g.status = 0;
    g.ws = 16;
    g.wg = 0;
}

// ---------------------------------------------------------------------------
// Sampling.

void ring_put(Group &gr, const uint8_t *bytes, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) {
        LogRawBuf[gr.share_at + gr.wr] = bytes[i];
        if (++gr.wr >= gr.share) gr.wr = 0;
    }
}

void sample(Group &gr) {
    if (gr.rows >= gr.capacity) return; // a full ring drops the sample
    uint8_t stamp[kStampBytes];
    for (int i = 0; i < 3; ++i) {
        put_le16(stamp + 2 * i, g.rtc[3 + i]); // day, month, year
        put_le16(stamp + 6 + 2 * i, g.rtc[i]); // second, minute, hour
    }
    ring_put(gr, stamp, sizeof stamp);
    for (uint32_t c = 0; c < gr.columns; ++c) {
        const Column &col = gr.col[c];
        uint8_t v[16] = {};
        uint32_t n = kRawSize[col.type];
        if (col.type == 0) {
            PlcReg_Get(v, col.ref, 1);
        } else if (const uint8_t *p = PlcReg_Ptr(col.ref, 8 * n)) {
            std::memcpy(v, p, n);
        } // an unmapped reference samples as zeros
        ring_put(gr, v, n);
    }
    gr.bytes = uint16_t(gr.bytes + gr.row_size);
    ++gr.rows;
}

uint8_t read_bit(uint32_t ref) {
    uint8_t b = 0;
    if (ref) PlcReg_Get(&b, ref, 1);
    return b & 1;
}

void sampling() {
    g.enable = g.enable_ref ? read_bit(g.enable_ref) : 0;
    if (g.enable && !g.enable_before) g.force = 1;
    for (int i = 0; i < 7; ++i)
        g.rtc[i] = sr_get(sr::kClock + i);
    uint32_t dow = g.rtc[6] >= 1 && g.rtc[6] <= 7 ? g.rtc[6] : 1;
    int64_t now = int64_t(dow - 1) * 86400 + int64_t(g.rtc[2]) * 3600 + g.rtc[1] * 60 + g.rtc[0];
    if (g.enable) {
        for (int i = 0; i < g.groups; ++i) {
            Group &gr = g.group[i];
            bool due = false, trig = false;
            if (gr.period) {
                int64_t last = gr.last;
                if (last > now) last -= 604800; // the week began again since
                uint64_t period = uint64_t(gr.period) * (gr.minutes ? 60 : 1);
                if (now - last >= int64_t(period) || g.force) {
                    due = true;
                    gr.last = uint32_t(now);
                }
            }
            if (gr.trigger_ref) {
                uint8_t bit = read_bit(gr.trigger_ref);
                if (bit && !gr.latch) {
                    trig = true;
                    gr.latch = 1;
                } else {
                    gr.latch = bit;
                }
            }
            if ((gr.period && due) || trig) sample(gr);
        }
    }
    g.force = 0;
    g.enable_before = g.enable;
}

// ---------------------------------------------------------------------------
// Text of a row.

const char *const kMonth[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

void add(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(g.line + g.line_len, sizeof g.line - g.line_len, fmt, ap);
    va_end(ap);
    if (n > 0) g.line_len += uint32_t(n);
    if (g.line_len > kLineMax) g.line_len = kLineMax; // never: the checks bound every line
}

void add_date(uint8_t style, unsigned day, unsigned month, unsigned year) {
    const char *mon = month >= 1 && month <= 12 ? kMonth[month - 1] : "???";
    unsigned yy = year % 100;
    switch (style) {
    // clang-format off
    case 0:  add("%02u/%02u", month, day); break;
    case 1:  add("%02u/%02u/%02u", month, day, yy); break;
    case 2:  add("%02u/%02u/%04u", month, day, year); break;
    case 3:  add("%02u-%s", day, mon); break;
    case 4:  add("%02u-%s-%02u", day, mon, yy); break;
    case 5:  add("%02u-%s-%04u", day, mon, year); break;
    case 6:  add("%02u-%02u", day, month); break;
    case 7:  add("%02u-%02u-%02u", day, month, yy); break;
    case 8:  add("%02u-%02u-%04u", day, month, year); break;
    case 9:  add("%02u-%02u", month, day); break;
    case 10: add("%02u-%02u-%02u", yy, month, day); break;
    case 11: add("%04u-%02u-%02u", year, month, day); break;
    default: break;
        // clang-format on
    }
}

void add_time(uint8_t style, unsigned second, unsigned minute, unsigned hour) {
    const char *half = hour < 12 ? "AM" : "PM";
    unsigned h12 = hour == 0 ? 12 : (hour >= 13 && hour <= 23 ? hour - 12 : hour);
    switch (style) {
    // clang-format off
    case 0: add("%02u:%02u", hour, minute); break;
    case 1: add("%02u:%02u:%02u", hour, minute, second); break;
    case 2: add("%02u:%02u %s", h12, minute, half); break;
    case 3: add("%02u:%02u:%02u %s", h12, minute, second, half); break;
    default: break;
        // clang-format on
    }
}

void add_value(uint8_t type, const uint8_t *v) {
    switch (type) {
    case 0:
        add("%d", int(v[0]));
        break;
    case 1: {
        char bits[18];
        uint16_t w = le16(v);
        for (int b = 0; b < 16; ++b)
            bits[b] = (w >> (15 - b)) & 1 ? '1' : '0';
        bits[16] = 'B';
        bits[17] = 0;
        add("%s", bits);
        break;
    }
    case 2:
        add("%d", int(int16_t(le16(v))));
        break;
    case 3:
        add("%ld", long(int32_t(le32(v))));
        break;
    case 4:
        add("%u", unsigned(le16(v)));
        break;
    case 5:
        add("%lu", static_cast<unsigned long>(le32(v)));
        break;
    case 6:
        add("%04XH", unsigned(le16(v)));
        break;
    case 7:
        add("%.*s", int(strnlen(reinterpret_cast<const char *>(v), 16)), v);
        break;
    case 8: {
        float f;
        uint32_t bits = le32(v);
        std::memcpy(&f, &bits, 4);
        add("%g", double(f));
        break;
    }
    case 9: {
        uint32_t a = le32(v);
        add("%u.%u.%u.%u", a >> 24, (a >> 16) & 0xFF, (a >> 8) & 0xFF, a & 0xFF);
        break;
    }
    case 12: {
        double d;
        uint64_t bits = le32(v) | uint64_t(le32(v + 4)) << 32;
        std::memcpy(&d, &bits, 8);
        add("%g", d);
        break;
    }
    default: // the stamps write no text as columns
        break;
    }
}

void build_header(const Group &gr) {
    g.line_len = 0;
    add("Date,Time");
    for (uint32_t c = 0; c < gr.columns; ++c)
        add(",%.*s", int(gr.col[c].name_len), gr.col[c].name);
    add("\r\n");
}

// ---------------------------------------------------------------------------
// The file writer.

Group &cur() {
    return g.group[g.wg];
}
void next_group() {
    if (g.groups) g.wg = (g.wg + 1) % g.groups;
}

void empty_ring(Group &gr) {
    gr.rd = gr.wr = 0;
    gr.bytes = gr.rows = 0;
}

void file_error(int16_t code) {
    if (code >= 1 && code <= 7) {
        // A media status: wait for the medium (the removal states stay).
        g.status = uint16_t(code);
        if (code < 6) g.ws = 0;
        return;
    }
    Group &gr = cur();
    gr.state = uint16_t(code);
    empty_ring(gr);
    g.ws = 16;
}

// Posts for the logger: -2 moves on to `waiting`; a post refused as busy
// stays and is tried again on the next scan.
template <class Post> void post(int waiting, Post p) {
    int16_t r = LogMbox_Post(LogMboxUser::Logger, p);
    if (r == -2)
        g.ws = waiting;
    else if (r != -3)
        file_error(r);
}

void cut_path(Group &gr) {
    gr.path[gr.name_at] = 0;
}

// The file name of the row in the row buffer: hourly for a period in
// seconds, daily for one in minutes (each field two digits).
void set_file_name(Group &gr) {
    unsigned day = le16(g.row) % 100, month = le16(g.row + 2) % 100, year = le16(g.row + 4) % 100;
    unsigned hour = le16(g.row + 10) % 100;
    char name[16];
    if (gr.minutes)
        std::snprintf(name, sizeof name, "%02u%02u%02u.CSV", year, month, day);
    else
        std::snprintf(name, sizeof name, "%02u%02u%02u.CSV", month, day, hour);
    if (gr.last_name[0] && std::strcmp(gr.last_name, name) != 0) {
        // Only the file in use carries the system attribute.
        std::snprintf(gr.path + gr.name_at, kPathMax - gr.name_at, "\\%s", gr.last_name);
        FxMedia *m = Fx_MediaOf(0);
        uint32_t attributes = 0;
        if (_fxe_file_attributes_read(m, gr.path, &attributes) == fx::kSuccess &&
            (attributes & fx::kSystem))
            _fxe_file_attributes_set(m, gr.path, attributes & ~uint32_t(fx::kSystem));
    }
    std::memcpy(gr.last_name, name, sizeof gr.last_name);
    std::snprintf(gr.path + gr.name_at, kPathMax - gr.name_at, "\\%s", name);
}

void copy_row(const Group &gr) {
    uint32_t at = gr.rd;
    for (uint32_t i = 0; i < gr.row_size; ++i) {
        g.row[i] = LogRawBuf[gr.share_at + at];
        if (++at >= gr.share) at = 0;
    }
}

void drop_row(Group &gr) {
    gr.rd = uint16_t((gr.rd + gr.row_size) % gr.share);
    gr.bytes = uint16_t(gr.bytes - gr.row_size);
    --gr.rows;
}

// States 10 and 11: the row's text, pausing after a float column that is
// not the last.
void format_row() {
    Group &gr = cur();
    if (g.ws == 10) {
        g.line_len = 0;
        g.line[0] = 0;
        add_date(gr.date_style, le16(g.row), le16(g.row + 2), le16(g.row + 4));
        add(",");
        add_time(gr.time_style, le16(g.row + 6), le16(g.row + 8), le16(g.row + 10));
        g.wv = 0;
        g.row_pos = kStampBytes;
    }
    while (g.wv < gr.columns) {
        uint8_t type = gr.col[g.wv].type;
        add(",");
        add_value(type, g.row + g.row_pos);
        g.row_pos += kRawSize[type];
        ++g.wv;
        if ((type == 8 || type == 12) && g.wv < gr.columns) {
            g.ws = 11;
            return;
        }
    }
    add("\r\n");
    g.ws = 12;
}

void writer_step() {
    if (g.groups == 0) return;
    int16_t r = 0;
    auto result = [&] { return r = LogMbox_Result(LogMboxUser::Logger); };
    switch (g.ws) {
    case 0:
        g.status = uint16_t(CFDL_GetStatus());
        if (g.status == 0) g.ws = 16;
        break;
    case 1: {
        int16_t st = CFDL_GetStatus();
        if (st != 0) {
            // A status of the medium, whatever its value: wait for it.
            g.status = uint16_t(st);
            if (st != 6 && st != 7) g.ws = 0;
            break;
        }
        for (int n = 0; n < g.groups; ++n) {
            if (cur().rows) {
                copy_row(cur());
                g.ws = 2;
                break;
            }
            next_group();
        }
        break;
    }
    case 2:
        cut_path(cur());
        post(3, [] { return CFDL_MakeDir(0, cur().path); });
        break;
    case 3:
        if (result() == -2) break;
        if (r == 0 || r == 81)
            g.ws = cur().new_config ? 6 : 4;
        else
            file_error(r);
        break;
    case 4:
        set_file_name(cur());
        post(5, [] { return CFDL_Open(&g.file, cur().path, 1); });
        break;
    case 5:
        if (result() == -2) break;
        if (r == 0)
            g.ws = 10;
        else if (r == 66)
            g.ws = 6;
        else
            file_error(r);
        break;
    case 6:
        set_file_name(cur());
        post(7, [] { return CFDL_Open(&g.file, cur().path, 8); });
        break;
    case 7:
        if (result() == -2) break;
        if (r == 0)
            g.ws = 8;
        else
            file_error(r);
        break;
    case 8:
        build_header(cur());
        post(9, [] { return CFDL_Write(&g.file, g.line, g.line_len, &g.write_count); });
        break;
    case 9:
        if (result() == -2) break;
        if (r == 0)
            g.ws = 10;
        else
            file_error(r);
        break;
    case 10:
    case 11:
        format_row();
        break;
    case 12:
        post(13, [] { return CFDL_Write(&g.file, g.line, g.line_len, &g.write_count); });
        break;
    case 13:
        if (result() == -2) break;
        if (r == 0) {
            cur().state = 0;
            g.ws = 14;
        } else {
            file_error(r);
        }
        break;
    case 14:
        post(15, [] { return CFDL_Close(&g.file); });
        break;
    case 15:
        if (result() == -2) break;
        if (r == 0) {
            drop_row(cur());
            cur().new_config = false;
            g.ws = 1;
            next_group();
        } else {
            file_error(r);
        }
        break;
    case 16:
        if (g.file.open) {
            post(17, [] { return CFDL_Close(&g.file); });
        } else {
            g.ws = 1;
            next_group();
        }
        break;
    case 17:
        if (result() == -2) break;
        g.ws = 1;
        next_group();
        break;
    default:
        g.ws = 16;
        break;
    }
}

void put_status(uint32_t ref, uint16_t first, uint16_t second) {
    if (!ref) return;
    uint8_t v[4];
    put_le16(v, first);
    put_le16(v + 2, second);
    PlcReg_Set(ref, v, 32);
}

// Used space of the medium in whole percent; 0 when the figures cannot give
// one (no total, or free space above it).
uint16_t media_use() {
    uint32_t total = 0, free = 0;
    CFDL_GetFreeSpace(0, &total, &free);
    uint64_t per_cent = (uint64_t(total) + 50) / 100;
    if (per_cent == 0 || free > total) return 0;
    return uint16_t((total - free) / per_cent);
}

void status_registers() {
    g.media_use = media_use();
    put_status(g.status_ref, g.status, g.media_use);
    for (int i = 0; i < g.groups; ++i) {
        Group &gr = g.group[i];
        gr.fill = gr.capacity ? uint16_t(uint32_t(gr.rows) * 100 / gr.capacity) : 0;
        put_status(gr.status_ref, gr.state, gr.fill);
    }
}

} // namespace

// ---------------------------------------------------------------------------
// The mailbox's holder (shared with the debug log).

LogMboxUser LogMbox_Holder() {
    return g.holder;
}
void LogMbox_SetHolder(LogMboxUser who) {
    g.holder = who;
}
int16_t LogMbox_Result(LogMboxUser who) {
    int16_t r = CFDL_Result();
    if (r != -2 && g.holder == who) g.holder = LogMboxUser::None;
    return r;
}
void LogMbox_Release(LogMboxUser who) {
    if (g.holder == who) g.holder = LogMboxUser::None;
}

// ---------------------------------------------------------------------------

uint32_t LOG_RawSize(uint32_t type) {
    return type < uint32_t(kTypes) ? kRawSize[type] : 0;
}

int LOG_CheckBlock(const uint8_t *block, uint32_t capacity, char *why, uint32_t why_size) {
    if (why && why_size) why[0] = 0;
    return parse(block, capacity, &g_check, why, why_size) < 0 ? -1 : 0;
}

void LOG_SetConsole(void (*line)(const char *text)) {
    g_console = line;
}

void LOG_Start() {
    host::trace("LOG_Start");
    uint16_t crc = le16(datalog_table);
    uint32_t length = le32(datalog_table + 4);
    bool changed =
        uint16_t(~sr_get(sr::kDatalogCrc)) != crc || ~sr_get32(sr::kDatalogLength) != length;
    if (changed || !g.started) rebuild(changed);
    g.started = true;
    sr_put(sr::kDatalogCrc, uint16_t(~crc));
    sr_put32(sr::kDatalogLength, ~length);
}

void LOG_Stop() {
    host::trace("LOG_Stop");
}

void LOG_Update() {
    host::trace("LOG_Update");
    if (!g.configured) return;
    sampling();
    writer_step();
    status_registers();
}

int LOG_WriteState() {
    return g.ws;
}
int LOG_WriteGroup() {
    return g.wg;
}
uint32_t LOG_RowsBuffered(int group) {
    return group >= 0 && group < g.groups ? g.group[group].rows : 0;
}
uint32_t LOG_RowCapacity(int group) {
    return group >= 0 && group < g.groups ? g.group[group].capacity : 0;
}

void LOG_Reset() {
    g = LogState{};
    std::memset(LogRawBuf, 0, sizeof LogRawBuf);
}
