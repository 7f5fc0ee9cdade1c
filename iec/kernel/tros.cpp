// The IEC runtime's operating-system layer over the panel's host services.
#include "iec/kernel/tros.h"

#include "base/crc16.h"
#include "base/le.h"
#include "iec/kernel/trdb.h"
#include "iec/kernel/trglue.h"
#include "iec/kernel/trvm.h"
#include "platform/netif.h"
#include "platform/osif.h"
#include "platform/tick.h"
#include "platform/tty.h"
#include "regs/plc_reg.h"

#include <arpa/inet.h>
#include <poll.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

int (*TrSerial_PortFd)();
bool (*TrSerial_PortOpen)(int fd);
void (*TrSerial_GiveBack)();

namespace {
uint32_t g_ft_reg;           // handle of a transfer whose name was exactly "tr.reg"
bool g_serial_packet = true; // a new serial packet is expected
} // namespace

void TrOs_Reset() {
    g_ft_reg = 0;
    g_serial_packet = true;
    TrSerial_PortFd = nullptr;
    TrSerial_PortOpen = nullptr;
    TrSerial_GiveBack = nullptr;
}

// ------------------------------------------------------------------ files

uint32_t TrFile_Open(const char *path, int write) {
    return OsFile_Open(path, write ? "wb" : "rb");
}

uint32_t TrFile_OpenAppend(const char *path) {
    uint32_t h = OsFile_Open(path, "ab");
    return h ? h : OsFile_Open(path, "wb");
}

void TrFile_Close(uint32_t h) {
    if (h) OsFile_Close(h);
}

int TrFile_Read(uint32_t h, void *buf, uint32_t size) {
    return h && OsFile_Read(h, buf, size) == size ? 1 : 0;
}

int TrFile_Write(uint32_t h, const void *buf, uint32_t size) {
    return h && OsFile_Write(h, buf, size) == size ? 1 : 0;
}

uint32_t TrFile_Fread(uint32_t h, uint32_t item, uint32_t count, void *buf) {
    if (!item || uint64_t(item) * count > 0xFFFFFFFFull) return 0;
    return uint32_t(OsFile_Read(h, buf, size_t(item) * count) / item);
}

uint32_t TrFile_Fwrite(uint32_t h, uint32_t item, uint32_t count, const void *buf) {
    if (!item || uint64_t(item) * count > 0xFFFFFFFFull) return 0;
    return uint32_t(OsFile_Write(h, buf, size_t(item) * count) / item);
}

int TrFile_Fseek(uint32_t h, int origin, int32_t offset) {
    int whence = origin == 1 ? SEEK_CUR : origin == 2 ? SEEK_END : SEEK_SET;
    return OsFile_Seek(h, offset, whence) ? 1 : 0;
}

int TrFile_Fflush(uint32_t h) {
    return OsFile_Flush(h) ? 1 : 0;
}

int TrFile_Delete(const char *path) {
    return OsFile_Remove(path) ? 1 : 0;
}

int TrFile_Rename(const char *from, const char *to) {
    return OsFile_Rename(from, to) ? 1 : 0;
}

int TrFile_Copy(const char *from, const char *to) {
    uint32_t in = OsFile_Open(from, "rb");
    if (!in) return 0;
    uint32_t out = OsFile_Open(to, "wb");
    if (!out) {
        OsFile_Close(in);
        return 0;
    }
    uint8_t chunk[64];
    bool whole = true;
    while (size_t n = OsFile_Read(in, chunk, sizeof chunk))
        if (OsFile_Write(out, chunk, n) != n) {
            whole = false;
            break;
        }
    OsFile_Close(in);
    if (!OsFile_Close(out)) whole = false;
    return whole ? 1 : 0;
}

uint32_t TrFile_GetSize(const char *path) {
    int64_t n = OsFile_Size(path);
    return n < 0 ? 0 : n > 0xFFFFFFFFll ? 0xFFFFFFFFu : uint32_t(n);
}

int TrFile_Exist(const char *path) {
    return OsFile_Exists(path) ? 1 : 0;
}

