// The built-in FTP server's connection count. Nothing in the panel starts the
// server (file transfer is the outside daemon's, which the Ethernet manager
// configures), so no interface has a connected FTP socket.
#include "net/protocols.h"

uint32_t Ftp_ConnCnt(int) {
    return 0;
}
