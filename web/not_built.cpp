// Entry points of the web server that are not built yet.
#include "base/trace.h"
#include "web/web.h"

#include <cstring>

uint8_t ParviServerState;
uint8_t ParviHttp, ParviFtping, ParviThreadCreated, ParviUpdateNewIp;
namespace {
uint8_t oem_record[64];
}
uint8_t *ParviOemPtr = oem_record;
void parvi_thread_create() {
    host::trace("parvi_thread_create");
}
void parvi_check_ftp_state() {
    host::trace("parvi_check_ftp_state");
}
uint8_t user_details_list[kUserDetailsBytes];
void parvi_update_user_login_time() {
    host::trace("parvi_update_user_login_time");
}

void Web_NotBuiltReset() {
    ParviServerState = 0;
    ParviHttp = ParviFtping = ParviThreadCreated = ParviUpdateNewIp = 0;
    std::memset(oem_record, 0, sizeof oem_record);
    ParviOemPtr = oem_record;
    std::memset(user_details_list, 0, sizeof user_details_list);
}
