// The FPGA that carries the on-board I/O: identification at start-up, byte
// access to its registers, and programming from its image file on the USB
// stick by a small interpreter of SPI transactions, loops and waits (the
// algorithm image) over the configuration bitstream (the data image).
#include "base/trace.h"
#include "host/root.h"
#include "platform/io.h"
#include "platform/slice.h"
#include "platform/spi.h"
#include "platform/tick.h"
#include "platform/video.h"
#include "regs/plc_reg.h"

#include <cstdio>
#include <cstring>
#include <vector>

uint32_t FPGA_JTAG_Id;
uint8_t FPGAMode;
int fpga_ver_file;

// The built-in algorithm image (fpga_algo.cpp).
extern const uint8_t fpga_algo[];
extern const uint32_t fpga_algo_size;

namespace {

constexpr uint32_t kAlgoId = 0x10293847;
constexpr uint32_t kMaxFile = 204800;
constexpr uint32_t kHeaderMax = 512;
constexpr uint32_t kBodyMax = 51;
constexpr uint8_t kRegAccess[4] = {1, 2, 12, 0}; // SSP1, device 2 (mode 0 at init)
constexpr uint8_t kPortInit[4] = {1, 0, 12, 0};
constexpr uint8_t kJtagAccess[4] = {1, 1, 12, 0};

struct Engine {
    const uint8_t *algo = nullptr;
    uint32_t algo_len = 0, algo_pos = 0;
    const uint8_t *data = nullptr;
    uint32_t data_len = 0, data_pos = 0;
    uint8_t compression = 0;
    uint8_t channel = 1;
    bool port_open = false;
    // Decompression of the current frame.
    int frame_type = 0;
    uint32_t run_left = 0;
};

struct State {
    bool reg_open = false;
    uint32_t headersize = 0, FPGA_filesize = 0, marker = 0;
    Engine e;
};
State g;

// -------------------------------------------------------------- data image

// The next raw byte of the data image; past its end 0xFF and a failure.
bool data_raw(uint8_t &b) {
    if (g.e.data_pos >= g.e.data_len) {
        b = 0xFF;
        return false;
    }
    b = g.e.data[g.e.data_pos++];
    return true;
}

bool data_number(uint32_t &n) {
    n = 0;
    for (int shift = 0; shift < 35; shift += 7) {
        uint8_t b;
        if (!data_raw(b)) return false;
        n |= uint32_t(b & 0x7F) << shift;
        if (!(b & 0x80)) return true;
    }
    return false;
}

// Starts a frame of the data image: with compression its type byte.
bool decomp_initFrame() {
    g.e.run_left = 0;
    if (!g.e.compression) return true;
    uint8_t t;
    if (!data_raw(t) || t > 2) return false;
    g.e.frame_type = t;
    return true;
}

bool decomp_getByte(uint8_t &out) {
    if (!g.e.compression || g.e.frame_type == 0) return data_raw(out);
    uint8_t run = g.e.frame_type == 1 ? 0xFF : 0x00;
    if (g.e.run_left) {
        --g.e.run_left;
        out = run;
        return true;
    }
    if (!data_raw(out)) return false;
    if (out != run) return true;
    uint32_t n;
    if (!data_number(n) || n == 0) return false;
    g.e.run_left = n - 1;
    return true;
}

// ------------------------------------------------------------ SPI transfers

uint8_t desc(int device) {
    return uint8_t(device);
}

bool spi_send(uint8_t b) {
    return spi_data_trans(g.e.channel, &b, 1, 0) != 0;
}
bool spi_recv(uint8_t &b) {
    return spi_data_trans(g.e.channel, &b, 1, 1) != 0;
}
void select(bool on) {
    uint8_t d[4] = {g.e.channel, desc(1), 12, 0};
    if (on)
        spi_enable_cs(d);
    else
        spi_disable_cs(d);
}

// Command bits, then by mode: 0 nothing, 1 send the buffer, 2 read into the
// buffer, 3 send data-image bits, 4 read and compare with the data image.
bool TRANS_transceive_stream(uint32_t cmd_bits, const uint8_t *cmd, uint32_t bits, int mode,
                             uint8_t *buf) {
    for (uint32_t i = 0; i < (cmd_bits + 7) / 8; ++i)
        if (!spi_send(cmd[i])) return false;
    uint32_t bytes = (bits + 7) / 8, r = bits % 8;
    switch (mode) {
    case 1:
        for (uint32_t i = 0; i < bytes; ++i)
            if (!spi_send(buf[i])) return false;
        return true;
    case 2:
        for (uint32_t i = 0; i < bytes; ++i)
            if (!spi_recv(buf[i])) return false;
        return true;
    case 3: {
        if (!decomp_initFrame()) return false;
        uint8_t prev = 0xFF;
        for (uint32_t i = 0; i < bytes; ++i) {
            uint8_t cur;
            if (!decomp_getByte(cur)) return false;
            uint8_t out = r == 0 ? prev : uint8_t((prev << r) | (cur >> (8 - r)));
            if (!spi_send(out)) return false;
            prev = cur;
        }
        return true;
    }
    case 4: {
        if (!decomp_initFrame()) return false;
        bool same = true;
        for (uint32_t i = 0; i < bytes; ++i) {
            uint8_t in, want;
            if (!spi_recv(in)) return false;
            if (!decomp_getByte(want)) return false;
            uint8_t diff = uint8_t(in ^ want);
            if (i + 1 == bytes) diff = uint8_t(diff & (0xFF << (8 - r)));
            if (diff) same = false;
        }
        return same;
    }
    default:
        return true;
    }
}

// -------------------------------------------------------------- the engine

// A run of bytes the engine reads opcodes from: the algorithm image or a
// loop body.
struct Src {
    const uint8_t *p;
    uint32_t len, pos;
    bool get(uint8_t &b) {
        if (pos >= len) return false;
        b = p[pos++];
        return true;
    }
    bool number(uint32_t &n) {
        n = 0;
        for (int shift = 0; shift < 35; shift += 7) {
            uint8_t b;
            if (!get(b)) return false;
            n |= uint32_t(b & 0x7F) << shift;
            if (!(b & 0x80)) return true;
        }
        return false;
    }
};

constexpr uint32_t kBytesMax = 64; // literal bytes of one transaction part

bool bytes_of(Src &s, uint32_t bits, uint8_t *out) {
    uint32_t n = (bits + 7) / 8;
    if (n > kBytesMax) return false;
    for (uint32_t i = 0; i < n; ++i)
        if (!s.get(out[i])) return false;
    return true;
}

// One transaction; with `run` false it is only stepped over.
bool transaction(Src &s, bool run) {
    uint8_t op;
    if (!s.get(op)) return false;
    if (op == 0x1F) {
        if (run) {
            select(true);
            select(false);
        }
        return true;
    }
    uint32_t n;
    uint8_t kind;
    uint8_t cmd[kBytesMax];
    if (op != 0x12 || !s.number(n) || !s.get(kind) || (kind != 0x22 && kind != 0x23) ||
        !bytes_of(s, n, cmd))
        return false;
    if (!s.get(op)) return false;
    bool ok = true;
    if (run) select(true);
    if (op == 0x1F) {
        if (run) ok = TRANS_transceive_stream(n, cmd, 0, 0, nullptr);
    } else if (op == 0x12 || op == 0x13) {
        uint32_t m;
        if (!s.number(m) || !s.get(kind)) ok = false;
        uint8_t mask[kBytesMax], expect[kBytesMax], in[kBytesMax];
        bool masked = false;
        if (ok && op == 0x13 && kind == 0x21) {
            ok = m <= 32 && bytes_of(s, m, mask) && s.get(kind);
            masked = true;
        }
        if (!ok) {
        } else if (kind == 0x25) {
            if (run) ok = TRANS_transceive_stream(n, cmd, m, op == 0x12 ? 3 : 4, nullptr);
        } else if (kind == 0x22) {
            ok = bytes_of(s, m, expect);
            if (ok && run) {
                uint32_t bytes = (m + 7) / 8;
                if (op == 0x12) {
                    ok = TRANS_transceive_stream(n, cmd, m, 1, expect);
                } else {
                    ok = TRANS_transceive_stream(n, cmd, m, 2, in);
                    for (uint32_t i = 0; ok && i < bytes; ++i) {
                        uint8_t got = in[i];
                        if (masked) {
                            got &= mask[i];
                        } else if (i + 1 == bytes && m % 8) {
                            got = uint8_t(got & (0xFF << (8 - m % 8)));
                        }
                        if (got != expect[i]) ok = false;
                    }
                }
            }
        } else {
            ok = false;
        }
        uint8_t end;
        if (ok && (!s.get(end) || end != 0x1F)) ok = false;
    } else {
        ok = false;
    }
    if (run) {
        select(false);
    }
    return ok;
}

int process(Src &s, bool top);

// Steps over one instruction (used to find the end of a loop body),
// tracking the nesting of loops on `stack`.
bool skip(Src &s, uint8_t op, std::vector<uint8_t> &stack) {
    uint32_t n;
    switch (op) {
    case 0x10:
        return transaction(s, false);
    case 0x40:
        return s.number(n);
    case 0x41:
    case 0x43:
        stack.push_back(op);
        return s.number(n);
    case 0x42:
    case 0x44:
        if (stack.empty() || stack.back() != op - 1) return false;
        stack.pop_back();
        return true;
    case 0xA0: {
        uint8_t b;
        do {
            if (!s.get(b)) return false;
        } while (b != 0xA1);
        return true;
    }
    case 0x14:
    case 0x26:
    case 0x61:
        return true;
    default:
        return false;
    }
}

// A loop or repeat opcode's body, up to its matching end.
int loop(Src &s, uint8_t open, bool top) {
    uint32_t n;
    if (!s.number(n)) return 0;
    uint32_t start = s.pos;
    std::vector<uint8_t> stack{open};
    uint32_t end = 0;
    while (!stack.empty()) {
        end = s.pos;
        uint8_t op;
        if (!s.get(op) || !skip(s, op, stack)) return 0;
    }
    uint32_t body_len = end - start;
    uint8_t buf[kBodyMax];
    Src body{s.p + start, body_len, 0};
    if (top) {
        // A body from the algorithm image is held in a buffer of its own.
        if (body_len > kBodyMax) return 0;
        std::memcpy(buf, s.p + start, body_len);
        body.p = buf;
    }
    if (open == 0x41) {
        for (uint32_t i = 0; i < n; ++i) {
            body.pos = 0;
            if (process(body, false) != 2) return 0;
        }
        return 1;
    }
    for (uint32_t i = 0; i < n; ++i) {
        body.pos = 0;
        int r = process(body, false);
        if (r == 2) return 1;
        SlicePoint();
    }
    return 0;
}

// Runs opcodes: 0 failure, 2 the end opcode or the end of the bytes.
int process(Src &s, bool top) {
    for (;;) {
        uint8_t op;
        if (!s.get(op)) return 2;
        uint32_t n;
        int r = 1;
        switch (op) {
        case 0x10:
            r = transaction(s, true) ? 1 : 0;
            break;
        case 0x14: {
            select(false);
            r = spi_send(0xFF) ? 1 : 0;
            break;
        }
        case 0x26:
            g.e.data_pos = 1;
            break;
        case 0x40:
            if (!s.number(n)) return 0;
            Delay(n);
            break;
        case 0x41:
        case 0x43:
            r = loop(s, op, top);
            break;
        case 0x61:
            return 2;
        case 0xA0: {
            uint8_t b;
            do {
                if (!s.get(b)) return 0;
            } while (b != 0xA1);
            break;
        }
        default:
            return 0;
        }
        if (r == 0) return 0;
    }
}

// The algorithm's header: 1 and the position after it, or 0.
int SSPIEm_init(Src &s) {
    uint16_t sum = 0;
    auto take = [&](uint8_t &b) {
        if (!s.get(b)) return false;
        sum = uint16_t(sum + b);
        return true;
    };
    bool have_id = false;
    for (;;) {
        uint8_t tag, b[4];
        if (!take(tag)) return 0;
        switch (tag) {
        case 0xA0:
            do {
                if (!take(b[0])) return 0;
            } while (b[0] != 0xA1);
            break;
        case 0xA2:
            for (uint8_t &x : b)
                if (!take(x)) return 0;
            if ((uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3]) !=
                kAlgoId)
                return 0;
            have_id = true;
            break;
        case 0xA3:
            for (int i = 0; i < 3; ++i)
                if (!take(b[i])) return 0;
            if (b[0] > 1 || b[1] > 0 || b[2] > 0) return 0;
            break;
        case 0xA4:
        case 0xA5:
        case 0xA6: {
            if (!take(b[0])) return 0;
            uint8_t limit = tag == 0xA4 ? 50 : tag == 0xA5 ? 3 : 32;
            if (b[0] > limit) return 0;
            break;
        }
        case 0xA7:
            if (!take(b[0])) return 0;
            g.e.channel = b[0];
            break;
        case 0xA9:
            if (!take(b[0])) return 0;
            g.e.compression = b[0];
            break;
        case 0xA8: {
            uint16_t want = uint16_t(sum - 0xA8); // the tag itself is not summed
            if (!s.get(b[0]) || !s.get(b[1])) return 0;
            if (b[0] != 0xFF && b[0] != uint8_t(want >> 8)) return 0;
            if (b[1] != 0xFF && b[1] != uint8_t(want)) return 0;
            break;
        }
        case 0x60:
            return have_id ? 1 : 0;
        default:
            return 0;
        }
    }
}

} // namespace

