// Texts people hand the panel's tools and its control socket: application
// descriptions for mkapp (bad JSON is placed by line and column), program
// files for laddis and ladasm's warnings, and register reads in every value
// form. Any input must build or be refused with a message, never crash or
// read outside it.
//
// Input: the first byte picks the reader (0 description, 1 program bytes,
// 2 a "reg get" request), the rest is its input.
#include "fuzz_wire.h"
#include "host/clock.h"
#include "host/ctl.h"
#include "host/root.h"
#include "system/ctl_cmds.h"
#include "tools/lib/appbuild.h"
#include "tools/lib/ladasm.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace {
bool g_ready = false;

void setup() {
    char tmpl[] = "/tmp/fuzz-tooltext-XXXXXX";
    host::set_root(mkdtemp(tmpl));
    host::clock_use_virtual();
    FuzzWire();
    CtlCmds_Register();
    g_ready = true;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (!g_ready) setup();
    if (size < 1) return 0;
    std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
    switch (data[0] % 3) {
    case 0: {
        appbuild::Built built;
        std::string error;
        if (!appbuild::build_text(text, "", &built, &error) && error.empty()) std::abort();
        break;
    }
    case 1: {
        // In a buffer of exactly its size, so a read past it is caught.
        std::vector<uint8_t> file(data + 1, data + size);
        std::vector<uint8_t> program = Ladasm_ProgramOf(file);
        Ladasm_Warnings(program);
        Ladasm_HasTrailer(program);
        break;
    }
    default:
        if (text.find('\n') != std::string::npos) return 0;
        if (host::ctl_handle("reg get " + text).empty()) std::abort();
        break;
    }
    return 0;
}
