// Web HMI server: what the main loop reaches of it.
#pragma once
#include <cstdint>

// 0 stop requested, 1 stopped, 2 start requested, 3 thread started, 4 running.
extern uint8_t ParviServerState;
extern uint8_t ParviHttp, ParviFtping, ParviThreadCreated, ParviUpdateNewIp;
void parvi_thread_create();
void parvi_check_ftp_state();
// The server's OEM record (bytes 36 and 37: offset and length of the model
// name in the sign-on text); null while there is none.
extern uint8_t *ParviOemPtr;

// Logged-in web users; byte 152 is non-zero while a user is logged in.
constexpr int kUserDetailsBytes = 160;
extern uint8_t user_details_list[kUserDetailsBytes];
constexpr int kUserDetailsLoggedIn = 152;
// Writes, for each logged-in web user, the seconds since login into the web
// user-details registers.
void parvi_update_user_login_time();

// Puts the state of the web server's entry points that are not built yet back
// to its start values (tests).
void Web_NotBuiltReset();
