// CRC-16, the FRAM banks of the retentive registers and the battery-backed
// image, and power loss in the middle of a bank's write.
#include "base/crc16.h"
#include "base/le.h"
#include "host/board.h"
#include "host/devmem.h"
#include "panel_fixture.h"
#include "platform/spi.h"
#include "plc/fram.h"
#include "regs/plc_reg.h"
#include "system/appfile.h"
#include "system/loop.h"
#include "system/nvram.h"

#include <random>
#include <string>

namespace {
uint16_t crc_bitwise(const uint8_t *p, size_t n) {
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int b = 0; b < 8; ++b)
            crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
    }
    return crc;
}

// The retentive areas and the battery-backed image all hold `v`.
void fill(uint16_t v) {
    for (uint32_t i = 0; i < 1024; ++i)
        put_le16(plc_reg + reg::kR + 2 * i, v);
    for (uint32_t i = 0; i < 128; ++i)
        put_le16(plc_reg + reg::kEM + 2 * i, v);
    for (uint32_t i = 0; i < 2048; ++i)
        put_le16(bbram + 2 * i, v);
}

// The one value an area holds, or -1 for a mixture.
long uniform(const uint8_t *p, uint32_t words) {
    for (uint32_t i = 1; i < words; ++i)
        if (le16(p + 2 * i) != le16(p)) return -1;
    return le16(p);
}

// 16-bit words the FRAM receives in a pass that writes both blocks whole,
// with their headers.
constexpr long kWordsPerPass = (8 + fram::kRegLength) / 2 + (8 + fram::kBbrLength) / 2;
} // namespace

class FramTest : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        FRAM_Init();
    }
    // What a power cycle keeps: the files of the root folder, nothing in memory.
    void power_cycle() {
        panel_reset_all();
        std::memset(plc_reg, 0, sizeof plc_reg);
        FRAM_Init();
    }
    void fram_image(uint8_t byte) {
        write_file(host::kFramImage, std::string(host::FramDevice::kSize, char(byte)));
        power_cycle();
    }
};

TEST(Crc16, CheckValueEmptyInputAndTheTableAgreeWithTheBitwiseDefinition) {
    EXPECT_EQ(crc16(reinterpret_cast<const uint8_t *>("123456789"), 9), 0x4B37);
    EXPECT_EQ(crc16(nullptr, 0), 0xFFFF);
    EXPECT_EQ(crc16_next(nullptr, 0, 0x1234), 0x1234);
    EXPECT_EQ(CrcTab[1], 0xC0C1);
    std::vector<uint8_t> data(300);
    std::mt19937 rng(7);
    for (auto &b : data)
        b = uint8_t(rng());
    for (size_t start : {0, 1, 3}) {
        for (size_t n = 0; n + start <= data.size(); n += 13) {
            EXPECT_EQ(crc16(data.data() + start, n), crc_bitwise(data.data() + start, n))
                << start << "+" << n;
            // In pieces, the running value carries over.
            size_t half = n / 2;
            EXPECT_EQ(
                crc16_next(data.data() + start + half, n - half, crc16(data.data() + start, half)),
                crc_bitwise(data.data() + start, n));
        }
    }
}

TEST_F(FramTest, BanksKeepTheirOwnCopiesAndReadBack) {
    fill(11);
    ASSERT_EQ(FRAM_XChange_Data(0, 1), 1);
    ASSERT_EQ(FRAM_BBRAM_XChange_Data(bbram, 4096, 0, 1), 1);
    fill(22);
    ASSERT_EQ(FRAM_XChange_Data(0, 0), 1); // 0 selects bank 2
    ASSERT_EQ(FRAM_BBRAM_XChange_Data(bbram, 4096, 0, 0), 1);
    power_cycle();
    ASSERT_EQ(FRAM_XChange_Data(1, 1), 1);
    ASSERT_EQ(FRAM_BBRAM_XChange_Data(bbram, 4096, 1, 1), 1);
    EXPECT_EQ(uniform(plc_reg + reg::kR, 1024), 11);
    EXPECT_EQ(uniform(bbram, 2048), 11);
    ASSERT_EQ(FRAM_XChange_Data(1, 2), 1);
    EXPECT_EQ(uniform(plc_reg + reg::kEM, 128), 22);
    EXPECT_EQ(FRAM_BBRAM_XChange_Data(bbram, 4097, 1, 2), 0) << "longer than the image";
    EXPECT_EQ(FRAM_BBRAM_XChange_Data(bbram, 4000, 1, 2), 0) << "not the length stored";
    FramBanks b = FRAM_NewestBanks();
    EXPECT_EQ(b.reg_bank, 2);
    EXPECT_EQ(b.bbram_bank, 2);
}

