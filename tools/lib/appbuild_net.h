// Builder of the Ethernet configuration block (the I/O configuration entry of
// the Ethernet module, or the Wi-Fi entry tagged 0xEF01) from readable
// settings. Account texts are written scrambled, as the panel reads them.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace appnet {

struct Account {
    std::string name, password, third;
    uint8_t access = 0; // 0: restricted to its folder
};

struct Egd {
    uint32_t tag = 0x80000000u;
    uint32_t params[4] = {};
    std::vector<std::pair<uint32_t, uint32_t>> pairs; // register, length
};

struct Config {
    uint32_t address = 0, mask = 0;
    // Service settings (tag 0x20000000): option bits and the registers.
    bool service = true;
    uint32_t options = 0;
    uint32_t dns = 0;
    uint32_t version_reg = 0, status_reg = 0, address_reg = 0, mask_reg = 0, gateway_reg = 0,
             dns_reg = 0;
    // Ping (tag 0x40000000).
    bool ping = false;
    uint32_t ping_timeout = 0, ping_target_reg = 0, ping_status_reg = 0;
    std::vector<Account> ftp;
    bool http = false;
    Account http_account;
    std::vector<Egd> egd;
    bool modbus = false;
    uint32_t modbus_flags = 0;
    uint16_t modbus_mode = 0, modbus_port = 0;
    std::vector<std::string> ntp; // time servers (up to ten)
    uint32_t ntp_pair = 0;
    uint32_t tag_100000[2] = {};
    bool with_100000 = false;
};

// The block: u32 length, address, mask, records, a zero tag.
std::vector<uint8_t> build(const Config &c);
// The readable form, one "key value..." per line ('#' comments):
//   address 192.168.1.10 / mask 255.255.255.0 / options 0x200 / dns 10.0.0.1
//   status_reg %R100 (a reference number) / ping 1000 TARGET_REF STATUS_REF
//   ftp NAME PASSWORD ACCESS / http NAME PASSWORD / ntp SERVER
//   modbus INHIBIT UDP PORT: the Modbus server's record, INHIBIT the write-inhibit
//   bit (a reference or a name such as %M100; 0 none), UDP 1 to serve UDP
//   instead of TCP, PORT its port (the configuration's Modbus options allowing)
// Returns false with a message in *error on a line it does not know.
bool parse(const std::string &text, Config *c, std::string *error);
// The I/O configuration entry of the Ethernet module (identity 64000) holding
// the block of a readable text: u16 identity, u16 length, the block padded to 4.
bool entry(const std::string &text, std::vector<uint8_t> *out, std::string *error);

} // namespace appnet
