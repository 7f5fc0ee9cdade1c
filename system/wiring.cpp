#include "system/wiring.h"

#include "data/cfm.h"
#include "data/data.h"
#include "data/logger.h"
#include "host/clock.h"
#include "host/console.h"
#include "host/dirlist.h"
#include "host/media.h"
#include "host/root.h"
#include "host/shell.h"
#include "iec/kernel/iec.h"
#include "iec/kernel/trdb.h"
#include "iec/kernel/trglue.h"
#include "iec/kernel/tros.h"
#include "iec/kernel/trvm.h"
#include "net/net.h"
#include "net/tx.h"
#include "objects/graph.h"
#include "objects/objects.h"
#include "platform/keys.h"
#include "platform/rtc.h"
#include "platform/slice.h"
#include "plc/ladder.h"
#include "plc/ladder_fam.h"
#include "plc/ladder_ops.h"
#include "plc/sysreg.h"
#include "regs/plc_reg.h"
#include "regs/sr.h"
#include "screens/backup_screen.h"
#include "screens/calib.h"
#include "screens/screens.h"
#include "screens/sysscreens.h"
#include "serial/modbus.h"
#include "serial/serial.h"
#include "system/appfile.h"
#include "system/backup.h"
#include "system/fwupdate.h"
#include "system/loop.h"
#include "system/msg.h"
#include "system/nvram.h"
#include "system/pgm.h"
#include "system/reginit.h"
#include "system/reglink.h"
#include "system/run_ctrl.h"
#include "system/sys.h"
#include "system/touch.h"
#include "web/web.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {
// The controller's UTC calendar, %SR212 to %SR217.
void utc_calendar(uint16_t cal[6]) {
    for (int i = 0; i < 6; ++i)
        cal[i] = sr_get(212 + i);
}
bool put_file(const char *board_path, const char *text, bool append) {
    std::string dir = board_path;
    dir.resize(dir.rfind('/') == std::string::npos ? 0 : dir.rfind('/'));
    if (!dir.empty()) host::make_dirs(dir);
    std::string f = host::path(board_path);
    FILE *fp = std::fopen(f.c_str(), append ? "a" : "w+");
    if (!fp) return false;
    std::fputs(text, fp);
    return std::fclose(fp) == 0;
}
// The entries of "/sys/block", in name order.
int block_devices(char (*names)[32], int max) {
    int error = 0;
    std::vector<std::string> list = host::list_dir(host::path("/sys/block"), &error);
    std::sort(list.begin(), list.end());
    int n = 0;
    for (const std::string &name : list) {
        if (n == max) break;
        std::snprintf(names[n++], 32, "%s", name.c_str());
    }
    return n;
}
// The programming port back in the programming protocol's mode, reopened at
// baud code 5.
void reopen_programming_port() {
    if (ProgrammingPort >= uint32_t(kVcommPorts)) return;
    VcommDrv &d = Vcomm_Drv[ProgrammingPort];
    if (!d.mode || !d.Open) return;
    d.mode[5] = uint8_t((d.mode[5] & 0xF0) | 1);
    uint8_t copy[kModeBytes];
    std::memcpy(copy, d.mode, kModeBytes);
    copy[0] = 5;
    d.Open(int(ProgrammingPort), copy);
}
// The IEC runtime's server leaves the programming link after its idle time:
// the port goes back to the programming protocol, whose serial and USB hosts
// are read again.
void Tr_GiveBackProgrammingPort() {
    reopen_programming_port();
    is_trprotocol = 0;
}
// The port the runtime's serial server adopts: the USB gadget port's while
// the programming host is the USB port, else the panel's own serial port's
// while %SR163 chooses it for programming.
int Tr_ProgrammingPortFd() {
    if (CmdHost == kHostUsb) return FileDesForUSB;
    return sr_get(sr::kMenuOption2) == 0 ? Vcomm_PortFd(0) : -1;
}
bool Tr_ProgrammingPortOpen(int fd) {
    return fd >= 0 && (fd == FileDesForUSB || fd == Vcomm_PortFd(0));
}
// The panel's own protocol arrived on the runtime's serial link ("HR"): a
// serial host gets its port back in the programming protocol, and the
// runtime's Modbus there starts again from its setting.
void Tr_SerialGiveBack() {
    if (CmdHost == kHostSerial) {
        reopen_programming_port();
        trruntime_modbusinit = 1;
    }
    is_trprotocol = 0;
}
// A place that an IEC block names by its database offset, for the serial
// instructions: all of it inside one of the running application's data
// segments (typed variables, class and instance data, STRING buffers,
// structures), never the header, the VM's own records or a gap.
uint8_t *Iec_DataPlace(uint32_t offset, uint32_t bytes) {
    static constexpr uint32_t kDataSegments[] = {6, 7, 8, 9, 10, 14, 15, 18, 35};
    if (!pDB) return nullptr;
    uint32_t size = TrVM_DBSize(pDB);
    for (uint32_t k : kDataSegments) {
        uint32_t n = 0;
        uint8_t *seg = TrDB_Segment(pDB, size, k, &n);
        if (!seg || n == 0) continue;
        uint64_t first = uint64_t(seg - pDB);
        if (offset >= first && offset < first + n && uint64_t(offset) + bytes <= first + n)
            return pDB + offset;
    }
    return nullptr;
}
} // namespace