int TrFile_WriteLine(uint32_t h, const char *text) {
    size_t n = std::strlen(text);
    bool ok = OsFile_Write(h, text, n) == n;
    return OsFile_Write(h, "\n", 1) == 1 && ok ? 1 : 0;
}

uint32_t TrFile_ReadLine(uint32_t h, char *buf, uint32_t size) {
    if (!buf || size == 0) return 0;
    uint32_t n = 0;
    // One byte is kept for the NUL; a line is at most 255 characters.
    while (n + 1 < size && n < 255) {
        int c = OsFile_Getc(h);
        if (c < 0 || c == '\n') break;
        if (c == 0) continue;
        buf[n++] = char(c);
    }
    buf[n] = 0;
    return n;
}

int TrFile_Eof(uint32_t h) {
    return OsFile_Eof(h) ? 1 : 0;
}

// ------------------------------------------------------- transfer files

bool TrFT_MapName(const char *name, char *out, size_t size) {
    if (!name || !*name || !out || size == 0) return false;
    std::string s(name);
    for (char &c : s)
        if (c == '\\') c = '/';
    if (s[0] != '/') {
        if (s.find("..") != std::string::npos) {
            size_t slash = s.rfind('/');
            // ".." with no folder to strip would still climb: refused.
            if (slash == std::string::npos) return false;
            s = s.substr(slash + 1);
        } else if (s.find("./") != std::string::npos) {
            s = s.substr(2);
        }
    }
    // What is left must still name a file, and never climb.
    if (s.empty() || s == "." || s.find("..") != std::string::npos) return false;
    char full[256];
    if (!Tr_GetFullPath(s.c_str(), full)) return false;
    if (std::strlen(full) + 1 > size) return false;
    std::memcpy(out, full, std::strlen(full) + 1);
    return true;
}

uint32_t TrFT_OpenRead(const char *name, uint32_t *size) {
    char path[256];
    if (size) *size = 0;
    if (!TrFT_MapName(name, path, sizeof path)) return 0;
    uint32_t h = OsFile_Open(path, "rb");
    if (h && size) *size = TrFile_GetSize(path);
    return h;
}

uint32_t TrFT_OpenWrite(uint32_t, const char *name) {
    char path[256];
    if (!TrFT_MapName(name, path, sizeof path)) return 0;
    uint32_t h = OsFile_Open(path, "wb");
    if (h && std::strcmp(name, "tr.reg") == 0) g_ft_reg = h;
    return h;
}

uint32_t TrFT_Read(uint32_t h, uint32_t count, void *buf) {
    return uint32_t(OsFile_Read(h, buf, count));
}

int TrFT_Write(uint32_t h, uint32_t size, const void *buf) {
    return OsFile_Write(h, buf, size) == size ? 1 : 0;
}

void TrFT_Close(uint32_t h) {
    if (h && h == g_ft_reg) {
        g_ft_reg = 0;
        Tr_SignalRegChange();
    }
    TrFile_Close(h);
}

int TrFT_Delete(const char *name) {
    char path[256];
    return TrFT_MapName(name, path, sizeof path) && OsFile_Remove(path) ? 1 : 0;
}

uint32_t TrFT_OpenDir(const char *) {
    return 0;
}
int TrFT_GetDirEntry(uint32_t, char *, uint32_t *) {
    return 0;
}
void TrFT_CloseDir(uint32_t) {}

// ------------------------------------------------------------------ tools

uint16_t TrTools_Crc16(const uint8_t *buf, uint32_t length) {
    return crc16(buf, length);
}

