// Register data as CSV text: reading by row, by column and counting rows,
// writing raw bytes or CSV values, with the layout lists of mixed records.
#include "base/le.h"
#include "platform/cf_api.h"
#include "platform/slice.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {
uint8_t g_wbuf[512]; // write-back buffer of CfWriteBuffered
uint32_t g_wfill;

constexpr size_t kFieldMax = 512; // longer fields are cut (a text value holds at most 126)

bool has_prefix(const char *p) {
    return p[0] && p[1] == ':';
}

int16_t status(int16_t card) {
    CfStatus = card;
    return card;
}
int16_t done(uint32_t fx_status, int drive) {
    CfResult = fx_status;
    CfStatus = CfResultDecode(fx_status, drive);
    return CfStatus;
}

// Reads a file in 128-byte pieces.
struct Reader {
    FxFile file{};
    uint8_t buf[128];
    uint32_t len = 0, pos = 0;
    uint32_t last = fx::kSuccess; // status of the last file operation
    bool end = false;

    int peek() {
        if (pos == len) {
            if (end) return -1;
            uint32_t n = 0;
            last = _fxe_file_read(&file, buf, sizeof buf, &n);
            SlicePoint();
            len = n;
            pos = 0;
            if (last != fx::kSuccess || n == 0) {
                end = true;
                len = 0;
                return -1;
            }
        }
        return buf[pos];
    }
    int get() {
        int c = peek();
        if (c >= 0) ++pos;
        return c;
    }
};

struct Field {
    std::string text;
    bool got = false;      // something was collected (or a quoted, maybe empty, text)
    bool line_end = false; // ended by a line feed
};

// Collects one field. By row, line ends before a field are skipped; by
// column a line end ends the (empty) field and is left for the row count.
// A quoted text may hold separators, line ends and doubled quotes. The end
// of the file completes a field that has begun.
bool read_field(Reader &r, bool text, bool by_row, Field *f) {
    *f = Field{};
    bool quoted = false;
    for (;;) {
        int c = r.peek();
        if (c < 0) return f->got;
        if (!f->got && !quoted && (c == ' ' || c == '\t' || ((c == '\r' || c == '\n') && by_row))) {
            r.get();
            continue;
        }
        if (!quoted && (c == ',' || c == '\r' || c == '\n')) {
            if (by_row || c == ',') r.get();
            if (c == '\n' && by_row) f->line_end = true;
            if (c == '\r' && !by_row) {
                // By column: leave the line feed for the row count.
                r.get();
            }
            return true;
        }
        r.get();
        if (text && c == '"') {
            if (quoted && r.peek() == '"') {
                r.get();
                if (f->text.size() < kFieldMax) f->text += '"';
            } else {
                quoted = !quoted;
            }
            f->got = true;
            continue;
        }
        f->got = true;
        if (f->text.size() < kFieldMax) f->text += char(c);
    }
}

std::string numeric(const std::string &s) {
    size_t b = s.find_first_not_of(" \t\"");
    size_t e = s.find_last_not_of(" \t\"");
    return b == std::string::npos ? "" : s.substr(b, e - b + 1);
}

int64_t to_int(const std::string &s, int64_t lo, int64_t hi) {
    long long v = std::strtoll(numeric(s).c_str(), nullptr, 10);
    return v < lo ? lo : v > hi ? hi : v;
}

// Stores value `index` of a field into the data area.
void store(uint8_t *data, uint32_t type, uint32_t index, const std::string &field) {
    switch (type) {
    case 1: {
        uint16_t v = 0;
        for (char c : field)
            v = uint16_t((v << 1) | (c & 1));
        put_le16(data + 2 * index, v);
        break;
    }
    case 2: {
        uint8_t &byte = data[index / 8];
        uint8_t bit = uint8_t(1u << (index % 8));
        if (to_int(field, INT64_MIN, INT64_MAX) != 0)
            byte |= bit;
        else
            byte &= uint8_t(~bit);
        break;
    }
    case 3:
        put_le32(data + 4 * index, uint32_t(int32_t(to_int(field, INT32_MIN, INT32_MAX))));
        break;
    case 4: {
        uint16_t v = 0;
        for (char c : field)
            if (std::isxdigit(static_cast<unsigned char>(c)))
                v = uint16_t((v << 4) | (c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10));
        put_le16(data + 2 * index, v);
        break;
    }
    case 5:
        put_le16(data + 2 * index, uint16_t(int16_t(to_int(field, INT32_MIN, INT32_MAX))));
        break;
    case 6: {
        float f = std::strtof(numeric(field).c_str(), nullptr);
        uint32_t bits;
        std::memcpy(&bits, &f, 4);
        put_le32(data + 4 * index, bits);
        break;
    }
    case 7:
        put_le32(data + 4 * index, uint32_t(to_int(field, 0, UINT32_MAX)));
        break;
    case 8:
        put_le16(data + 2 * index, uint16_t(to_int(field, INT32_MIN, INT32_MAX)));
        break;
    case 9: {
        double d = std::strtod(numeric(field).c_str(), nullptr);
        uint64_t bits;
        std::memcpy(&bits, &d, 8);
        put_le64(data + 8 * index, bits);
        break;
    }
    case 10:
        data[index] = uint8_t(to_int(field, INT32_MIN, INT32_MAX));
        break;
    default:
        break;
    }
}

