// Builder of the Ethernet configuration block.
#include "tools/lib/appbuild_net.h"

#include "regs/regname.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace appnet {
namespace {

constexpr char kKey[] = "Wh3n 7He mOOn R1sEs oVer tHe bAy qu1Et !";

void word(std::vector<uint8_t> &b, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.push_back(uint8_t(v >> (8 * i)));
}

// A length byte, the bytes XORed with the key, padding to (length + 4) & ~3.
void text(std::vector<uint8_t> &b, const std::string &s) {
    size_t start = b.size();
    b.push_back(uint8_t(s.size()));
    for (size_t i = 0; i < s.size(); ++i)
        b.push_back(uint8_t(uint8_t(s[i]) ^ uint8_t(kKey[i % 40])));
    b.resize(start + ((s.size() + 4) & ~size_t(3)), 0);
}

void account(std::vector<uint8_t> &b, const Account &a) {
    text(b, a.name);
    text(b, a.password);
    text(b, a.third);
    word(b, a.access);
}

uint32_t ip(const std::string &s) {
    unsigned a = 0, b = 0, c = 0, d = 0;
    std::sscanf(s.c_str(), "%u.%u.%u.%u", &a, &b, &c, &d);
    return a << 24 | b << 16 | c << 8 | d;
}

// A number, or a register name ("%R100").
uint32_t num(const std::string &s) {
    uint32_t ref = 0, bits = 0;
    if (!s.empty() && s[0] == '%' && RegName_Parse(s, &ref, &bits, nullptr)) return ref;
    return uint32_t(std::strtoul(s.c_str(), nullptr, 0));
}

} // namespace

std::vector<uint8_t> build(const Config &c) {
    std::vector<uint8_t> b;
    word(b, 0); // length, below
    word(b, c.address);
    word(b, c.mask);
    for (const Egd &e : c.egd) {
        word(b, e.tag | 0x80000000u);
        for (uint32_t p : e.params)
            word(b, p);
        for (auto [reg, len] : e.pairs) {
            word(b, reg);
            word(b, len);
        }
        word(b, 0);
        word(b, 0);
        word(b, 0);
    }
    if (c.ping) {
        word(b, 0x40000000u);
        const uint32_t w[7] = {0, 0, c.ping_timeout, 0, c.ping_target_reg, 0, c.ping_status_reg};
        for (uint32_t v : w)
            word(b, v);
        word(b, 0);
        word(b, 0);
    }
    if (!c.ftp.empty()) {
        word(b, 0x08000000u);
        word(b, uint32_t(c.ftp.size()));
        for (const Account &a : c.ftp)
            account(b, a);
        word(b, 0);
        word(b, 0);
    }
    if (c.http) {
        word(b, 0x04000000u);
        account(b, c.http_account);
        word(b, 0);
        word(b, 0);
    }
    if (c.modbus) {
        word(b, 0x01000000u);
        word(b, c.modbus_flags);
        word(b, uint32_t(c.modbus_mode) | uint32_t(c.modbus_port) << 16);
        word(b, 0);
        word(b, 0);
    }
    if (!c.ntp.empty()) {
        word(b, 0x00200000u);
        word(b, c.ntp_pair);
        for (size_t i = 0; i < 10; ++i) {
            std::string n = i < c.ntp.size() ? c.ntp[i] : "";
            n.resize(96, '\0');
            b.insert(b.end(), n.begin(), n.end());
        }
        word(b, 0);
        word(b, 0);
    }
    if (c.service) {
        word(b, 0x20000000u);
        word(b, 0);
        word(b, c.options);
        word(b, c.mask);
        if (c.options & 0x8000) word(b, c.dns);
        auto pair = [&](uint32_t ref) {
            word(b, ref);
            word(b, 16);
        };
        pair(c.version_reg);
        pair(c.status_reg);
        pair(c.address_reg);
        if (c.options & 0x20000000u) {
            pair(c.mask_reg);
            pair(c.gateway_reg);
        }
        if (c.options & 0x8000) pair(c.dns_reg);
        word(b, 0);
        word(b, 0);
    }
    if (c.with_100000) {
        word(b, 0x00100000u);
        word(b, c.tag_100000[0]);
        word(b, c.tag_100000[1]);
        word(b, 0);
        word(b, 0);
    }
    word(b, 0);
    uint32_t n = uint32_t(b.size());
    for (int i = 0; i < 4; ++i)
        b[size_t(i)] = uint8_t(n >> (8 * i));
    return b;
}

bool parse(const std::string &text_in, Config *c, std::string *error) {
    std::istringstream in(text_in);
    std::string line;
    while (std::getline(in, line)) {
        if (auto h = line.find('#'); h != std::string::npos) line.resize(h);
        std::istringstream l(line);
        std::string key;
        if (!(l >> key)) continue;
        std::vector<std::string> a;
        for (std::string w; l >> w;)
            a.push_back(w);
        auto need = [&](size_t n) {
            if (a.size() >= n) return true;
            *error = "too few values: " + line;
            return false;
        };
        if (key == "address" && need(1)) {
            c->address = ip(a[0]);
        } else if (key == "mask" && need(1)) {
            c->mask = ip(a[0]);
        } else if (key == "options" && need(1)) {
            c->options = num(a[0]);
        } else if (key == "dns" && need(1)) {
            c->dns = ip(a[0]);
            c->options |= 0x8000;
        } else if (key == "status_reg" && need(1)) {
            c->status_reg = num(a[0]);
        } else if (key == "version_reg" && need(1)) {
            c->version_reg = num(a[0]);
        } else if (key == "address_reg" && need(1)) {
            c->address_reg = num(a[0]);
        } else if (key == "ping" && need(3)) {
            c->ping = true;
            c->ping_timeout = num(a[0]);
            c->ping_target_reg = num(a[1]);
            c->ping_status_reg = num(a[2]);
        } else if (key == "ftp" && need(2)) {
            c->ftp.push_back({a[0], a[1], "", uint8_t(a.size() > 2 ? num(a[2]) : 0)});
        } else if (key == "http" && need(2)) {
            c->http = true;
            c->http_account = {a[0], a[1], "", 0};
        } else if (key == "ntp" && need(1)) {
            c->ntp.push_back(a[0]);
        } else if (key == "modbus" && need(3)) {
            c->modbus = true;
            c->modbus_flags = num(a[0]);
            c->modbus_mode = uint16_t(num(a[1]));
            c->modbus_port = uint16_t(num(a[2]));
        } else {
            if (error->empty()) *error = "unknown line: " + line;
            return false;
        }
        if (!error->empty()) return false;
    }
    return true;
}

bool entry(const std::string &text_in, std::vector<uint8_t> *out, std::string *error) {
    Config c;
    if (!parse(text_in, &c, error)) return false;
    std::vector<uint8_t> b = build(c);
    out->clear();
    out->push_back(uint8_t(64000 & 0xFF));
    out->push_back(uint8_t(64000 >> 8));
    out->push_back(uint8_t(b.size()));
    out->push_back(uint8_t(b.size() >> 8));
    out->insert(out->end(), b.begin(), b.end());
    out->resize(4 + ((b.size() + 3) & ~size_t(3)), 0);
    return true;
}

} // namespace appnet