namespace {
// The typed table of a type code: its segment, element size and lock bit.
struct Kind {
    uint32_t segment, size;
    uint8_t lock;
};
bool kind_of(uint16_t type, Kind *k) {
    switch (type & 0xFF7F) {
    case 1:
    case 10:
    case 14:
        *k = {6, 1, 1 << 0};
        return true;
    case 11:
    case 15:
        *k = {7, 2, 1 << 1};
        return true;
    case 2:
    case 3:
    case 16:
        *k = {8, 4, 1 << 2};
        return true;
    case 12:
    case 13:
    case 17:
        *k = {9, 8, 1 << 3};
        return true;
    case 4:
        *k = {10, 4, 1 << 4};
        return true;
    case 5:
        *k = {17, 4, 1 << 5};
        return true;
    }
    return false;
}

constexpr uint16_t kDint = 2, kString = 5;
constexpr uint32_t kStringTable = 17, kStringBuffers = 18, kComplex = 35;

// Entry `index` of a typed table and the table's bytes from there on.
uint8_t *table_entry(uint8_t *db, const Kind &k, uint32_t index, uint32_t *left) {
    uint32_t n = 0;
    uint8_t *seg = TrDB_Segment(db, TrVM_DBSize(db), k.segment, &n);
    if (!seg || (uint64_t(index) + 1) * k.size > n) return nullptr;
    *left = n - index * k.size;
    return seg + index * k.size;
}

// The buffer of STRING `index` (capacity, length, text, NUL) inside segment
// 18, and the segment's bytes from there on.
uint8_t *string_buffer(uint8_t *db, uint32_t index, uint32_t *left) {
    Kind k;
    kind_of(kString, &k);
    uint32_t unused, n18 = 0;
    uint8_t *entry = table_entry(db, k, index, &unused);
    uint8_t *bufs = TrDB_Segment(db, TrVM_DBSize(db), kStringBuffers, &n18);
    if (!entry || !bufs) return nullptr;
    uint32_t at = le32(entry), base = uint32_t(bufs - db);
    if (at < base || at - base >= n18) return nullptr;
    *left = n18 - (at - base);
    return db + at;
}

// The complex-variable area, null when the database has none.
uint8_t *complex_area(uint8_t *db, uint32_t *n) {
    *n = 0;
    uint8_t *seg = TrDB_Segment(db, TrVM_DBSize(db), kComplex, n);
    return seg && *n ? seg : nullptr;
}

// The place in the complex-variable area named by the DINT `index`.
uint8_t *complex_at(uint8_t *db, uint8_t *area, uint32_t n, uint32_t index, uint32_t *left) {
    Kind k;
    kind_of(kDint, &k);
    uint32_t unused;
    uint8_t *var = table_entry(db, k, index, &unused);
    if (!var) return nullptr;
    uint32_t offset = le32(var);
    if (offset >= n) return nullptr;
    *left = n - offset;
    return area + offset;
}

uint8_t *array_of(uint8_t *db, uint16_t type, uint32_t index, uint32_t *avail, int *in_complex) {
    uint32_t left = 0, n = 0;
    uint8_t *p = nullptr;
    Kind k;
    if (in_complex) *in_complex = 0;
    if (db && kind_of(type, &k)) {
        if (uint8_t *area = complex_area(db, &n)) {
            p = complex_at(db, area, n, index, &left);
            if (p && in_complex) *in_complex = 1;
        } else {
            p = k.segment == kStringTable ? string_buffer(db, index, &left)
                                          : table_entry(db, k, index, &left);
        }
    }
    if (avail) *avail = p ? left : 0;
    return p;
}
} // namespace

uint8_t *TrTools_GetAnyParam(uint8_t *db, uint16_t type, uint32_t index, uint8_t *lock,
                             uint32_t *size) {
    Kind k;
    if (!db || !kind_of(type, &k)) return nullptr;
    uint32_t left = 0;
    uint8_t *p = k.segment == kStringTable ? string_buffer(db, index, &left)
                                           : table_entry(db, k, index, &left);
    if (!p) return nullptr;
    uint32_t bytes = k.size;
    if (k.segment == kStringTable) {
        bytes = uint32_t(p[0]) + 3;
        if (bytes > left) return nullptr;
    }
    if (lock) *lock = k.lock;
    if (size) *size = bytes;
    return p;
}

