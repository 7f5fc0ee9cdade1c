#include "panel_fixture.h"

#include "data/cfm.h"
#include "system/appfile.h"
#include "system/crash.h"
#include "plc/fram.h"
#include "system/fwupdate.h"
#include "system/loop.h"
#include "system/nv_debug.h"
#include "system/nvram.h"
#include "system/pgm.h"
#include "plc/pid.h"
#include "system/reglink.h"
#include "plc/ladder.h"
#include "regs/plc_reg.h"
#include "platform/rtc.h"
#include "system/run_ctrl.h"
#include "system/sys.h"
#include "platform/tick.h"
#include "system/touch.h"
#include "plc/appblocks.h"
#include "platform/fram.h"
#include "plc/ladder_ops.h"
#include "net/tx.h"
#include "gdi/field.h"
#include "gdi/gdi.h"
#include "platform/jpeg.h"
#include "platform/pxp.h"
#include "gdi/shapes.h"
#include "gdi/text.h"
#include "gdi/tty.h"
#include "gdi/util.h"
#include "host/clock.h"
#include "host/canbus.h"
#include "host/config.h"
#include "host/media.h"
#include "host/devmem.h"
#include "host/fb.h"
#include "host/i2c.h"
#include "host/io_modules.h"
#include "host/physmem.h"
#include "host/powerfail.h"
#include "host/root.h"
#include "host/rtc_dev.h"
#include "host/shell.h"
#include "base/trace.h"
#include "host/watchdog.h"
#include "platform/can.h"
#include "platform/keys.h"
#include "platform/cf_api.h"
#include "platform/i2c.h"
#include "platform/media.h"
#include "platform/spi.h"
#include "platform/video.h"
#include "platform/io.h"
#include "platform/io_fcal.h"
#include "screens/screens.h"
#include "platform/slice.h"
#include "system/wiring.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unistd.h>

void panel_reset_all() {
    host::wdt_reset();
    host::clock_reset();
    host::clock_use_virtual();
    host::config_reset();
    host::shell_reset();
    host::trace_stop();
    host::trace_clear();
    host::trace_set_hook(nullptr);
    host::wdt_reset();
    Tick_Reset();
    PlcReg_Reset();
    Pid_Reset();
    Pid_LadderReset();
    Sys_Reset();
    Crash_Reset();
    Loop_Reset();
    GDI_Reset();
    Shapes_Reset();
    Video_Reset();
    VIDM_Reset();
    VDR_Reset();
    PXP_Reset();
    Jpeg_Reset();
    Text_Reset();
    Field_Reset();
    TTY_Reset();
    UTIL_Reset();
    host::fb_reset();
    host::phys_reset();
    host::media_reset();
    Media_Reset();
    CfApi_Reset();
    CFM_ResetBlocks();
    FwUpdate_Reset();
    Spi_Reset();
    I2c_Reset();
    host::i2c_reset();
    host::io_modules_reset();
    Rtc_Reset();
    Touch_Reset();
    Tx_Reset();
    Key_Reset();
    host::rtc0_reset();
    Fram_Reset();
    AppFile_Reset();
    Nvram_Reset();
    NvDebug_Reset();
    Ladder_Reset();
    RegLink_Reset();
    RunCtrl_Reset();
    IoIf_Reset();
    IoDriver_Reset();
    FactoryCal_Reset();
    Fpga_Reset();
    host::devmem_reset();
    host::powerfail_reset();
    Can_Reset();
    host::canbus_reset();
    Pgm_Reset();
    Screens_Reset();
    Slice_Reset();
    System_Wire();
}

void PanelTest::SetUp() {
    char tmpl[] = "/tmp/panel-test-XXXXXX";
    root_dir = mkdtemp(tmpl);
    host::set_root(root_dir);
    panel_reset_all();
}

void PanelTest::TearDown() {
    // The playback thread reads the root folder's path: it ends before the
    // folder and the process's globals go.
    Video_Reset();
    host::clock_reset();
    host::trace_set_hook(nullptr);
    std::string cmd = "rm -rf '" + root_dir + "'";
    if (std::system(cmd.c_str()) != 0) {
    }
}

void PanelTest::write_file(const std::string &board_path, const std::string &data) {
    std::string full = host::path(board_path);
    size_t slash = board_path.rfind('/');
    if (slash != std::string::npos && slash > 0) host::make_dirs(board_path.substr(0, slash));
    std::ofstream(full, std::ios::binary) << data;
}

std::string PanelTest::read_file(const std::string &board_path) {
    std::ifstream in(host::path(board_path), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}
