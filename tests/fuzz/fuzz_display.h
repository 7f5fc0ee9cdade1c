// A small display for the drawing fuzz targets: a 160x120 screen in a root
// folder of its own, made once per process.
#pragma once
#include "gdi/gdi.h"
#include "host/config.h"
#include "host/root.h"

#include <cstdlib>

inline DC *fuzz_display() {
    static DC *dc = [] {
        char tmpl[] = "/tmp/fuzz-draw-XXXXXX";
        host::set_root(mkdtemp(tmpl));
        host::config_set("screen", "160x120");
        if (!GDI_Init()) std::abort();
        return GDI_GetDisplayDC();
    }();
    return dc;
}