TEST_F(FramTest, ErasedFramFailsInBothBanksAndTheRegisterFileAloneIsUsed) {
    for (uint8_t erased : {uint8_t(0xFF), uint8_t(0x00)}) {
        fram_image(erased);
        ASSERT_TRUE(CrtAutoSaveRegFile());
        fill(1234);
        sr_put(100, 77);
        ASSERT_EQ(AutoSaveRegisters(), 1);
        power_cycle();
        EXPECT_EQ(FRAM_XChange_Data(1, 1), 0);
        EXPECT_EQ(FRAM_XChange_Data(1, 2), 0);
        EXPECT_EQ(FRAM_BBRAM_XChange_Data(bbram, 4096, 1, 1), 0);
        EXPECT_EQ(FRAM_BBRAM_XChange_Data(bbram, 4096, 1, 2), 0);
        EXPECT_EQ(AutoLoadRegisters(), 0) << int(erased);
        EXPECT_EQ(uniform(plc_reg + reg::kR, 1024), 1234) << int(erased);
        EXPECT_EQ(sr_get(100), 77);
        EXPECT_EQ(Persist_Get() & app::kStRegsCleared, 0u) << "the file was good";
    }
}

TEST_F(FramTest, RetentiveBlockWithAWrongLengthIsRejected) {
    fill(5);
    FRAM_XChange_Data(0, 1);
    uint8_t h[8];
    spi_RD_nWR_FRAM(h, fram::kRegHeader1, 4, 1);
    for (uint32_t len : {fram::kRegLength + 1, fram::kRegLength - 2, 0u, 0xFFFFFFFFu}) {
        put_le32(h + 4, len);
        spi_RD_nWR_FRAM(h, fram::kRegHeader1, 4, 0);
        fill(0);
        EXPECT_EQ(FRAM_XChange_Data(1, 1), 0) << len;
        EXPECT_EQ(uniform(plc_reg + reg::kR, 1024), 0) << "registers untouched";
    }
}

TEST_F(FramTest, FeatureBitSwitchesTheSecondRegionToM) {
    for (uint32_t i = 0; i < 256; ++i)
        plc_reg[reg::kM + i] = uint8_t(i);
    NV_EditorFeatures = 0x8000;
    FRAM_XChange_Data(0, 1);
    std::memset(plc_reg + reg::kM, 0, 256);
    NV_EditorFeatures = 0;
    ASSERT_EQ(FRAM_XChange_Data(1, 1), 1) << "same size: the CRC still passes";
    EXPECT_EQ(plc_reg[reg::kEM + 200], 200) << "%M saved, read back into %EM";
}

TEST_F(FramTest, CalibrationBlockEndsBeforeTheFirstBank) {
    uint8_t cal[66];
    for (int i = 0; i < 66; ++i)
        cal[i] = uint8_t(i * 3);
    fill(9);
    FRAM_XChange_Data(0, 1);
    ASSERT_EQ(FRAM_XChange_cal_Data(cal, 66, 0), 1);
    uint8_t big[256] = {};
    EXPECT_EQ(FRAM_XChange_cal_Data(big, 249, 0), 0) << "would reach the bank-1 header";
    EXPECT_EQ(FRAM_XChange_cal_Data(big, 248, 0), 1);
    ASSERT_EQ(FRAM_XChange_Data(1, 1), 1) << "bank 1 intact";
    ASSERT_EQ(FRAM_XChange_cal_Data(cal, 66, 0), 1);
    uint8_t back[66] = {};
    ASSERT_EQ(FRAM_XChange_cal_Data(back, 66, 1), 1);
    EXPECT_EQ(std::memcmp(back, cal, 66), 0);
    EXPECT_EQ(FRAM_XChange_cal_Data1(back, 48, 0), 0) << "the factory table is read only";
}