// ------------------------------------------------------------ interfaces

uint32_t FPGA_Get_JTAG_ID() {
    uint8_t in[4] = {};
    if (!spi_init(kPortInit)) return 0;
    spi_enable_cs(kJtagAccess);
    uint8_t cmd[4] = {0x98, 0, 0, 0};
    spi_data_trans(1, cmd, 4, 0);
    spi_data_trans(1, in, 4, 1);
    spi_disable_cs(kJtagAccess);
    spi_close(kPortInit);
    return uint32_t(in[0]) | uint32_t(in[1]) << 8 | uint32_t(in[2]) << 16 | uint32_t(in[3]) << 24;
}

int Fpga_Init() {
    host::trace("Fpga_Init");
    FPGA_JTAG_Id = FPGA_Get_JTAG_ID();
    if (FPGA_JTAG_Id != kFpgaJtagId) return 0;
    g.reg_open = spi_init(kPortInit) != 0;
    std::printf("+FPGADEBUG: Initialize SPI...%s\n", g.reg_open ? "SUCCESS" : "FAILED");
    FPGAMode = FPGA_GetMod();
    std::printf("+FPGADEBUG: FPGA Mode = %d\n", FPGAMode);
    sr_put(sr::kFpgaMode, FPGAMode);
    return g.reg_open ? 1 : 0;
}

