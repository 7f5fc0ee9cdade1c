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

// What the block of each bank last received from this process, so that a
// pass writes only the words that changed since and reuses the CRC when none
// did. The FRAM holds the same unless power failed meanwhile, and then the
// process ends with it. Empty at start (and after a read of the block or a
// plain write over it): the first write of a block is whole.
struct Shadow {
    uint32_t length; // 0: empty
    uint16_t crc;
    uint8_t data[4096];
};
constexpr uint32_t kShadowed[4] = {fram::kRegHeader1, fram::kRegHeader2, fram::kBbrHeader1,
                                   fram::kBbrHeader2};

struct FramState {
    // Number of the last register block written; the battery-backed block
    // written after it in the same pass carries the same number.
    uint16_t pass;
    Shadow shadow[4]; // one per block of kShadowed
};
FramState g;

// Unchanged words between two changed ones that are written rather than
// starting another transfer (a transfer's command and address cost more).
constexpr uint32_t kJoinGap = 16;

uint32_t reg_header(int bank) {
    return bank == 1 ? fram::kRegHeader1 : fram::kRegHeader2;
}
uint32_t bbr_header(int bank) {
    return bank == 1 ? fram::kBbrHeader1 : fram::kBbrHeader2;
}

} // namespace

namespace {

Shadow *shadow_of(uint32_t header) {
    for (int i = 0; i < 4; ++i)
        if (kShadowed[i] == header) return &g.shadow[i];
    return nullptr;
}

// Empties the shadow of every block that [address, address + bytes) touches.
void forget(uint32_t address, uint32_t bytes) {
    for (int i = 0; i < 4; ++i) {
        uint32_t end = kShadowed[i] + 8 + (i < 2 ? fram::kRegLength : fram::kBbrLength);
        if (address < end && kShadowed[i] < address + bytes) g.shadow[i].length = 0;
    }
}

// One FRAM access as spi_RD_nWR_FRAM, without touching the shadows.
int transfer(uint8_t *buffer, uint32_t address, uint32_t words, int read) {
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
    int ok = spi_data_block_trans_FRAM(kFramPort[0], buffer, words, read);
    spi_disable_cs(kFramPort);
    return ok;
}

// Writes the words of `data` that differ from the shadow's, joined into runs.
void write_changes(uint32_t header, const uint8_t *data, const Shadow &s, uint32_t words) {
    auto differs = [&](uint32_t w) { return std::memcmp(data + 2 * w, s.data + 2 * w, 2) != 0; };
    uint32_t w = 0;
    while (w < words) {
        // The changed words lie in runs: skip equal stretches a chunk at a time.
        while (w + 32 <= words && std::memcmp(data + 2 * w, s.data + 2 * w, 64) == 0)
            w += 32;
        while (w < words && !differs(w))
            ++w;
        if (w == words) break;
        uint32_t first = w, last = w, gap = 0;
        for (++w; w < words && gap <= kJoinGap; ++w) {
            if (differs(w)) {
                last = w;
                gap = 0;
            } else {
                ++gap;
            }
        }
        w = last + 1;
        transfer(const_cast<uint8_t *>(data + 2 * first), header + 8 + 2 * first, last - first + 1,
                 0);
    }
}

} // namespace

void Fram_WriteBlock(uint32_t header, const uint8_t *data, uint32_t length, uint16_t pass) {
    Shadow *s = shadow_of(header);
    const uint32_t words = (length + 1) / 2;
    const bool partial = s && s->length == length && length % 2 == 0;
    const bool same = partial && std::memcmp(s->data, data, length) == 0;
    const uint16_t crc = same ? s->crc : crc16(data, length);
    uint8_t h[8];
    put_le16(h, crc);
    put_le16(h + 2, pass);
    put_le32(h + 4, length);
    // The header goes first, as in a whole write: a power loss before the
    // changed words are all written leaves a block whose CRC fails.
    transfer(h, header, 4, 0);
    if (partial) {
        if (!same) write_changes(header, data, *s, words);
    } else {
        transfer(const_cast<uint8_t *>(data), header + 8, words, 0);
    }
    if (!s) return;
    if (length % 2 || length > sizeof s->data) {
        s->length = 0;
        return;
    }
    if (!same) std::memcpy(s->data, data, length);
    s->length = length;
    s->crc = crc;
}

bool Fram_ReadBlock(uint32_t header, uint32_t length, uint16_t *pass) {
    // Reads happen at start and after outside changes: the next write is whole.
    if (Shadow *s = shadow_of(header)) s->length = 0;
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
    g.pass = later(p1, p2) ? p1 : p2;
}

int spi_RD_nWR_FRAM(uint8_t *buffer, uint32_t address, uint32_t words, int read) {
    // A write from outside the checked blocks may land on one: its next write is whole.
    if (!read) forget(address, 2 * words);
    return transfer(buffer, address, words, read);
}

int FRAM_BBRAM_XChange_Data(uint8_t *buffer, int length, int read, int bank) {
    host::trace("FRAM_BBRAM_XChange_Data");
    if (!buffer || length < 0 || length > int(fram::kBbrLength)) return 0;
    uint32_t n = uint32_t(length);
    if (!read) {
        std::memset(Fram_temp, 0, sizeof Fram_temp);
        std::memcpy(Fram_temp, buffer, n);
        Fram_WriteBlock(bbr_header(bank), Fram_temp, n, g.pass);
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
    return ++g.pass;
}

void Fram_Reset() {
    std::memset(bbram, 0, sizeof bbram);
    std::memset(Fram_temp, 0, sizeof Fram_temp);
    g.pass = 0;
    for (Shadow &s : g.shadow)
        s.length = 0;
}