uint8_t *TrTools_GetAnyArray(uint8_t *db, uint16_t type, uint32_t index, uint32_t *avail) {
    return array_of(db, type, index, avail, nullptr);
}
uint8_t *TrTools_GetD8Array(uint8_t *db, uint32_t index, uint32_t *avail) {
    return array_of(db, 1, index, avail, nullptr);
}
uint8_t *TrTools_GetD16Array(uint8_t *db, uint32_t index, uint32_t *avail) {
    return array_of(db, 11, index, avail, nullptr);
}
uint8_t *TrTools_GetD32Array(uint8_t *db, uint32_t index, uint32_t *avail) {
    return array_of(db, kDint, index, avail, nullptr);
}
uint8_t *TrTools_GetTimeArray(uint8_t *db, uint32_t index, uint32_t *avail) {
    return array_of(db, 4, index, avail, nullptr);
}
uint8_t *TrTools_GetD64Array(uint8_t *db, uint32_t index, uint32_t *avail) {
    return array_of(db, 12, index, avail, nullptr);
}
uint8_t *TrTools_GetStringArray(uint8_t *db, uint32_t index, uint32_t *avail, int *in_complex) {
    return array_of(db, kString, index, avail, in_complex);
}

uint8_t *TrTools_GetCTParam(uint8_t *db, uint32_t index, uint32_t *avail) {
    uint32_t n = 0, left = 0;
    uint8_t *area = db ? complex_area(db, &n) : nullptr;
    uint8_t *p = area ? complex_at(db, area, n, index, &left) : nullptr;
    if (avail) *avail = p ? left : 0;
    return p;
}

// ---------------------------------------------------------------- sockets

namespace {
bool parse_addr(const char *text, uint32_t *addr) {
    in_addr a{};
    if (!text || inet_pton(AF_INET, text, &a) != 1) return false;
    *addr = ntohl(a.s_addr);
    return true;
}

int listen_on(uint16_t port, int backlog, int32_t *sock) {
    int fd = pnet::net_socket(true, nullptr);
    if (fd >= 0 && (pnet::net_bind(fd, port) != 0 || pnet::net_listen(fd, backlog) != 0)) {
        pnet::net_close(fd);
        fd = -1;
    }
    *sock = fd;
    return fd < 0 ? 1 : 0;
}

// The frame markers of the programming channels: "HR" is the panel's own
// protocol, "Tr" the runtime's.
bool is_marker(const uint8_t *b, uint32_t n, const char *m) {
    return n >= 2 && b[0] == uint8_t(m[0]) && b[1] == uint8_t(m[1]);
}
} // namespace

int TrSocket_Initialize(uint32_t) {
    return 0;
}
void TrSocket_Terminate() {}

int TrSocket_CreateListeningSocket(uint16_t port, int backlog, int32_t *sock) {
    return listen_on(port, backlog, sock);
}

int TrSocket_CreateListeningSocketOn(uint16_t port, int backlog, const char *addr, int32_t *sock) {
    // The panel's sockets bind the one address its network gives them.
    uint32_t a;
    if (!parse_addr(addr, &a)) {
        *sock = -1;
        return 1;
    }
    return listen_on(port, backlog, sock);
}

int32_t TrSocket_Accept(int32_t listening) {
    if (listening < 0) return -1;
    uint32_t addr;
    uint16_t port;
    int fd = pnet::net_accept(listening, &addr, &port);
    return fd < 0 ? -1 : fd;
}

int TrSocket_CreateConnectedSocket(const char *addr, uint16_t port, int32_t *sock, int *pending) {
    *sock = -1;
    *pending = 0;
    uint32_t a;
    if (!parse_addr(addr, &a)) return 1;
    int fd = pnet::net_socket(true, nullptr);
    if (fd < 0) return 1;
    int r = pnet::net_connect(fd, a, port);
    if (r < 0) {
        pnet::net_close(fd);
        return 1;
    }
    *sock = fd;
    *pending = r == 1;
    return 0;
}

int TrSocket_CheckPendingConnect(int32_t sock, int *failed) {
    *failed = 0;
    short ev = pnet::net_poll1(sock, POLLOUT);
    if (ev < 0 || (ev & (POLLERR | POLLHUP | POLLNVAL)) || pnet::net_so_error(sock) != 0) {
        *failed = 1;
        return 1;
    }
    return ev & POLLOUT ? 0 : 1;
}

int32_t TrSocket_Send(int32_t sock, uint32_t length, const void *data, int *failed) {
    int r = TrSocket_CheckPendingConnect(sock, failed);
    if (r != 0) return r;
    ssize_t n = pnet::net_send(sock, data, length);
    if (n < 0) {
        *failed = 1;
        return 0;
    }
    return int32_t(n);
}

