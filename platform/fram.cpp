// FRAM on the SSP bus: checked blocks, the battery-backed memory image and the
// calibration constants.
#include "platform/fram.h"

#include "base/crc16.h"
#include "base/le.h"
#include "base/trace.h"
#include "platform/spi.h"

#include <cstring>

uint8_t bbram[4096];
uint8_t Fram_temp[4096];

namespace {

// The FRAM sits on SSP3 (channel 4) at the fastest speed, SPI mode 0.
constexpr uint8_t kFramPort[4] = {4, 0, 12, 0};
constexpr uint8_t kWriteEnable = 0x06, kWriteDisable = 0x04, kWrite = 0x02, kRead = 0x03;

// Number of the last register block written; the battery-backed block written
// after it in the same pass carries the same number.
uint16_t g_pass;

uint32_t reg_header(int bank) {
    return bank == 1 ? fram::kRegHeader1 : fram::kRegHeader2;
}
uint32_t bbr_header(int bank) {
    return bank == 1 ? fram::kBbrHeader1 : fram::kBbrHeader2;
}

} // namespace

void Fram_WriteBlock(uint32_t header, const uint8_t *data, uint32_t length, uint16_t pass) {
    uint8_t h[8];
    put_le16(h, crc16(data, length));
    put_le16(h + 2, pass);
    put_le32(h + 4, length);
    spi_RD_nWR_FRAM(h, header, 4, 0);
    spi_RD_nWR_FRAM(const_cast<uint8_t *>(data), header + 8, (length + 1) / 2, 0);
}

bool Fram_ReadBlock(uint32_t header, uint32_t length, uint16_t *pass) {
    uint8_t h[8];
    spi_RD_nWR_FRAM(h, header, 4, 1);
    if (le32(h + 4) != length || length > sizeof Fram_temp) return false;
    spi_RD_nWR_FRAM(Fram_temp, header + 8, (length + 1) / 2, 1);
    if (crc16(Fram_temp, length) != le16(h)) return false;
    if (pass) *pass = le16(h + 2);
    return true;
}

namespace {

uint16_t header_pass(uint32_t header) {
    uint8_t h[8];
    spi_RD_nWR_FRAM(h, header, 4, 1);
    return le16(h + 2);
}

// a is a later pass than b (pass numbers wrap).
bool later(uint16_t a, uint16_t b) {
    return int16_t(uint16_t(a - b)) > 0;
}

} // namespace

void FRAM_Init() {
    host::trace("FRAM_Init");
    spi_init(kFramPort);
    // Continue the pass numbers after the newest bank, so the next write is newer.
    uint16_t p1 = header_pass(fram::kRegHeader1), p2 = header_pass(fram::kRegHeader2);
    g_pass = later(p1, p2) ? p1 : p2;
}

int spi_RD_nWR_FRAM(uint8_t *buffer, uint32_t address, uint32_t words, int read) {
    uint8_t cmd = read ? kWriteDisable : kWriteEnable;
    spi_enable_cs(kFramPort);
    spi_data_byte_trans_FRAM(kFramPort[0], &cmd, 1, 0);
    spi_disable_cs(kFramPort);

    spi_enable_cs(kFramPort);
    cmd = read ? kRead : kWrite;
    spi_data_byte_trans_FRAM(kFramPort[0], &cmd, 1, 0);
    uint8_t addr[2];
    put_le16(addr, uint16_t(address));
    spi_data_word_trans_FRAM(kFramPort[0], addr, 1, 0);
    int ok = spi_data_word_trans_FRAM(kFramPort[0], buffer, words, read);
    spi_disable_cs(kFramPort);
    return ok;
}

int FRAM_BBRAM_XChange_Data(uint8_t *buffer, int length, int read, int bank) {
    host::trace("FRAM_BBRAM_XChange_Data");
    if (!buffer || length < 0 || length > int(fram::kBbrLength)) return 0;
    uint32_t n = uint32_t(length);
    if (!read) {
        std::memset(Fram_temp, 0, sizeof Fram_temp);
        std::memcpy(Fram_temp, buffer, n);
        Fram_WriteBlock(bbr_header(bank), Fram_temp, n, g_pass);
        return 1;
    }
    if (!Fram_ReadBlock(bbr_header(bank), n)) return 0;
    std::memcpy(buffer, Fram_temp, n);
    return 1;
}

namespace {
int cal_exchange(uint32_t header, uint32_t max, uint8_t *buffer, int length, int read) {
    if (!buffer || length < 0 || uint32_t(length) > max) return 0;
    uint32_t n = uint32_t(length);
    if (!read) {
        std::memset(Fram_temp, 0, sizeof Fram_temp);
        std::memcpy(Fram_temp, buffer, n);
        Fram_WriteBlock(header, Fram_temp, n, 0);
        return 1;
    }
    if (!Fram_ReadBlock(header, n)) return 0;
    std::memcpy(buffer, Fram_temp, n);
    return 1;
}
} // namespace

int FRAM_XChange_cal_Data(uint8_t *buffer, int length, int read) {
    return cal_exchange(fram::kCalHeader, fram::kCalMax, buffer, length, read);
}

int FRAM_XChange_cal_Data1(uint8_t *buffer, int length, int read) {
    if (!read) return 0; // the factory table is never written here
    return cal_exchange(fram::kCal1Header, fram::kCal1Max, buffer, length, read);
}

FramBanks FRAM_NewestBanks() {
    struct Copy {
        bool ok;
        uint16_t pass;
    };
    Copy reg[3] = {}, bbr[3] = {};
    for (int bank = 1; bank <= 2; ++bank) {
        reg[bank].ok = Fram_ReadBlock(reg_header(bank), fram::kRegLength, &reg[bank].pass);
        bbr[bank].ok = Fram_ReadBlock(bbr_header(bank), fram::kBbrLength, &bbr[bank].pass);
    }
    // Bank 2 first on a tie, as the board reads it.
    auto newest = [](const Copy *c, auto usable) {
        int best = 0;
        for (int bank : {2, 1})
            if (usable(bank) && (!best || later(c[bank].pass, c[best].pass))) best = bank;
        return best;
    };
    // Never one block from one pass and the other from another.
    int pair =
        newest(reg, [&](int b) { return reg[b].ok && bbr[b].ok && reg[b].pass == bbr[b].pass; });
    return {pair, pair};
}

uint16_t Fram_NextPass() {
    return ++g_pass;
}

void Fram_Reset() {
    std::memset(bbram, 0, sizeof bbram);
    std::memset(Fram_temp, 0, sizeof Fram_temp);
    g_pass = 0;
}
