// The I/O-module interface: module identification from the bus, the identity
// table, the slot configuration report and the per-scan messages.
#include "base/le.h"
#include "base/trace.h"
#include "host/config.h"
#include "host/i2c.h"
#include "platform/i2c.h"
#include "platform/io.h"
#include "plc/sysreg.h"
#include "regs/plc_reg.h"
#include "support/panel_fixture.h"
#include "system/appfile.h"
#include "system/run_ctrl.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

size_t count(const std::vector<std::string> &calls, const std::string &name) {
    return size_t(std::count(calls.begin(), calls.end(), name));
}

class IoIfTest : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        std::memcpy(plc_reg + sr_offset(201), "2.6.35.45", 10); // kernel I2C service
    }
    void plug(uint8_t address, const std::string &line) {
        char key[16];
        std::snprintf(key, sizeof key, "i2c.0x%02X", address);
        host::config_set(key, line);
    }
    // The application's I/O configuration: one record a slot, no settings.
    void configure(std::vector<uint16_t> ids) {
        uint32_t at = 8;
        for (uint16_t id : ids) {
            put_le16(io_config_bl + at, id);
            put_le16(io_config_bl + at + 2, 0);
            at += 4;
        }
        put_le32(io_config_bl + 4, at - 8);
    }
    static std::string text(const uint8_t *p, size_t n) {
        return std::string(reinterpret_cast<const char *>(p), n);
    }
};

} // namespace

TEST_F(IoIfTest, ProbeOrderPerSlot) {
    struct Case {
        const char *what;
        std::map<uint8_t, std::string> devices;
        uint16_t slot0, slot1;
    };
    // clang-format off
    std::vector<Case> cases = {
        {"nothing fitted", {}, 0xFF, 0xFF},
        {"expander before everything", {{0x4C, "expander 0xDFFF"}, {0x08, "regs"}, {0xA6, "regs"}}, 0xDF0E, 0xFF},
        {"generic address before the bus-slave memory", {{0x08, "regs"}, {0x1C, "eeprom 256"}}, 0x080F, 0xFF},
        {"bus-slave memory before the scan list", {{0x1E, "eeprom 256"}, {0x72, "regs"}}, 0xFF, 0x9F0F},
        {"scan list in its order", {{0xA4, "regs"}, {0xA0, "regs"}, {0x52, "regs"}}, 0xA00F, 0xFF},
        {"slot 1 scan list", {{0x70, "regs"}, {0x72, "regs"}}, 0xFF, 0x720F},
        {"slot 1 expander", {{0x4E, "expander 0x50FF"}, {0x4C, "expander 0x7FFF"}}, 0x7F0E, 0x500F},
    };
    // clang-format on
    for (const Case &c : cases) {
        panel_reset_all();
        std::memcpy(plc_reg + sr_offset(201), "2.6.35.45", 10);
        for (auto &[a, line] : c.devices)
            plug(a, line);
        if (c.devices.count(0x1E)) {
            std::string mem(256, '\0');
            mem[8] = char(0x9F);
            write_file("/dev/eeprom_1e", mem);
        }
        if (c.devices.count(0x1C)) write_file("/dev/eeprom_1c", std::string(256, '\x55'));
        uint16_t ids[3] = {};
        EXPECT_EQ(get_io_info(ids), 3) << c.what;
        EXPECT_EQ(ids[0], c.slot0) << c.what;
        EXPECT_EQ(ids[1], c.slot1) << c.what;
        EXPECT_EQ(ids[2], 64000) << c.what;
    }
}

TEST_F(IoIfTest, CounterModuleEndsTheProbe) {
    plug(0x4E, "expander 0x1FFF");
    uint16_t ids[3] = {};
    get_io_info(ids);
    EXPECT_EQ(ids[1], 0x1F0F);
    EXPECT_EQ(hsc_module_present, 1);
    auto *ex = host::i2c_bus().model<host::I2cExpander>(0x4E);
    ASSERT_NE(ex, nullptr);
    EXPECT_EQ(ex->writes, 1) << "0xFFFF written once before the read";
}

