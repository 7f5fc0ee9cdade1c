#include "system/resets.h"

#include "data/data.h"
#include "data/logger.h"
#include "gdi/field.h"
#include "gdi/gdi.h"
#include "gdi/shapes.h"
#include "gdi/text.h"
#include "gdi/tty.h"
#include "gdi/util.h"
#include "host/canbus.h"
#include "host/clock.h"
#include "host/config.h"
#include "host/ctl.h"
#include "host/devmem.h"
#include "host/fb.h"
#include "host/i2c.h"
#include "host/io_meter_slave.h"
#include "host/io_modules.h"
#include "host/media.h"
#include "host/netsock.h"
#include "host/physmem.h"
#include "host/player.h"
#include "host/powerfail.h"
#include "host/rtc_dev.h"
#include "host/shell.h"
#include "host/tty.h"
#include "host/watchdog.h"
#include "iec/comm/trcs.h"
#include "iec/kernel/iec.h"
#include "iec/kernel/trbdll.h"
#include "iec/kernel/trbridge.h"
#include "iec/kernel/trdb.h"
#include "iec/kernel/trglue.h"
#include "iec/kernel/trmap.h"
#include "iec/kernel/trmm.h"
#include "iec/kernel/tros.h"
#include "iec/kernel/trvfs.h"
#include "iec/kernel/trvmprg.h"
#include "iec/kernel/trvmrsc.h"
#include "iec/kernel/trvmtic.h"
#include "net/modbus_tcp.h"
#include "net/net.h"
#include "net/nx_api.h"
#include "net/tx.h"
#include "objects/graph.h"
#include "objects/keysld.h"
#include "objects/note.h"
#include "objects/objects.h"
#include "platform/board.h"
#include "platform/can.h"
#include "platform/cf_api.h"
#include "platform/fileinst.h"
#include "platform/fram.h"
#include "platform/i2c.h"
#include "platform/io.h"
#include "platform/io_fcal.h"
#include "platform/jpeg.h"
#include "platform/keys.h"
#include "platform/media.h"
#include "platform/osif.h"
#include "platform/pass_wait.h"
#include "platform/pxp.h"
#include "platform/rtc.h"
#include "platform/slice.h"
#include "platform/spi.h"
#include "platform/tick.h"
#include "platform/unit.h"
#include "platform/video.h"
#include "plc/appblocks.h"
#include "plc/ladder.h"
#include "plc/ladder_fam.h"
#include "plc/pid.h"
#include "regs/plc_reg.h"
#include "screens/backup_screen.h"
#include "screens/calib.h"
#include "screens/screens.h"
#include "screens/sysscreens.h"
#include "serial/datagram.h"
#include "serial/fxp.h"
#include "serial/modbus.h"
#include "serial/serial.h"
#include "serial/talk_instr.h"
#include "system/appfile.h"
#include "system/crash.h"
#include "system/fileinst.h"
#include "system/fwupdate.h"
#include "system/loop.h"
#include "system/msg.h"
#include "system/nv_debug.h"
#include "system/nvram.h"
#include "system/pgm.h"
#include "system/reglink.h"
#include "system/run_ctrl.h"
#include "system/startup.h"
#include "system/sys.h"
#include "system/touch.h"
#include "system/wiring.h"
#include "web/web.h"