TEST_F(FramTest, OlderFirmwareBanksWithoutPassNumbersReadBankTwoFirst) {
    // Write both banks, then clear the pass words as the board's firmware leaves them.
    fill(1);
    FRAM_XChange_Data(0, 1);
    FRAM_BBRAM_XChange_Data(bbram, 4096, 0, 1);
    fill(2);
    FRAM_XChange_Data(0, 2);
    FRAM_BBRAM_XChange_Data(bbram, 4096, 0, 2);
    for (uint32_t h :
         {fram::kRegHeader1, fram::kRegHeader2, fram::kBbrHeader1, fram::kBbrHeader2}) {
        uint8_t hdr[8];
        spi_RD_nWR_FRAM(hdr, h, 4, 1);
        put_le16(hdr + 2, 0);
        spi_RD_nWR_FRAM(hdr, h, 4, 0);
    }
    FramBanks b = FRAM_NewestBanks();
    EXPECT_EQ(b.reg_bank, 2);
    EXPECT_EQ(b.bbram_bank, 2);
    // The next pass writes bank 1 and is newer than both.
    power_cycle();
    fill(3);
    FRAM_XChange_Data(0, 1);
    FRAM_BBRAM_XChange_Data(bbram, 4096, 0, 1);
    EXPECT_EQ(FRAM_NewestBanks().reg_bank, 1);
}

// Power fails after a random number of FRAM words while the loop writes its
// passes: at the next start %R, %EM and the battery-backed image all come
// from the last pass whose two blocks were written whole, never a mixture.
TEST_F(FramTest, PowerLossAtRandomWordsRestoresTheLastCompletePass) {
    std::mt19937 rng(20260101);
    constexpr int kPasses = 4;
    for (int trial = 0; trial < 300; ++trial) {
        fram_image(trial % 2 ? 0xFF : 0x00);
        long n = long(rng() % (kPasses * kWordsPerPass + 10));
        host::fram_device()->drop_after_words(n);
        uint16_t base = uint16_t(100 * trial);
        // Where each pass's words end: a pass after the first of its bank
        // writes only what changed, so the passes differ in length.
        const uint64_t start = host::fram_device()->words_written();
        long ends[kPasses];
        for (int p = 1; p <= kPasses; ++p) {
            fill(uint16_t(base + p));
            The_Loop();
            ends[p - 1] = long(host::fram_device()->words_written() - start);
        }
        power_cycle();
        long complete = 0;
        for (long end : ends)
            complete += end <= n;
        int loaded = AutoLoadRegisters();
        long expect = complete ? base + complete : 0;
        EXPECT_EQ(loaded, complete ? 1 : 0) << "trial " << trial << " words " << n;
        EXPECT_EQ(uniform(plc_reg + reg::kR, 1024), expect) << "trial " << trial << " words " << n;
        EXPECT_EQ(uniform(plc_reg + reg::kEM, 128), expect) << "trial " << trial;
        // The first 128 bytes of the battery-backed image are the panel's
        // own store (the network's address records, written in a pass): the
        // rest is what the test filled.
        EXPECT_EQ(uniform(bbram + 128, 2048 - 64), expect) << "trial " << trial;
        if (HasFailure()) break;
    }
}

