// The FPGA: identification, register access, image file checks and the
// programming engine against the board's FPGA model.
#include "host/clock.h"
#include "host/config.h"
#include "host/fpga.h"
#include "platform/io.h"
#include "regs/plc_reg.h"
#include "support/panel_fixture.h"
#include "tools/lib/fpgaimg.h"

#include <string>
#include <vector>

namespace {

using fpgaimg::Bytes;

class FpgaTest : public PanelTest {
protected:
    Bytes body() {
        Bytes b(fpgaimg::kBodyBytes);
        for (size_t i = 0; i < b.size(); ++i)
            b[i] = i % 5 == 0 ? 0xFF : i % 7 == 0 ? 0 : uint8_t(i * 13);
        return b;
    }
    void put_image(const Bytes &file) {
        write_file("/mnt/USB/pq9ef.hex", std::string(file.begin(), file.end()));
    }
    host::FpgaModel *fpga() { return host::fpga_model(); }
    // Runs the engine over an algorithm and a data image.
    int run(const Bytes &algo, const Bytes &data) {
        FpgaEngine_Load(algo.data(), uint32_t(algo.size()), data.data(), uint32_t(data.size()));
        return SSPIEm(0x10293847);
    }
};

} // namespace

TEST_F(FpgaTest, InitReadsIdentityAndMode) {
    host::config_set("fpga.mode", "3");
    host::config_set("fpga.version", "0x21");
    EXPECT_EQ(Fpga_Init(), 1);
    EXPECT_EQ(FPGA_JTAG_Id, 0x809409C2u);
    EXPECT_EQ(FPGA_Check(), 1);
    EXPECT_EQ(FPGAMode, 3);
    EXPECT_EQ(sr_get(208), 3);
    EXPECT_EQ(FPGA_GetVer(), 0x21);
    EXPECT_EQ(FPGA_present(), 1);
    EXPECT_EQ(Fpga_Close(), 1);
    EXPECT_EQ(Fpga_Close(), 0) << "already closed";
}

TEST_F(FpgaTest, WrongOrMissingFpgaIsOutOfService) {
    for (const char *conf : {"fpga.id=0x12345678", "fpga=none"}) {
        panel_reset_all();
        std::string c = conf;
        host::config_set(c.substr(0, c.find('=')), c.substr(c.find('=') + 1));
        EXPECT_EQ(Fpga_Init(), 0) << conf;
        EXPECT_EQ(FPGA_Check(), 0) << conf;
        EXPECT_EQ(spi_data_RD_nWR(7, 2, 1, 1), 7u) << "no register access: " << conf;
    }
}

TEST_F(FpgaTest, RegisterReadAndWrite) {
    ASSERT_EQ(Fpga_Init(), 1);
    spi_data_RD_nWR(0x11223344, 0x0140, 4, 0);
    EXPECT_EQ(fpga()->reg(0x140), 0x44) << "least significant byte first";
    EXPECT_EQ(fpga()->reg(0x143), 0x11);
    EXPECT_EQ(spi_data_RD_nWR(0, 0x0140, 4, 1), 0x11223344u);
    EXPECT_EQ(spi_data_RD_nWR(0xAABBCCDD, 0x0141, 2, 1), 0xAABB2233u)
        << "read bytes in the low bytes";
    spi_data_RD_nWR(0x55, 0x0142, 1, 0);
    EXPECT_EQ(spi_data_RD_nWR(0, 0x0140, 4, 1), 0x11553344u) << "one byte written";
}

TEST_F(FpgaTest, CounterCountsAtItsConfiguredRate) {
    host::config_set("fpga.counter2", "1000");
    ASSERT_EQ(Fpga_Init(), 1);
    spi_data_RD_nWR(1, 3, 1, 0);       // counters running
    spi_data_RD_nWR(0xFF, 0xE2, 1, 0); // counter 2 started
    host::clock_advance_ns(2000000000);
    uint32_t v = spi_data_RD_nWR(0, 0xF8, 4, 1);
    EXPECT_EQ(v, 2000u);
    EXPECT_EQ(spi_data_RD_nWR(0, 0xD8, 4, 1), 0u) << "counter 1 has no rate";
}

TEST_F(FpgaTest, ProgramsFromTheImageFile) {
    ASSERT_EQ(Fpga_Init(), 1);
    Bytes s = fpgaimg::stream(body());
    put_image(fpgaimg::image_file(fpgaimg::data_image(s, 0), 42));
    EXPECT_EQ(FPGA_program(), 1);
    EXPECT_EQ(fpga_ver_file, 42);
    EXPECT_TRUE(fpga()->configured);
    ASSERT_GE(fpga()->stream.size(), s.size());
    EXPECT_EQ(Bytes(fpga()->stream.end() - long(s.size()), fpga()->stream.end()), s);
    EXPECT_EQ(FPGA_GetVer(), 0x12) << "register access is back after programming";
}

