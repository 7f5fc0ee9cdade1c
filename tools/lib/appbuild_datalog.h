// Builder of the data-log configuration ("datalog_table") from a readable
// description: the logger's enable and status registers and its groups, each
// with its folder, base directory, period, trigger, status register, date and
// time style and columns (register, value type, name), with the string pool
// written behind the group records.
//
//   {"datalog": {"enable": "%M1", "status": "%R100", "groups": [
//       {"folder": "LINE1", "base": "\\LOGS", "period": 10, "unit": "seconds",
//        "trigger": "%M2", "status": "%R110", "date_style": 11, "time_style": 1,
//        "columns": [{"register": "%R1", "type": "uint16", "name": "Count"}]}]}}
//
// Registers are names ("%R1") or references; "unit" is "seconds" (hourly
// files) or "minutes" (daily files); a type is 0-12 or its name: bit, binary,
// int16, int32, uint16, uint32, hex, text, float, address, date, time,
// double. Every key but "folder" and "columns" may be left out (0, "\\",
// seconds).
#pragma once
#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <vector>

namespace appdatalog {

// False with the reason (and its place) in *error.
bool build(const nlohmann::json &desc, std::vector<uint8_t> *out, std::string *error);

} // namespace appdatalog
