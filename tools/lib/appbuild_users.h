// Builder of the user table (login_tbl) from a readable description:
//   {"login": true (default), "timeout": seconds (default 600; 0 logs a user
//    out on the next pass), "counter": "%R100" (the extended form: the
//    logged-in time counter, the logged-in name 32 bits further on),
//    "web": true (extended form: the web interface uses the table),
//    "users": [{"name": "ann", "password": "pw", "level": 3},
//              {"name": "%R10", "password": "%R20", "level": "%R30"}]}
// A user's name and password are both stored (at most 16 and 10 characters)
// or both register names (the register form); a level is 0-7 or a register
// whose first byte holds it.
#pragma once
#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <vector>

namespace appusers {

// The table's data; false with a message when the description is wrong.
bool table(const nlohmann::json &description, std::vector<uint8_t> *out, std::string *error);

} // namespace appusers
