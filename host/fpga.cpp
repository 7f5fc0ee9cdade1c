// The FPGA model behind SSP1 (see fpga.h).
#include "host/fpga.h"

#include "host/board.h"
#include "host/clock.h"
#include "host/config.h"

#include <cstdlib>
#include <string>

namespace host {

namespace {

constexpr uint16_t kAccumulator[4] = {0xD8, 0xF8, 0x118, 0x138};
constexpr uint16_t kControl[4] = {0xC2, 0xE2, 0x102, 0x122};

class RegPort : public SpiSlave {
public:
    explicit RegPort(FpgaModel *m) : m_(m) {}
    void select(bool on) override { m_->reg_select(on); }
    uint8_t exchange(uint8_t out) override { return m_->reg_exchange(out); }

private:
    FpgaModel *m_;
};

class CfgPort : public SpiSlave {
public:
    explicit CfgPort(FpgaModel *m) : m_(m) {}
    void select(bool on) override { m_->cfg_select(on); }
    uint8_t exchange(uint8_t out) override { return m_->cfg_exchange(out); }

private:
    FpgaModel *m_;
};

uint32_t conf_u32(const char *key, uint32_t fallback) {
    std::string v = config(key);
    return v.empty() ? fallback : uint32_t(std::strtoul(v.c_str(), nullptr, 0));
}

} // namespace

uint16_t fpga_stream_crc(const uint8_t *p, size_t n) {
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < n; ++i) {
        crc = uint16_t(crc ^ (p[i] << 8));
        for (int b = 0; b < 8; ++b)
            crc = uint16_t(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

FpgaModel::FpgaModel() : id(conf_u32("fpga.id", 0x809409C2)) {
    regs_[1] = uint8_t(conf_u32("fpga.present", 1));
    regs_[2] = uint8_t(conf_u32("fpga.version", 0x12));
    regs_[5] = uint8_t(conf_u32("fpga.mode", 0));
    for (int i = 0; i < 4; ++i) {
        std::string key = "fpga.counter" + std::to_string(i + 1);
        counter_rate_[i] = conf_u32(key.c_str(), 0);
    }
    counted_ns_ = int64_t(mono_ns());
    reg_port_ = std::make_unique<RegPort>(this);
    cfg_port_ = std::make_unique<CfgPort>(this);
}

uint8_t FpgaModel::reg(uint16_t address) const {
    return regs_[address];
}
void FpgaModel::set_reg(uint16_t address, uint8_t value) {
    regs_[address] = value;
}

void FpgaModel::advance_counters() {
    int64_t now = int64_t(mono_ns());
    int64_t dt = now - counted_ns_;
    if (dt < 1000000) return; // a millisecond at a time
    counted_ns_ = now;
    if (!regs_[3]) return;
    for (int i = 0; i < 4; ++i) {
        if (!counter_rate_[i] || !regs_[kControl[i]]) continue;
        uint16_t a = kAccumulator[i];
        uint32_t v = uint32_t(regs_[a]) | uint32_t(regs_[a + 1]) << 8 |
                     uint32_t(regs_[a + 2]) << 16 | uint32_t(regs_[a + 3]) << 24;
        v += uint32_t(uint64_t(counter_rate_[i]) * uint64_t(dt) / 1000000000u);
        for (int b = 0; b < 4; ++b)
            regs_[a + b] = uint8_t(v >> (8 * b));
    }
}

void FpgaModel::reg_select(bool on) {
    reg_bytes_.clear();
    if (on) advance_counters();
}

uint8_t FpgaModel::reg_exchange(uint8_t out) {
    size_t i = reg_bytes_.size();
    reg_bytes_.push_back(out);
    if (i < 4) return 0xFF;
    uint8_t op = reg_bytes_[0], count = reg_bytes_[1];
    uint16_t address = uint16_t(reg_bytes_[2] << 8 | reg_bytes_[3]);
    size_t k = i - 4;
    if (count < 1 || count > 4 || k >= count) return 0xFF;
    uint16_t at = uint16_t(address + k);
    if (op == 1) return regs_[at];
    if (op == 2) regs_[at] = out;
    return 0xFF;
}

void FpgaModel::cfg_select(bool on) {
    if (on) {
        window_.clear();
        cfg_open_ = true;
        return;
    }
    if (!cfg_open_) return;
    cfg_open_ = false;
    windows.push_back(window_);
    if (window_.size() < 4) return;
    switch (window_[0]) {
    case 0x0E:
        stream.clear();
        configured = false;
        stream_error = false;
        erased = true;
        busy_polls = 2;
        break;
    case 0x70:
        stream.insert(stream.end(), window_.begin() + 4, window_.end());
        break;
    case 0x5E:
        check_stream();
        break;
    default:
        break;
    }
}

std::vector<uint8_t> FpgaModel::payload() const {
    size_t i = 0;
    while (i < stream.size() && stream[i] == 0xFF)
        ++i;
    return std::vector<uint8_t>(stream.begin() + long(i), stream.end());
}

void FpgaModel::check_stream() {
    std::vector<uint8_t> p = payload();
    bool ok = erased && p.size() >= 4 && p[0] == 0xBD && p[1] == 0xB3;
    if (ok) {
        size_t n = p.size() - 2;
        uint16_t crc = fpga_stream_crc(p.data() + 2, n - 2);
        ok = (p[n] << 8 | p[n + 1]) == crc;
    }
    configured = ok;
    stream_error = !ok;
}

uint8_t FpgaModel::cfg_exchange(uint8_t out) {
    size_t i = window_.size();
    window_.push_back(out);
    if (i == 3 && window_[0] == 0x3C) {
        uint32_t s = 0;
        if (busy_polls > 0) {
            --busy_polls;
            s |= 2;
        } else {
            s |= (configured ? 1 : 0) | (erased ? 4 : 0) | (stream_error ? 8 : 0);
        }
        status_word_ = s;
    }
    if (i < 4) return 0xFF;
    size_t k = i - 4;
    switch (window_[0]) {
    case 0x98:
        return k < 4 ? uint8_t(id >> (8 * k)) : 0xFF;
    case 0x3C:
        return k < 4 ? uint8_t(status_word_ >> (8 * (3 - k))) : 0xFF;
    case 0x73: {
        size_t skip = 0;
        while (skip < stream.size() && stream[skip] == 0xFF)
            ++skip;
        return skip + k < stream.size() ? stream[skip + k] : 0xFF;
    }
    default:
        return 0xFF;
    }
}

} // namespace host
