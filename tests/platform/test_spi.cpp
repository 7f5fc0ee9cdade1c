// The SSP/SPI driver on the emulated register blocks: ports, chip selects,
// transfers, and the shift-register chain on SSP2's pins.
#include "base/le.h"
#include "host/board.h"
#include "host/config.h"
#include "panel_fixture.h"
#include "platform/spi.h"

namespace {
const uint8_t kFram[4] = {4, 0, 12, 0};

bool pin(int bank, int bit) {
    return host::devmem_model<host::PinctrlModel>(host::soc::kPinctrl)->output(bank, bit);
}
} // namespace

using SpiTest = PanelTest;

TEST_F(SpiTest, PortsOpenOnceAndCloseAgain) {
    const uint8_t bad0[4] = {0, 0, 1, 0}, bad5[4] = {5, 0, 1, 0};
    EXPECT_EQ(spi_init(bad0), 0);
    EXPECT_EQ(spi_init(bad5), 0);
    EXPECT_EQ(spi_close(bad5), 0);
    EXPECT_EQ(spi_init(kFram), 1);
    EXPECT_EQ(spi_init(kFram), 0) << "already open";
    EXPECT_EQ(spi_close(kFram), 1);
    EXPECT_EQ(spi_init(kFram), 1);
    Spi_Reset();
    host::config_set("devmem", "0");
    EXPECT_EQ(spi_init(kFram), 0) << "no /dev/mem";
}

TEST_F(SpiTest, ChipSelectLinesFollowTheTable) {
    const uint8_t ssp1[4] = {1, 0, 1, 0}, fpga_reg[4] = {1, 2, 1, 0}, chain[4] = {2, 4, 1, 3};
    ASSERT_EQ(spi_init(kFram), 1);
    ASSERT_EQ(spi_init(ssp1), 1);
    EXPECT_TRUE(pin(2, 27)) << "released after set-up";
    spi_enable_cs(kFram);
    EXPECT_FALSE(pin(2, 27));
    spi_disable_cs(kFram);
    EXPECT_TRUE(pin(2, 27));
    spi_enable_cs(fpga_reg);
    EXPECT_FALSE(pin(2, 5));
    spi_disable_cs(fpga_reg);
    EXPECT_TRUE(pin(2, 5));
    EXPECT_EQ(spi_enable_cs(chain), 1);
    EXPECT_EQ(host::devmem_model<host::PinctrlModel>(host::soc::kPinctrl)->output(4, 5), true)
        << "active high";
    const uint8_t nowhere[4] = {6, 1, 1, 0};
    EXPECT_EQ(spi_enable_cs(nowhere), 0);
}

TEST_F(SpiTest, ShortTransfersTimeOutOnAClosedPortAndRefuseMoreThanFourBytes) {
    uint8_t buf[8] = {1, 2, 3, 4, 5};
    EXPECT_EQ(spi_data_trans(4, buf, 2, 0), 0) << "port not open: the run bit never shows";
    ASSERT_EQ(spi_init(kFram), 1);
    EXPECT_EQ(spi_data_trans(4, buf, 5, 0), 0);
    EXPECT_EQ(spi_data_trans(4, buf, 4, 0), 1);
    EXPECT_EQ(spi_data_trans(4, buf, 4, 1), 1);
    EXPECT_EQ(buf[0], 0xFF) << "nothing selected answers";
    EXPECT_EQ(spi_data_trans(9, buf, 1, 0), 0);
}

TEST_F(SpiTest, FramWordsGoOutMostSignificantByteFirst) {
    ASSERT_EQ(spi_init(kFram), 1);
    uint8_t cmd = 0x06;
    spi_enable_cs(kFram);
    spi_data_byte_trans_FRAM(4, &cmd, 1, 0);
    spi_disable_cs(kFram);
    spi_enable_cs(kFram);
    cmd = 0x02;
    spi_data_byte_trans_FRAM(4, &cmd, 1, 0);
    uint8_t addr[2];
    put_le16(addr, 0x0102);
    spi_data_word_trans_FRAM(4, addr, 1, 0);
    uint8_t data[4] = {0x11, 0x22, 0x33, 0x44};
    spi_data_word_trans_FRAM(4, data, 2, 0);
    spi_disable_cs(kFram);
    std::string image = read_file(host::kFramImage);
    EXPECT_EQ(image.substr(0x102, 4), "\x22\x11\x44\x33");
    EXPECT_EQ(host::fram_device()->words_written(), 2u);
}

TEST_F(SpiTest, ShiftChainExchangeKeepsTheOutputWordsBetweenCalls) {
    host::shift_chain().readback[0] = 0xBEEF;
    EXPECT_EQ(Ssp2_Xch(0x8001, 0, 0), 0xBEEFu);
    EXPECT_EQ(host::shift_chain().shifted[0], 0x8001u);
    EXPECT_EQ(host::shift_chain().bits[0], 16u);
    EXPECT_EQ(Ssp2_Xch(0x0A5, 0, 2), 0u);
    EXPECT_EQ(host::shift_chain().shifted[2], 0x0A5u) << "12 bits, least significant first";
    EXPECT_EQ(host::shift_chain().bits[2], 12u);
    EXPECT_EQ(Ssp2_Xch(0x0400, 0x0001, 0), 0xBEEFu);
    EXPECT_EQ(host::shift_chain().shifted[0], 0x8400u) << "the device's word was kept";
    std::string words = read_file("/proc/Ssp2_Out_Data");
    ASSERT_EQ(words.size(), 12u);
    EXPECT_EQ(le32(words.data()), 0x8400u);
    EXPECT_EQ(le32(words.data() + 8), 0x0A5u);
    EXPECT_EQ(Ssp2_Xch(1, 0, 3), 0u) << "no device 3";
    EXPECT_TRUE(pin(2, 19));
    EXPECT_TRUE(pin(2, 21));
}