TEST_F(FpgaTest, ImageFileChecks) {
    Bytes good = fpgaimg::image_file(fpgaimg::data_image(fpgaimg::stream(body()), 0), 7);
    std::string text(good.begin(), good.end());
    struct Case {
        const char *what;
        std::string file;
    };
    std::string six_lines = text;
    six_lines.erase(six_lines.find("DATA\r\n"), 6);
    std::string bad_version = text;
    bad_version.replace(bad_version.find("007"), 3, "0x7");
    std::string long_header = text;
    long_header.insert(0, std::string(600, 'x'));
    std::string lf_only = text;
    for (size_t p; (p = lf_only.find("\r\n")) != std::string::npos && p < 200;)
        lf_only.erase(p, 1);
    std::string truncated = text.substr(0, text.size() - 100);
    std::string corrupted = text;
    corrupted[text.size() - 2000] ^= 0x10;
    std::string too_big = text + std::string(204800, '\xFF');
    std::vector<Case> cases = {
        {"six lines", six_lines},
        {"version not a number", bad_version},
        {"header beyond 512 bytes", long_header},
        {"lines without carriage returns", lf_only},
        {"data cut short", truncated},
        {"a corrupted bitstream", corrupted},
        {"larger than 204800 bytes", too_big},
    };
    for (const Case &c : cases) {
        panel_reset_all();
        Fpga_Init();
        write_file("/mnt/USB/pq9ef.hex", c.file);
        EXPECT_EQ(FPGA_program(), 0) << c.what;
        EXPECT_FALSE(fpga()->configured) << c.what;
    }
    panel_reset_all();
    EXPECT_EQ(FPGA_program(), 0) << "no file";
}

TEST_F(FpgaTest, EngineRunsCompressedFrames) {
    Bytes s = fpgaimg::stream(body());
    for (int type : {0, 1, 2}) {
        panel_reset_all();
        Bytes d = fpgaimg::data_image(s, 1, type);
        EXPECT_EQ(run(fpgaimg::algorithm(1), d), 2) << type;
        EXPECT_TRUE(fpga()->configured) << type;
        EXPECT_EQ(run(fpgaimg::algorithm(0), d), 0)
            << "flag differs from the algorithm's: " << type;
    }
    Bytes d = fpgaimg::data_image(s, 1, 1);
    d[1] = 3; // frame type
    EXPECT_EQ(run(fpgaimg::algorithm(1), d), 0) << "unknown frame type";
}

TEST_F(FpgaTest, EngineHeaderAndOpcodes) {
    Bytes s = fpgaimg::stream(body());
    Bytes d = fpgaimg::data_image(s, 0);
    Bytes a = fpgaimg::algorithm(0);
    size_t end_of_header = 0;
    while (a[end_of_header] != 0x60)
        ++end_of_header;
    auto with = [&](size_t at, uint8_t v) {
        Bytes b = a;
        b[at] = v;
        return b;
    };
    size_t id_at = 0, sum_at = 0;
    for (size_t i = 0; i + 1 < end_of_header; ++i) {
        if (a[i] == 0xA2 && a[i + 1] == 0x10) id_at = i + 1;
        if (a[i] == 0xA8 && i + 3 == end_of_header) sum_at = i + 1;
    }
    ASSERT_TRUE(id_at && sum_at);
    EXPECT_EQ(run(a, d), 2);
    EXPECT_EQ(run(fpgaimg::algorithm(0, false), d), 2) << "0xFF checksum bytes are accepted";
    EXPECT_EQ(run(with(id_at, 0x11), d), 0) << "wrong algorithm identifier";
    EXPECT_EQ(run(with(sum_at + 1, uint8_t(a[sum_at + 1] ^ 1)), d), 0) << "wrong checksum";
    EXPECT_EQ(run(with(end_of_header + 1, 0x77), d), 0) << "unknown opcode";
    // A loop body longer than its buffer fails; a mismatched end fails.
    Bytes hdr(a.begin(), a.begin() + long(end_of_header) + 1);
    Bytes long_loop = hdr;
    long_loop.insert(long_loop.end(), {0x43, 2});
    for (int i = 0; i < 26; ++i)
        long_loop.insert(long_loop.end(), {0x40, 0});
    long_loop.insert(long_loop.end(), {0x44, 0x61});
    EXPECT_EQ(run(long_loop, d), 0) << "body of 52 bytes";
    Bytes fits = hdr;
    fits.insert(fits.end(), {0x43, 2});
    for (int i = 0; i < 25; ++i)
        fits.insert(fits.end(), {0x40, 0});
    fits.insert(fits.end(), {0x44, 0x41, 2, 0x41, 2, 0x40, 1, 0x42, 0x42, 0x61});
    EXPECT_EQ(run(fits, d), 2) << "body of 50 bytes, nested repeats";
    Bytes mismatched = hdr;
    mismatched.insert(mismatched.end(), {0x41, 2, 0x40, 1, 0x44, 0x61});
    EXPECT_EQ(run(mismatched, d), 0);
    // A loop whose body never succeeds fails after its tries.
    Bytes never = hdr;
    never.insert(never.end(), {0x43, 3,  0x10, 0x12, 32, 0x22, 0x3C, 0,    0,    0,
                               0x13, 32, 0x22, 0,    0,  0,    0x55, 0x1F, 0x44, 0x61});
    size_t windows = fpga()->windows.size();
    EXPECT_EQ(run(never, d), 0);
    EXPECT_EQ(fpga()->windows.size() - windows, 3u) << "three tries";
}