// Bytes that n values of a type take in the data area.
uint32_t area_bytes(uint32_t type, uint32_t n) {
    if (type == 2) return (n + 15) / 16 * 2;
    return n * CF_TypeWidth(type) / 8;
}

// A text stored in a fixed area: cut to fit, zero-terminated when shorter.
void store_text(uint8_t *data, uint32_t room, const std::string &text) {
    uint32_t n = std::min<uint32_t>(uint32_t(text.size()), room);
    std::memcpy(data, text.data(), n);
    if (n < room) std::memset(data + n, 0, room - n);
}

struct Item {
    uint32_t type, count; // a text: count = its fixed length
};

bool layout_items(const uint8_t *layout, uint32_t entries, std::vector<Item> *items) {
    if (!layout) return false;
    for (uint32_t i = 0; i < entries; ++i) {
        const uint8_t *e = layout + i * kCsvLayoutEntrySize;
        Item it{le16(e), le16(e + 2)};
        if (it.type > 10) return false;
        items->push_back(it);
    }
    return true;
}

// Shortest text that reads back as the same value ("%g" when that is enough).
std::string float_text(double v, bool single) {
    char buf[40];
    for (int p = 6; p <= (single ? 9 : 17); ++p) {
        std::snprintf(buf, sizeof buf, "%.*g", p, v);
        if (single ? std::strtof(buf, nullptr) == float(v) : std::strtod(buf, nullptr) == v) break;
    }
    return buf;
}

std::string quote_text(const std::string &t) {
    if (t.find_first_of(",\"\r\n") == std::string::npos) return t;
    std::string q = "\"";
    for (char c : t)
        q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
}

std::string format_value(const uint8_t *data, uint32_t type, uint32_t i) {
    char buf[32];
    switch (type) {
    case 1: {
        uint16_t v = le16(data + 2 * i);
        std::string s;
        for (int b = 15; b >= 0; --b)
            s += (v >> b) & 1 ? '1' : '0';
        return s;
    }
    case 2:
        return (data[i / 8] >> (i % 8)) & 1 ? "1" : "0";
    case 3:
        std::snprintf(buf, sizeof buf, "%" PRId32, int32_t(le32(data + 4 * i)));
        break;
    case 4:
        std::snprintf(buf, sizeof buf, "%X", unsigned(le16(data + 2 * i)));
        break;
    case 5:
        std::snprintf(buf, sizeof buf, "%d", int(int16_t(le16(data + 2 * i))));
        break;
    case 6: {
        uint32_t bits = le32(data + 4 * i);
        float f;
        std::memcpy(&f, &bits, 4);
        return float_text(f, true);
    }
    case 7:
        std::snprintf(buf, sizeof buf, "%" PRIu32, le32(data + 4 * i));
        break;
    case 8:
        std::snprintf(buf, sizeof buf, "%u", unsigned(le16(data + 2 * i)));
        break;
    case 9: {
        uint64_t bits = le64(data + 8 * i);
        double d;
        std::memcpy(&d, &bits, 8);
        return float_text(d, false);
    }
    case 10:
        std::snprintf(buf, sizeof buf, "%d", int(data[i]));
        break;
    default:
        buf[0] = 0;
    }
    return buf;
}