TEST_F(IoIfTest, EveryRowIsIdentifiedAndQueried) {
    for (int row = 0; row < kIoIdentRows; ++row) {
        panel_reset_all();
        const IoIdent &r = io_ident[row];
        uint16_t ids[3] = {r.id, 0xFF, 64000};
        EXPECT_EQ(IoInit(ids, 3), 0) << row;
        int found = IoIdentRow(r.id);
        EXPECT_EQ(found, row == 28 ? 14 : row) << "the first matching row wins";
        EXPECT_EQ(slotinfo[0].kind, io_ident[found].kind) << row;
        EXPECT_EQ(slotinfo[0].id, r.id);
        EXPECT_EQ(slotinfo[1].kind, 255);
        EXPECT_EQ(slotinfo[2].kind, 0) << "the Ethernet module is always there";
        IoCfgRec c{};
        EXPECT_EQ(IoCfg(&c, 0), 0);
        EXPECT_EQ(text(c.rec + iocfg::kText, 5), "     ");
        EXPECT_EQ(text(c.rec + iocfg::kName, 6), std::string(io_ident[found].name, 6)) << row;
        // The bus-slave module answers the sizes of its configuration: none here.
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(le16(c.rec + iocfg::kInBits + 2 * i),
                      row == 13 ? 0 : io_ident[found].sizes[i])
                << row;
        EXPECT_EQ(c.rec[iocfg::kPresent], 1);
        EXPECT_EQ(c.rec[iocfg::kQuery], 0);
    }
}

TEST_F(IoIfTest, UnknownModulesAndEmptySlots) {
    host::trace_start();
    uint16_t none[3] = {0xFF, 0xFF, 64000};
    EXPECT_EQ(IoInit(none, 3), 0);
    EXPECT_EQ(count(host::trace_calls(), "io_driver"), 0u) << "two empty slots: nothing sent";
    uint16_t odd[3] = {0x1234, 0x4321, 64000};
    EXPECT_EQ(IoInit(odd, 3), 3) << "both slots hold an unknown module";
    EXPECT_EQ(slotinfo[0].env, nullptr);
    IoCfgRec c{};
    IoCfg(&c, 1);
    EXPECT_EQ(c.rec[iocfg::kQuery], 0x80);
    EXPECT_EQ(c.rec[iocfg::kPresent], 0);
    // Calibration of an unknown slot answers the single byte 0x40.
    uint8_t req[16] = {4, 0, 1, 7, 0};
    IoCal(req);
    EXPECT_EQ(req[0], 1);
    EXPECT_EQ(req[1], 0x40);
}

TEST_F(IoIfTest, EthernetSlotAnswersItself) {
    uint16_t ids[3] = {0xDF0E, 0xFF, 64000};
    IoInit(ids, 3);
    IoCfgRec first{};
    IoCfg(&first, 0);
    host::trace_start();
    uint8_t block[8] = {1, 2, 3};
    IoCfgRec c{block, 8, {}};
    IoCfg(&c, 2);
    EXPECT_EQ(count(host::trace_calls(), "io_driver"), 0u);
    EXPECT_EQ(EtnConfp, block);
    EXPECT_EQ(text(c.rec + iocfg::kName, 6), "ZQM512");
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(le16(c.rec + iocfg::kInBits + 2 * i), 0);
    EXPECT_EQ(c.rec[iocfg::kPresent], 1) << "status of the previous query";
}

TEST_F(IoIfTest, ScanMessagesCarryByteFigures) {
    uint16_t ids[3] = {0xDF0E, 0xFF, 64000};
    IoInit(ids, 3);
    host::trace_start();
    uint8_t buf[8];
    IoGetIs(buf, 0, 13, 32); // bit 13 lies in byte 1
    IoPutQs(buf, 2, 0, 8);   // slot 2: no message
    EXPECT_EQ(count(host::trace_calls(), "io_driver"), 1u);
}