namespace {

// clang-format off
#define ROW(f) ResetRow{#f, f}
// clang-format on

// The order, and why where it matters:
// - The host's devices come first: the watchdog device and the clock (nothing
//   after may see a deadline or a time of the test before), then the host's
//   configuration, the shell's log and the control socket, which the modules'
//   resets may use.
// - The playback thread ends (Video_Reset) before the video buffers, the frame
//   buffer and the memory it reads go.
// - The frame buffer and physical memory stand-ins are reset after the drawing
//   and video modules that hold their mappings; the device memory
//   (host::devmem_reset) after every driver that maps board registers (FPGA,
//   I/O, SPI, I2C, FRAM, CAN).
// - A few module resets also run the reset of a part they own (Sys_Reset runs
//   SysUpdate_Reset, I2c_Reset I2cDev_Reset, Ladder_Reset LadSpecial_Reset,
//   RunCtrl_Reset IoCfg_Reset,
//   host::io_modules_reset host::meter_slave_reset, Cmd_Reset CmdMem_Reset and
//   CmdRegs_Reset, Video_Reset
//   host::player_reset), so that one module reset alone (a benchmark's) leaves
//   the module whole; the part's own row follows its owner's, and a reset run
//   twice does nothing more.
// - The entry points of what is not built yet come last but one; the time
//   slice last, so no sliced pass is due when the test starts.
// clang-format off
const ResetRow kResets[] = {
    ROW(host::wdt_reset),
    ROW(host::clock_reset),
    ROW(host::config_reset),
    ROW(host::shell_reset),
    ROW(host::ctl_reset),
    ROW(host::net_reset),
    ROW(Tick_Reset),
    ROW(PlcReg_Reset),
    ROW(Pid_Reset),
    ROW(LadPid_Reset),
    ROW(Sys_Reset),
    ROW(SysUpdate_Reset),
    ROW(Crash_Reset),
    ROW(Loop_Reset),
    ROW(Startup_Reset),
    ROW(Msg_Reset),
    ROW(GDI_Reset),
    ROW(Shapes_Reset),
    ROW(Video_Reset),
    ROW(host::player_reset),
    ROW(VIDM_Reset),
    ROW(VDR_Reset),
    ROW(VidUpdate_Reset),
    ROW(PXP_Reset),
    ROW(Jpeg_Reset),
    ROW(Text_Reset),
    ROW(Field_Reset),
    ROW(TTY_Reset),
    ROW(UTIL_Reset),
    ROW(host::fb_reset),
    ROW(host::phys_reset),
    ROW(host::media_reset),
    ROW(Media_Reset),
    ROW(CfApi_Reset),
    ROW(CfCsv_Reset),
    ROW(CFM_Reset),
    ROW(Data_NotBuiltReset),
    ROW(TrendLog_Reset),
    ROW(LOG_Reset),
    ROW(DLOG_Reset),
    ROW(FwUpdate_Reset),
    ROW(Spi_Reset),
    ROW(I2c_Reset),
    ROW(I2cDev_Reset),
    ROW(host::i2c_reset),
    ROW(host::io_modules_reset),
    ROW(host::meter_slave_reset),
    ROW(Rtc_Reset),
    ROW(Touch_Reset),
    ROW(Tx_Reset),
    ROW(Nx_Reset),
    ROW(Dpr_Reset),
    ROW(Enet_Reset),
    ROW(Modbus_Reset),
    ROW(Key_Reset),
    ROW(PassWait_Reset),
    ROW(host::rtc0_reset),
    ROW(Fram_Reset),
    ROW(AppFile_Reset),
    ROW(Board_Reset),
    ROW(AppBlocks_Reset),
    ROW(Nvram_Reset),
    ROW(NvDebug_Reset),
    ROW(Ladder_Reset),
    ROW(LadSpecial_Reset),
    ROW(RegLink_Reset),
    ROW(RunCtrl_Reset),
    ROW(IoCfg_Reset),
    ROW(IoIf_Reset),
    ROW(IoDriver_Reset),
    ROW(FactoryCal_Reset),
    ROW(Fpga_Reset),
    ROW(Unit_Reset),
    ROW(host::devmem_reset),
    ROW(host::powerfail_reset),
    ROW(Can_Reset),
    ROW(host::canbus_reset),
    ROW(Vcomm_Reset),
    ROW(RCT_Reset),
    ROW(Talk_Reset),
    ROW(Cmd_Reset),
    ROW(CmdMem_Reset),
    ROW(CmdRegs_Reset),
    ROW(TalkInstr_Reset),
    ROW(ModbusSerial_Reset),
    ROW(Fxp_Reset),
    ROW(Datagram_Reset),
    ROW(Dpram_Reset),
    ROW(host::tty_reset),
    ROW(Pgm_Reset),
    ROW(Objm_Reset),
    ROW(Screens_NotBuiltReset),
    ROW(SysScreens_Reset),
    ROW(Menu_Reset),
    ROW(CALTCH_Reset),
    ROW(BkRstr_Reset),
    ROW(Boot_Reset),
    ROW(Wifi_Reset),
    ROW(Users_Reset),
    ROW(Language_Reset),
    ROW(Objects_NotBuiltReset),
    ROW(GRAPH_Reset),
    ROW(KeySld_Reset),
    ROW(Note_Reset),
    ROW(Keypads_Reset),
    ROW(Serial_NotBuiltReset),
    ROW(MCMD_Reset),
    ROW(Net_NotBuiltReset),
    ROW(WifiMenu_Reset),
    ROW(Iec_NotBuiltReset),
    ROW(TrSerialFlags_Reset),
    ROW(TrGlue_Reset),
    ROW(TrBridge_Reset),
    ROW(TrMap_Reset),
    ROW(TrBdll_Reset),
    ROW(TrMM_Reset),
    ROW(TrDB_Reset),
    ROW(TrOs_Reset),
    ROW(TrVfs_Reset),
    ROW(TrVMPrg_Reset),
    ROW(TrVMRsc_Reset),
    ROW(TrVMTic_Reset),
    ROW(OsFile_Reset),
    ROW(IecComm_NotBuiltReset),
    ROW(Web_NotBuiltReset),
    ROW(Platform_NotBuiltReset),
    ROW(System_NotBuiltReset),
    ROW(FileInst_Reset),
    ROW(Slice_Reset),
};
// clang-format on

#undef ROW

} // namespace

std::span<const ResetRow> System_Resets() {
    return kResets;
}

void System_ResetAll(void (*after_row)(const char *name)) {
    for (const ResetRow &row : kResets) {
        row.reset();
        if (after_row) after_row(row.name);
    }
    System_Wire();
}