std::string text_value(const uint8_t *data, uint32_t length) {
    const void *nul = std::memchr(data, 0, length);
    return quote_text(std::string(reinterpret_cast<const char *>(data),
                                  nul ? size_t(static_cast<const uint8_t *>(nul) - data) : length));
}

int open_for_read(CsvFileRequest *req, Reader *r) {
    if (!req->path) return status(cf::kInvalid);
    return CF_Open(&r->file, req->path, 0);
}

int16_t close_reader(Reader *r, int16_t result) {
    int drive = int(r->file.drive);
    uint32_t st = _fxe_file_close(&r->file);
    if (result != cf::kOk) return status(result);
    return done(st, drive);
}
} // namespace

uint32_t CF_TypeWidth(uint32_t type) {
    static constexpr uint32_t kWidth[11] = {8, 16, 8, 32, 16, 16, 32, 32, 16, 64, 8};
    return type <= 10 ? kWidth[type] : 0;
}

int CfWriteBuffered(FxFile *file, const void *bytes, uint32_t count) {
    if (count == 0) {
        if (g_wfill == 0) return 0;
        uint32_t st = _fxe_file_write(file, g_wbuf, g_wfill);
        g_wfill = 0;
        if (st) {
            CfResult = st;
            return -1;
        }
        return 0;
    }
    const uint8_t *p = static_cast<const uint8_t *>(bytes);
    for (uint32_t left = count; left;) {
        uint32_t n = std::min<uint32_t>(left, sizeof g_wbuf - g_wfill);
        std::memcpy(g_wbuf + g_wfill, p, n);
        g_wfill += n;
        p += n;
        left -= n;
        if (g_wfill == sizeof g_wbuf) {
            uint32_t st = _fxe_file_write(file, g_wbuf, g_wfill);
            g_wfill = 0;
            if (st) {
                CfResult = st;
                return -1;
            }
        }
    }
    return int(count);
}

int16_t CF_ReadFile(uint32_t, CsvFileRequest *req) {
    if (!req) return status(cf::kInvalid);
    if (req->position == -1) return CF_ReadFileRowCount(req);
    if (req->position < 0) return CF_ReadFileByColumn(req);
    return CF_ReadFileByRow(req);
}

int16_t CF_ReadFileRowCount(CsvFileRequest *req) {
    Reader r;
    if (int16_t st = open_for_read(req, &r)) return st;
    uint32_t rows = 0;
    for (int c; (c = r.get()) >= 0;)
        if (c == '\n') ++rows;
    if (r.last != fx::kSuccess && r.last != fx::kEndOfFile)
        return close_reader(&r, done(r.last, int(r.file.drive)));
    if (req->data) put_le32(req->data, rows);
    if (req->result) *req->result = 1;
    return close_reader(&r, cf::kOk);
}

int16_t CF_ReadFileByRow(CsvFileRequest *req) {
    bool layout = (req->end_of_row & 0xFF) == kCsvLayoutRead;
    if (req->type > 9) return status(cf::kInvalid);
    if (!layout && req->type == 0 && req->count > 126) return status(cf::kInvalid);
    uint32_t dummy = 0;
    uint32_t *result = req->result ? req->result : &dummy;
    *result = 0;
    std::vector<Item> items;
    uint32_t room = 0;
    if (layout) {
        // The layout must fit the data area it describes.
        room = req->end_of_row >> 16;
        if (!layout_items(req->layout, req->count, &items)) return status(cf::kInvalid);
        uint32_t need = 0;
        for (const Item &it : items) {
            need += it.type == 0 ? it.count : area_bytes(it.type, it.count);
            if (it.type == 0) need += need & 1;
        }
        if (need > room) return status(cf::kInvalid);
    } else {
        items.push_back({req->type, req->count});
    }
    if (!req->data) return status(cf::kInvalid);
    Reader r;
    if (int16_t st = open_for_read(req, &r)) return st;
    // Skip the separators before the first value. Separators inside quoted
    // texts do not count, whatever type is read.
    bool quoted = false;
    for (int32_t skip = req->position; skip > 0;) {
        int c = r.get();
        if (c < 0) return close_reader(&r, cf::kEndOfFile);
        if (c == '"')
            quoted = !quoted;
        else if (!quoted && (c == ',' || c == '\n'))
            --skip;
    }
    uint8_t *data = req->data;
    Field f;
    for (const Item &it : items) {
        if (it.type == 0) {
            if (!read_field(r, true, true, &f)) return close_reader(&r, cf::kEndOfFile);
            if (layout) {
                store_text(data, it.count, f.text);
                data += it.count;
                data += uintptr_t(data - req->data) & 1; // next even address
                ++*result;
            } else {
                // One text ends the request; the result is its length.
                uint32_t n = std::min<uint32_t>(uint32_t(f.text.size()), it.count);
                store_text(data, it.count, f.text);
                *result = n;
                break;
            }
            continue;
        }
        for (uint32_t i = 0; i < it.count; ++i) {
            if (!read_field(r, false, true, &f)) return close_reader(&r, cf::kEndOfFile);
            store(data, it.type, i, f.text);
            ++*result;
        }
        data += area_bytes(it.type, it.count);
    }
    return close_reader(&r, cf::kOk);
}