int32_t TrSocket_Receive(int32_t sock, uint32_t length, void *buf, int *closed) {
    *closed = 0;
    short ev = pnet::net_poll1(sock, POLLIN);
    if (ev < 0) {
        *closed = 1;
        return 0;
    }
    if (!(ev & (POLLIN | POLLHUP | POLLERR))) return 0;
    ssize_t n = pnet::net_recv(sock, buf, length);
    if (n <= 0) {
        if (n == 0 || ev & (POLLHUP | POLLERR)) *closed = 1;
        return 0;
    }
    const uint8_t *b = static_cast<const uint8_t *>(buf);
    if (is_marker(b, uint32_t(n), "HR")) {
        IsCommMode_Vibus = 1;
        tr_rcv = 1;
        return 0;
    }
    tr_rcv = is_marker(b, uint32_t(n), "Tr");
    return int32_t(n);
}

void TrSocket_CloseSocket(int32_t sock) {
    // -1 is none, and 0 a state that was never opened (zero-filled records);
    // no socket of the panel is ever descriptor 0.
    if (sock > 0) pnet::net_close(sock);
}

int TrSocket_UdpCreate(uint16_t port, int32_t *sock) {
    int fd = pnet::net_socket(false, nullptr);
    if (fd >= 0 && port && pnet::net_bind(fd, port) != 0) {
        pnet::net_close(fd);
        fd = -1;
    }
    *sock = fd;
    return fd < 0 ? 1 : 0;
}

int TrSocket_UdpCreateOn(uint16_t port, const char *addr, int32_t *sock) {
    uint32_t a;
    if (!parse_addr(addr, &a)) {
        *sock = -1;
        return 1;
    }
    return TrSocket_UdpCreate(port, sock);
}

int TrSocket_AcceptBroadcast(int32_t) {
    // The panel sends no broadcasts from this host.
    return 1;
}

int TrSocket_UdpAddrMake(TrUdpAddr *out, const char *text, uint16_t default_port) {
    if (!out || !text) return 0;
    size_t n = strnlen(text, 64);
    if (n >= 64) return 0;
    char host[64];
    std::memcpy(host, text, n + 1);
    uint32_t port = default_port;
    if (char *colon = std::strchr(host, ':')) {
        *colon = 0;
        char *end = nullptr;
        unsigned long p = std::strtoul(colon + 1, &end, 10);
        if (end == colon + 1 || *end || p > 65535) return 0;
        port = uint32_t(p);
    }
    if (!parse_addr(host, &out->addr)) return 0;
    out->port = uint16_t(port);
    return 1;
}

int TrSocket_UdpSendTo(int32_t sock, const TrUdpAddr *to, const void *data, uint32_t length) {
    if (sock < 0 || !to) return 1;
    return pnet::net_sendto(sock, data, length, to->addr, to->port) == ssize_t(length) ? 0 : 1;
}

int32_t TrSocket_UdpRecvFrom(int32_t sock, void *buf, uint32_t length, TrUdpAddr *from) {
    if (sock < 0) return 1;
    uint32_t addr = 0;
    uint16_t port = 0;
    ssize_t n = pnet::net_recvfrom(sock, buf, length, &addr, &port);
    if (n < 0) return 0;
    if (from) *from = TrUdpAddr{addr, port};
    return int32_t(n);
}

// ------------------------------------------------------------ serial port

void TrSerial_Initialize(int32_t *h) {
    *h = -1;
}

int TrSerial_IsValid(int32_t h) {
    return h >= 0 ? 1 : 0;
}

int TrSerial_Open(int32_t *h) {
    int fd = TrSerial_PortFd ? TrSerial_PortFd() : -1;
    if (fd >= 0) {
        Tty_Flush(fd, TCIFLUSH);
        *h = fd;
    }
    g_serial_packet = true;
    return 1;
}

namespace {
bool port_open(int32_t h) {
    return h >= 0 && (!TrSerial_PortOpen || TrSerial_PortOpen(h));
}
} // namespace

