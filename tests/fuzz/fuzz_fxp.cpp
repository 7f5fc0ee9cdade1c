// File-transfer command texts from a programming host: any text is split
// into words and its path resolved without reading past it, a resolved path
// always stays inside its drive (no "." or ".." level, no separator but "\",
// no drive letter inside), and the whole command runs through the
// programming port against media folders in a temporary root.
#include "host/clock.h"
#include "host/media.h"
#include "host/root.h"
#include "platform/tick.h"
#include "platform/unit.h"
#include "regs/plc_reg.h"
#include "regs/sr.h"
#include "serial/command.h"
#include "serial/fxp.h"
#include "serial/serial.h"
#include "serial/vcomm.h"
#include "tools/lib/cmdframe.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {
std::string g_root;
constexpr uint8_t kSeed = 5;

void start_once() {
    static bool started = false;
    if (started) return;
    started = true;
    char tmpl[] = "/tmp/fuzz-fxp-XXXXXX";
    if (!mkdtemp(tmpl)) std::abort();
    g_root = tmpl;
    std::atexit([] { std::filesystem::remove_all(g_root); });
    host::set_root(tmpl);
    host::clock_use_virtual();
    Tick_Reset();
    host::media_insert(host::kMediumSd);
    host::make_dirs("/mnt/cfg");
    crc_header[3] = kSeed;
    sr_put(sr::kNetId, 1);
    Vcomm_Init();
    SCI2_Init(0);
    Vcomm_Drv[0].SetIntrcpt(1);
    Cmd_Init();
}

void check_path(int drive, const std::string &path) {
    if (drive < 0 || drive > 2) std::abort();
    if (!path.empty() && path[0] != '\\') std::abort();
    size_t at = 0;
    while (at < path.size()) {
        size_t next = path.find('\\', at + 1);
        if (next == std::string::npos) next = path.size();
        std::string level = path.substr(at + 1, next - at - 1);
        if (level.empty() || level == "." || level == ".." ||
            level.find_first_of("/:") != std::string::npos)
            std::abort();
        at = next;
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    start_once();
    std::string text(reinterpret_cast<const char *>(data), size);
    std::string words[3];
    int n = 0;
    if (Fxp_SplitWords(text.c_str(), words, &n)) {
        if (n < 0 || n > 3) std::abort();
        const std::string cwd[3] = {"\\LOGS", "", "\\CFG\\X"};
        for (int i = 1; i < n; ++i) {
            int drive = -1;
            std::string path;
            if (Fxp_ResolvePath(words[i], i % 3, cwd, &drive, &path)) check_path(drive, path);
        }
    }
    // The same bytes as the data of opcode 28, unterminated or not.
    std::vector<uint8_t> args(data, data + std::min<size_t>(size, 1000));
    for (uint8_t b : cmdframe::command(kSeed, 1, 28, args, args.size() > 250))
        Vcomm_Drv[0].StuffRx(b);
    for (int i = 0; i < 4; ++i) {
        Cmd_Check();
        FxpMain(1);
    }
    uint8_t b;
    while (Vcomm_Drv[0].DrainTx(&b)) {
    }
    // Whatever a command began ends with the next one.
    return 0;
}