int Fpga_Close() {
    if (!g.reg_open) return 0;
    spi_disable_cs(kRegAccess);
    spi_close(kPortInit);
    g.reg_open = false;
    return 1;
}

int FPGA_Check() {
    return FPGA_JTAG_Id == kFpgaJtagId ? 1 : 0;
}

uint32_t spi_data_RD_nWR(uint32_t value, uint16_t address, int count, int read) {
    if (!g.reg_open || count < 1 || count > 4) return value;
    uint8_t cmd[4] = {uint8_t(read ? 1 : 2), uint8_t(count), uint8_t(address >> 8),
                      uint8_t(address)};
    spi_enable_cs(kRegAccess);
    spi_data_trans(1, cmd, 4, 0);
    uint8_t b[4];
    if (read) {
        if (spi_data_trans(1, b, count, 1))
            for (int i = 0; i < count; ++i)
                value = (value & ~(0xFFu << (8 * i))) | uint32_t(b[i]) << (8 * i);
    } else {
        for (int i = 0; i < count; ++i)
            b[i] = uint8_t(value >> (8 * i));
        spi_data_trans(1, b, count, 0);
    }
    spi_disable_cs(kRegAccess);
    return value;
}

uint8_t FPGA_present() {
    return uint8_t(spi_data_RD_nWR(0, 1, 1, 1));
}
uint8_t FPGA_GetVer() {
    host::trace("FPGA_GetVer");
    return uint8_t(spi_data_RD_nWR(0, 2, 1, 1));
}
uint8_t FPGA_GetMod() {
    return uint8_t(spi_data_RD_nWR(0, 5, 1, 1));
}

