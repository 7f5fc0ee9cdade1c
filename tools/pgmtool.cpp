// pgmtool: the programming tool's side of the panel's command protocol, for
// tests and by hand, over a serial line (a pty peer link of the panel).
//
//   pgmtool --port PATH [--oem N] [--node N] [--timeout MS] [--size N] COMMAND ...
//     version | mode [N] | getreg REF | setreg REF VALUE | baud N | negotiate N
//     commlock 0|1 [CMD_MS [BYTE_MS]]
//     download TYPE FILE|APPDIR [--offset N] [--mask HEX]
//     upload TYPE [--offset N] [--count N] [--header] [-o FILE]
//     verify TYPE FILE|APPDIR [--offset N]
//     datagram create TIMEOUT KEY REF... | write N KEY VALUE... | read N KEY |
//       delete N KEY
//     fxp "COMMAND" [put FILE | get FILE]   a file-transfer command ("mkd A:\LOGS");
//       prints "reply CODE [VALUE]", sends FILE after a stor, keeps what a
//       retr or list sends in FILE (else on standard output)
//     raw HEX          sends the bytes as they are, prints what comes back
//   Several commands separated by ";" run in turn until one fails.
//
// A packet: opcode, length (0xFF and a 16-bit length in the long form), data,
// and a checksum that makes the OEM seed plus every byte zero modulo 256.
// APPDIR is a folder written by mkapp: the block of the memory type is taken
// from its files as its manifest places it.
#include "regs/regname.h"
#include "tools/lib/appbuild.h"
#include "tools/lib/cmdframe.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint8_t kAck = 0xA0, kRefused = 0x09, kBadSum = 0x0F, kHeld = 0x60, kData = 0xFF;

struct Link {
    int fd = -1;
    uint8_t seed = 0;
    uint8_t node = 1;
    int timeout_ms = 3000;
    bool long_form = false;
    uint16_t chunk = 64;

    void send(const Bytes &b) {
        size_t done = 0;
        while (done < b.size()) {
            ssize_t n = write(fd, b.data() + done, b.size() - done);
            if (n > 0) {
                done += size_t(n);
            } else {
                pollfd p{fd, POLLOUT, 0};
                poll(&p, 1, 100);
            }
        }
    }
    // One byte, or -1 after the time-out.
    int byte(int ms = -1) {
        if (ms < 0) ms = timeout_ms;
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            uint8_t b;
            if (read(fd, &b, 1) == 1) return b;
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left.count() <= 0) return -1;
            pollfd p{fd, POLLIN, 0};
            poll(&p, 1, int(left.count()));
        }
    }
    Bytes frame(uint8_t op, const Bytes &data) const {
        return cmdframe::frame(seed, op, data, long_form);
    }
    void command(uint8_t op, Bytes args) {
        args.insert(args.begin(), node);
        send(frame(op, args));
    }
    // The rest of a data packet after its opcode byte; false on a time-out or
    // a bad checksum.
    bool packet_rest(Bytes *data) {
        int l = byte();
        if (l < 0) return false;
        uint8_t sum = uint8_t(seed + kData + l);
        size_t n = size_t(l);
        if (l == 0xFF) {
            int lo = byte(), hi = byte();
            if (lo < 0 || hi < 0) return false;
            sum = uint8_t(sum + lo + hi);
            n = size_t(lo | hi << 8);
        }
        data->clear();
        for (size_t i = 0; i < n; ++i) {
            int b = byte();
            if (b < 0) return false;
            data->push_back(uint8_t(b));
            sum = uint8_t(sum + b);
        }
        int c = byte();
        return c >= 0 && uint8_t(sum + c) == 0;
    }
};

const char *byte_name(int b) {
    switch (b) {
    case kAck:
        return "ok";
    case kRefused:
        return "refused";
    case kBadSum:
        return "checksum error";
    case kHeld:
        return "link held by another host";
    case -1:
        return "no answer";
    default:
        return "unexpected answer";
    }
}

int fail(const std::string &what) {
    std::fprintf(stderr, "pgmtool: %s\n", what.c_str());
    return 1;
}