void System_Wire() {
    Slice_SetPass(TimerIRQ);
    PlcReg_SetHooks({
        .iec_running = [] { return TrevantRuntime != 0; },
        .iec_enumerated = [] { return trevant_variables_enumerateded != 0; },
        .iec_address = TrevantCalculateVmDbAddress,
        .iec_byte_to_bit = Trevant_Byte_To_Bit,
        .iec_bit_to_byte = Trevant_Bit_To_Byte,
        .online_programming = [] { return OLPMode != 0; },
        .sys_write = SysReg_Write,
    });
    Ladder_SetHooks({
        .first_scan =
            [] {
                TalkInit();
                File_Init();
            },
        .iec_running = [] { return TrevantRuntime != 0; },
        .iec_scan = _VMThread,
    });
    Ladder_InstallServiceHandlers();
    Modbus_SetHooks({
        .iec_active = [] { return TrevantRuntime != 0 && trevant_variables_enumerateded != 0; },
        .modbusinit = &trruntime_modbusinit,
        .protocol = &trprotocol,
        .iec_place = Iec_DataPlace,
    });
    TrGlue_Hooks = {
        .serial_hand_back = Tr_GiveBackProgrammingPort,
        .change_applied = [] { OLPMode = 1; },
    };
    TrSerial_PortFd = Tr_ProgrammingPortFd;
    TrSerial_PortOpen = Tr_ProgrammingPortOpen;
    TrSerial_GiveBack = Tr_SerialGiveBack;
    SysReg_SetActions({
        .run_mode = SetPlcMode,
        .net_status = [] { return uint16_t(Net_Test(2)); },
        .net_changed =
            [] {
                Plc_NetInit();
                Net_Test(0);
            },
        .contrast = SYS_Contrast,
        .port = Cmd_PortInit,
        .extended_option = SYS_ExtendedOption,
        .menu_option2 = SYS_MenuOption2,
        .menu_option = SYS_MenuOption,
        .slice = PGM_SetSlice,
        .popup_mode = PGM_SetPopupMode,
        .beep_enable = TCH_BeepEnable,
        .screen_saver = TCH_ScreenSaver,
    });
    Dpr_SetHooks({
        .cmd_read = [](void *d, uint32_t o, uint32_t n) { SYS_ReadCmd(d, o, n); },
        .cmd_write = SYS_WriteCmd,
        .sync_system_clock =
            [] {
                uint16_t cal[6];
                utc_calendar(cal);
                UtcTime t{};
                UtcGet(cal, &t);
                host::set_wall_ns(int64_t(t.seconds) * 1'000'000'000);
            },
        .write_file = [](const char *path, const char *text) { put_file(path, text, false); },
        .iec_active = [] { return TrevantRuntime != 0 && trevant_variables_enumerateded != 0; },
        .cmd_run = [] { return CmdRun == 0xFF; },
    });
    Enet_SetHooks({
        .master_runs = [] { return MasterFilePresent != 0 && MasterScriptPipefd > 0; },
        .master_write =
            [](const void *d, size_t n) {
                ssize_t r;
                do {
                    r = write(MasterScriptPipefd, d, n);
                } while (r < 0 && errno == EINTR);
                return r == ssize_t(n);
            },
        .master_fsync =
            [] {
                if (fsync(MasterScriptPipefd) != 0 && errno != EINVAL) std::perror("fsync");
            },
        .sync = [] { host::shell("sync"); },
        .write_file = put_file,
        .remove_file = [](const char *path) { unlink(host::path(path).c_str()); },
        .file_exists = [](const char *path) { return access(host::path(path).c_str(), F_OK) == 0; },
        .wall_seconds = [] { return uint32_t(host::wall_ns() / 1'000'000'000); },
        .clock_to_registers =
            [](uint32_t sec) {
                UtcTime t{sec, 0};
                uint16_t cal[6];
                if (UtcSet(&t, cal))
                    for (int i = 0; i < 6; ++i)
                        sr_put(212 + i, cal[i]);
            },
        .web_state = &ParviServerState,
        .web_http = &ParviHttp,
        .web_ftping = &ParviFtping,
        .web_thread = &ParviThreadCreated,
        .web_new_ip = &ParviUpdateNewIp,
        .email_init = EtnEmailInit,
        .email_scan = EtnEmailScan,
        .email_conn_cnt = EtnEmailConnCnt,
        .email_discnt = EtnEmailDiscnt,
        .vcomm_init = EtnVComm_Init,
        .vcomm_scan = EtnVComm_Scan,
        .vcomm_deinit = EtnVComm_DeInit,
        .vcomm_conn_cnt = EtnVComm_Conn_Cnt,
    });
    for (int type = 0; type < kObjTypes; ++type)
        if (const ObjClass *row = Objects_Class(type)) OBJM_SetClass(type, row);
    OBJM_SetFaultPage(PGM_DisplayFault);
    OBJM_SetHooks({
        .reset_rcbs = SYS_ResetRCBs,
        .load_rcbs = SYS_LoadRCBs,
        .set_page_links = SYS_SetPageLinks,
        .load_scan_list = PMGR_LoadDynamicScanListInfo,
        .dmem_corrupt = CFM_SetDmemCorrupt,
        .page_mode = [] { return int(PAGE_mode); },
        .write_screen = [](uint16_t screen) { SYS_WriteSys(sr::kUserScreen, screen); },
        .fault_page_recover = PGM_FaultPageRecover,
        .beep = TCH_Beep,
        .installer_or_recovery = [] { return int(BootMode != 0 || RecoverMode != 0); },
    });
    MENU_SetHooks({
        .link_reg = SYS_LinkReg,
        .chg_link = SYS_ChgLink,
        .read_reg = SYS_ReadReg,
        .write_reg = SYS_WriteReg,
        .write_sys = SYS_WriteSys,
        .run_led = SYS_GetRunLed,
        .ok_led = SYS_GetOkLed,
        .page_table = pSystemMenu,
        .menus = &pPGM_Menus,
        .pages = &nSystemMenus,
        .flash = &sysFlash,
        .tick = &sysTic,
        .gray_scale = &SYS_fGrayScale,
        .page_mode = [] { return int(PAGE_mode); },
        .beep = TCH_Beep,
    });
    CALTCH_SetHooks({
        .touch_ctrl = TCH_Ctrl,
        .get_parm_tbl =
            [] {
                const TouchCal *t = SYS_GetParmTbl();
                return CalValues{t->xmax, t->ymax, t->xoff, t->yoff, t->xscale, t->yscale};
            },
        .save_parm_tbl =
            [](const CalValues &v) {
                TouchCal *t = SYS_GetParmTbl();
                *t = TouchCal{v.xmax, v.ymax, v.xoff, v.yoff, v.xscale, v.yscale};
                return SYS_SaveParmTbl(t);
            },
        .beep = TCH_Beep,
        .tick = &sysTic,
        .gray_scale = &SYS_fGrayScale,
    });
    BkRstr_SetHooks({
        .store = StoreBBRAM,
        .restore = RestoreBBRAM,
        .erase = EraseBackupData,
        .beep = TCH_Beep,
    });
    Objects_SetHooks({
        .link_reg = SYS_LinkReg,
        .read_reg = SYS_ReadReg,
        .write_reg = SYS_WriteReg,
        .flash = &sysFlash,
        .beep = TCH_Beep,
        .got_access = UserGotAccess,
        .reset_timeout = USRMGR_resetTimeout,
        .gradient_ext = OBJM_GradientExt,
        .holds = ObjDef_Holds,
        .page_mode = [] { return int(PAGE_mode); },
        .gray_scale = &SYS_fGrayScale,
        .dmem_corrupt = CFM_IsDmemCorrupt,
        .tick = &sysTic,
        .no_data =
            [](const RCB *r) {
                // An external slot (bit 31 without bit 30) reports its link state;
                // IEC variables never lack data.
                return (r->ref >> 30) == 2 && (Ext_Obj_Comm_Status[r->ref & 0x1FF][0] & 1) != 0;
            },
    });
    GRAPH_SetHooks({
        .alloc_bbr = SYS_AllocBBR,
        .expand_bbr = SYS_ExpandBBR,
        .read_bbr = SYS_ReadCmd,
        .write_bbr = SYS_WriteCmd,
        .pack_regs = SYS_PackRegs,
        .mod_link = SYS_ModLink,
        .run_mode = SYS_RunMode,
        .tic = &sysTic,
    });
    Objects_SetPeripheryHooks({
        .key_put = SYS_KeyPut,
        .keys_enabled = SYS_KeyEnabled,
        .request_recovery = [] { ForceRecoveryDetectFlag = RecoverMode = 1; },
        .touch_ctrl = TCH_Ctrl,
        .rcb_ref = [](const RCB *r) { return r->rref; },
    });
    SysScreens_SetHooks({
        .link_reg = SYS_LinkReg,
        .read_reg = SYS_ReadReg,
        .beep = TCH_Beep,
        .tick = &sysTic,
        .flash = &sysFlash,
        .gray_scale = &SYS_fGrayScale,
        .ok_led = SYS_GetOkLed,
        .run_led = SYS_GetRunLed,
        .popup_mode = PGM_GetPopupMode,
        .popup_state = PGM_SetPopupState,
        .page_mode = [] { return int(PAGE_mode); },
        .shown_screen = [] { return int(PAGE_current); },
        .write_sys = SYS_WriteSys,
        .warm_reset = [] { SYS_WarmReset(); },
        .clear_all = [] { SYS_VDG(); },
        .stop_watchdog = StopWatchdog,
        .timer_isr = TimerISR,
        .exception_site = nullptr, // no exception address is recorded on this host
        .boot_mode = &BootMode,
        .recover_mode = &RecoverMode,
        .force_recovery = &ForceRecoveryDetectFlag,
        .no_slice = &DntTmeSlc,
        .manual_load = &Sys_ManualLoadKey,
        .recover_screen = &RecoverScreen,
    });
    USRMGR_SetHooks({
        .link_reg32 = SYS_32LinkReg,
        .read_reg = SYS_ReadReg,
        .write_reg = SYS_WriteReg,
        .reset_rcbs = SYS_ResetRCBs,
        .select_rcbs = SYS_SelectRCBs,
        .iec_enumerated = [] { return TrevantRuntime != 0 && trevant_variables_enumerateded != 0; },
        .web_state = &ParviServerState,
        .web_user_logged_in = [] { return user_details_list[kUserDetailsLoggedIn] != 0; },
        .web_login_time = parvi_update_user_login_time,
    });
    CFM_SetFirmwareSearch([](int drive) { return GetFirmwareDir(drive); });
    Vcomm_SetHooks({.wait_pass = ExecuteSubLoop_Wait, .serial_server = nullptr});
    CFM_SetHooks({
        .send_request =
            [](const CfmRequestMsg *m) { return _txe_queue_send(&CfiRequestQueue, m, 0); },
        .receive_request =
            [](CfmRequestMsg *m) { return _txe_queue_receive(&CfiRequestQueue, m, 0); },
        .send_reply = [](const uint32_t *m) { return _txe_queue_send(&CfiResponseQueue, m, 0); },
        .receive_reply = [](uint32_t *m) { return _txe_queue_receive(&CfiResponseQueue, m, 0); },
        .debug_msg = DebugMsg,
        .program_load_sent = [] { DntTmeSlc = 1; },
        .request_served =
            [] {
                if (Sys_CFinitTime < 6) ++Sys_CFinitTime;
            },
        .dpram = dpram,
        .dpram_bytes = kDpramBytes,
        .page = [] { return int(PAGE_current); },
    });
    LOG_SetConsole([](const char *text) { host::console_line(text); });
    CFM_SetMasterChannel({
        .init = MCMD_Init,
        .send = MCMD_Send,
        .receive = MCMD_Receive,
        .release = MCMD_Release,
        .set_error = MCMD_SetError,
    });
    MCMD_SetHooks({.timer_isr = TimerISR, .tickle_watchdog = TickleWatchdogReal});
    Cmd_SetHooks({
        .etn_check_rx = Etn_CheckRx,
        .etn_get_rx = Etn_GetRx,
        .etn_flush_rx = Etn_FlushRx,
        .etn_put_tx = Etn_PutTx,
        .etn_putn_tx = Etn_PutnTx,
        .etn_update_security = Etn_UpdateSecurity,
        .net_check_rx = Net_CheckRx,
        .net_get_rx = Net_GetRx,
        .net_flush_rx = Net_FlushRx,
        .net_put_tx = Net_PutTx,
        .net_putn_tx = Net_PutnTx,
        .net_chk_busy = Net_ChkBusy,
        .net_test = Net_Test,
        .net_put_qg = Net_PutQG,
        .net_put_aqg = Net_PutAQG,
        .net_data = [](int node) { return Net_Data[node]; },
        .pgm_destroy = PGM_Destroy,
        .pgm_create = PGM_Create,
        .dnld_msg = VID_DnldMsg,
        .dnld_update = VID_DnldUpdate,
        .dnld_halted = VID_DnldHalted,
        .web_stop =
            [] {
                ParviServerState = 0;
                return ParviThreadCreated != 0 && !ParviFtping;
            },
        .save_program = SaveProgram,
        .save_mac_id = SaveAndSetMACID,
        .nvram_init = [] { return nvram_init(0, 0, 0); },
        .get_features = nv_get_features,
        .set_force = [](const uint8_t *t, uint32_t n) { std::memcpy(io_force, t, n); },
        .net_config = NetConfig,
        .io_config = [] { IoConfig(0); },
        .ss_info =
            [](uint32_t *n) {
                *n = sizeof Cmd_SS_Info;
                return static_cast<const uint8_t *>(Cmd_SS_Info);
            },
        .set_plc_mode = SetPlcMode,
        .plc_reg_clear = PlcRegClear,
        .warm_reset = [] { SYS_WarmReset(); },
        .iec_active = [] { return TrevantRuntime != 0 && trevant_variables_enumerateded != 0; },
        .tr_store_backup = tr_reg_store_backup,
        .tr_load_backup = tr_reg_load_backup,
        .tr_running = [] { return TrevantRuntime != 0; },
        .tr_connect_serial = Tr_Connect_Serial,
        .tr_connect_ethernet = Tr_Connect_Ethernet,
    });
    BOOT_SetHooks({
        .shell = [](const char *cmd) { return host::shell(cmd); },
        .shell_lines =
            [](const char *cmd, void (*line)(void *, const char *), void *ctx) {
                std::string out;
                int rc = host::shell_output(cmd, &out);
                for (size_t at = 0; at < out.size();) {
                    size_t end = out.find('\n', at);
                    if (end == std::string::npos) end = out.size();
                    line(ctx, out.substr(at, end - at).c_str());
                    at = end + 1;
                }
                return rc;
            },
        .mount = [](const char *dev, const char *mp,
                    const char *fs) { return host::sys_mount(dev, mp, fs) == 0 ? 0 : errno; },
        .umount2 = [](const char *mp,
                      int flags) { return host::sys_umount2(mp, flags) == 0 ? 0 : errno; },
        .block_devices = block_devices,
        .no_time_slice = [] { DntTmeSlc = 1; },
        .watchdog_time = set_watchdog_time,
        .beeper_off = [] { put_file(kBeeperPath, "0", false); },
        .read_touch_cal =
            [](int32_t r[6]) {
                uint32_t w[6];
                if (!ReadTchClb(w)) return 0;
                for (int i = 0; i < 6; ++i)
                    r[i] = int32_t(w[i]);
                return 1;
            },
        .save_touch_cal =
            [](const int32_t r[6]) {
                const TouchCal c{r[0], r[1], r[2], r[3], r[4], r[5]};
                SYS_SaveParmTbl(&c);
            },
        .get_mac_id = [](uint8_t id[124]) { SYS_GetMACID(id); },
        .save_mac_id = SaveMACID,
        .delete_program = DeleteProgram,
        .del_auto_reg_file = DelAutoRegFile,
        .clr_reg_file = ClrRegFile,
    });
    KEY_SetHooks({
        .open = TCH_Open,
        .beep = TCH_Beep,
        .busy = [] { return Sys_AutoLoad != 0; },
        .system_key = SYS_SystemKey,
        .put = SYS_KeyPut,
    });
}
