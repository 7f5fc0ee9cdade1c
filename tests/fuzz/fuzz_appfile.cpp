// The loaders of the application files and the register file, and the
// start-up validation behind them: any file contents must load or be refused
// and replaced, never crash, hang or read outside a buffer.
//
// Input: the first byte picks the file ("config.pgm", "ladder.pgm",
// "autoreg.dta" or "bkpreg.dta"), the rest is its contents. The other files
// are those of a valid application, so the input reaches every part.
#include "host/clock.h"
#include "host/devmem.h"
#include "host/root.h"
#include "platform/spi.h"
#include "plc/fram.h"
#include "regs/plc_reg.h"
#include "system/appfile.h"
#include "system/nvram.h"
#include "tools/lib/appbuild.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {
std::string g_root;
appbuild::Built g_app;

void put(const char *name, const uint8_t *data, size_t n) {
    if (FILE *f = std::fopen(host::path(std::string("/mnt/cfg/") + name).c_str(), "wb")) {
        std::fwrite(data, 1, n, f);
        std::fclose(f);
    }
}

void setup() {
    char tmpl[] = "/tmp/fuzz-appfile-XXXXXX";
    g_root = mkdtemp(tmpl);
    host::set_root(g_root);
    host::make_dirs("/mnt/cfg");
    host::clock_use_virtual();
    std::string error;
    appbuild::build_text(R"({"ladder": {"program": {"u16": [9]}, "features": 183},
        "kesta_pgm": [{"zeros": 8}, {"u16": [24]}, {"zeros": 10}, {"u32": [1]}],
        "bitmaps": {"0": {"text": "bmp"}}})",
                         "", &g_app, &error);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (g_root.empty()) setup();
    if (size < 1) return 0;
    static const char *const kFiles[] = {"config.pgm", "ladder.pgm", "autoreg.dta", "bkpreg.dta"};
    put("config.pgm", g_app.config.data(), g_app.config.size());
    put("ladder.pgm", g_app.ladder.data(), g_app.ladder.size());
    std::remove(host::path("/mnt/cfg/autoreg.dta").c_str());
    std::remove(host::path("/mnt/cfg/bkpreg.dta").c_str());
    put(kFiles[data[0] % 4], data + 1, size - 1);

    AppFile_Reset();
    Fram_Reset();
    Nvram_Reset();
    PlcReg_Reset();
    LoadProgram();
    AutoLoadRegisters();
    LoadRegisters();
    nvram_init(0, 0, 0);
    Spi_Reset();
    Board_Reset(); // its window is unmapped with the device models
    host::devmem_reset();
    return 0;
}