// A pass writes the header and only the words that changed since its bank's
// last write; the bank then holds byte for byte what a whole write leaves.
TEST_F(FramTest, BankRebuiltFromTheShadowEqualsAWholeWrite) {
    fram_image(0xA5);
    host::FramDevice *dev = host::fram_device();
    std::mt19937 rng(2417);
    uint8_t data[fram::kBbrLength];
    for (auto &b : data)
        b = uint8_t(rng());
    uint16_t pass = 1;
    for (uint32_t header : {fram::kRegHeader1, fram::kBbrHeader2}) {
        const uint32_t length = header == fram::kRegHeader1 ? fram::kRegLength : fram::kBbrLength;
        Fram_WriteBlock(header, data, length, pass++); // the first write of a bank is whole
        for (int round = 0; round < 60; ++round) {
            SCOPED_TRACE("header " + std::to_string(header) + " round " + std::to_string(round));
            // Nothing, one word, the first and last words, scattered runs, or everything.
            uint32_t changed_words = 0;
            auto change = [&](uint32_t at, uint32_t n) {
                for (uint32_t i = at; i < at + n && i < length; ++i)
                    data[i] = uint8_t(data[i] + 1 + rng() % 255);
            };
            switch (round % 5) {
            case 0:
                break;
            case 1:
                change(2 * (rng() % (length / 2)), 2);
                changed_words = 1;
                break;
            case 2:
                change(0, 1);
                change(length - 1, 1);
                changed_words = 2;
                break;
            case 3:
                for (int r = 0; r < 6; ++r)
                    change(uint32_t(rng() % length), 1 + uint32_t(rng() % 70));
                changed_words = 1;
                break;
            default:
                change(0, length);
                changed_words = length / 2;
                break;
            }
            const uint64_t before = dev->words_written();
            Fram_WriteBlock(header, data, length, pass);
            const uint64_t written = dev->words_written() - before;
            const std::string by_shadow = read_file(host::kFramImage);
            if (changed_words == 0) {
                EXPECT_EQ(written, 4u) << "the header alone";
            } else if (round % 5 == 1) {
                EXPECT_EQ(written, 5u) << "the header and the word";
            }
            if (changed_words < length / 2) {
                EXPECT_LT(written, 4 + length / 2);
            }

            // The same block written whole over what the shadowed writes left.
            Fram_Reset();
            Fram_WriteBlock(header, data, length, pass++);
            EXPECT_EQ(dev->words_written() - before - written, 4 + length / 2);
            ASSERT_TRUE(read_file(host::kFramImage) == by_shadow)
                << "bank differs from a whole write";
            uint16_t read_pass = 0;
            ASSERT_TRUE(Fram_ReadBlock(header, length, &read_pass));
            EXPECT_EQ(std::memcmp(Fram_temp, data, length), 0);
            Fram_WriteBlock(header, data, length, pass - 1); // whole again after the read
        }
    }
}

// Whatever writes a bank from outside the pass (a plain FRAM write over it,
// a fresh image at a restart) makes its next write whole again.
TEST_F(FramTest, PlainWritesAndRestartsMakeTheNextBlockWriteWhole) {
    host::FramDevice *dev = host::fram_device();
    fill(7);
    FRAM_XChange_Data(0, 1);
    uint64_t before = dev->words_written();
    FRAM_XChange_Data(0, 1);
    EXPECT_EQ(dev->words_written() - before, 4u) << "unchanged: the header alone";

    // A word of the bank's data overwritten outside the block writes.
    uint8_t junk[2] = {0x12, 0x34};
    spi_RD_nWR_FRAM(junk, fram::kRegHeader1 + 8 + 100, 1, 0);
    before = dev->words_written();
    FRAM_XChange_Data(0, 1);
    EXPECT_EQ(dev->words_written() - before, 4u + fram::kRegLength / 2);
    ASSERT_EQ(FRAM_XChange_Data(1, 1), 1) << "the overwritten word was put back";

    power_cycle();
    fill(7);
    before = host::fram_device()->words_written();
    FRAM_BBRAM_XChange_Data(bbram, 4096, 0, 2);
    EXPECT_EQ(host::fram_device()->words_written() - before, 4u + fram::kBbrLength / 2)
        << "a new process starts with empty shadows";
}
