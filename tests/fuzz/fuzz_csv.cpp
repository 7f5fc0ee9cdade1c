// CSV files come from anywhere (a PC, another panel): reading any file by row,
// by column or counting its rows must stay inside the data area it was given
// and end with a card status, never a crash.
#include "host/media.h"
#include "host/root.h"
#include "platform/cf_api.h"

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {
bool g_ready = false;

void setup() {
    char tmpl[] = "/tmp/fuzz-csv-XXXXXX";
    const char *dir = mkdtemp(tmpl);
    if (!dir) std::abort();
    host::set_root(dir);
    host::media_insert(host::kMediumSd);
    g_ready = true;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (!g_ready) setup();
    if (size < 6) return 0;
    // Six bytes choose the request; the rest is the file.
    uint32_t type = data[0] % 10, mode = data[1] % 3;
    uint32_t count = 1 + data[2] % 40, a = data[3], b = data[4], column = data[5] % 8;
    std::string file = host::path("/mnt/USB0/FUZZ.CSV");
    if (FILE *f = std::fopen(file.c_str(), "wb")) {
        std::fwrite(data + 6, 1, size - 6, f);
        std::fclose(f);
    }
    // The data area holds exactly what the request may fill, with guards.
    constexpr size_t kGuard = 64;
    uint32_t n = mode == 1 ? 1 + a % 40 : count;
    size_t area = type == 0 ? 126 : (type == 2 ? (n + 15) / 16 * 2 : n * CF_TypeWidth(type) / 8);
    if (mode == 2) area = 4;
    std::vector<uint8_t> mem(area + 2 * kGuard, 0xA5);
    uint32_t result = 0;
    CsvFileRequest req{};
    req.kind = 1;
    req.path = "A:\\FUZZ.CSV";
    req.data = mem.data() + kGuard;
    req.type = type;
    req.result = &result;
    if (mode == 0) {
        req.count = type == 0 ? 1 + count % 126 : count;
        req.position = int32_t(a % 64);
        if (type == 0) area = req.count;
    } else if (mode == 1) {
        req.count = type == 0 ? column : column | (n << 16);
        req.position = int32_t(0x80000000u | (b % 32) | ((b % 32 + a % 40) << 16));
    } else {
        req.position = -1;
    }
    int16_t st = CF_ReadFile(0, &req);
    if (st != cf::kOk && st != cf::kEndOfFile && st != cf::kNotFound && st != cf::kInvalid)
        std::abort();
    for (size_t i = 0; i < kGuard; ++i)
        if (mem[i] != 0xA5 || mem[kGuard + area + i] != 0xA5) std::abort();
    return 0;
}