uint32_t FPGA_param(const uint8_t *file, uint32_t size) {
    g.marker = 0;
    int lines = 0;
    uint32_t limit = size < kHeaderMax ? size : kHeaderMax;
    for (uint32_t i = 0; i + 1 < limit; ++i) {
        g.marker = i;
        if (file[i] != '\r' || file[i + 1] != '\n') continue;
        ++lines;
        if (lines == 3) {
            if (i < 3) return 0;
            int v = 0;
            for (uint32_t k = i - 3; k < i; ++k) {
                if (file[k] < '0' || file[k] > '9') return 0;
                v = v * 10 + (file[k] - '0');
            }
            fpga_ver_file = v;
        }
        if (lines == 7) return i + 2;
        ++i;
    }
    return 0; // the seventh line end is not within the header's 512 bytes
}

void FpgaEngine_Load(const uint8_t *algo, uint32_t algo_len, const uint8_t *data,
                     uint32_t data_len) {
    g.e = Engine{};
    g.e.algo = algo;
    g.e.algo_len = algo_len;
    g.e.data = data;
    g.e.data_len = data_len;
}

int SSPIEm(uint32_t identifier) {
    if (identifier != kAlgoId || !g.e.algo) return 0;
    Src s{g.e.algo, g.e.algo_len, 0};
    if (!SSPIEm_init(s)) return 0;
    uint8_t flag;
    g.e.data_pos = 0;
    if (!data_raw(flag) || flag != g.e.compression) return 0;
    uint8_t d[4] = {g.e.channel, 0, 12, 0};
    if (!spi_init(d)) return 0;
    int r = process(s, true);
    select(false);
    spi_close(d);
    return r == 2 ? 2 : 0;
}