int16_t CF_ReadFileByColumn(CsvFileRequest *req) {
    uint32_t type = req->type;
    uint32_t first = uint32_t(req->position) & 0xFFFF;
    uint32_t last = (uint32_t(req->position) >> 16) & 0x7FFF;
    if (type > 9 || (type == 0 && req->count >= 127) || first > last || !req->data)
        return status(cf::kInvalid);
    uint32_t dummy = 0;
    uint32_t *result = req->result ? req->result : &dummy;
    *result = 0;
    uint32_t column = req->count & 0xFFFF;
    uint32_t n = req->count >> 16;
    if (n == 0) n = 600;
    uint32_t span = last - first;
    if (span < n) {
        // Values beyond the rows read are cleared, within the values asked for.
        if (type != 0) std::memset(req->data, 0, area_bytes(type, n));
        // A range of one row still reads its one value.
        n = span ? span : 1;
    }
    Reader r;
    if (int16_t st = open_for_read(req, &r)) return st;
    uint32_t row = 0;
    bool text = type == 0;
    Field f;
    for (uint32_t i = 0; i < n; ++i) {
        uint32_t target = first + (n > 1 ? uint32_t(uint64_t(i) * span / (n - 1)) : 0);
        bool quoted = false;
        while (row < target) {
            int c = r.get();
            if (c < 0) return close_reader(&r, cf::kEndOfFile);
            if (c == '"')
                quoted = !quoted;
            else if (c == '\n' && !quoted)
                ++row;
        }
        bool short_row = false;
        for (uint32_t sep = column; sep > 0;) {
            int c = r.peek();
            if (c < 0) return close_reader(&r, cf::kEndOfFile);
            if (c == '\n' && !quoted) {
                short_row = true;
                break;
            }
            r.get();
            if (c == '"')
                quoted = !quoted;
            else if (c == ',' && !quoted)
                --sep;
        }
        if (short_row) return close_reader(&r, CfResultDecode(r.last, int(r.file.drive)));
        if (!read_field(r, text, false, &f)) {
            if (r.peek() < 0) return close_reader(&r, cf::kEndOfFile);
        }
        if (text) {
            uint32_t room = column < 127 ? 126 : 0;
            store_text(req->data, room, f.text);
            *result = std::min<uint32_t>(uint32_t(f.text.size()), room);
            break;
        }
        store(req->data, type, i, f.text);
        ++*result;
    }
    return close_reader(&r, cf::kOk);
}

