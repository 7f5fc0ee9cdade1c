#include "system/wiring.h"

#include "data/cfm.h"
#include "data/data.h"
#include "iec/kernel/iec.h"
#include "net/net.h"
#include "net/tx.h"
#include "platform/keys.h"
#include "platform/slice.h"
#include "plc/ladder.h"
#include "plc/ladder_fam.h"
#include "plc/ladder_ops.h"
#include "plc/sysreg.h"
#include "regs/plc_reg.h"
#include "regs/sr.h"
#include "screens/screens.h"
#include "serial/serial.h"
#include "system/fwupdate.h"
#include "system/loop.h"
#include "system/msg.h"
#include "system/pgm.h"
#include "system/reglink.h"
#include "system/run_ctrl.h"
#include "system/sys.h"
#include "system/touch.h"

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
    CFM_SetMasterChannel({
        .init = MCMD_Init,
        .send = MCMD_Send,
        .receive = MCMD_Receive,
        .release = MCMD_Release,
        .set_error = MCMD_SetError,
    });
    KEY_SetHooks({
        .open = TCH_Open,
        .beep = TCH_Beep,
        .busy = [] { return Sys_AutoLoad != 0; },
        .system_key = SYS_SystemKey,
        .put = SYS_KeyPut,
    });
}