uint32_t TrSerial_Send(int32_t h, const uint8_t *data, uint32_t n) {
    if (!port_open(h)) return 0;
    uint32_t sent = 0;
    while (sent < n && Tty_Write(h, data + sent, 1) == 1)
        ++sent;
    return sent;
}

void TrSerial_Close(int32_t *h) {
    // The descriptor belongs to the panel's serial layer, which closes it.
    *h = -1;
}

uint32_t TrSerial_Receive(int32_t *h, uint32_t max, uint8_t *buf) {
    if (*h >= 0 && !port_open(*h)) *h = -1; // the panel closed the port
    if (*h < 0 || max == 0) return 0;
    int waiting = Tty_InCount(*h);
    if (waiting <= 0) return 0;
    if (max == 4 && g_serial_packet) {
        if (waiting < 4) return 0;
        g_serial_packet = false;
    }
    long n = Tty_Read(*h, buf, max < uint32_t(waiting) ? max : uint32_t(waiting));
    if (n <= 0) return 0;
    if (is_marker(buf, uint32_t(n), "HR")) {
        tr_rcv = 0;
        IsCommMode_Vibus = 1;
        if (TrSerial_GiveBack) TrSerial_GiveBack();
        *h = -1;
        g_serial_packet = true;
        return 0;
    }
    tr_rcv = is_marker(buf, uint32_t(n), "Tr");
    return uint32_t(n);
}

// ------------------------------------------------------------------ clock

namespace {
tm local_now(uint32_t *ms) {
    int64_t ns = Os_WallNs();
    time_t s = time_t(ns / 1000000000);
    if (ms) *ms = uint32_t((ns / 1000000) % 1000);
    tm t{};
    gmtime_r(&s, &t); // the panel's wall clock keeps local time
    return t;
}
} // namespace

uint32_t TrRtClk_GetCurTimeStamp() {
    uint32_t ms;
    tm t = local_now(&ms);
    return uint32_t((t.tm_hour * 3600 + t.tm_min * 60 + t.tm_sec) * 1000) + ms;
}

uint32_t TrRtClk_GetCurDateStamp() {
    tm t = local_now(nullptr);
    return uint32_t(t.tm_year + 1900) << 16 | uint32_t(t.tm_mon + 1) << 8 | uint32_t(t.tm_mday);
}

void TrRtClk_GetCurDateTimeStamp(int local, uint32_t *date, uint32_t *time, uint8_t *flag) {
    if (flag) *flag = 0;
    if (local) {
        if (date) *date = TrRtClk_GetCurDateStamp();
        if (time) *time = TrRtClk_GetCurTimeStamp();
        return;
    }
    // The controller's UTC calendar: seconds, minutes, hours, day, month, year.
    uint16_t c[6];
    for (int i = 0; i < 6; ++i)
        c[i] = sr_get(212 + i);
    uint32_t ms;
    local_now(&ms);
    if (date) *date = uint32_t(c[5]) << 16 | uint32_t(c[4] & 0xFF) << 8 | (c[3] & 0xFF);
    if (time) *time = (uint32_t(c[2]) * 3600 + uint32_t(c[1]) * 60 + c[0]) * 1000 + ms;
}

uint32_t TrRtClk_GetString(int kind, char *out) {
    static const char *const kDays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                        "Thursday", "Friday", "Saturday"};
    tm t = local_now(nullptr);
    int n;
    if (kind == 1)
        n = std::snprintf(out, 16, "%02u:%02u:%02u", unsigned(t.tm_hour), unsigned(t.tm_min),
                          unsigned(t.tm_sec));
    else if (kind == 2)
        n = std::snprintf(out, 16, "%s", kDays[t.tm_wday % 7]);
    else
        n = std::snprintf(out, 16, "%04u/%02u/%02u", unsigned(t.tm_year + 1900),
                          unsigned(t.tm_mon + 1), unsigned(t.tm_mday));
    return n < 0 ? 0 : uint32_t(n);
}

uint32_t Tr_VmTick() {
    uint32_t t = uint32_t((FPGA_GetFrt64() / 10) % 86400000u);
    return t ? t : 1;
}