int16_t CF_WriteFile(uint32_t, CsvFileRequest *req) {
    if (!req || !req->path) return status(cf::kInvalid);
    char dir[kFxPathMax], base[256], ext[15];
    if (CF_PathParse(dir, base, ext, req->path) != 0 || !base[0] || req->kind > 1 ||
        req->type > 9 || req->count == 0 || req->open_mode > 3)
        return status(cf::kInvalid);
    bool layout = req->kind == 1 && (req->layout_word & 0xFF) == kCsvLayoutWrite;
    bool header = layout && ((req->layout_word >> 8) & 0xFF);
    std::vector<Item> items;
    if (layout) {
        if (!layout_items(req->layout, req->layout_word >> 16, &items) || items.empty())
            return status(cf::kInvalid);
    } else {
        items.push_back({req->type, req->count});
    }
    if (!req->data) return status(cf::kInvalid);
    uint32_t dummy = 0;
    uint32_t *result = req->result ? req->result : &dummy;
    *result = 0;
    g_wfill = 0;

    const char *path = req->path;
    int drive = Cf_PathDrive(path, 0) == 1 ? 1 : Cf_PathDrive(path, 0) == 2 ? 2 : 0;
    FxMedia *m = Fx_MediaOf(drive);
    uint32_t attr = 0;
    uint32_t st = _fxe_file_attributes_read(m, path, &attr);
    if (st == fx::kNotAFile && (attr & fx::kDirectory)) return status(cf::kCorrupt);
    bool exists = st == fx::kSuccess;
    if (!exists && st != fx::kInvalidPath) return done(st, drive);
    if (exists && req->open_mode == 0) return status(cf::kExists);
    if (!exists) {
        if (int16_t ms = CF_GetStatus(drive)) return status(ms);
        if (req->open_mode == 1) return status(cf::kNotFound);
    }
    bool create = !exists || req->open_mode == 3;
    std::string name = path;
    FxFile file{};
    auto open_it = [&]() -> uint32_t {
        if (create) {
            if (exists) _fxe_file_delete(m, path);
            std::string p = path;
            size_t at = p.find_last_of("/\\");
            size_t from = at == std::string::npos ? (has_prefix(path) ? 2 : 0) : at + 1;
            for (size_t i = from; i < p.size(); ++i)
                p[i] = char(std::toupper(static_cast<unsigned char>(p[i])));
            name = p;
            if (uint32_t c = _fxe_file_create(m, name.c_str())) return c;
        }
        uint32_t o = _fxe_file_open(m, &file, name.c_str(), 1);
        if (!o && !create) o = _fxe_file_relative_seek(&file, 0, 1);
        return o;
    };
    st = open_it();
    if (st == fx::kInvalidPath && dir[0]) {
        // The directory is missing: made on the name's own drive, then once more.
        int16_t md = CF_MakeDir(drive, dir);
        if (md == cf::kOk || md == cf::kExists) st = open_it();
    }
    if (st) {
        _fxe_file_close(&file);
        return done(st, drive);
    }

    bool failed = false;
    auto put = [&](const std::string &s) {
        if (!failed && CfWriteBuffered(&file, s.data(), uint32_t(s.size())) < 0) failed = true;
    };
    if (req->kind == 0) {
        st = _fxe_file_write(&file, req->data, req->count);
        if (st)
            failed = true, CfResult = st;
        else
            *result = req->count;
    } else {
        if (header && create) {
            std::string line;
            for (uint32_t e = 0; e < items.size(); ++e) {
                const uint8_t *entry = req->layout + e * kCsvLayoutEntrySize;
                std::string label =
                    req->name_base ? std::string(req->name_base + le16(entry + 4), le16(entry + 6))
                                   : std::string();
                const Item &it = items[e];
                if (it.type != 0 && it.count > 1) {
                    for (uint32_t k = 0; k < it.count; ++k)
                        line += quote_text(label + "[" + std::to_string(k) + "]") + ",";
                } else {
                    line += quote_text(label) + ",";
                }
            }
            if (!line.empty()) line.pop_back();
            put(line + "\r\n");
        }
        uint32_t total = 0;
        for (const Item &it : items)
            total += it.type == 0 ? 1 : it.count;
        uint32_t per_line = req->position > 0 ? uint32_t(req->position) : 0;
        uint32_t written = 0;
        const uint8_t *data = req->data;
        auto after = [&]() {
            ++written;
            if (written == total)
                put(req->end_of_row ? "\r\n" : ",");
            else if (per_line && written % per_line == 0)
                put("\r\n");
            else
                put(",");
        };
        for (const Item &it : items) {
            if (it.type == 0) {
                put(text_value(data, it.count));
                after();
                data += it.count;
                if (layout) data += uintptr_t(data - req->data) & 1;
                continue;
            }
            for (uint32_t i = 0; i < it.count && !failed; ++i) {
                put(format_value(data, it.type, i));
                after();
            }
            data += area_bytes(it.type, it.count);
        }
        if (!failed && CfWriteBuffered(&file, nullptr, 0) < 0) failed = true;
        if (!failed) *result = written;
    }
    uint32_t cl = _fxe_file_close(&file);
    _fxe_media_flush(m);
    int16_t out = done(failed ? CfResult : cl, drive);
    if (out == cf::kCorrupt) *result = 0;
    return out;
}

void CfCsv_Reset() {
    std::memset(g_wbuf, 0, sizeof g_wbuf);
    g_wfill = 0;
}
