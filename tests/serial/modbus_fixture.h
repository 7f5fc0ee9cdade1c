// A panel whose serial port 1 ("/dev/ttySP3") runs the serial Modbus engine,
// pumped on the virtual clock while a real peer (mbpoll, libmodbus, pymodbus
// or the test's own bytes) talks to the port's peer end.
#pragma once
#include "base/crc16.h"
#include "base/le.h"
#include "host/clock.h"
#include "host/tty.h"
#include "panel_fixture.h"
#include "process_util.h"
#include "regs/plc_reg.h"
#include "serial/modbus.h"
#include "serial/vcomm.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

constexpr int kPort = 1; // "/dev/ttySP3"
constexpr const char *kDevice = "/dev/ttySP3";
// Registers the tests give the engine.
constexpr int kStatusReg = 900, kTriggerReg = 901, kRequestReg = 910, kTableReg = 930;

class ModbusTest : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        Vcomm_Init();
        SCI0_Init(kPort);
        peer_path = host::tty_peer_link(kDevice);
    }
    void TearDown() override {
        if (peer_fd >= 0) close(peer_fd);
        PanelTest::TearDown();
    }
    static uint8_t *R(int n) { return plc_reg + reg::kR + 2u * unsigned(n - 1); }
    static uint16_t r(int n) { return le16(R(n)); }
    static void set_r(int n, uint16_t v) { put_le16(R(n), v); }

    // Opens the port: 19200 8N1 with protocol 3 (RTU) or 4 (ASCII, 7 bits).
    void open_port(bool ascii = false) {
        const uint8_t rtu[kModeBytes] = {6, 0, 3, 0, 0, 3};
        const uint8_t asc[kModeBytes] = {6, 0, 2, 0, 0, 4};
        ASSERT_EQ(Vcomm_Drv[kPort].Open(kPort, ascii ? asc : rtu), 1);
    }
    ModbusSetup slave_setup(uint16_t address) {
        ModbusSetup s{};
        s.slave = address;
        s.trigger = R(kTriggerReg);
        s.request = R(kRequestReg);
        s.status = R(kStatusReg);
        return s;
    }
    ModbusSetup master_setup(uint16_t timeout = 5) {
        ModbusSetup s{};
        s.timeout = timeout;
        s.trigger = R(kTriggerReg);
        s.trigger_bit = 0;
        s.request = R(kRequestReg);
        s.status = R(kStatusReg);
        return s;
    }
    void start_slave(uint16_t address = 1, bool ascii = false) {
        open_port(ascii);
        ModbusInit(kPort, slave_setup(address));
    }
    // One engine step and one millisecond of virtual time.
    void step() {
        ModbusExecute(kPort);
        host::clock_advance_ms(1);
    }
    // Steps the engine until `done` holds (real time: peers answer at their
    // own pace).
    bool pump_until(const std::function<bool()> &done, int ms = 8000) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!done()) {
            if (std::chrono::steady_clock::now() > end) return false;
            step();
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        return true;
    }
    // Runs a peer command while the engine is pumped; its output.
    std::string run_peer(const std::string &cmd, int *rc = nullptr) {
        std::atomic<bool> done{false};
        std::string out;
        int code = -1;
        std::thread t([&] {
            out = run(cmd, &code);
            done = true;
        });
        pump_until([&] { return done.load(); }, 20000);
        t.join();
        if (rc) *rc = code;
        return out;
    }

    // The test's own end of the line, raw.
    int peer() {
        if (peer_fd >= 0) return peer_fd;
        peer_fd = open(peer_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        EXPECT_GE(peer_fd, 0);
        termios t{};
        tcgetattr(peer_fd, &t);
        cfmakeraw(&t);
        tcsetattr(peer_fd, TCSANOW, &t);
        return peer_fd;
    }
    static std::vector<uint8_t> with_crc(std::vector<uint8_t> f) {
        uint16_t c = crc16(f.data(), f.size());
        f.push_back(uint8_t(c));
        f.push_back(uint8_t(c >> 8));
        return f;
    }
    void send_raw(const std::vector<uint8_t> &bytes) {
        ASSERT_EQ(write(peer(), bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
    // What arrives at the peer while the engine is stepped for `ms` (real
    // milliseconds), or until `want` bytes came.
    std::vector<uint8_t> collect(size_t want = 1000, int ms = 300) {
        std::vector<uint8_t> out;
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (out.size() < want && std::chrono::steady_clock::now() < end) {
            step();
            uint8_t buf[512];
            ssize_t n = read(peer(), buf, sizeof buf);
            if (n > 0) out.insert(out.end(), buf, buf + n);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        return out;
    }
    // Sends a request (CRC added) and returns the answer without its CRC
    // (empty when none came; a bad CRC fails the test).
    std::vector<uint8_t> exchange(const std::vector<uint8_t> &request, int ms = 300) {
        send_raw(with_crc(request));
        std::vector<uint8_t> got = collect(1000, ms);
        if (got.empty()) return got;
        EXPECT_GE(got.size(), 4u);
        if (got.size() < 4) return got;
        EXPECT_EQ(crc16(got.data(), got.size() - 2), le16(got.data() + got.size() - 2));
        got.resize(got.size() - 2);
        return got;
    }

    std::string peer_path;
    int peer_fd = -1;
};