// A one-byte answer: 0 when it is `want`.
int expect(Link &l, int want = kAck) {
    int b = l.byte();
    if (b == want) return 0;
    return fail(std::string(byte_name(b)) + (b >= 0 ? " (0x" +
                                                          [&] {
                                                              char t[4];
                                                              std::snprintf(t, sizeof t, "%02X", b);
                                                              return std::string(t);
                                                          }() +
                                                          ")"
                                                    : ""));
}

// A data packet answer.
int answer_packet(Link &l, Bytes *data) {
    int b = l.byte();
    if (b != kData) return fail(byte_name(b));
    if (!l.packet_rest(data)) return fail("bad data packet");
    return 0;
}

std::string hex(const Bytes &b) {
    std::string s;
    char t[4];
    for (size_t i = 0; i < b.size(); ++i) {
        std::snprintf(t, sizeof t, "%s%02X", i ? " " : "", b[i]);
        s += t;
    }
    return s;
}

bool read_file(const std::string &path, Bytes *out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

// The block data of a memory type in a folder written by mkapp.
bool app_block(const std::string &dir, int type, Bytes *out, std::string *error) {
    static const std::map<int, std::string> kParts = {
        {0, "ladder"},        {4, "security"},     {5, "io_config"},      {6, "net_config"},
        {7, "kesta_pgm"},     {8, "string_table"}, {10, "text_table"},    {11, "font_table"},
        {20, "promgr_table"}, {21, "sms_table"},   {22, "datalog_table"}, {24, "report_table"},
        {25, "recipe_tbl"},   {29, "login_tbl"},   {33, "mqtt_tbl"}};
    auto it = kParts.find(type);
    if (it == kParts.end()) {
        *error = "no part of memory type " + std::to_string(type) + " in an application";
        return false;
    }
    std::string text;
    if (!appbuild::read_input_file(dir + "/manifest.json", &text, error)) return false;
    nlohmann::json manifest = nlohmann::json::parse(text, nullptr, false);
    appbuild::Placed at;
    if (manifest.is_discarded() || !appbuild::find_part(manifest, it->second, &at)) {
        *error = "the manifest places no part " + it->second;
        return false;
    }
    Bytes file;
    if (!read_file(dir + (type == 0 ? "/ladder.pgm" : "/config.pgm"), &file) ||
        at.offset + at.size > file.size()) {
        *error = "the application file does not hold part " + it->second;
        return false;
    }
    size_t head = type == 4 ? 4 : 8;
    if (at.size < head || at.length > at.size - head) {
        *error = "part " + it->second + " is shorter than its length";
        return false;
    }
    out->assign(file.begin() + long(at.offset + head),
                file.begin() + long(at.offset + head + at.length));
    return true;
}

bool load_data(const std::string &arg, int type, Bytes *out, std::string *error) {
    struct stat st {};
    if (stat(arg.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return app_block(arg, type, out, error);
    if (!read_file(arg, out)) {
        *error = "cannot read " + arg;
        return false;
    }
    return true;
}

uint32_t number(const std::string &s) {
    return uint32_t(std::strtoul(s.c_str(), nullptr, 0));
}

Bytes le32(uint32_t v) {
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

// Streams data packets to the panel after an accepted download or verify.
int stream_out(Link &l, const Bytes &data, const char *what) {
    size_t pos = 0;
    for (;;) {
        size_t n = std::min<size_t>(l.chunk, data.size() - pos);
        Bytes part(data.begin() + long(pos), data.begin() + long(pos + n));
        int tries = 0;
        int b;
        do {
            l.send(l.frame(kData, part));
            b = l.byte();
        } while (b == kBadSum && ++tries < 3);
        if (b != kAck)
            return fail(std::string(what) + " stopped at byte " + std::to_string(pos) + ": " +
                        byte_name(b));
        if (n == 0) return 0;
        pos += n;
    }
}

// Register datagrams: create TIMEOUT KEY REF... | write N KEY VALUE... |
// read N KEY | delete N KEY.
int datagram(Link &l, const std::vector<std::string> &a) {
    if (a.size() < 4) return fail("datagram: create|write|read|delete and their arguments");
    const std::string &what = a[1];
    uint32_t key = number(a[3]);
    Bytes args = {uint8_t(number(a[2])), uint8_t(key), uint8_t(key >> 8)};
    Bytes data;
    if (what == "create") {
        // Register words: a zero word and a high half come before the first
        // word above 65535, and every word after it shares that high half.
        uint32_t high = 0;
        bool paired = false;
        for (size_t i = 4; i < a.size(); ++i) {
            uint32_t ref = 0, bits = 0;
            std::string err;
            if (!RegName_Parse(a[i], &ref, &bits, &err)) return fail(a[i] + ": " + err);
            uint32_t word = ref / 16;
            if ((word >> 16) != high) {
                if (paired) return fail("datagram: the words above 65535 share one high half");
                high = word >> 16;
                paired = true;
                args.insert(args.end(), {0, 0, uint8_t(high), uint8_t(high >> 8)});
            }
            args.push_back(uint8_t(word));
            args.push_back(uint8_t(word >> 8));
        }
        l.command(32, args);
        if (answer_packet(l, &data) || data.size() != 1) return 1;
        if (data[0] == 255) return fail("datagram refused");
        std::printf("datagram %d\n", data[0]);
        return 0;
    }
    if (what == "write") {
        for (size_t i = 4; i < a.size(); ++i) {
            uint32_t v = number(a[i]);
            args.push_back(uint8_t(v));
            args.push_back(uint8_t(v >> 8));
        }
        l.command(33, args);
        return expect(l);
    }
    if (what == "delete") {
        l.command(31, args);
        return expect(l);
    }
    if (what == "read") {
        l.command(34, args);
        int b = l.byte();
        if (b != kData) return fail(byte_name(b));
        if (!l.packet_rest(&data)) return fail("bad data packet");
        std::printf("values");
        for (size_t i = 0; i + 1 < data.size(); i += 2)
            std::printf(" %u", unsigned(data[i] | data[i + 1] << 8));
        std::printf("\n");
        return 0;
    }
    return fail("datagram: create|write|read|delete");
}

// A file-transfer command: prints its reply code (and value); "put FILE"
// sends the file after a stor, "get FILE" keeps what a retr or list sends
// (without it the bytes go to standard output).
int fxp(Link &l, std::vector<std::string> a) {
    if (a.size() < 2) return fail("fxp: \"COMMAND\" [put FILE|get FILE]");
    std::string put, get;
    for (size_t i = 2; i + 1 < a.size(); i += 2) {
        if (a[i] == "put")
            put = a[i + 1];
        else if (a[i] == "get")
            get = a[i + 1];
        else
            return fail("fxp: put FILE or get FILE");
    }
    Bytes args(a[1].begin(), a[1].end());
    args.push_back(0);
    l.command(28, args);
    Bytes data;
    if (answer_packet(l, &data) || (data.size() != 2 && data.size() != 6))
        return fail("fxp: no reply code");
    unsigned code = unsigned(data[0] | data[1] << 8);
    if (data.size() == 6)
        std::printf("reply %u %u\n", code,
                    unsigned(data[2] | data[3] << 8 | data[4] << 16 | unsigned(data[5]) << 24));
    else
        std::printf("reply %u\n", code);
    std::fflush(stdout);
    if (code == 150 && !put.empty()) {
        Bytes file;
        if (!read_file(put, &file)) return fail("cannot read " + put);
        size_t chunk = std::min<size_t>(l.chunk, 1023);
        for (size_t pos = 0;; pos += chunk) {
            size_t n = std::min(chunk, file.size() - std::min(pos, file.size()));
            Bytes part(file.begin() + long(std::min(pos, file.size())),
                       file.begin() + long(std::min(pos, file.size()) + n));
            l.command(29, part);
            if (expect(l)) return 1;
            if (n == 0) return 0;
        }
    }
    if (code == 619) {
        Bytes all;
        for (;;) {
            l.command(30, {});
            if (answer_packet(l, &data)) return 1;
            if (data.empty()) break;
            all.insert(all.end(), data.begin(), data.end());
        }
        if (get.empty()) {
            std::fwrite(all.data(), 1, all.size(), stdout);
        } else {
            std::ofstream f(get, std::ios::binary);
            f.write(reinterpret_cast<const char *>(all.data()), long(all.size()));
            if (!f) return fail("cannot write " + get);
        }
        return 0;
    }
    return code < 400 ? 0 : 1;
}

int run(Link &l, std::vector<std::string> a) {
    const std::string c = a[0];
    auto opt = [&](const std::string &name, std::string *value) {
        for (size_t i = 1; i < a.size(); ++i)
            if (a[i] == name) {
                if (value) {
                    if (i + 1 >= a.size()) return false;
                    *value = a[i + 1];
                    a.erase(a.begin() + long(i), a.begin() + long(i) + 2);
                } else {
                    a.erase(a.begin() + long(i));
                }
                return true;
            }
        return false;
    };
    Bytes data;
    if (c == "version") {
        l.command(8, {});
        if (answer_packet(l, &data)) return 1;
        std::printf("version %s\n", hex(data).c_str());
        return 0;
    }
    if (c == "mode") {
        if (a.size() < 2) {
            l.command(1, {});
            if (answer_packet(l, &data) || data.size() != 1) return 1;
            std::printf("mode %d\n", data[0]);
            return 0;
        }
        l.command(2, {uint8_t(number(a[1]))});
        return expect(l);
    }
    if (c == "getreg" || c == "setreg") {
        if (a.size() < (c == "getreg" ? 2u : 3u)) return fail(c + ": missing arguments");
        uint32_t ref = 0, bits = 0;
        std::string err;
        if (!RegName_Parse(a[1], &ref, &bits, &err)) return fail(a[1] + ": " + err);
        Bytes args = {uint8_t(bits), 0, 0};
        Bytes r = le32(ref);
        args.insert(args.end(), r.begin(), r.end());
        if (c == "getreg") {
            l.command(22, args);
            if (answer_packet(l, &data)) return 1;
            uint64_t v = 0;
            for (size_t i = 0; i < data.size() && i < 8; ++i)
                v |= uint64_t(data[i]) << (8 * i);
            std::printf("%s = %llu\n", a[1].c_str(), static_cast<unsigned long long>(v));
            return 0;
        }
        uint64_t v = std::strtoull(a[2].c_str(), nullptr, 0);
        size_t n = bits == 1 ? 1 : bits / 8;
        for (size_t i = 0; i < n; ++i)
            args.push_back(uint8_t(i < 8 ? v >> (8 * i) : 0));
        l.command(24, args);
        return expect(l);
    }
    if (c == "baud" || c == "negotiate") {
        if (a.size() < 2) return fail(c + ": missing value");
        uint32_t v = number(a[1]);
        if (c == "baud") {
            l.command(27, {uint8_t(v)});
            return expect(l);
        }
        l.command(35, {uint8_t(v), uint8_t(v >> 8)});
        if (expect(l)) return 1;
        l.chunk = uint16_t(v);
        l.long_form = v > 64;
        return 0;
    }
    if (c == "commlock") {
        if (a.size() < 2) return fail("commlock: 0 or 1");
        Bytes args = {uint8_t(number(a[1]))};
        for (size_t i = 2; i < a.size() && i < 4; ++i) {
            uint32_t t = number(a[i]);
            args.push_back(uint8_t(t));
            args.push_back(uint8_t(t >> 8));
        }
        l.command(25, args);
        return expect(l);
    }
    if (c == "download" || c == "verify" || c == "upload") {
        std::string offset, count, mask, out_file;
        bool have_offset = opt("--offset", &offset);
        bool have_count = opt("--count", &count);
        bool have_mask = opt("--mask", &mask);
        bool header = opt("--header", nullptr);
        opt("-o", &out_file);
        if (a.size() < (c == "upload" ? 2u : 3u)) return fail(c + ": missing arguments");
        int type = int(number(a[1]));
        // Data byte 2 is the header flag, except for bitmaps: their bytes 2-5
        // are the offset (all ones: the slot directory), 6-9 an upload's count.
        Bytes args = {uint8_t(type)};
        if (type == 9) {
            Bytes off = le32(have_offset ? number(offset) : 0xFFFFFFFFu);
            args.insert(args.end(), off.begin(), off.end());
            if (c == "upload" && have_count) {
                Bytes n = le32(number(count));
                args.insert(args.end(), n.begin(), n.end());
            }
            if (c == "download" && have_mask)
                for (size_t i = 0; i + 1 < mask.size(); i += 2)
                    args.push_back(uint8_t(std::strtoul(mask.substr(i, 2).c_str(), nullptr, 16)));
        } else if (c == "upload") {
            args.push_back(header ? 1 : 0);
        }
        if (c == "upload") {
            l.command(5, args);
            if (expect(l)) return 1;
            Bytes all;
            for (;;) {
                int b = l.byte();
                if (b != kData) return fail("upload: " + std::string(byte_name(b)));
                if (!l.packet_rest(&data)) {
                    l.send({kBadSum});
                    continue;
                }
                l.send({kAck});
                if (data.empty()) break;
                all.insert(all.end(), data.begin(), data.end());
            }
            if (out_file.empty()) {
                std::printf("%s\n", hex(all).c_str());
            } else {
                std::ofstream f(out_file, std::ios::binary);
                f.write(reinterpret_cast<const char *>(all.data()), long(all.size()));
                if (!f) return fail("cannot write " + out_file);
            }
            return 0;
        }
        std::string err;
        if (!load_data(a[2], type, &data, &err)) return fail(err);
        l.command(c == "download" ? 4 : 3, args);
        if (expect(l)) return 1;
        return stream_out(l, data, c.c_str());
    }
    if (c == "datagram") return datagram(l, a);
    if (c == "fxp") return fxp(l, a);
    if (c == "raw") {
        std::string h;
        for (size_t i = 1; i < a.size(); ++i)
            h += a[i];
        Bytes b;
        for (size_t i = 0; i + 1 < h.size(); i += 2)
            b.push_back(uint8_t(std::strtoul(h.substr(i, 2).c_str(), nullptr, 16)));
        l.send(b);
        Bytes got;
        for (int x; (x = l.byte(got.empty() ? l.timeout_ms : 200)) >= 0;)
            got.push_back(uint8_t(x));
        std::printf("%s\n", hex(got).c_str());
        return 0;
    }
    return fail("unknown command " + c);
}

int usage() {
    std::fprintf(stderr,
                 "usage: pgmtool --port PATH [--oem N] [--node N] [--timeout MS] COMMAND ...\n"
                 "  version | mode [N] | getreg REF | setreg REF VALUE | baud N | negotiate N\n"
                 "  commlock 0|1 [CMD_MS [BYTE_MS]]\n"
                 "  download TYPE FILE|APPDIR [--offset N] [--mask HEX]\n"
                 "  upload TYPE [--offset N] [--count N] [--header] [-o FILE]\n"
                 "  verify TYPE FILE|APPDIR [--offset N]\n"
                 "  datagram create TIMEOUT KEY REF... | write N KEY VALUE... | read N KEY |"
                 " delete N KEY\n"
                 "  fxp \"COMMAND\" [put FILE | get FILE]\n"
                 "  raw HEX\n"
                 "Several commands separated by \";\" run in turn until one fails.\n");
    return 2;
}

} // namespace

int main(int argc, char **argv) {
    Link l;
    std::string port;
    bool node_given = false;
    std::vector<std::string> rest;
    for (int i = 1; i < argc; ++i) {
        std::string s = argv[i];
        auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
        if (s == "--port")
            port = value();
        else if (s == "--oem")
            l.seed = uint8_t(number(value()) & 0x7F);
        else if (s == "--node")
            l.node = uint8_t(number(value())), node_given = true;
        else if (s == "--timeout")
            l.timeout_ms = int(number(value()));
        else
            rest.push_back(s);
    }
    if (port.empty() || rest.empty()) return usage();
    l.fd = open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (l.fd < 0) return fail("cannot open " + port + ": " + std::strerror(errno));
    termios t{};
    if (tcgetattr(l.fd, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(l.fd, TCSANOW, &t);
    }
    // Without --node the tool addresses the node that answers on this line
    // (raw bytes go out as they are).
    if (!node_given && rest[0] != "raw") {
        l.command(9, {});
        Bytes id;
        if (answer_packet(l, &id) || id.size() != 1) {
            close(l.fd);
            return fail("the panel does not tell its network id");
        }
        l.node = id[0];
    }
    // Commands separated by ";" run one after the other until one fails.
    int rc = 0;
    std::vector<std::string> one;
    for (size_t i = 0; i <= rest.size() && rc == 0; ++i) {
        if (i < rest.size() && rest[i] != ";") {
            one.push_back(rest[i]);
            continue;
        }
        if (!one.empty()) rc = run(l, one);
        one.clear();
    }
    close(l.fd);
    return rc;
}
