// One Modbus RTU request per frame through the slave: the receive machine
// with its running CRC, the end of the frame, the request processing of a
// 10-register read and the answer framed with its CRC (sent to a port
// without a line). Baseline: crc16 over the same bytes, the 8-byte request
// and the 25-byte answer, which is the least any implementation computes.
// The IEC form reads the same 10 registers from an IEC block's map, each
// place found again in the database (a stand-in here) per request, against
// the same baseline.
#include "base/crc16.h"
#include "regs/plc_reg.h"
#include "serial/modbus.h"
#include "serial/vcomm.h"

#include <benchmark/benchmark.h>

#include <cstring>

namespace {

uint8_t g_request[8] = {1, 3, 0x02, 0x00, 0, 10, 0, 0};
uint8_t g_answer[25] = {1, 3, 20};

void prepare() {
    uint16_t c = crc16(g_request, 6);
    g_request[6] = uint8_t(c);
    g_request[7] = uint8_t(c >> 8);
    Vcomm_Init();
    ModbusSerial_Reset();
    ModbusSetup s{};
    s.slave = 1;
    s.status = plc_reg + reg::kR + 1800;
    s.trigger = s.status + 2;
    s.request = s.status + 4;
    ModbusInit(0, s);
    pcb[0].link.mode &= uint8_t(~kModbusAscii); // RTU
    pcb[0].link.rx_state = 0;
}

// The map's first 10 holding registers.
uint8_t g_iec_request[8] = {1, 3, 0, 0, 0, 10, 0, 0};

// The stand-in database: the map at 64, the holding registers at 256.
uint8_t g_db[1024];
uint8_t *db_place(uint32_t offset, uint32_t bytes) {
    return offset >= 64 && offset < sizeof g_db && bytes <= sizeof g_db - offset ? g_db + offset
                                                                                 : nullptr;
}

void prepare_iec() {
    prepare();
    uint16_t c = crc16(g_iec_request, 6);
    g_iec_request[6] = uint8_t(c);
    g_iec_request[7] = uint8_t(c >> 8);
    Modbus_SetHooks({.iec_active = [] { return true; },
                     .modbusinit = nullptr,
                     .protocol = nullptr,
                     .iec_place = db_place});
    uint8_t *map = g_db + 64;
    map[12] = 0; // holding registers at 256, 100 of them
    map[13] = 1;
    map[28] = 100;
    ModbusSetup s{};
    s.iec = 1;
    s.slave = 1;
    s.iec_request = 64;
    s.iec_status = 128;
    ModbusInit(0, s);
    pcb[0].link.mode &= uint8_t(~kModbusAscii);
    pcb[0].link.rx_state = 0;
}

void Modbus_IecMapRead10(benchmark::State &state) {
    prepare_iec();
    for (auto _ : state) {
        Modbus_Feed(0, g_iec_request, 8, true);
        benchmark::ClobberMemory();
    }
    if (pcb[0].link.counters[kSlaveResponses] == 0) state.SkipWithError("no answer");
    Modbus_SetHooks({});
}

void Modbus_IecMapRead10_baseline(benchmark::State &state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(crc16(g_iec_request, 6));
        benchmark::DoNotOptimize(crc16(g_answer, 23));
        benchmark::ClobberMemory();
    }
}

void Modbus_RtuRead10(benchmark::State &state) {
    prepare();
    for (auto _ : state) {
        Modbus_Feed(0, g_request, 8, true);
        benchmark::ClobberMemory();
    }
    if (pcb[0].link.counters[kSlaveResponses] == 0) state.SkipWithError("no answer");
}

void Modbus_RtuRead10_baseline(benchmark::State &state) {
    prepare();
    for (auto _ : state) {
        benchmark::DoNotOptimize(crc16(g_request, 6));
        benchmark::DoNotOptimize(crc16(g_answer, 23));
        benchmark::ClobberMemory();
    }
}

} // namespace

BENCHMARK(Modbus_RtuRead10);
BENCHMARK(Modbus_RtuRead10_baseline);
BENCHMARK(Modbus_IecMapRead10);
BENCHMARK(Modbus_IecMapRead10_baseline);