TEST_F(IoIfTest, RackFromHostConfiguration) {
    struct Case {
        const char *slot0, *slot1;
        std::vector<uint16_t> configured;
        bool fault;
    };
    std::vector<Case> cases = {
        // Slot 2, the Ethernet module, is always installed.
        {"0xDF0E", "0x500F", {0xDF0E, 0x500F, 64000}, false},
        {"0xA60F", "", {0xA60F, 0xFF, 64000}, false},
        {"0xDF0E", "0x500F", {0xDF0E, 0x8F0F, 64000}, true},
        {"", "", {0xA60F, 0xFF, 64000}, true},
        {"0xA60F", "", {0xA60F, 0xFF, 0xFF}, false}, // slot 2 left unconfigured
    };
    for (const Case &c : cases) {
        panel_reset_all();
        std::memcpy(plc_reg + sr_offset(201), "2.6.35.45", 10);
        host::config_set("io.slot0", c.slot0);
        host::config_set("io.slot1", c.slot1);
        configure(c.configured);
        EXPECT_EQ(IoConfig(0), c.fault ? 1 : 0) << c.slot0 << c.slot1;
        EXPECT_EQ((sr_get(4) & 0x40) != 0, c.fault);
        const uint8_t *sr64 = plc_reg + sr_offset(64);
        for (int s = 0; s < 2; ++s) {
            const char *want = s ? c.slot1 : c.slot0;
            uint16_t id = *want ? uint16_t(std::strtoul(want, nullptr, 0)) : 0xFF;
            EXPECT_EQ(le16(sr64 + 2 + 24 * s), id) << s;
            if (id == 0xFF) continue;
            int row = IoIdentRow(id);
            EXPECT_EQ(text(sr64 + 2 + 24 * s + 2 + iocfg::kName, 6),
                      std::string(io_ident[row].name, 6));
            char status = char(sr64[2 + 24 * s + 2]);
            bool match = id == c.configured[size_t(s)];
            EXPECT_EQ(le16(sr64 + 2 + 24 * s + 2 + iocfg::kInBits),
                      match ? io_ident[row].sizes[0] : 0)
                << "a mismatched slot reports no I/O";
            EXPECT_EQ(status, match ? ' ' : '?') << s;
        }
    }
}

TEST_F(IoIfTest, CommunicationModuleLines) {
    plug(0x4E, "expander 0xDFFF");
    uint16_t ids[3];
    get_io_info(ids);
    ASSERT_EQ(ids[1], 0xDF0F);
    IoInit(ids, 3);
    auto *ex = host::i2c_bus().model<host::I2cExpander>(0x4E);
    ASSERT_NE(ex, nullptr);
    IoPutDTR(0, 1);
    EXPECT_EQ(ex->latch & 0x40, 0) << "DTR on clears its bit";
    IoPutDTR(0, 0);
    EXPECT_EQ(ex->latch & 0x40, 0x40);
    IoCommReset(0, 1);
    EXPECT_EQ(ex->latch & 0x04, 0x04);
    IoCommPwr(0, 1);
    EXPECT_EQ(ex->latch & 0x08, 0) << "modem power on clears bit 0x08";
    ex->pins = 0xDFDF; // carrier line low
    EXPECT_EQ(IoGetDCD(), 1);
    ex->pins = 0xDFFF;
    EXPECT_EQ(IoGetDCD(), 0);
    uint16_t before = ex->latch;
    IoCommShdn(0, 1); // not a line of this module
    EXPECT_EQ(ex->latch, before);
}

TEST(IoIfText, StrmcpyAlwaysTerminates) {
    char d[8];
    EXPECT_EQ(strmcpy(d, "ABCDEFGH", 6), d + 6);
    EXPECT_STREQ(d, "ABCDEF");
    EXPECT_EQ(strmcpy(d, "AB", 6), d + 2);
    EXPECT_STREQ(d, "AB");
}

TEST_F(IoIfTest, CalibrationRequestsAnswerFromTheBuffer) {
    uint16_t ids[3] = {0xDF0E, 0xFF, 64000};
    IoInit(ids, 3);
    for (int slot : {0, 2}) {
        host::trace_start();
        uint8_t req[16] = {5, 0, uint8_t(slot), 0x11, 0x22, 0x33};
        IoCal(req);
        // The Ethernet module's answer is the request itself; the driver
        // answers a sub-command it does not know with status 0 alone.
        EXPECT_EQ(req[0], slot == 2 ? 3 : 1) << slot;
        EXPECT_EQ(req[1], slot == 2 ? 0x11 : 0);
        if (slot == 2) {
            EXPECT_EQ(req[3], 0x33);
        }
        EXPECT_EQ(count(host::trace_calls(), "io_driver"), slot == 2 ? 0u : 1u);
        host::trace_stop();
        host::trace_clear();
    }
    // A request longer than the 64-byte buffer is cut to it, never copied past it.
    std::vector<uint8_t> big(300, 0xAB);
    big[0] = 255;
    big[2] = 2;
    IoCal(big.data());
    EXPECT_EQ(big[0], 64);
}