int FPGA_program() {
    std::FILE *f = std::fopen(host::path("/mnt/USB/pq9ef.hex").c_str(), "rb");
    if (!f) return 0;
    VDR_BmpClrMem();
    uint8_t *buffer = VDR_BmpGetMem(kMaxFile);
    if (!buffer) {
        std::fclose(f);
        return 0;
    }
    uint32_t got = uint32_t(std::fread(buffer, 1, kMaxFile, f));
    // A file that does not fit would be programmed cut short.
    bool too_big = std::fgetc(f) != EOF;
    std::fclose(f);
    if (too_big) return 0;
    g.headersize = FPGA_param(buffer, got);
    if (!g.headersize) return 0;
    g.FPGA_filesize = got - g.headersize;
    std::printf("+FPGADEBUG: FPGA Programming..... %ld bytes\n", long(g.FPGA_filesize));
    bool reopen = Fpga_Close() != 0;
    FpgaEngine_Load(fpga_algo, fpga_algo_size, buffer + g.headersize, g.FPGA_filesize);
    int r = SSPIEm(kAlgoId);
    g.e.data = nullptr;
    if (reopen) Fpga_Init();
    return r == 2 ? 1 : 0;
}

void Fpga_Reset() {
    g = State{};
    FPGA_JTAG_Id = 0;
    FPGAMode = 0;
    fpga_ver_file = 0;
}
