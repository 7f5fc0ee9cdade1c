// The 800 x 480 panel screen of the drawing benchmarks, in a temporary root
// folder, with or without the pixel pipeline (chosen by the kernel revision).
#pragma once
#include "gdi/gdi.h"
#include "gdi/shapes.h"
#include "gdi/text.h"
#include "gdi/tty.h"
#include "host/config.h"
#include "host/devmem.h"
#include "host/fb.h"
#include "host/physmem.h"
#include "host/root.h"
#include "platform/pxp.h"
#include "platform/video.h"
#include "regs/plc_reg.h"

#include <cstdlib>
#include <cstring>
#include <string>

class BenchScreen {
public:
    explicit BenchScreen(bool pxp = false) {
        char tmpl[] = "/tmp/panel-bench-XXXXXX";
        dir_ = mkdtemp(tmpl);
        host::set_root(dir_);
        host::config_reset();
        host::config_set("screen", "800x480");
        PlcReg_Reset();
        std::memcpy(plc_reg + sr_offset(sr::kKernelRev), pxp ? "2.6.35.45" : "2.6.35.25", 10);
        GDI_Init();
        dc = GDI_GetDisplayDC();
    }
    ~BenchScreen() {
        TTY_Reset();
        Text_Reset();
        Shapes_Reset();
        GDI_Reset();
        VDR_Reset();
        PXP_Reset();
        host::fb_reset();
        host::phys_reset();
        host::devmem_reset();
        std::string cmd = "rm -rf '" + dir_ + "'";
        if (std::system(cmd.c_str()) != 0) {
        }
    }
    BenchScreen(const BenchScreen &) = delete;
    BenchScreen &operator=(const BenchScreen &) = delete;
    DC *dc;

private:
    std::string dir_;
};
